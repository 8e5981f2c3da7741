#include "LongValue.h"

#include <set>
#include <string>

#include "Damage.h"

namespace quorlin::jet {

namespace {

using L = TLongValue;

TView LongValueRow(const TPages& pages, TRowId id)
{
    if (pages.Type(id.Page) != TPageType::Data || !IsLongValuePage(pages, id.Page))
        Damaged("a memo or OLE value points to page " + std::to_string(id.Page) + ", which holds no long values");
    return RowBytes(pages, id);
}

}  // namespace

TBytes ReadLongValue(const TPages& pages, TView field)
{
    if (field.size() < L::ReferenceSize) Damaged("a memo or OLE value is cut short");
    const std::uint32_t head = Get32(field.data());
    const std::size_t length = head & L::LengthMask;
    if (head & L::Inline) {
        if (L::ReferenceSize + length > field.size()) Damaged("a memo or OLE value is longer than its row");
        return TBytes(field.begin() + L::ReferenceSize, field.begin() + static_cast<std::ptrdiff_t>(L::ReferenceSize + length));
    }
    TRowId next = TRowId::Unpack(Get32(field.data() + L::Pointer));
    if (head & L::SingleRow) {
        const TView row = LongValueRow(pages, next);
        if (length > row.size()) Damaged("a memo or OLE value is longer than its row");
        return TBytes(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(length));
    }
    TBytes value;
    value.reserve(std::min<std::size_t>(length, pages.Bytes().size()));
    std::set<std::uint32_t> seen;
    while (value.size() < length) {
        if (next.Packed() == 0) Damaged("a memo or OLE value ends before its length");
        if (!seen.insert(next.Packed()).second) Damaged("the rows of a memo or OLE value run in a loop");
        const TView row = LongValueRow(pages, next);
        if (row.size() < RowIdSize) Damaged("a row of a memo or OLE value is cut short");
        const std::size_t take = std::min(row.size() - RowIdSize, length - value.size());
        value.insert(value.end(), row.begin() + RowIdSize, row.begin() + static_cast<std::ptrdiff_t>(RowIdSize + take));
        next = TRowId::Unpack(Get32(row.data()));
    }
    return value;
}

}  // namespace quorlin::jet
