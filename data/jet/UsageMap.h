#pragma once
// Usage maps: which pages a table or an index owns, or which of its pages have room.

#include <cstdint>
#include <vector>

#include "Pages.h"

namespace quorlin::jet {

// The pages the map at the row pointer lists, in ascending order. A map page that is not one,
// or a page beyond the end of the file, is damage.
std::vector<std::uint32_t> ReadUsageMap(const TPages& pages, TRowId map);

// Pages one usage-map page covers.
std::size_t PagesPerMapPage(const TFormat& format) noexcept;

}  // namespace quorlin::jet
