#pragma once
// A file's pages and the rows of its data pages, read through checks: every page number,
// offset and length taken from the file is checked before it is used, so that damage raises
// EDamaged instead of reading the wrong bytes.

#include <cstdint>
#include <vector>

#include "data/format/Bytes.h"
#include "data/format/Format.h"

namespace quorlin::jet {

class TPages {
public:
    TPages(TView bytes, const TFormat& format) noexcept : FBytes(bytes), FFormat(&format) {}
    const TFormat& Format() const noexcept { return *FFormat; }
    std::uint32_t Count() const noexcept { return static_cast<std::uint32_t>(FBytes.size() / FFormat->PageSize); }
    // The page's bytes (PageSize of them).
    const std::uint8_t* Page(std::uint32_t n) const;
    TPageType Type(std::uint32_t n) const { return static_cast<TPageType>(Page(n)[0]); }
    TView Bytes() const noexcept { return FBytes; }

private:
    TView FBytes;
    const TFormat* FFormat;
};

// One entry of a data page's row-offset table, with the bounds of its row.
struct TRowSlot {
    std::uint16_t Start = 0;
    std::uint16_t End = 0;
    std::uint16_t Flags = 0;
    bool Deleted() const noexcept { return (Flags & TRowFlag::Deleted) != 0; }
    bool Overflow() const noexcept { return (Flags & TRowFlag::Overflow) != 0; }
};

// The rows of a data page. Rows not deleted must lie inside the page, after the offset table, in
// the order the table gives; a deleted row may have been squeezed to nothing and is then empty.
void ReadRowSlots(const TPages& pages, std::uint32_t page, std::vector<TRowSlot>& slots);
std::vector<TRowSlot> RowSlots(const TPages& pages, std::uint32_t page);
// The bytes of one row, whatever its flags.
TView RowBytes(const TPages& pages, TRowId row);
// The page a data page belongs to: a TDEF page, or none (0) for long-value pages.
std::uint32_t DataPageOwner(const TPages& pages, std::uint32_t page);
bool IsLongValuePage(const TPages& pages, std::uint32_t page);

}  // namespace quorlin::jet
