#include "data/format/read/UsageMap.h"

#include <string>

#include "data/format/Damage.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

using L = TUsageMapLayout;

void AddBits(const std::uint8_t* bits, std::size_t count, std::uint64_t first, std::vector<std::uint32_t>& out)
{
    for (std::size_t byte = 0; byte < count / 8; ++byte) {
        if (bits[byte] == 0) continue;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (bits[byte] >> bit & 1) {
                const std::uint64_t page = first + byte * 8 + bit;
                if (page > UINT32_MAX) Damaged(Tr("a usage map reaches beyond any file"));
                out.push_back(static_cast<std::uint32_t>(page));
            }
    }
}

}  // namespace

std::size_t PagesPerMapPage(const TFormat& format) noexcept { return (format.PageSize - L::MapPageBits) * 8; }

std::vector<std::uint32_t> MapReferences(TView row, const TFormat& format)
{
    const std::uint64_t perPage = PagesPerMapPage(format);
    const std::uint64_t reachable = (format.MaxFileSize / format.PageSize + perPage - 1) / perPage;
    std::vector<std::uint32_t> mapPages;
    for (std::size_t at = L::References; at + L::ReferenceSize <= row.size() && mapPages.size() < reachable;
         at += L::ReferenceSize)
        mapPages.push_back(Get32(row.data() + at));
    return mapPages;
}

std::vector<std::uint32_t> ReadUsageMap(const TPages& pages, TRowId map)
{
    const TView row = RowBytes(pages, map);
    if (row.size() < L::InlineBits) Damaged(quorlin::Format(Tr("the usage map in row %1$s of page %2$s is too short"), map.Row, map.Page));
    std::vector<std::uint32_t> owned;
    if (row[0] == L::InlineMap) {
        AddBits(row.data() + L::InlineBits, (row.size() - L::InlineBits) * 8, Get32(row.data() + L::InlineStart), owned);
    } else if (row[0] == L::ReferenceMap) {
        const std::size_t perPage = PagesPerMapPage(pages.Format());
        const std::vector<std::uint32_t> mapPages = MapReferences(row, pages.Format());
        for (std::size_t k = 0; k < mapPages.size(); ++k) {
            const std::uint32_t mapPage = mapPages[k];
            if (mapPage == 0) continue;
            if (pages.Type(mapPage) != TPageType::UsageMap)
                Damaged(quorlin::Format(Tr("page %1$s is named as a usage map but is none"), mapPage));
            AddBits(pages.Page(mapPage) + L::MapPageBits, perPage, std::uint64_t{k} * perPage, owned);
        }
    } else {
        Damaged(quorlin::Format(Tr("the usage map in row %1$s of page %2$s is of an unknown kind"), map.Row, map.Page));
    }
    return owned;
}

}  // namespace quorlin::jet
