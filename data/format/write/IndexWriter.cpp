#include "data/format/write/IndexWriter.h"

#include <algorithm>
#include <functional>
#include <set>

#include "data/format/Damage.h"
#include "data/format/read/Text.h"
#include "data/format/write/TextKey.h"
#include "data/format/read/UsageMap.h"
#include "data/format/write/UsageMapWriter.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

using L = TIndexPageLayout;

struct TIndexEntry {
    TBytes Bytes;  // the key, then the record's row pointer
    bool AllNull = false;
    bool AnyNull = false;
};

// An index page: leaf entries point at rows; node entries are each a copy of a child's last entry
// followed by the child's page. A node keeps its last child in the tail field instead of an
// entry, as trees grown at their end are kept.
struct TIndexPage {
    TPageType Type = TPageType::IndexLeaf;
    std::vector<TBytes> Entries;
    std::uint32_t Previous = 0, Next = 0, Tail = 0;
    TBytes Last;  // the last entry of the subtree, as a parent copies it
};

std::size_t EntryRoom(const TFormat& format) noexcept { return format.PageSize - L::Entries; }

// The value's bytes big-endian, changed so that they sort as the values do.
void AppendSortable(TBytes& key, TColumnType type, TView data)
{
    TBytes big(data.rbegin(), data.rend());
    switch (type) {
    case TColumnType::Byte: break;  // unsigned already
    case TColumnType::Single:
    case TColumnType::Double:
    case TColumnType::DateTime:
        if (big[0] & TIndexKey::SignBit)
            for (auto& b : big) b = static_cast<std::uint8_t>(~b);
        else
            big[0] ^= TIndexKey::SignBit;
        break;
    default: big[0] ^= TIndexKey::SignBit; break;  // two's complement integers
    }
    key.insert(key.end(), big.begin(), big.end());
}

// A text field's key, as an ascending index holds it; refused in a sort order whose keys are not
// known, as a wrong key would be written for good.
void AppendText(TBytes& key, const TTableDef& def, const TRealIndex& index, const TIndexColumn& ic, TView data)
{
    const TColumnDef& col = def.Columns[ic.Column];
    const TSortOrder* order = SortOrderOf(col);
    if (!order)
        Refused(quorlin::Format(Tr("The text '%1$s' of the field '%2$s' cannot be kept in the index '%3$s' of the table '%4$s': "
                                   "%5$s."),
                                DecodeText(data, Jet4Format(), 0), col.Name, index.Name, def.Name, SortOrderProblem(col)));
    const TBytes text = TextKey(Utf16Units(data), *order);
    key.insert(key.end(), text.begin(), text.end());
}

TIndexEntry IndexKey(const TTableDef& def, const TRealIndex& index, const TRowFields& row)
{
    TIndexEntry e;
    e.AllNull = true;
    for (const TIndexColumn& ic : index.Columns) {
        const std::size_t begin = e.Bytes.size();
        const TColumnType type = def.Columns[ic.Column].Type;
        if (!row.Present[ic.Column]) {
            e.Bytes.push_back(TIndexKey::NullField);
            e.AnyNull = true;
        } else {
            e.AllNull = false;
            e.Bytes.push_back(TIndexKey::ValueField);
            if (type == TColumnType::Text)
                AppendText(e.Bytes, def, index, ic, row.Data[ic.Column]);
            else if (row.Data[ic.Column].empty())
                continue;
            else
                AppendSortable(e.Bytes, type, row.Data[ic.Column]);
        }
        if (!ic.Ascending) {
            std::for_each(e.Bytes.begin() + static_cast<std::ptrdiff_t>(begin), e.Bytes.end(),
                          [](std::uint8_t& b) { b = static_cast<std::uint8_t>(~b); });
            // An inverted text key would end in no EndKey (fact 10).
            if (row.Present[ic.Column] && type == TColumnType::Text) e.Bytes.push_back(TTextKey::EndKey);
        }
    }
    return e;
}

// The key the file held for a record, with what its fields say of its empty ones.
TIndexEntry KeptKey(const TRealIndex& index, const TRowFields& row, const TBytes* key)
{
    TIndexEntry e;
    e.AllNull = AllNull(index, row);
    e.AnyNull = AnyNull(index, row);
    if (key) e.Bytes = *key;
    return e;
}

bool SameKey(const TBytes& a, const TBytes& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end() - RowIdSize, b.begin());
}

