#pragma once
// The key of a text value in an index (fact 10), in either General sort order.

#include <string>
#include <string_view>

#include "data/format/Bytes.h"
#include "data/format/read/TableDef.h"
#include "data/format/write/SortOrder.h"

namespace quorlin::jet {

// The key of text in a sort order, as an ascending index holds it (fact 10): every UTF-16 unit
// of its first LongestKeyedText is keyed, surrogates one by one, spaces at the end left out.
TBytes TextKey(std::u16string_view text, const TSortOrder& order);

// The sort order of a text column's keys, or none when this program cannot write them.
const TSortOrder* SortOrderOf(const TColumnDef& column) noexcept;

// The name of a text column's sort order as Access names it, or its locale and version.
std::string SortOrderName(const TColumnDef& column);

// Why the keys of a text column cannot be written here (a sort order other than the two General
// ones), or an empty text.
std::string SortOrderProblem(const TColumnDef& column);

}  // namespace quorlin::jet
