#pragma once
// The key of a text value in an index (fact 10), or why it cannot be written with certainty.

#include <string>
#include <string_view>

#include "data/format/Bytes.h"
#include "data/format/read/TableDef.h"

namespace quorlin::jet {

struct TTextKeyResult {
    TBytes Bytes;         // what follows the field's flag byte, EndKey included
    std::string Problem;  // empty when Bytes is the key; else why it is not known
};

// The key of text in the General sort order. Refused (with a Problem): characters beyond
// LastWeighedCharacter or U+0000, a space at the end, and a character without weight after a
// ligature: how Access keys those is not known here.
TTextKeyResult GeneralTextKey(std::u16string_view text);

// Why the keys of a text column cannot be written here (a sort order other than General), or
// an empty text.
std::string SortOrderProblem(const TColumnDef& column);

}  // namespace quorlin::jet
