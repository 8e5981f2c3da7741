#include "data/format/write/PageImage.h"

#include <algorithm>

#include "data/format/read/UsageMap.h"

namespace quorlin::jet {

TPageImage::TPageImage(std::string path, TBytes bytes, const TFormat& format)
    : FPath(std::move(path)), FFormat(&format), FHeld(bytes), FLoaded(FHeld), FBytes(std::move(bytes))
{
}

TPageImage::TPageImage(std::string path, TView loaded, TWorkingCopy working, const TFormat& format)
    : FPath(std::move(path)), FFormat(&format), FLoaded(loaded), FBytes(std::move(working))
{
}

std::uint8_t* TPageImage::Page(std::uint32_t n)
{
    Pages().Page(n);  // raises EDamaged for a page beyond the end
    FWritten.insert(n);
    return FBytes.Data() + std::size_t{n} * FFormat->PageSize;
}

std::span<std::uint8_t> TPageImage::Row(TRowId row)
{
    const TView bytes = RowBytes(Pages(), row);
    FWritten.insert(row.Page);
    const auto start = static_cast<std::size_t>(bytes.data() - FBytes.View().data());
    return std::span<std::uint8_t>(FBytes.Data() + start, bytes.size());
}

namespace {

// Pages the loaded file's map of free pages has free and that hold nothing at all. Access leaves
// its freed pages as they were; only empty ones are taken, so that a page the map has wrong can
// never be written over.
std::set<std::uint32_t> ReusablePages(const TPages& loaded)
{
    const TRowId map{database_page::GlobalMapPage, database_page::GlobalMapRow};
    std::set<std::uint32_t> reusable;
    for (std::uint32_t page : ReadUsageMap(loaded, map)) {
        if (page <= database_page::CatalogPage || page >= loaded.Count()) continue;
        const std::uint8_t* bytes = loaded.Page(page);
        if (std::all_of(bytes, bytes + loaded.Format().PageSize, [](std::uint8_t b) { return b == 0; })) reusable.insert(page);
    }
    return reusable;
}

}  // namespace

std::uint32_t TPageImage::NewPage(std::uint32_t after)
{
    if (!FReusable) FReusable = ReusablePages(LoadedPages());
    const auto it = FReusable->upper_bound(after);
    if (it == FReusable->end()) return AppendPage();
    const std::uint32_t page = *it;
    FReusable->erase(it);
    std::fill_n(Page(page), FFormat->PageSize, std::uint8_t{0});
    return page;
}

std::uint32_t TPageImage::AppendPage()
{
    FBytes.Append(FFormat->PageSize);
    FWritten.insert(PageCount() - 1);
    return PageCount() - 1;
}

}  // namespace quorlin::jet
