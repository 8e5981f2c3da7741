#include "data/format/write/UsageMapWriter.h"

#include <algorithm>

#include "data/format/Damage.h"
#include "data/format/read/UsageMap.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

using L = TUsageMapLayout;
constexpr std::size_t BitsPerByte = 8;

// Fills the inline map's bitmap, unless a page lies outside the range it reaches from its start.
bool StoreInline(std::span<std::uint8_t> row, const std::set<std::uint32_t>& pages)
{
    const std::uint32_t start = Get32(row.data() + L::InlineStart);
    const std::span<std::uint8_t> bitmap = row.subspan(L::InlineBits);
    const std::size_t reach = bitmap.size() * BitsPerByte;
    if (!std::all_of(pages.begin(), pages.end(), [&](std::uint32_t p) { return p >= start && p - start < reach; }))
        return false;
    std::fill(bitmap.begin(), bitmap.end(), std::uint8_t{0});
    for (std::uint32_t p : pages) SetBit(bitmap, p - start, true);
    return true;
}

// Range k of the map: its own usage-map page while it holds a page, else none.
void StoreRange(TPageImage& image, std::uint32_t& mapPage, std::size_t k, const std::set<std::uint32_t>& pages,
                std::vector<std::uint32_t>& added)
{
    const std::size_t perPage = PagesPerMapPage(image.Format());
    const auto inRange = [&](std::uint32_t p) { return p / perPage == k; };
    const bool needed = std::any_of(pages.begin(), pages.end(), inRange);
    if (!needed && mapPage == 0) return;
    if (mapPage == 0) {
        mapPage = AppendMapPage(image);
        added.push_back(mapPage);
    }
    const std::span<std::uint8_t> bitmap = MapPageBitmap(image, mapPage);
    std::fill(bitmap.begin(), bitmap.end(), std::uint8_t{0});
    for (std::uint32_t p : pages)
        if (inRange(p)) SetBit(bitmap, p % perPage, true);
}

std::vector<std::uint32_t> StoreReferences(TPageImage& image, TRowId map, const std::set<std::uint32_t>& pages)
{
    std::vector<std::uint32_t> mapPages = MapReferences(image.Row(map), image.Format());
    const std::size_t perPage = PagesPerMapPage(image.Format());
    if (!pages.empty() && *pages.rbegin() / perPage >= mapPages.size())
        Refused(quorlin::Format(Tr("The database file '%1$s' is too large for a table's page map."), image.Path()));
    std::vector<std::uint32_t> added;
    for (std::size_t k = 0; k < mapPages.size(); ++k) StoreRange(image, mapPages[k], k, pages, added);
    StoreMapReferences(image.Row(map), mapPages);  // looked up again: appending pages moves the bytes
    return added;
}

}  // namespace

void SetBit(std::span<std::uint8_t> bitmap, std::size_t bit, bool on)
{
    const auto mask = static_cast<std::uint8_t>(1u << (bit % BitsPerByte));
    std::uint8_t& byte = bitmap[bit / BitsPerByte];
    byte = on ? static_cast<std::uint8_t>(byte | mask) : static_cast<std::uint8_t>(byte & ~mask);
}

void StoreMapReferences(std::span<std::uint8_t> row, const std::vector<std::uint32_t>& mapPages)
{
    row[0] = L::ReferenceMap;
    for (std::size_t k = 0; k < mapPages.size(); ++k) Put32(row.data() + L::References + L::ReferenceSize * k, mapPages[k]);
}

std::uint32_t AppendMapPage(TPageImage& image)
{
    const std::uint32_t page = image.AppendPage();
    std::uint8_t* p = image.Page(page);
    p[page_header::Type] = static_cast<std::uint8_t>(TPageType::UsageMap);
    p[page_header::Mark] = page_header::MarkValue;
    return page;
}

std::span<std::uint8_t> MapPageBitmap(TPageImage& image, std::uint32_t mapPage)
{
    std::uint8_t* p = image.Page(mapPage);
    return std::span<std::uint8_t>(p + L::MapPageBits, p + image.Format().PageSize);
}

std::vector<std::uint32_t> StoreUsageMap(TPageImage& image, TRowId map, const std::set<std::uint32_t>& pages)
{
    const std::span<std::uint8_t> row = image.Row(map);
    if (row.size() < L::InlineBits || (row[0] != L::InlineMap && row[0] != L::ReferenceMap))
        Damaged(quorlin::Format(Tr("the usage map in row %1$s of page %2$s cannot be written"), map.Row, map.Page));
    if (row[0] == L::InlineMap) {
        if (StoreInline(row, pages)) return {};
        std::fill(row.begin(), row.end(), std::uint8_t{0});
        row[0] = L::ReferenceMap;
    }
    return StoreReferences(image, map, pages);
}

}  // namespace quorlin::jet
