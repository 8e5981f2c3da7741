#include "data/format/read/IndexTree.h"

#include "data/format/Damage.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

using L = TIndexPageLayout;

// Deeper than any tree of a file's size can grow: a loop.
constexpr int DeepestTree = 32;

[[noreturn]] void BadTree(const TTableDef& def, const TRealIndex& index, std::uint32_t page)
{
    Damaged(quorlin::Format(Tr("The index '%1$s' of the table '%2$s' is damaged at page %3$s."), index.Name, def.Name, page));
}

// The entries of one index page, each whole again: the page stores the bytes all its entries
// share only once, at the front of its first.
std::vector<TBytes> PageEntries(const TPages& pages, const TTableDef& def, const TRealIndex& index, std::uint32_t n)
{
    const std::uint8_t* p = pages.Page(n);
    const std::size_t room = pages.Format().PageSize - L::Entries;
    const std::size_t prefix = Get16(p + L::PrefixLength);
    std::vector<TBytes> entries;
    std::size_t begin = 0;
    for (std::size_t end = 1; end <= room; ++end) {
        if (!(p[L::EntryMask + end / 8] >> (end % 8) & 1)) continue;
        TBytes entry;
        if (!entries.empty()) entry.assign(entries.front().begin(), entries.front().begin() + static_cast<std::ptrdiff_t>(prefix));
        entry.insert(entry.end(), p + L::Entries + begin, p + L::Entries + end);
        if (entry.size() < prefix) BadTree(def, index, n);
        entries.push_back(std::move(entry));
        begin = end;
    }
    return entries;
}

std::uint32_t BigEndian32(const std::uint8_t* p) noexcept
{
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void Visit(const TPages& pages, const TTableDef& def, const TRealIndex& index, std::uint32_t n, int depth,
           std::vector<TIndexEntryBytes>& out)
{
    if (depth > DeepestTree || n == 0 || n >= pages.Count()) BadTree(def, index, n);
    const TPageType type = pages.Type(n);
    if ((type != TPageType::IndexLeaf && type != TPageType::IndexNode) || Get32(pages.Page(n) + L::Owner) != def.Page)
        BadTree(def, index, n);
    const std::size_t pointer = type == TPageType::IndexLeaf ? RowIdSize : L::ChildPointer;
    for (TBytes& entry : PageEntries(pages, def, index, n)) {
        if (entry.size() < pointer) BadTree(def, index, n);
        const std::uint32_t target = BigEndian32(entry.data() + entry.size() - pointer);
        entry.resize(entry.size() - pointer);
        if (type == TPageType::IndexLeaf)
            out.push_back({std::move(entry), TRowId::Unpack(target)});
        else
            Visit(pages, def, index, target, depth + 1, out);
    }
    if (type == TPageType::IndexNode) {
        const std::uint32_t tail = Get32(pages.Page(n) + L::Tail);
        if (tail != 0) Visit(pages, def, index, tail, depth + 1, out);
    }
}

}  // namespace

std::vector<TIndexEntryBytes> IndexEntries(const TPages& pages, const TTableDef& def, const TRealIndex& index)
{
    std::vector<TIndexEntryBytes> entries;
    Visit(pages, def, index, index.RootPage, 0, entries);
    return entries;
}

}  // namespace quorlin::jet
