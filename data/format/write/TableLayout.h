#pragma once
// Laying a table's rows out over its data pages (Jet 4).

#include <set>
#include <vector>

#include "data/format/write/PageImage.h"
#include "data/format/read/TableDef.h"

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

// Lays rows out anew over the single data page page, in slot order, so that each keeps its row
// pointer: the rows are to be all the records the page holds, in the order of their slots. False,
// the page untouched, when they no longer fit on it. The page is added to layout's data pages,
// and to its pages with room when a row of smallestRow bytes still fits.
bool RelayPage(TPageImage& image, const TTableDef& def, std::uint32_t page, const std::vector<TView>& rows,
               std::size_t smallestRow, TLayout& layout);

}  // namespace quorlin::jet
