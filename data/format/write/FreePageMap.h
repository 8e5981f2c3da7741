#pragma once
// The database's map of free pages (database_page::GlobalMapPage, row GlobalMapRow): a set bit
// is a page free for reuse, and the pages beyond the end of the file that the map reaches count
// as free as well.

#include <cstdint>
#include <vector>

#include "data/format/write/PageImage.h"

namespace quorlin::jet {

// A page the map does not reach has no stated state, and some writers take such a page for a
// free one and would write over it. So when one of pages lies beyond its reach, the map becomes
// one of usage-map pages that reach every page of the file, the free pages staying free.
void WidenGlobalMap(TPageImage& image, const std::vector<std::uint32_t>& pages);

// Marks pages in use (widening the map first when it must) or free.
void MarkPagesInUse(TPageImage& image, const std::vector<std::uint32_t>& pages, bool inUse);

}  // namespace quorlin::jet
