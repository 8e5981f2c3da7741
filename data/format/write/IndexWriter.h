#pragma once
// Writing a table's indexes (Jet 4): each is built anew from the table's records, or, in a sort
// order only Access keys, from the keys Access wrote for them.

#include <vector>

#include "data/format/write/PageImage.h"
#include "data/format/read/RowCodec.h"

namespace quorlin::jet {

// Whether some, or all, of the index's fields are empty in row.
bool AnyNull(const TRealIndex& index, const TRowFields& row);
bool AllNull(const TRealIndex& index, const TRowFields& row);

// The key of row in index, its row pointer not yet added. Raises ERefused, naming the field, the
// index and the sort order, for text in a sort order whose keys this program cannot write.
TBytes IndexKeyOf(const TTableDef& def, const TRealIndex& index, const TRowFields& row);

// Builds the tree of index from rows, the records of the table stored at places (one for each).
// The tree keeps its root page, whose number the definition holds, and takes its other pages
// from those the index had before and then from the end of the file; the pages it adds (for its
// usage map too) and those it no longer needs go to pages. The definition's count of the index's
// keys is set. A duplicate key of a unique index raises ERefused. kept, when given, holds each
// row's key as the file held it (none for a row the index leaves out), for an index whose keys
// cannot be built (KeptKeys.h).
void RebuildIndex(TPageImage& image, const TTableDef& def, const TRealIndex& index, const std::vector<TRowFields>& rows,
                  const std::vector<TRowId>& places, TPageChanges& pages, const std::vector<const TBytes*>* kept = nullptr);

}  // namespace quorlin::jet
