#pragma once
// The bytes of each column of a row put together into the row as Access stores it: the inverse
// of SplitRow, for the writer.

#include "data/format/read/RowCodec.h"

namespace quorlin::jet {

// The Jet 4 row holding fields, as SplitRow takes it apart: every column of the table counted in
// its null mask, the fixed part, then the variable-length values in slot order and their table.
TBytes JoinRow(const TTableDef& def, const TRowFields& fields);

}  // namespace quorlin::jet