// The entries of the records in key order, records whose key is all NULL left out where the
// index ignores them.
std::vector<TIndexEntry> SortedEntries(const TTableDef& def, const TRealIndex& index, const std::vector<TRowFields>& rows,
                                       const std::vector<TRowId>& places, std::size_t room, const std::vector<const TBytes*>* kept)
{
    std::vector<TIndexEntry> entries;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        TIndexEntry e = kept ? KeptKey(index, rows[i], (*kept)[i]) : IndexKey(def, index, rows[i]);
        if (e.AllNull && index.IgnoreNulls()) continue;
        AppendBigEndian32(e.Bytes, places[i].Packed());
        // A node entry adds a child pointer; both must fit on a page.
        if (e.Bytes.size() + L::ChildPointer > room)
            Refused(quorlin::Format(Tr("A key of the index '%1$s' of the table '%2$s' would be too long for an index page."),
                                    index.Name, def.Name));
        entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(), [](const TIndexEntry& a, const TIndexEntry& b) { return a.Bytes < b.Bytes; });
    return entries;
}

void CheckUnique(const TTableDef& def, const TRealIndex& index, const std::vector<TIndexEntry>& entries)
{
    for (std::size_t i = 1; i < entries.size(); ++i) {
        // Keys with an empty field are never duplicates, as in Access.
        const bool nullKey = entries[i - 1].AnyNull || entries[i].AnyNull;
        if (!nullKey && SameKey(entries[i - 1].Bytes, entries[i].Bytes))
            Refused(quorlin::Format(Tr("The change would create a duplicate value in the index '%1$s' of the table '%2$s'."),
                                    index.Name, def.Name));
    }
}

// The definition counts distinct keys, as a freshly built index has them.
std::uint32_t DistinctKeys(const std::vector<TIndexEntry>& entries)
{
    std::uint32_t distinct = 0;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (i == 0 || !SameKey(entries[i].Bytes, entries[i - 1].Bytes)) ++distinct;
    return distinct;
}

void WriteIndexPage(TPageImage& image, std::uint32_t page, std::uint32_t tdefPage, const TIndexPage& content)
{
    const std::size_t pageSize = image.Format().PageSize;
    std::uint8_t* p = image.Page(page);
    std::fill(p, p + pageSize, std::uint8_t{0});
    p[page_header::Type] = static_cast<std::uint8_t>(content.Type);
    p[page_header::Mark] = page_header::MarkValue;
    Put32(p + L::Owner, tdefPage);
    Put32(p + L::Previous, content.Previous);
    Put32(p + L::Next, content.Next);
    Put32(p + L::Tail, content.Tail);
    std::size_t used = 0;
    for (const TBytes& e : content.Entries) {
        std::copy(e.begin(), e.end(), p + L::Entries + used);
        used += e.size();
        p[L::EntryMask + used / 8] |= static_cast<std::uint8_t>(1u << (used % 8));
    }
    Put16(p + L::FreeSpace, static_cast<std::uint32_t>(EntryRoom(image.Format()) - used));
}

std::vector<TIndexPage> Leaves(const std::vector<TIndexEntry>& entries, std::size_t room)
{
    std::vector<TIndexPage> level(1);
    std::size_t used = 0;
    for (const TIndexEntry& e : entries) {
        if (used + e.Bytes.size() > room) {
            level.emplace_back();
            used = 0;
        }
        level.back().Entries.push_back(e.Bytes);
        level.back().Last = e.Bytes;
        used += e.Bytes.size();
    }
    return level;
}

TBytes NodeEntry(const TBytes& last, std::uint32_t child)
{
    TBytes e = last;
    AppendBigEndian32(e, child);
    return e;
}

using TChild = std::pair<std::uint32_t, const TBytes*>;  // a page and its last entry

void CloseNode(TIndexPage& node, std::vector<TChild>& children)
{
    if (children.size() == 1) {
        node.Entries.push_back(NodeEntry(*children[0].second, children[0].first));
    } else {
        for (std::size_t k = 0; k + 1 < children.size(); ++k)
            node.Entries.push_back(NodeEntry(*children[k].second, children[k].first));
        node.Tail = children.back().first;
    }
    node.Last = *children.back().second;
    children.clear();
}

