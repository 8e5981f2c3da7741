#pragma once
// Laying a table's rows out over its data pages (Jet 4).

#include <set>
#include <vector>

#include "PageImage.h"
#include "TableDef.h"

namespace quorlin::jet {

struct TLayout {
    std::vector<TRowId> Places;             // where each row went
    std::vector<std::uint32_t> DataPages;   // the table's data pages, its new ones included
    std::vector<std::uint32_t> NewPages;    // added to the table
    std::vector<std::uint32_t> Emptied;     // pages no row needs any more: given back to the file
    std::set<std::uint32_t> PagesWithRoom;  // where a row of smallestRow bytes still fits
};

// Writes rows in order over the table's data pages among owned, adding pages when those are full.
TLayout LayOutRows(TPageImage& image, const TTableDef& def, const std::vector<std::uint32_t>& owned,
                   const std::vector<TView>& rows, std::size_t smallestRow);

}  // namespace quorlin::jet
