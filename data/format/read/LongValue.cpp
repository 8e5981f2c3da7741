#include "data/format/read/LongValue.h"

#include <set>
#include <string>

#include "data/format/Damage.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

using L = TLongValue;

TView LongValueRow(const TPages& pages, TRowId id)
{
    if (pages.Type(id.Page) != TPageType::Data || !IsLongValuePage(pages, id.Page))
        Damaged(quorlin::Format(Tr("a memo or OLE value points to page %1$s, which holds no long values"), id.Page));
    return RowBytes(pages, id);
}

std::uint32_t Head(TView field)
{
    if (field.size() < L::ReferenceSize) Damaged(Tr("a memo or OLE value is cut short"));
    return Get32(field.data());
}

std::vector<TLongValuePart> ChainParts(const TPages& pages, TRowId next, std::size_t length)
{
    std::vector<TLongValuePart> parts;
    std::set<std::uint32_t> seen;
    for (std::size_t found = 0; found < length;) {
        if (next.Packed() == 0) Damaged(Tr("a memo or OLE value ends before its length"));
        if (!seen.insert(next.Packed()).second) Damaged(Tr("the rows of a memo or OLE value run in a loop"));
        const TView row = LongValueRow(pages, next);
        if (row.size() < RowIdSize) Damaged(Tr("a row of a memo or OLE value is cut short"));
        const std::size_t take = std::min(row.size() - RowIdSize, length - found);
        parts.push_back({next, row.subspan(RowIdSize, take)});
        found += take;
        next = TRowId::Unpack(Get32(row.data()));
    }
    return parts;
}

}  // namespace

std::vector<TLongValuePart> LongValueParts(const TPages& pages, TView field)
{
    const std::uint32_t head = Head(field);
    const std::size_t length = head & L::LengthMask;
    if (head & L::Inline) return {};
    const TRowId first = TRowId::Unpack(Get32(field.data() + L::Pointer));
    if (!(head & L::SingleRow)) return ChainParts(pages, first, length);
    const TView row = LongValueRow(pages, first);
    if (length > row.size()) Damaged(Tr("a memo or OLE value is longer than its row"));
    return {{first, row.first(length)}};
}

TBytes ReadLongValue(const TPages& pages, TView field)
{
    const std::uint32_t head = Head(field);
    if (head & L::Inline) {
        const std::size_t length = head & L::LengthMask;
        if (L::ReferenceSize + length > field.size()) Damaged(Tr("a memo or OLE value is longer than its row"));
        return TBytes(field.begin() + L::ReferenceSize, field.begin() + static_cast<std::ptrdiff_t>(L::ReferenceSize + length));
    }
    TBytes value;
    for (const TLongValuePart& part : LongValueParts(pages, field)) value.insert(value.end(), part.Bytes.begin(), part.Bytes.end());
    return value;
}

}  // namespace quorlin::jet