// The level above: nodes take children while their entries fit; each node's last child goes
// into its tail.
std::vector<TIndexPage> Parents(const std::vector<TIndexPage>& level, const std::vector<std::uint32_t>& pages, std::size_t room)
{
    std::vector<TIndexPage> parents(1);
    std::vector<TChild> children;  // of the open node
    std::size_t used = 0;
    for (std::size_t i = 0; i < level.size(); ++i) {
        if (!children.empty()) {
            // The child before this one becomes an entry once this one joins as the tail.
            const std::size_t entry = children.back().second->size() + L::ChildPointer;
            if (used + entry > room) {
                CloseNode(parents.back(), children);
                parents.emplace_back();
                used = 0;
            } else {
                used += entry;
            }
        }
        children.emplace_back(pages[i], &level[i].Last);
    }
    CloseNode(parents.back(), children);
    return parents;
}

void WriteLevel(TPageImage& image, std::uint32_t tdefPage, TPageType type, std::vector<TIndexPage>& level,
                const std::vector<std::uint32_t>& pages)
{
    for (std::size_t i = 0; i < level.size(); ++i) {
        level[i].Type = type;
        level[i].Previous = i > 0 ? pages[i - 1] : 0;
        level[i].Next = i + 1 < level.size() ? pages[i + 1] : 0;
        WriteIndexPage(image, pages[i], tdefPage, level[i]);
    }
}

// Bottom-up: leaves filled in order, then levels of nodes until one page holds the top, which
// goes to the root page. Other pages come from take().
void WriteIndexTree(TPageImage& image, std::uint32_t tdefPage, std::uint32_t rootPage,
                    const std::vector<TIndexEntry>& entries, const std::function<std::uint32_t()>& take)
{
    const std::size_t room = EntryRoom(image.Format());
    std::vector<TIndexPage> level = Leaves(entries, room);
    TPageType type = TPageType::IndexLeaf;
    while (level.size() > 1) {
        std::vector<std::uint32_t> pages(level.size());
        std::generate(pages.begin(), pages.end(), take);
        WriteLevel(image, tdefPage, type, level, pages);
        level = Parents(level, pages, room);
        type = TPageType::IndexNode;
    }
    level[0].Type = type;
    WriteIndexPage(image, rootPage, tdefPage, level[0]);
}

}  // namespace

bool AnyNull(const TRealIndex& index, const TRowFields& row)
{
    return std::any_of(index.Columns.begin(), index.Columns.end(), [&](const TIndexColumn& ic) { return !row.Present[ic.Column]; });
}

bool AllNull(const TRealIndex& index, const TRowFields& row)
{
    return std::none_of(index.Columns.begin(), index.Columns.end(), [&](const TIndexColumn& ic) { return row.Present[ic.Column]; });
}

TBytes IndexKeyOf(const TTableDef& def, const TRealIndex& index, const TRowFields& row)
{
    return IndexKey(def, index, row).Bytes;
}

void RebuildIndex(TPageImage& image, const TTableDef& def, const TRealIndex& index, const std::vector<TRowFields>& rows,
                  const std::vector<TRowId>& places, TPageChanges& pages, const std::vector<const TBytes*>* kept)
{
    const std::vector<TIndexEntry> entries = SortedEntries(def, index, rows, places, EntryRoom(image.Format()), kept);
    if (index.Unique()) CheckUnique(def, index, entries);
    const TPageType rootType = image.Pages().Type(index.RootPage);
    if (rootType != TPageType::IndexNode && rootType != TPageType::IndexLeaf)
        Damaged(quorlin::Format(Tr("the root of the index '%1$s' is no index page"), index.Name));
    // The index's other pages are used again first; what is left over is given back.
    std::vector<std::uint32_t> spare = ReadUsageMap(image.Pages(), index.OwnedPages);
    std::erase(spare, index.RootPage);
    std::set<std::uint32_t> owned{index.RootPage};
    std::size_t nextSpare = 0;
    WriteIndexTree(image, def.Page, index.RootPage, entries, [&] {
        std::uint32_t page = 0;
        if (nextSpare < spare.size()) {
            page = spare[nextSpare++];
        } else {
            page = image.NewPage();
            pages.Added.push_back(page);
        }
        owned.insert(page);
        return page;
    });
    // Pages given back hold nothing, so that a later change may take them again.
    for (std::size_t i = nextSpare; i < spare.size(); ++i) {
        std::fill_n(image.Page(spare[i]), image.Format().PageSize, std::uint8_t{0});
        pages.Freed.push_back(spare[i]);
    }
    const std::vector<std::uint32_t> mapPages = StoreUsageMap(image, index.OwnedPages, owned);
    pages.Added.insert(pages.Added.end(), mapPages.begin(), mapPages.end());
    Put32(image.Page(def.Page) + index.CountOffset, DistinctKeys(entries));
}

}  // namespace quorlin::jet
