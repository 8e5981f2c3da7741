#include "numeric/FloatError.h"

namespace quorlin {

const char* EMathError::Text(FloatFault fault) noexcept
{
    switch (fault) {
    case FloatFault::ZeroDivide: return "Floating point division by zero";
    case FloatFault::InvalidOp: return "Invalid floating point operation";
    case FloatFault::Overflow: return "Floating point overflow";
    }
    return "Invalid floating point operation";
}

EMathError::EMathError(FloatFault fault) : std::runtime_error(Text(fault)), FFault(fault) {}

void RaiseFloatFault(FloatFault fault) { throw EMathError(fault); }

}  // namespace quorlin
