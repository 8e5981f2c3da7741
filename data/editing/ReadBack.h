#pragma once
// The comparisons of a commit, which need nothing but records: whether a table is still what the
// user saw, and whether a table read back after a change holds exactly what the change meant.
// They parse nothing of the file: both sides are records a reading process sent.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "data/records/TableData.h"
#include "values/RecordChanges.h"

namespace quorlin {

// The values a change stores in one record, by column of the table's definition; none for a
// field it leaves as it is (a new record's reads blank, a Yes/No field No).
using TMeantValues = std::vector<std::optional<TCellValue>>;

using TMeantChanges = TRecordChanges<TMeantValues>;

// A table the write changes: as it read before, what the write does to it, and where each field
// of the table as read is in its definition.
struct TMeant {
    std::string Table;
    TMeantChanges Changes;
    const TTableData* Before = nullptr;
    std::vector<std::size_t> DefColumn;
};

// The same records in the same order, field by field (names and cells).
bool SameTable(const TTableData& a, const TTableData& b);

// Raises EProviderError naming the table and the first field that is not as meant: the records
// as they were, in their order, those deleted left out and the changed ones holding the values
// stored, then the new ones.
void CheckReadBack(const TMeant& meant, const TTableData& after);

}  // namespace quorlin
