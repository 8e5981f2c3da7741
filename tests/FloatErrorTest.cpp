#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "numeric/FloatError.h"

using namespace quorlin;

namespace {

template <class F>
FloatFault FaultOf(F&& f)
{
    try {
        f();
    } catch (const EMathError& e) {
        return e.Fault();
    }
    ADD_FAILURE() << "no fault";
    return FloatFault::Overflow;
}

}  // namespace

TEST(CheckedArithmetic, DivisionFaults)
{
    EXPECT_EQ(FaultOf([] { checked::Divide(1.0L, 0.0L); }), FloatFault::ZeroDivide);
    EXPECT_EQ(FaultOf([] { checked::Divide(-3.0L, -0.0L); }), FloatFault::ZeroDivide);
    EXPECT_EQ(FaultOf([] { checked::Divide(0.0L, 0.0L); }), FloatFault::InvalidOp);
    EXPECT_EQ(checked::Divide(1.0L, 4.0L), 0.25L);
    // A quotient beyond double's range is still an intermediate, not yet a fault.
    EXPECT_GT(checked::Divide(static_cast<Extended>(DBL_MAX), 0.5L), static_cast<Extended>(DBL_MAX));
}

TEST(CheckedArithmetic, SquareRootOfNegativeIsInvalid)
{
    EXPECT_EQ(FaultOf([] { checked::Sqrt(-1e-300L); }), FloatFault::InvalidOp);
    EXPECT_EQ(checked::Sqrt(0.0L), 0.0L);
    EXPECT_EQ(checked::Sqrt(-0.0L), 0.0L);
    EXPECT_EQ(checked::Sqrt(2.25L), 1.5L);
}

TEST(CheckedArithmetic, StoreOverflowsExactlyWhereRoundingReachesInfinity)
{
    const Extended max = DBL_MAX;
    const Extended halfUlp = std::ldexp(1.0L, 970);
    EXPECT_EQ(checked::Store(max), DBL_MAX);
    // Just below the midpoint to infinity still rounds down to the largest double.
    EXPECT_EQ(checked::Store(max + halfUlp - std::ldexp(1.0L, 960)), DBL_MAX);
    EXPECT_EQ(checked::Store(-(max + halfUlp - std::ldexp(1.0L, 960))), -DBL_MAX);
    EXPECT_EQ(FaultOf([&] { checked::Store(max + halfUlp); }), FloatFault::Overflow);
    EXPECT_EQ(FaultOf([&] { checked::Store(-(max + halfUlp)); }), FloatFault::Overflow);
    EXPECT_EQ(FaultOf([&] { checked::Store(max * 4); }), FloatFault::Overflow);
    // Underflow is not a fault: tiny results become subnormals or zero.
    EXPECT_EQ(checked::Store(std::ldexp(1.0L, -1100)), 0.0);
}

TEST(CheckedArithmetic, NonFiniteOperandsAreInvalid)
{
    EXPECT_EQ(FaultOf([] { checked::Operand(std::numeric_limits<double>::quiet_NaN()); }), FloatFault::InvalidOp);
    EXPECT_EQ(FaultOf([] { checked::Operand(-std::numeric_limits<double>::infinity()); }), FloatFault::InvalidOp);
    EXPECT_EQ(checked::Operand(-2.5), -2.5);
}
