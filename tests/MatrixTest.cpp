#include <gtest/gtest.h>

#include "tests/EquationTestSupport.h"
#include "numeric/FloatError.h"
#include "numeric/Matrix01.h"

using quorlin::EMathError;
using quorlin::FloatFault;
using quorlin::TMatrix;
using quorlin::testing::MatrixOf;

namespace {

void ExpectMatrixNear(const TMatrix& m, std::initializer_list<std::initializer_list<double>> expected, double tol)
{
    std::int32_t i = 0;
    for (const auto& row : expected) {
        std::int32_t j = 0;
        for (double v : row) {
            EXPECT_NEAR(*m.Element(i, j), v, tol) << "element (" << i << ", " << j << ")";
            ++j;
        }
        ++i;
    }
}

FloatFault FaultOf(TMatrix& m, std::int32_t k)
{
    try {
        m.Sweep(k);
    } catch (const EMathError& e) {
        return e.Fault();
    }
    ADD_FAILURE() << "Sweep(" << k << ") did not fail";
    return FloatFault::Overflow;
}

}  // namespace

TEST(MatrixAccess, NewMatrixIsZeroAndBoundsAreEnforced)
{
    TMatrix m(3, 2);
    EXPECT_EQ(m.Rows(), 3);
    EXPECT_EQ(m.Cols(), 2);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) EXPECT_EQ(*m.Element(i, j), 0.0);
    EXPECT_EQ(m.Element(3, 0), nullptr);
    EXPECT_EQ(m.Element(0, 2), nullptr);
    EXPECT_EQ(m.Element(-1, 0), nullptr);
    EXPECT_EQ(m.Element(0, -1), nullptr);

    EXPECT_EQ(m.SetElement(1.5, 2, 1), 0);
    EXPECT_EQ(*m.Element(2, 1), 1.5);
    EXPECT_EQ(m.SetElement(9.0, 0, 2), -1);
    EXPECT_EQ(m.SetElement(9.0, 3, 0), -1);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) EXPECT_EQ(*m.Element(i, j), i == 2 && j == 1 ? 1.5 : 0.0);
}

TEST(MatrixAccess, ElementAddressWritesInPlace)
{
    TMatrix m(2, 2);
    *m.Element(1, 0) = 7.25;
    EXPECT_EQ(*m.Element(1, 0), 7.25);
}

TEST(MatrixCopy, CopyFromSmallerChangesOnlyTheCommonBlock)
{
    TMatrix big = MatrixOf({{9, 9, 9}, {9, 9, 9}, {9, 9, 9}});
    EXPECT_EQ(big.CopyFrom(MatrixOf({{1, 2}, {3, 4}})), 0);
    ExpectMatrixNear(big, {{1, 2, 9}, {3, 4, 9}, {9, 9, 9}}, 0);
}

TEST(MatrixCopy, CopyFromLargerTakesOnlyItsTopLeftBlock)
{
    TMatrix small(2, 2);
    small.CopyFrom(MatrixOf({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}));
    ExpectMatrixNear(small, {{1, 2}, {4, 5}}, 0);
}

TEST(MatrixCopy, CopyFromNonSquareShapes)
{
    TMatrix wide = MatrixOf({{0, 0, 0, 0}});
    wide.CopyFrom(MatrixOf({{1}, {2}, {3}}));
    ExpectMatrixNear(wide, {{1, 0, 0, 0}}, 0);
}

TEST(MatrixCopy, CopyConstructorIsIndependent)
{
    TMatrix source = MatrixOf({{1, 2}, {3, 4}});
    TMatrix copy(source);
    copy.SetElement(42, 0, 1);
    EXPECT_EQ(*source.Element(0, 1), 2);
    EXPECT_EQ(*copy.Element(0, 1), 42);
    EXPECT_EQ(copy.Rows(), 2);
    EXPECT_EQ(copy.Cols(), 2);
}

TEST(MatrixSweep, OneByOneInvertsAndSweepsBack)
{
    TMatrix m = MatrixOf({{4}});
    m.Sweep(0);
    EXPECT_EQ(*m.Element(0, 0), 0.25);
    m.Sweep(0);
    EXPECT_EQ(*m.Element(0, 0), 4);
}

