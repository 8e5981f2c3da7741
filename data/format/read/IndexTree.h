#pragma once
// The entries of an index as they stand in the file: the leaves of its tree, in key order.
// Used where an entry's key must be kept as it was written, not built again.

#include <cstdint>
#include <vector>

#include "data/format/Bytes.h"
#include "data/format/read/Pages.h"
#include "data/format/read/TableDef.h"

namespace quorlin::jet {

struct TIndexEntryBytes {
    TBytes Key;  // the entry without its row pointer
    TRowId Row;  // the record it points at
};

// Every leaf entry of the index, in tree order. A tree that loops, leaves its table or holds
// entries that do not fit their page is damage.
std::vector<TIndexEntryBytes> IndexEntries(const TPages& pages, const TTableDef& def, const TRealIndex& index);

}  // namespace quorlin::jet
