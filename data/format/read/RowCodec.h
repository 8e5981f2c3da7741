#pragma once
// A stored row taken apart into the bytes of each column of its table.

#include <vector>

#include "data/format/read/TableDef.h"

namespace quorlin::jet {

// The columns of one row, in the order of TTableDef::Columns. Data views into the row.
struct TRowFields {
    std::vector<bool> Present;  // not NULL (for Yes/No: the value)
    std::vector<TView> Data;    // the stored bytes of each present column
};

// Fills fields from row; a row whose parts do not fit inside it is damage.
void SplitRow(const TTableDef& def, const TFormat& format, TView row, TRowFields& fields);


}  // namespace quorlin::jet
