#include "data/format/write/FreePageMap.h"

#include <algorithm>
#include <optional>
#include <set>

#include "data/format/Damage.h"
#include "data/format/read/UsageMap.h"
#include "data/format/write/UsageMapWriter.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

using L = TUsageMapLayout;
constexpr TRowId GlobalMap{database_page::GlobalMapPage, database_page::GlobalMapRow};
constexpr std::size_t BitsPerByte = 8;

TView GlobalMapRow(const TPageImage& image)
{
    const TView row = RowBytes(image.Pages(), GlobalMap);
    if (row.size() < L::InlineBits || (row[0] != L::InlineMap && row[0] != L::ReferenceMap))
        Damaged(Tr("the map of free pages is of an unknown kind"));
    return row;
}

// The bit of an inline map's bitmap that stands for page, when the map reaches it.
std::optional<std::size_t> InlineBit(TView row, std::uint32_t page)
{
    const std::uint32_t first = Get32(row.data() + L::InlineStart);
    if (page < first || page - first >= (row.size() - L::InlineBits) * BitsPerByte) return std::nullopt;
    return page - first;
}

bool Reaches(TView row, const std::vector<std::uint32_t>& pages, const TFormat& format)
{
    const std::size_t perPage = PagesPerMapPage(format);
    if (row[0] == L::InlineMap)
        return std::all_of(pages.begin(), pages.end(), [&](std::uint32_t p) { return InlineBit(row, p).has_value(); });
    const std::vector<std::uint32_t> mapPages = MapReferences(row, format);
    return std::all_of(pages.begin(), pages.end(),
                       [&](std::uint32_t p) { return p / perPage < mapPages.size() && mapPages[p / perPage] != 0; });
}

// A usage-map page for every range that holds a page of the file, themselves pages of it.
void AddMapPagesForFile(TPageImage& image, std::vector<std::uint32_t>& mapPages, std::set<std::uint32_t>& free)
{
    const std::size_t perPage = PagesPerMapPage(image.Format());
    for (std::size_t k = 0; k * perPage < image.PageCount(); ++k) {
        if (k >= mapPages.size())
            Refused(quorlin::Format(Tr("The database file '%1$s' is too large for its map of free pages."), image.Path()));
        if (mapPages[k] != 0) continue;
        mapPages[k] = AppendMapPage(image);
        free.erase(mapPages[k]);
    }
}

void StoreFreeBits(TPageImage& image, const std::vector<std::uint32_t>& mapPages, const std::set<std::uint32_t>& free)
{
    const std::size_t perPage = PagesPerMapPage(image.Format());
    const std::size_t total = image.PageCount();
    for (std::size_t k = 0; k < mapPages.size(); ++k) {
        if (mapPages[k] == 0) continue;
        const std::span<std::uint8_t> bitmap = MapPageBitmap(image, mapPages[k]);
        std::fill(bitmap.begin(), bitmap.end(), std::uint8_t{0});
        for (std::size_t i = 0; i < perPage; ++i) {
            const std::size_t page = k * perPage + i;
            if (page >= total || free.count(static_cast<std::uint32_t>(page))) SetBit(bitmap, i, true);
        }
    }
}

}  // namespace

void WidenGlobalMap(TPageImage& image, const std::vector<std::uint32_t>& pages)
{
    const TView row = GlobalMapRow(image);
    if (Reaches(row, pages, image.Format())) return;
    const std::vector<std::uint32_t> listed = ReadUsageMap(image.Pages(), GlobalMap);
    std::set<std::uint32_t> free(listed.begin(), listed.end());
    const bool wasInline = row[0] == L::InlineMap;
    std::vector<std::uint32_t> mapPages = MapReferences(row, image.Format());
    if (wasInline) std::fill(mapPages.begin(), mapPages.end(), 0u);
    AddMapPagesForFile(image, mapPages, free);  // appends pages: row is not to be used after this
    StoreFreeBits(image, mapPages, free);
    const std::span<std::uint8_t> stored = image.Row(GlobalMap);
    if (wasInline) std::fill(stored.begin(), stored.end(), std::uint8_t{0});  // no bit of the bitmap may pass for a pointer
    StoreMapReferences(stored, mapPages);
}

void MarkPagesInUse(TPageImage& image, const std::vector<std::uint32_t>& pages, bool inUse)
{
    if (pages.empty()) return;
    if (inUse) WidenGlobalMap(image, pages);
    GlobalMapRow(image);
    const std::span<std::uint8_t> row = image.Row(GlobalMap);
    const std::size_t perPage = PagesPerMapPage(image.Format());
    const std::vector<std::uint32_t> mapPages = row[0] == L::ReferenceMap ? MapReferences(row, image.Format()) : std::vector<std::uint32_t>{};
    for (std::uint32_t p : pages) {
        if (row[0] == L::InlineMap) {
            if (const auto bit = InlineBit(row, p)) SetBit(row.subspan(L::InlineBits), *bit, !inUse);
        } else if (p / perPage < mapPages.size() && mapPages[p / perPage] != 0) {
            SetBit(MapPageBitmap(image, mapPages[p / perPage]), p % perPage, !inUse);
        }
    }
}

}  // namespace quorlin::jet
