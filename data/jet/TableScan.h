#pragma once
// Every live record of a table, exactly once, in storage order: the table's pages in
// ascending order, the rows of each in slot order. Deleted rows are skipped; a header row that
// points to where its record moved is read at the record's new place (fact 4). A table whose
// pages or rows are damaged, or whose record count differs from its definition's, raises
// EDamaged: a table is never silently shorter than it is. (Access's own tables are not held to
// their count, which Access does not keep.)

#include <functional>

#include "RowCodec.h"

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

}  // namespace quorlin::jet
