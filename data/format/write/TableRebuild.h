#pragma once
// Changes to a table's records, made in a file held in memory (Jet 4): the table's data pages
// laid out anew with the changes made, its indexes rebuilt, its maps, count and AutoNumber brought
// up to date, and the result checked to hold together. Nothing reaches the disk here.

#include <cstdint>
#include <optional>
#include <vector>

#include "data/format/write/PageImage.h"
#include "data/format/read/RowCodec.h"
#include "data/format/read/TableDef.h"
#include "data/format/write/ValueParser.h"
#include "values/RecordChanges.h"

namespace quorlin::jet {

// By column of the definition: the value a change stores, or none for a field it leaves as it
// is (a new record's is NULL, for Yes/No No).
using TFieldValues = std::vector<std::optional<TParsedValue>>;

// The rebuilt table keeps the order of the records, the deleted ones left out, and reads the new
// records after them.
using TTableChanges = TRecordChanges<TFieldValues>;

// One change to one record, as the user makes it.
// A record's fields with values put over them: those of the stored row, or blanks for a new
// record (no stored row). The fields view the row and the values, which must outlive them.
TRowFields FieldsWith(const TTableDef& def, const TFormat& format, const TView* stored, const TFieldValues& values);

// Gives the AutoNumber fields of a new record their values, def the last one handed out.
void AssignAutoNumbers(TTableDef& def, TFieldValues& values);

// Makes the changes in image, refusing with ERefused what cannot be kept consistent. The table
// must have read as recordsRead records just before: when its pages hold another number, the
// paths disagree and the change is refused. New records must have their AutoNumbers already;
// def's last AutoNumber is stored.
void RebuildTable(TPageImage& image, const TTableDef& def, const TTableChanges& changes, std::size_t recordsRead);

}  // namespace quorlin::jet
