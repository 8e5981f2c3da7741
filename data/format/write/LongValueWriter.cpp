#include "data/format/write/LongValueWriter.h"

#include <algorithm>

#include "data/format/Damage.h"
#include "data/format/read/LongValue.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

using L = TLongValue;

// Values up to this many bytes stay in the record's row, as Access keeps short ones; a longer
// one would take the room of the record's other fields.
constexpr std::size_t MaxInline = 64;

TBytes Reference(std::uint32_t head, std::uint32_t pointer)
{
    TBytes reference(L::ReferenceSize, 0);
    Put32(reference.data(), head);
    Put32(reference.data() + L::Pointer, pointer);
    return reference;
}

// The largest row a page holds, with its entry in the row-offset table.
std::size_t LargestRow(const TFormat& f) noexcept { return f.PageSize - f.DataRowOffsets - RowOffsetSize; }
// The most of a value one long-value row takes: what a row of a chain holds besides its pointer,
// for a value on a row of its own as well, as Access writes them.
std::size_t LargestPart(const TFormat& f) noexcept { return LargestRow(f) - RowIdSize; }

std::uint8_t* RowOffsetEntry(std::uint8_t* page, const TFormat& f, std::uint32_t row)
{
    return page + f.DataRowOffsets + RowOffsetSize * row;
}

}  // namespace

std::uint32_t FirstLongValueRow(TView stored)
{
    if (stored.size() < L::ReferenceSize) Damaged(Tr("a memo or OLE value is cut short"));
    return Get32(stored.data()) & L::Inline ? 0 : Get32(stored.data() + L::Pointer);
}

TBytes TLongValueWriter::Store(TView value)
{
    if (value.size() > L::LengthMask)
        Refused(quorlin::Format(Tr("A value of %1$s bytes is longer than a memo or OLE field holds."), value.size()));
    const auto length = static_cast<std::uint32_t>(value.size());
    if (value.size() <= MaxInline) {
        TBytes stored = Reference(L::Inline | length, 0);
        stored.insert(stored.end(), value.begin(), value.end());
        return stored;
    }
    const std::size_t part = LargestPart(FImage.Format());
    if (value.size() <= part) return Reference(L::SingleRow | length, AddRow(value).Packed());
    // A chain, written from its end so that each row knows the row after it.
    std::uint32_t next = 0;
    for (std::size_t end = value.size(); end > 0;) {
        const std::size_t start = (end - 1) / part * part;
        TBytes row(RowIdSize);
        Put32(row.data(), next);
        row.insert(row.end(), value.begin() + static_cast<std::ptrdiff_t>(start), value.begin() + static_cast<std::ptrdiff_t>(end));
        next = AddRow(row).Packed();
        end = start;
    }
    return Reference(length, next);
}

void TLongValueWriter::Free(TView stored, const std::set<std::uint32_t>& sharedRows, const std::string& field)
{
    const std::uint32_t first = FirstLongValueRow(stored);
    if (first == 0) return;
    if (sharedRows.count(first))
        Refused(quorlin::Format(Tr("The value of the field '%1$s' is stored where another record's value is as well; this "
                                   "program cannot tell whether it may be freed."),
                                field));
    // Read whole from the file as loaded before any row of it is touched.
    std::set<std::uint32_t> pages;
    for (const TLongValuePart& part : LongValueParts(FImage.LoadedPages(), stored)) {
        FreeRow(part.Row);
        pages.insert(part.Row.Page);
    }
    for (std::uint32_t page : pages) GiveBackWhenUnused(page);
}

TRowId TLongValueWriter::AddRow(TView row)
{
    const TFormat& f = FImage.Format();
    const auto fits = [&](std::uint32_t page) {
        const std::uint8_t* p = FImage.Page(page);
        return Get16(p + f.DataRowCount) < MaxRowsPerPage && Get16(p + f.DataFreeSpace) >= row.size() + RowOffsetSize;
    };
    if (FCurrent == 0 || !fits(FCurrent)) FCurrent = AddLongValuePage();
    std::uint8_t* p = FImage.Page(FCurrent);
    const std::uint32_t count = Get16(p + f.DataRowCount);
    // Only this writer's rows are on the page, none deleted: the last one's offset is where it starts.
    const std::size_t top = count == 0 ? f.PageSize : Get16(RowOffsetEntry(p, f, count - 1)) & TRowFlag::OffsetMask;
    const std::size_t start = top - row.size();
    std::copy(row.begin(), row.end(), p + start);
    Put16(RowOffsetEntry(p, f, count), static_cast<std::uint32_t>(start));
    Put16(p + f.DataRowCount, count + 1);
    Put16(p + f.DataFreeSpace, static_cast<std::uint32_t>(Get16(p + f.DataFreeSpace) - row.size() - RowOffsetSize));
    return {FCurrent, count};
}

std::uint32_t TLongValueWriter::AddLongValuePage()
{
    const TFormat& f = FImage.Format();
    const std::uint32_t page = FImage.NewPage();
    std::uint8_t* p = FImage.Page(page);
    p[page_header::Type] = static_cast<std::uint8_t>(TPageType::Data);
    p[page_header::Mark] = page_header::MarkValue;
    Put16(p + f.DataFreeSpace, static_cast<std::uint32_t>(f.PageSize - f.DataRowOffsets));
    std::copy(std::begin(L::Owner), std::end(L::Owner), p + f.DataOwner);
    FPages.Added.push_back(page);
    return page;
}

void TLongValueWriter::FreeRow(TRowId row)
{
    const TFormat& f = FImage.Format();
    if (row.Row >= RowSlots(FImage.Pages(), row.Page).size())
        Damaged(quorlin::Format(Tr("row %1$s of page %2$s does not exist"), row.Row, row.Page));
    std::uint8_t* entry = RowOffsetEntry(FImage.Page(row.Page), f, row.Row);
    Put16(entry, Get16(entry) | TRowFlag::Deleted);
}

// A long-value page whose rows are all freed holds nothing any more. A page a map of the table
// lists is kept, as the table may count on it.
void TLongValueWriter::GiveBackWhenUnused(std::uint32_t page)
{
    const std::vector<TRowSlot> slots = RowSlots(FImage.Pages(), page);
    if (FKept.count(page) || !std::all_of(slots.begin(), slots.end(), [](const TRowSlot& s) { return s.Deleted(); })) return;
    std::fill_n(FImage.Page(page), FImage.Format().PageSize, std::uint8_t{0});
    FPages.Freed.push_back(page);
}

}  // namespace quorlin::jet
