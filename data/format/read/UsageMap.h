#pragma once
// Usage maps: which pages a table or an index owns, or which of its pages have room.

#include <cstdint>
#include <vector>

#include "data/format/read/Pages.h"

namespace quorlin::jet {

// The pages the map at the row pointer lists, in ascending order. A map page that is not one,
// or a page beyond the end of the file, is damage.
std::vector<std::uint32_t> ReadUsageMap(const TPages& pages, TRowId map);

// Pages one usage-map page covers.
std::size_t PagesPerMapPage(const TFormat& format) noexcept;

// The pointers of a reference map, one for each range of PagesPerMapPage pages from page 0, 0
// for none; only those of ranges a file of the format can reach.
std::vector<std::uint32_t> MapReferences(TView row, const TFormat& format);

}  // namespace quorlin::jet
