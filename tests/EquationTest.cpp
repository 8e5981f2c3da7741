#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "tests/EquationTestSupport.h"
#include "numeric/Equation01.h"
#include "numeric/FloatError.h"

using namespace quorlin;
using quorlin::testing::ColumnOf;
using quorlin::testing::MatrixOf;

namespace {

const double One = 1.0;

}  // namespace

TEST(FullRegression, TwoCorrelatedFactors)
{
    TAugEquation eq(MatrixOf({{1, 0.5}, {0.5, 1}}), ColumnOf({0.8, 0.6}), &One, 4.0, 20);
    EXPECT_EQ(eq.Solve(), 0);
    EXPECT_NEAR(eq.Beta(0), 2.0 / 3, 1e-15);
    EXPECT_NEAR(eq.Beta(1), 4.0 / 15, 1e-15);
    EXPECT_NEAR(eq.ResidualShare(), 0.92 / 3, 1e-15);
    EXPECT_NEAR(eq.RegressionShare(), 2.08 / 3, 1e-15);
    EXPECT_NEAR(eq.MultipleR(), std::sqrt(2.08 / 3), 1e-15);
    EXPECT_NEAR(eq.MultipleR(), 0.832666, 5e-7);
    EXPECT_EQ(eq.FactorCount(), 2);
    EXPECT_DOUBLE_EQ(eq.YCorner(), eq.ResidualShare());
}

TEST(FullRegression, CoefficientsAreZeroUntilSolved)
{
    TAugEquation eq(MatrixOf({{1, 0.5}, {0.5, 1}}), ColumnOf({0.8, 0.6}), &One, 4.0, 20);
    EXPECT_EQ(eq.Beta(0), 0.0);
    EXPECT_EQ(eq.Beta(1), 0.0);
    // The augmented matrix is [[R, r], [r', ryy]] before any sweep.
    const TMatrix& a = *eq.Augmented();
    EXPECT_EQ(*a.Element(0, 2), 0.8);
    EXPECT_EQ(*a.Element(2, 1), 0.6);
    EXPECT_EQ(*a.Element(2, 2), 1.0);
    EXPECT_EQ(*a.Element(1, 0), 0.5);
}

TEST(FullRegression, OneFactor)
{
    TAugEquation eq(MatrixOf({{1}}), ColumnOf({0.6}), &One, 4.0, 20);
    eq.Solve();
    EXPECT_NEAR(eq.Beta(0), 0.6, 1e-15);
    EXPECT_NEAR(eq.ResidualShare(), 0.64, 1e-15);
    EXPECT_NEAR(eq.RegressionShare(), 0.36, 1e-15);
    EXPECT_NEAR(eq.MultipleR(), 0.6, 1e-15);
}

TEST(FullRegression, UncorrelatedFactorsGiveTheirCorrelationsAsCoefficients)
{
    TAugEquation eq(MatrixOf({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}), ColumnOf({0.3, -0.4, 0.5}), &One, 4.0, 10);
    eq.Solve();
    EXPECT_DOUBLE_EQ(eq.Beta(0), 0.3);
    EXPECT_DOUBLE_EQ(eq.Beta(1), -0.4);
    EXPECT_DOUBLE_EQ(eq.Beta(2), 0.5);
    EXPECT_NEAR(eq.ResidualShare(), 1 - 0.5, 1e-15);
    EXPECT_NEAR(eq.MultipleR(), std::sqrt(0.5), 1e-15);
}

TEST(FullRegression, FaAndSampleSizeHaveNoEffect)
{
    TAugEquation a(MatrixOf({{1, 0.5}, {0.5, 1}}), ColumnOf({0.8, 0.6}), &One, 4.0, 20);
    TAugEquation b(MatrixOf({{1, 0.5}, {0.5, 1}}), ColumnOf({0.8, 0.6}), &One, 99.99, 3);
    a.Solve();
    b.Solve();
    EXPECT_EQ(a.Beta(0), b.Beta(0));
    EXPECT_EQ(a.Beta(1), b.Beta(1));
    EXPECT_EQ(a.ResidualShare(), b.ResidualShare());
    EXPECT_EQ(a.MultipleR(), b.MultipleR());
}

