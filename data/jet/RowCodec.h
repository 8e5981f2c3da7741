#pragma once
// A stored row taken apart into the bytes of each column of its table, and put together again.

#include <vector>

#include "TableDef.h"

namespace quorlin::jet {

// The columns of one row, in the order of TTableDef::Columns. Data views into the row.
struct TRowFields {
    std::vector<bool> Present;  // not NULL (for Yes/No: the value)
    std::vector<TView> Data;    // the stored bytes of each present column
};

// Fills fields from row; a row whose parts do not fit inside it is damage.
void SplitRow(const TTableDef& def, const TFormat& format, TView row, TRowFields& fields);

// The Jet 4 row holding fields, as SplitRow takes it apart: every column of the table counted in
// its null mask, the fixed part, then the variable-length values in slot order and their table.
TBytes JoinRow(const TTableDef& def, const TRowFields& fields);

}  // namespace quorlin::jet
