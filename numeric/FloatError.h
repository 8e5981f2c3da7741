#pragma once
// Floating-point faults of the numerical road.
//
// The arithmetic of the regression is written as if the floating-point unit trapped invalid
// operations, divisions by zero and overflows: the first such operation ends the computation
// with one of three fixed messages. Rather than depend on hardware traps (which compilers and
// sanitizers treat differently), every operation that could fault goes through the checked
// helpers below, which raise EMathError before a NaN or an infinity can exist.

#include <cmath>
#include <limits>
#include <stdexcept>

namespace quorlin {

// Intermediate results are carried in extended precision and rounded to a 64-bit float only
// when stored, as the original arithmetic did on an 80-bit floating-point unit.
using Extended = long double;

enum class FloatFault { ZeroDivide, InvalidOp, Overflow };

class EMathError : public std::runtime_error {
public:
    explicit EMathError(FloatFault fault);
    FloatFault Fault() const noexcept { return FFault; }
    static const char* Text(FloatFault fault) noexcept;

private:
    FloatFault FFault;
};

[[noreturn]] void RaiseFloatFault(FloatFault fault);

namespace checked {

// Smallest magnitude that rounds to infinity when narrowed to double: DBL_MAX plus half an ulp
// (the tie rounds to even, which is the infinity side because DBL_MAX's significand is odd).
inline constexpr Extended OverflowThreshold = 0x1.fffffffffffffp1023L + 0x1p970L;

// a / b; 0/0 is an invalid operation, x/0 a division by zero.
inline Extended Divide(Extended a, Extended b)
{
    if (b == 0) RaiseFloatFault(a == 0 ? FloatFault::InvalidOp : FloatFault::ZeroDivide);
    const Extended q = a / b;
    if (std::isinf(q)) RaiseFloatFault(FloatFault::Overflow);
    return q;
}

// Square root; the root of a negative number (not of -0) is an invalid operation.
inline Extended Sqrt(Extended v)
{
    if (v < 0) RaiseFloatFault(FloatFault::InvalidOp);
    return std::sqrt(v);
}

// Rounds an intermediate to the 64-bit float it is stored as; overflow if it cannot be held.
inline double Store(Extended v)
{
    if (v >= OverflowThreshold || v <= -OverflowThreshold) RaiseFloatFault(FloatFault::Overflow);
    return static_cast<double>(v);
}

// A value entering the arithmetic from outside (a data field, a user's number) must be finite:
// the first operation on a NaN or an infinity would have trapped as invalid.
inline double Operand(double v)
{
    if (!std::isfinite(v)) RaiseFloatFault(FloatFault::InvalidOp);
    return v;
}

}  // namespace checked
}  // namespace quorlin
