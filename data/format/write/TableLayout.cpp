#include "data/format/write/TableLayout.h"

#include <algorithm>

#include "data/format/Damage.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

constexpr std::size_t OwnerSize = sizeof(std::uint32_t);

// Starts the page afresh for the table. Jet 4 keeps bytes of unknown meaning between the owner
// and the row count; they stay as they were.
void StartDataPage(std::uint8_t* p, const TFormat& f, std::uint32_t owner)
{
    const TBytes kept(p + f.DataOwner + OwnerSize, p + f.DataRowCount);
    std::fill(p, p + f.PageSize, std::uint8_t{0});
    p[page_header::Type] = static_cast<std::uint8_t>(TPageType::Data);
    p[page_header::Mark] = page_header::MarkValue;
    Put32(p + f.DataOwner, owner);
    std::copy(kept.begin(), kept.end(), p + f.DataOwner + OwnerSize);
}

// Rows from next on, as many as the page holds; they grow down from its end. Returns the bytes
// left free.
std::size_t FillDataPage(TPageImage& image, std::uint32_t page, const std::vector<TView>& rows, std::size_t& next,
                         std::vector<TRowId>& places)
{
    const TFormat& f = image.Format();
    std::uint8_t* p = image.Page(page);
    std::uint32_t count = 0;
    std::size_t top = f.PageSize;
    while (next < rows.size() && count < MaxRowsPerPage &&
           f.DataRowOffsets + RowOffsetSize * (count + 1) + rows[next].size() <= top) {
        top -= rows[next].size();
        std::copy(rows[next].begin(), rows[next].end(), p + top);
        Put16(p + f.DataRowOffsets + RowOffsetSize * count, static_cast<std::uint32_t>(top));
        places.push_back({page, count});
        ++count;
        ++next;
    }
    if (count == 0) Damaged(Tr("a record is larger than a page"));  // only a damaged page holds one
    Put16(p + f.DataRowCount, count);
    const std::size_t free = top - f.DataRowOffsets - RowOffsetSize * count;
    Put16(p + f.DataFreeSpace, static_cast<std::uint32_t>(free));
    return free;
}

std::vector<std::uint32_t> TableDataPages(const TPageImage& image, const TTableDef& def, const std::vector<std::uint32_t>& owned)
{
    const TPages pages = image.Pages();
    std::vector<std::uint32_t> data;
    for (std::uint32_t page : owned)
        if (pages.Type(page) == TPageType::Data && DataPageOwner(pages, page) == def.Page) data.push_back(page);
    return data;
}

bool HasRoom(std::size_t rowsOnPage, std::size_t free, std::size_t smallestRow)
{
    return rowsOnPage < MaxRowsPerPage && free >= smallestRow + RowOffsetSize;
}

}  // namespace

bool RelayPage(TPageImage& image, const TTableDef& def, std::uint32_t page, const std::vector<TView>& rows,
               std::size_t smallestRow, TLayout& layout)
{
    const TFormat& f = image.Format();
    std::size_t needed = f.DataRowOffsets;
    for (const TView& row : rows) needed += RowOffsetSize + row.size();
    if (rows.empty() || rows.size() > MaxRowsPerPage || needed > f.PageSize) return false;
    StartDataPage(image.Page(page), f, def.Page);
    std::size_t next = 0;
    std::vector<TRowId> places;
    const std::size_t free = FillDataPage(image, page, rows, next, places);
    layout.DataPages.push_back(page);
    if (HasRoom(rows.size(), free, smallestRow)) layout.PagesWithRoom.insert(page);
    return true;
}

TLayout LayOutRows(TPageImage& image, const TTableDef& def, const std::vector<std::uint32_t>& owned,
                   const std::vector<TView>& rows, std::size_t smallestRow)
{
    TLayout layout;
    layout.DataPages = TableDataPages(image, def, owned);
    std::size_t next = 0;  // the next row to place
    for (std::size_t k = 0; next < rows.size() || k < layout.DataPages.size(); ++k) {
        if (k == layout.DataPages.size()) {
            // Above the table's other pages, which records are read in the order of.
            layout.DataPages.push_back(image.NewPage(layout.DataPages.empty() ? 0 : layout.DataPages.back()));
            layout.NewPages.push_back(layout.DataPages.back());
        }
        const std::uint32_t page = layout.DataPages[k];
        if (next == rows.size()) {
            // An empty data page is left to no one: some readers take it for a record.
            std::fill_n(image.Page(page), image.Format().PageSize, std::uint8_t{0});
            layout.Emptied.push_back(page);
            continue;
        }
        StartDataPage(image.Page(page), image.Format(), def.Page);
        const std::size_t placed = layout.Places.size();
        const std::size_t free = FillDataPage(image, page, rows, next, layout.Places);
        if (HasRoom(layout.Places.size() - placed, free, smallestRow)) layout.PagesWithRoom.insert(page);
    }
    return layout;
}

}  // namespace quorlin::jet
