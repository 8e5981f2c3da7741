#pragma once
// One change to a table's records, made in a file held in memory (Jet 4): the table's data pages
// laid out anew with the change made, its indexes rebuilt, its maps, count and AutoNumber brought
// up to date, and the result checked to hold together. Nothing reaches the disk here.

#include <cstdint>
#include <optional>
#include <vector>

#include "PageImage.h"
#include "TableDef.h"
#include "ValueParser.h"

namespace quorlin::jet {

enum class TChangeKind : std::uint8_t { Update, Insert, Delete };

struct TTableChange {
    TChangeKind Kind = TChangeKind::Update;
    std::int32_t Record = 0;  // Update and Delete: in the order the table reads
    // By column of the definition: the value the change stores, or none for a field it leaves
    // as it is (a new record's is NULL, for Yes/No No).
    std::vector<std::optional<TParsedValue>> Values;
};

// Makes the change in image, refusing with ERefused what cannot be kept consistent. The table
// must have read as recordsRead records just before: when its pages hold another number, the
// paths disagree and the change is refused. def takes the AutoNumber a new record is given, and
// change.Values the values of its AutoNumber fields.
void RebuildTable(TPageImage& image, TTableDef& def, TTableChange& change, std::size_t recordsRead);

}  // namespace quorlin::jet
