#pragma once
// Writing usage maps (fact 6) in a file held in memory.

#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "data/format/write/PageImage.h"

namespace quorlin::jet {

// Stores pages as the list of the map in the row map. An inline map that cannot reach them all
// becomes a reference map in the same row, which keeps its size; usage-map pages are added as
// ranges need them and cleared when they no longer do. Returns the pages it added to the file.
std::vector<std::uint32_t> StoreUsageMap(TPageImage& image, TRowId map, const std::set<std::uint32_t>& pages);

// The parts of a reference map, for the maps that are kept otherwise.
// Its pointers as MapReferences reads them; the slots beyond those are left as they are.
void StoreMapReferences(std::span<std::uint8_t> row, const std::vector<std::uint32_t>& mapPages);
// A usage-map page at the end of the file, its bitmap empty.
std::uint32_t AppendMapPage(TPageImage& image);
// The bitmap of a usage-map page.
std::span<std::uint8_t> MapPageBitmap(TPageImage& image, std::uint32_t mapPage);
void SetBit(std::span<std::uint8_t> bitmap, std::size_t bit, bool on);

}  // namespace quorlin::jet