TEST(MatrixSweep, AugmentedCorrelationExample)
{
    TMatrix a = MatrixOf({{1, 0.5, 0.8}, {0.5, 1, 0.6}, {0.8, 0.6, 1}});
    a.Sweep(0);
    ExpectMatrixNear(a, {{1, 0.5, 0.8}, {-0.5, 0.75, 0.2}, {-0.8, 0.2, 0.36}}, 1e-15);
    a.Sweep(1);
    ExpectMatrixNear(a,
                     {{4.0 / 3, -2.0 / 3, 2.0 / 3}, {-2.0 / 3, 4.0 / 3, 4.0 / 15}, {-2.0 / 3, -4.0 / 15, 0.92 / 3}},
                     1e-15);
}

TEST(MatrixSweep, UsesOnlyValuesFromBeforeTheStep)
{
    // With an in-place (sequential) update, row 1 would see the new pivot row and column.
    TMatrix a = MatrixOf({{2, 4, 6}, {1, 3, 5}, {7, 8, 10}});
    a.Sweep(0);
    ExpectMatrixNear(a, {{0.5, 2, 3}, {-0.5, 1, 2}, {-3.5, -6, -11}}, 1e-15);
}

TEST(MatrixSweep, SweepingTwiceRestores)
{
    TMatrix a = MatrixOf({{3, 1, 2, 0.5}, {1, 4, 1, 0.25}, {2, 1, 5, 1}, {0.5, 0.25, 1, 6}});
    const TMatrix before(a);
    for (int k : {2, 0, 3}) a.Sweep(k);
    for (int k : {3, 0, 2}) a.Sweep(k);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(*a.Element(i, j), *before.Element(i, j), 1e-14);
}

TEST(MatrixSweep, SweepOrderDoesNotChangeTheFullInverse)
{
    TMatrix a = MatrixOf({{1, 0.3, -0.2, 0.5}, {0.3, 1, 0.4, 0.1}, {-0.2, 0.4, 1, 0.7}, {0.5, 0.1, 0.7, 1}});
    TMatrix b(a);
    for (int k : {0, 1, 2}) a.Sweep(k);
    for (int k : {2, 0, 1}) b.Sweep(k);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(*a.Element(i, j), *b.Element(i, j), 1e-14);
}

TEST(MatrixSweep, NonSquareMatrixSweepsEveryElement)
{
    TMatrix a = MatrixOf({{2, 1, 4}, {6, 5, 8}});
    a.Sweep(0);
    ExpectMatrixNear(a, {{0.5, 0.5, 2}, {-3, 2, -4}}, 0);
}

TEST(MatrixSweepFaults, ZeroPivotDividesByZero)
{
    TMatrix a = MatrixOf({{0, 1}, {1, 1}});
    EXPECT_EQ(FaultOf(a, 0), FloatFault::ZeroDivide);
}

TEST(MatrixSweepFaults, FirstFaultingElementDecidesTheText)
{
    // Pivot (1,1) is 0; element (0,0) is computed first and its product W(0,1)*W(1,0) is 0,
    // so 0/0 comes before any nonzero division.
    TMatrix zeroProduct = MatrixOf({{1, 0, 2}, {3, 0, 4}, {5, 6, 7}});
    EXPECT_EQ(FaultOf(zeroProduct, 1), FloatFault::InvalidOp);
    TMatrix nonzeroProduct = MatrixOf({{1, 2, 2}, {3, 0, 4}, {5, 6, 7}});
    EXPECT_EQ(FaultOf(nonzeroProduct, 1), FloatFault::ZeroDivide);
    EXPECT_STREQ(EMathError(FloatFault::InvalidOp).what(), "Invalid floating point operation");
    EXPECT_STREQ(EMathError(FloatFault::ZeroDivide).what(), "Floating point division by zero");
    EXPECT_STREQ(EMathError(FloatFault::Overflow).what(), "Floating point overflow");
}

TEST(MatrixSweepFaults, ResultBeyondDoubleRangeOverflows)
{
    TMatrix a = MatrixOf({{1e-300, 1e300}, {1, 1}});
    EXPECT_EQ(FaultOf(a, 0), FloatFault::Overflow);
}

TEST(MatrixSweepFaults, TinyPivotIsUsedWithoutWarning)
{
    TMatrix a = MatrixOf({{1e-200, 1}, {1, 1}});
    a.Sweep(0);
    EXPECT_EQ(*a.Element(0, 0), 1e200);
    EXPECT_TRUE(std::isfinite(*a.Element(1, 1)));
}
