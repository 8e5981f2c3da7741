#pragma once
// Memo and OLE values (fact 7) written into and freed from a file held in memory, for one
// change. New long-value rows go on long-value pages the change adds (empty pages the file has
// free, else at its end), never among rows Access placed; a freed value's rows are flagged deleted, and a page left
// with no row in use is given back to the file.

#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "data/format/write/PageImage.h"

namespace quorlin::jet {

class TLongValueWriter {
public:
    // kept: pages that stay whatever they come to hold (those the table's maps list).
    TLongValueWriter(TPageImage& image, std::set<std::uint32_t> kept) : FImage(image), FKept(std::move(kept)) {}

    // The bytes the row keeps for value: its reference, followed by the value itself when that
    // is short, else pointing at one long-value row or at a chain of them.
    TBytes Store(TView value);
    // Frees the long-value rows the stored field refers to; field names the field for the refusal
    // when other records refer to them as well (in sharedRows, the first rows of their values).
    void Free(TView stored, const std::set<std::uint32_t>& sharedRows, const std::string& field);

    // The pages this writer added and those it gave back.
    const TPageChanges& Pages() const noexcept { return FPages; }

private:
    TRowId AddRow(TView row);
    std::uint32_t AddLongValuePage();
    void FreeRow(TRowId row);
    void GiveBackWhenUnused(std::uint32_t page);

    TPageImage& FImage;
    const std::set<std::uint32_t> FKept;
    TPageChanges FPages;
    std::uint32_t FCurrent = 0;  // the added page new rows go on; 0 before the first
};

// The first long-value row of a stored memo or OLE field, packed as a row pointer; none (0) when
// the value lives in the row.
std::uint32_t FirstLongValueRow(TView stored);

}  // namespace quorlin::jet