TEST(FullRegression, ReorderingFactorsPermutesCoefficients)
{
    TAugEquation a(MatrixOf({{1, 0.2, -0.3}, {0.2, 1, 0.4}, {-0.3, 0.4, 1}}), ColumnOf({0.5, 0.1, -0.6}), &One, 4, 30);
    TAugEquation b(MatrixOf({{1, 0.4, 0.2}, {0.4, 1, -0.3}, {0.2, -0.3, 1}}), ColumnOf({0.1, -0.6, 0.5}), &One, 4, 30);
    a.Solve();
    b.Solve();
    EXPECT_NEAR(a.Beta(0), b.Beta(2), 1e-14);
    EXPECT_NEAR(a.Beta(1), b.Beta(0), 1e-14);
    EXPECT_NEAR(a.Beta(2), b.Beta(1), 1e-14);
    EXPECT_NEAR(a.ResidualShare(), b.ResidualShare(), 1e-14);
    EXPECT_NEAR(a.RegressionShare(), b.RegressionShare(), 1e-14);
    EXPECT_NEAR(a.MultipleR(), b.MultipleR(), 1e-14);
}

TEST(FullRegression, MultipleRComesFromTheResidual)
{
    // With ryy other than 1, U' + Q' is not 1 and the two ways to the multiple correlation part.
    const double ryy = 0.9;
    TAugEquation eq(MatrixOf({{1}}), ColumnOf({0.6}), &ryy, 4.0, 20);
    eq.Solve();
    EXPECT_NEAR(eq.ResidualShare(), 0.9 - 0.36, 1e-15);
    EXPECT_NEAR(eq.RegressionShare(), 0.36, 1e-15);
    EXPECT_NEAR(eq.MultipleR(), std::sqrt(1 - 0.54), 1e-15);

    // A residual above 1 leaves the root of a negative number.
    const double big = 2.0;
    TAugEquation bad(MatrixOf({{1}}), ColumnOf({0.6}), &big, 4.0, 20);
    try {
        bad.Solve();
        FAIL() << "no fault";
    } catch (const EMathError& e) {
        EXPECT_EQ(e.Fault(), FloatFault::InvalidOp);
    }
}

TEST(FullRegression, IdenticalFactorsFailWithDivisionByZero)
{
    TAugEquation eq(MatrixOf({{1, 1}, {1, 1}}), ColumnOf({0.5, 0.5}), &One, 4.0, 20);
    try {
        eq.Solve();
        FAIL() << "Solve succeeded on a singular matrix";
    } catch (const EMathError& e) {
        EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
}

TEST(FullRegression, ObjectsOwnCopiesOfTheirInput)
{
    TMatrix r = MatrixOf({{1, 0.5}, {0.5, 1}});
    TMatrix rxy = ColumnOf({0.8, 0.6});
    double ryy = 1.0;
    TAugEquation eq(r, rxy, &ryy, 4.0, 20);
    r.SetElement(0.9, 0, 1);
    rxy.SetElement(0.1, 0, 0);
    ryy = 5.0;
    eq.Solve();
    EXPECT_NEAR(eq.Beta(0), 2.0 / 3, 1e-15);
    EXPECT_EQ(*eq.CorrelationXY().Element(0, 0), 0.8);
}

TEST(EquationBase, DestroyingThroughTheBaseReleasesEverything)
{
    // Run under AddressSanitizer, a leak or a double release here is reported.
    std::unique_ptr<TEquation> full =
        std::make_unique<TAugEquation>(MatrixOf({{1, 0.5}, {0.5, 1}}), ColumnOf({0.8, 0.6}), &One, 4.0, 20);
    std::unique_ptr<TEquation> stepwise =
        std::make_unique<TTigEquation>(MatrixOf({{1, 0.5}, {0.5, 1}}), ColumnOf({0.8, 0.6}), &One, 4.0, 20);
    EXPECT_EQ(full->Solve(), 0);
    EXPECT_EQ(stepwise->Solve(), 0);
    EXPECT_NE(full->Beta(1), 0.0);
    EXPECT_EQ(stepwise->Beta(1), 0.0);
}
