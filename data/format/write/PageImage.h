#pragma once
// A database file held in memory to be changed: the bytes as they were loaded, and a working copy
// whose pages a change rewrites. Readers see either through a TPages view; a view of the working
// copy is only good until a page is appended, which may move the bytes. The image keeps count of
// the pages handed out for writing, so that what changed is found without comparing the whole.

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "data/format/read/Pages.h"
#include "data/format/write/WorkingCopy.h"

namespace quorlin::jet {

class TPageImage {
public:
    // The bytes given, held by the image.
    TPageImage(std::string path, TBytes bytes, const TFormat& format);
    // The file as loaded is viewed, not held: it must outlive the image (a mapping of the file
    // working was made from, as the editing process has them).
    TPageImage(std::string path, TView loaded, TWorkingCopy working, const TFormat& format);
    TPageImage(TPageImage&&) noexcept = default;
    TPageImage(const TPageImage&) = delete;
    TPageImage& operator=(const TPageImage&) = delete;

    const std::string& Path() const noexcept { return FPath; }
    const TFormat& Format() const noexcept { return *FFormat; }
    // The file as it was loaded: records are taken from it while pages are rewritten, and it is
    // what a failed change puts back.
    TView Loaded() const noexcept { return FLoaded; }
    TPages LoadedPages() const noexcept { return TPages(FLoaded, *FFormat); }

    TView Bytes() const noexcept { return FBytes.View(); }
    TPages Pages() const noexcept { return TPages(FBytes.View(), *FFormat); }
    std::uint32_t PageCount() const noexcept { return Pages().Count(); }
    // The page's bytes; a page beyond the end is damage.
    std::uint8_t* Page(std::uint32_t n);
    // The bytes of one row of a data page, to be changed in place.
    std::span<std::uint8_t> Row(TRowId row);
    // A page of zeros at the end of the file.
    std::uint32_t AppendPage();
    // A page of zeros for new contents, numbered above after: one the file's map of free pages
    // had free when it was loaded and that held nothing then (all zeros, as this program leaves
    // the pages it gives back), not handed out before; else one at the end of the file. The
    // caller marks it in use.
    std::uint32_t NewPage(std::uint32_t after = 0);
    // Every page handed out for writing or added, in order: the pages that may differ from the
    // file as loaded.
    const std::set<std::uint32_t>& Written() const noexcept { return FWritten; }

private:
    std::string FPath;
    const TFormat* FFormat;
    TBytes FHeld;  // the file as loaded, when the image holds it
    TView FLoaded;
    TWorkingCopy FBytes;
    std::set<std::uint32_t> FWritten;
    std::optional<std::set<std::uint32_t>> FReusable;  // found when first asked for
};

// The pages a change adds to the file, and those it no longer needs, for the map of free pages.
struct TPageChanges {
    std::vector<std::uint32_t> Added;
    std::vector<std::uint32_t> Freed;
};

}  // namespace quorlin::jet
