#pragma once
// Memo and OLE values: inline in the row, or in one or a chain of long-value rows (fact 7).

#include <vector>

#include "data/format/read/Pages.h"

namespace quorlin::jet {

// A long-value row of a value, and the part of the value it holds.
struct TLongValuePart {
    TRowId Row;
    TView Bytes;
};

// The long-value rows holding the value the field refers to, in order; none when the value lives
// in the row. A row on a page of no long values, or a chain that loops or ends early, is damage.
std::vector<TLongValuePart> LongValueParts(const TPages& pages, TView field);

// The whole value that the field's reference describes.
TBytes ReadLongValue(const TPages& pages, TView field);

}  // namespace quorlin::jet
