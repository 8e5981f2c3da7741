#pragma once
// Every live record of a table, exactly once, in storage order: the table's pages in
// ascending order, the rows of each in slot order. Deleted rows are skipped; a header row that
// points to where its record moved is read at the record's new place (fact 4). A table whose
// pages or rows are damaged raises EDamaged.
//
// The record count in a table's definition is not one of those checks: Access does not always
// keep it (a file Access saved may count fewer records than its pages hold), so the records
// found are read whatever it says. Its disagreement is still told (CountDisagrees), so that a
// table is never silently shorter than its definition says: a row whose deleted flag was set by
// damage reads as one record fewer, with that word.

#include <functional>

#include "data/format/read/RowCodec.h"

namespace quorlin::jet {

using TRecordSink = std::function<void(const TRowFields& record)>;

// Calls onRecord for every record; progress now and then on a long scan. Returns the count.
std::size_t ScanTable(const TPages& pages, const TTableDef& def, const TRecordSink& onRecord,
                      const std::function<void()>& progress = {});

// Where each live record of the table is stored (its header row), in the order ScanTable meets
// them, and the row holding its data, with that row's bytes.
struct TRecordPlace {
    TRowId Header;
    TRowId Data;
    TView Row;
};
std::vector<TRecordPlace> RecordPlaces(const TPages& pages, const TTableDef& def);

// Whether the definition's record count says other than the found records, for a table whose
// count Access keeps (not its own tables, whose counts it leaves as they were).
bool CountDisagrees(const TTableDef& def, std::size_t found) noexcept;

}  // namespace quorlin::jet
