#pragma once
// How a field's name is found: letter case ignored for ASCII letters, as Access does, in the
// file format's tables, the views, the statistics and the command line alike.

#include <string>
#include <string_view>

namespace quorlin {

bool SameFieldName(std::string_view a, std::string_view b) noexcept;
// The key under which SameFieldName finds a name: equal keys for names it takes as the same.
std::string FieldNameKey(std::string_view name);

}  // namespace quorlin
