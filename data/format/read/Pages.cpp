#include "data/format/read/Pages.h"

#include <algorithm>
#include <string>

#include "data/format/Damage.h"
#include "support/Messages.h"

namespace quorlin::jet {

const std::uint8_t* TPages::Page(std::uint32_t n) const
{
    if (n >= Count()) Damaged(quorlin::Format(Tr("page %1$s lies beyond the end of the file"), n));
    return FBytes.data() + std::size_t{n} * FFormat->PageSize;
}

void ReadRowSlots(const TPages& pages, std::uint32_t page, std::vector<TRowSlot>& slots)
{
    const TFormat& f = pages.Format();
    const std::uint8_t* p = pages.Page(page);
    if (static_cast<TPageType>(p[0]) != TPageType::Data)
        Damaged(quorlin::Format(Tr("page %1$s is not a data page"), page));
    const std::size_t count = Get16(p + f.DataRowCount);
    const std::size_t tableEnd = f.DataRowOffsets + RowOffsetSize * count;
    if (count > MaxRowsPerPage + 1 || tableEnd > f.PageSize)
        Damaged(quorlin::Format(Tr("the row-offset table of page %1$s is too long"), page));
    slots.resize(count);
    std::size_t end = f.PageSize;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t raw = Get16(p + f.DataRowOffsets + RowOffsetSize * i);
        TRowSlot& s = slots[i];
        s.Flags = raw & (TRowFlag::Deleted | TRowFlag::Overflow);
        std::size_t start = raw & TRowFlag::OffsetMask;
        if (start < tableEnd || start >= end) {
            if (!s.Deleted())
                Damaged(quorlin::Format(Tr("row %1$s of page %2$s lies outside its page or out of order"), i, page));
            start = end;
        }
        s.Start = static_cast<std::uint16_t>(start);
        s.End = static_cast<std::uint16_t>(end);
        end = start;
    }
}

std::vector<TRowSlot> RowSlots(const TPages& pages, std::uint32_t page)
{
    std::vector<TRowSlot> slots;
    ReadRowSlots(pages, page, slots);
    return slots;
}

TView RowBytes(const TPages& pages, TRowId row)
{
    const auto slots = RowSlots(pages, row.Page);
    if (row.Row >= slots.size())
        Damaged(quorlin::Format(Tr("row %1$s of page %2$s does not exist"), row.Row, row.Page));
    const TRowSlot& s = slots[row.Row];
    return TView(pages.Page(row.Page) + s.Start, s.End - s.Start);
}

bool IsLongValuePage(const TPages& pages, std::uint32_t page)
{
    const std::uint8_t* p = pages.Page(page) + pages.Format().DataOwner;
    return std::equal(std::begin(TLongValue::Owner), std::end(TLongValue::Owner), p);
}

std::uint32_t DataPageOwner(const TPages& pages, std::uint32_t page)
{
    return IsLongValuePage(pages, page) ? 0 : Get32(pages.Page(page) + pages.Format().DataOwner);
}

}  // namespace quorlin::jet
