#include "values/FieldName.h"

#include "support/AsciiText.h"

namespace quorlin {

bool SameFieldName(std::string_view a, std::string_view b) noexcept { return EqualIgnoringCase(a, b); }

std::string FieldNameKey(std::string_view name) { return LowerAscii(name); }

}  // namespace quorlin
