// The write path's parts that work on a file held in memory: rows put together as the reader
// takes them apart, and index trees whose pages hold what the named fields of the format say,
// in files Access wrote as in files this program rebuilt.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "tests/StatisticsTestSupport.h"
#include "support/TextCodec.h"
#include "data/format/read/Text.h"
#include "data/format/read/Catalog.h"
#include "data/format/Damage.h"
#include "data/format/write/IndexWriter.h"
#include "data/format/read/LongValue.h"
#include "data/format/write/TextKey.h"
#include "data/format/write/TableRebuild.h"
#include "tests/SingleChange.h"
#include "data/format/read/TableScan.h"
#include "data/format/read/UsageMap.h"
#include "data/format/write/RowJoin.h"
#include "data/format/write/WritableTable.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

using L = jet::TIndexPageLayout;

jet::TBytes Copy(jet::TView bytes) { return jet::TBytes(bytes.begin(), bytes.end()); }

jet::TPageImage Image(const std::string& path)
{
    const std::string bytes = ReadBytes(path);
    return jet::TPageImage(path, jet::TBytes(bytes.begin(), bytes.end()), jet::Jet4Format());
}

std::vector<jet::TTableDef> UserTables(const jet::TPages& pages)
{
    std::vector<jet::TTableDef> tables;
    for (const jet::TCatalogEntry& entry : jet::ReadCatalog(pages, 0))
        if (entry.Type == jet::TObjectType::Table && !entry.System())
            tables.push_back(jet::ReadTableDef(pages, entry.Page(), entry.Name, 0));
    return tables;
}

// An index page read through the fields TIndexPageLayout names; entries whole, the prefix they
// share put back in front of all but the first.
struct TIndexPage {
    jet::TPageType Type = jet::TPageType::IndexLeaf;
    std::uint32_t Owner = 0, Previous = 0, Next = 0, Tail = 0;
    std::size_t FreeSpace = 0, Used = 0;
    std::vector<jet::TBytes> Entries;
};

TIndexPage ReadIndexPage(const jet::TPages& pages, std::uint32_t n)
{
    const std::uint8_t* p = pages.Page(n);
    TIndexPage page{pages.Type(n), jet::Get32(p + L::Owner), jet::Get32(p + L::Previous), jet::Get32(p + L::Next),
                    jet::Get32(p + L::Tail),  jet::Get16(p + L::FreeSpace), 0, {}};
    const std::size_t prefix = jet::Get16(p + L::PrefixLength);
    jet::TBytes shared;
    for (std::size_t end = 1; end <= pages.Format().PageSize - L::Entries; ++end) {
        if (!(p[L::EntryMask + end / 8] >> (end % 8) & 1)) continue;
        jet::TBytes entry(p + L::Entries + page.Used, p + L::Entries + end);
        if (page.Entries.empty())
            shared.assign(entry.begin(), entry.begin() + static_cast<std::ptrdiff_t>(std::min(prefix, entry.size())));
        else
            entry.insert(entry.begin(), shared.begin(), shared.end());
        page.Entries.push_back(std::move(entry));
        page.Used = end;
    }
    return page;
}

struct TTreeWalk {
    std::vector<TIndexPage> Leaves;  // in tree order
    std::vector<std::uint32_t> LeafPages;
    std::size_t Nodes = 0;
};

std::uint32_t ChildOf(const jet::TBytes& nodeEntry)
{
    std::uint32_t page = 0;
    for (std::size_t i = nodeEntry.size() - L::ChildPointer; i < nodeEntry.size(); ++i) page = page << 8 | nodeEntry[i];
    return page;
}

void Visit(const jet::TPages& pages, const jet::TTableDef& def, std::uint32_t n, int depth, TTreeWalk& walk)
{
    ASSERT_LT(depth, 16) << def.Name << ": the tree runs in a loop";
    const TIndexPage page = ReadIndexPage(pages, n);
    EXPECT_EQ(page.Owner, def.Page) << def.Name << ", page " << n;
    EXPECT_EQ(page.FreeSpace, pages.Format().PageSize - L::Entries - page.Used) << def.Name << ", page " << n;
    if (page.Type == jet::TPageType::IndexLeaf) {
        EXPECT_EQ(page.Tail, 0u) << def.Name << ", page " << n;
        walk.Leaves.push_back(page);
        walk.LeafPages.push_back(n);
        return;
    }
    ASSERT_EQ(page.Type, jet::TPageType::IndexNode) << def.Name << ", page " << n;
    ++walk.Nodes;
    for (const jet::TBytes& entry : page.Entries) Visit(pages, def, ChildOf(entry), depth + 1, walk);
    if (page.Tail != 0) Visit(pages, def, page.Tail, depth + 1, walk);
}

// Walks the tree from its root; each leaf must name its neighbours on its level.
TTreeWalk WalkIndex(const jet::TPages& pages, const jet::TTableDef& def, const jet::TRealIndex& index)
{
    TTreeWalk walk;
    Visit(pages, def, index.RootPage, 0, walk);
    for (std::size_t i = 0; i < walk.Leaves.size(); ++i) {
        EXPECT_EQ(walk.Leaves[i].Previous, i > 0 ? walk.LeafPages[i - 1] : 0u) << def.Name << ", leaf " << i;
        EXPECT_EQ(walk.Leaves[i].Next, i + 1 < walk.Leaves.size() ? walk.LeafPages[i + 1] : 0u) << def.Name << ", leaf " << i;
    }
    return walk;
}

}  // namespace

TEST(JetRows, JoinedRowsSplitIntoTheFieldsTheyWereJoinedFrom)
{
    const jet::TPageImage image = Image(DataFile("regression.mdb"));
    const jet::TPages pages = image.Pages();
    std::size_t records = 0;
    for (const jet::TTableDef& def : UserTables(pages)) {
        jet::TRowFields again;
        jet::ScanTable(pages, def, [&](const jet::TRowFields& fields) {
            const jet::TBytes row = jet::JoinRow(def, fields);  // again views it
            jet::SplitRow(def, pages.Format(), row, again);
            EXPECT_EQ(again.Present, fields.Present) << def.Name;
            for (std::size_t c = 0; c < def.Columns.size(); ++c)
                EXPECT_TRUE(std::ranges::equal(again.Data[c], fields.Data[c])) << def.Name << "." << def.Columns[c].Name;
            ++records;
        });
    }
    EXPECT_GT(records, 100u);
}

// A two-level tree that Access wrote: a node whose last child is in its tail, over linked leaves.
TEST(JetIndexPages, TreesWrittenByAccessReadThroughTheNamedFields)
{
    const std::string path = ExternalFixtures() + "/compIndexTestV2000.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "external fixtures absent";
    const jet::TPageImage image = Image(path);
    std::size_t nodes = 0, leaves = 0;
    for (const jet::TTableDef& def : UserTables(image.Pages()))
        for (const jet::TRealIndex& index : def.Indexes) {
            const TTreeWalk walk = WalkIndex(image.Pages(), def, index);
            nodes += walk.Nodes;
            leaves += walk.Leaves.size();
        }
    EXPECT_GT(nodes, 0u);
    EXPECT_GT(leaves, nodes);
}

// Keyed's primary key grows past one page while records are added in memory, one change at a
// time as the write path makes them.
TEST(JetIndexPages, AKeyOutgrowingItsRootBecomesLinkedLeavesInKeyOrder)
{
    const std::string path = DataFile("regression.mdb");
    jet::TBytes bytes = Copy(Image(path).Bytes());
    std::size_t records = 0;
    {
        const jet::TPageImage image(path, bytes, jet::Jet4Format());
        records = jet::RecordPlaces(image.Pages(), jet::FindTable(image, "Keyed")).size();
    }
    for (int i = 0; i < 900; ++i) {
        jet::TPageImage image(path, std::move(bytes), jet::Jet4Format());
        jet::TTableDef def = jet::FindTable(image, "Keyed");
        jet::TTableChange change{jet::TChangeKind::Insert, 0, std::vector<std::optional<jet::TParsedValue>>(def.Columns.size())};
        jet::RebuildTable(image, def, change, records++);
        bytes = Copy(image.Bytes());
    }
    const jet::TPageImage image(path, bytes, jet::Jet4Format());
    const jet::TTableDef def = jet::FindTable(image, "Keyed");
    const auto primary = std::find_if(def.Indexes.begin(), def.Indexes.end(), [](const jet::TRealIndex& x) { return x.Primary; });
    ASSERT_NE(primary, def.Indexes.end());
    const TTreeWalk walk = WalkIndex(image.Pages(), def, *primary);
    EXPECT_GT(walk.Nodes, 0u);
    ASSERT_GT(walk.Leaves.size(), 1u);
    std::vector<jet::TBytes> entries;
    for (const TIndexPage& leaf : walk.Leaves) entries.insert(entries.end(), leaf.Entries.begin(), leaf.Entries.end());
    EXPECT_EQ(entries.size(), records);
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end()));
    EXPECT_EQ(std::adjacent_find(entries.begin(), entries.end()), entries.end());
}

namespace {

jet::TPageImage AnyImage(const std::string& path)
{
    const std::string bytes = ReadBytes(path);
    const jet::TFormat* format = jet::FormatOf(static_cast<std::uint8_t>(bytes.at(jet::database_page::Version)));
    return jet::TPageImage(path, jet::TBytes(bytes.begin(), bytes.end()), *format);
}

bool HasTextColumn(const jet::TTableDef& def, const jet::TRealIndex& index)
{
    return std::any_of(index.Columns.begin(), index.Columns.end(),
                       [&](const jet::TIndexColumn& ic) { return def.Columns[ic.Column].Type == TColumnType::Text; });
}

struct TKeyTally {
    std::map<int, std::size_t> Same;  // by the sort order's version
    std::size_t NonLatin = 0;         // keys of text beyond U+02FF
    std::vector<std::string> Reasons;
};

// Every entry of every index on text that Access wrote in the file, against the key this program
// builds from the record the entry points at.
void CompareTextKeys(const std::string& path, TKeyTally& tally)
{
    const jet::TPageImage image = AnyImage(path);
    for (const jet::TTableDef& def : UserTables(image.Pages())) {
        std::map<jet::TRowId, jet::TView> rows;
        for (const jet::TRecordPlace& place : jet::RecordPlaces(image.Pages(), def)) rows[place.Header] = place.Row;
        for (const jet::TRealIndex& index : def.Indexes) {
            if (!HasTextColumn(def, index)) continue;
            for (const TIndexPage& leaf : WalkIndex(image.Pages(), def, index).Leaves)
                for (const jet::TBytes& entry : leaf.Entries) {
                    const auto pointer = jet::TRowId::Unpack(static_cast<std::uint32_t>(
                        entry[entry.size() - 4] << 24 | entry[entry.size() - 3] << 16 | entry[entry.size() - 2] << 8 | entry.back()));
                    ASSERT_EQ(rows.count(pointer), 1u) << path << ": " << def.Name << "." << index.Name;
                    jet::TRowFields fields;
                    jet::SplitRow(def, image.Format(), rows[pointer], fields);
                    try {
                        const jet::TBytes key = jet::IndexKeyOf(def, index, fields);
                        EXPECT_EQ(key, jet::TBytes(entry.begin(), entry.end() - 4)) << path << ": " << def.Name << "." << index.Name;
                        for (const jet::TIndexColumn& ic : index.Columns) {
                            if (def.Columns[ic.Column].Type != TColumnType::Text || !fields.Present[ic.Column]) continue;
                            ++tally.Same[def.Columns[ic.Column].SortVersion];
                            const std::u16string text = jet::Utf16Units(fields.Data[ic.Column]);
                            tally.NonLatin += std::any_of(text.begin(), text.end(), [](char16_t c) { return c > 0x2FF; });
                        }
                    } catch (const jet::ERefused& e) {
                        tally.Reasons.push_back(e.what());
                    }
                }
        }
    }
}

}  // namespace

// The text keys Access wrote in its own files are the authority: every one of them, in either
// General sort order, is built byte for byte.
TEST(JetTextKeys, EveryTextKeyAccessWroteIsBuiltByteForByte)
{
    const std::filesystem::path folder = ExternalFixtures();
    if (!std::filesystem::exists(folder)) GTEST_SKIP() << "external fixtures absent";
    TKeyTally tally;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        const std::string name = file.path().filename().string();
        if (name.find("V1997") != std::string::npos) continue;  // Access 97 text is never keyed here
        CompareTextKeys(file.path().string(), tally);
    }
    EXPECT_THAT(tally.Reasons, ::testing::IsEmpty());
    // Among them a key of every character from U+0001 to U+00FF, and keys of Greek, Cyrillic
    // and Japanese, of apostrophes, hyphens, accents and control characters in the middle of words.
    EXPECT_GE(tally.Same[jet::TTextKey::LegacyVersion], 90u);
    EXPECT_GE(tally.Same[jet::TTextKey::GeneralVersion], 10u);
    EXPECT_GE(tally.NonLatin, 3u);
}

// What a key leaves out, and the sort orders whose keys are written.
TEST(JetTextKeys, KeysFoldCaseLeaveOutTrailingSpacesAndKeepOnlyTheirFirstUnits)
{
    const jet::TSortOrder& legacy = jet::GeneralLegacySortOrder();
    // Read off a key Access wrote: the hyphen has no weight, only a position after the weights.
    EXPECT_EQ(jet::TextKey(u"a-b", legacy), (jet::TBytes{0x4A, 0x4C, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x82, 0x00}));
    EXPECT_EQ(jet::TextKey(u"ABC", legacy), jet::TextKey(u"abc", legacy));
    EXPECT_NE(jet::TextKey(u"ab", legacy), jet::TextKey(u"a-b", legacy));
    EXPECT_EQ(jet::TextKey(u"", legacy), (jet::TBytes{0x01, 0x00}));
    EXPECT_EQ(jet::TextKey(u"ab  ", legacy), jet::TextKey(u"ab", legacy));
    EXPECT_NE(jet::TextKey(u" ab", legacy), jet::TextKey(u"ab", legacy));
    const std::u16string longest(jet::TTextKey::LongestKeyedText, u'x');
    EXPECT_EQ(jet::TextKey(longest + u"yz", legacy), jet::TextKey(longest, legacy));
    // A character beyond the plane is keyed by its two units, in either order.
    for (const jet::TSortOrder* order : {&legacy, &jet::GeneralSortOrder()}) {
        EXPECT_NE(jet::TextKey(u"\U0001D11E", *order), jet::TextKey(u"", *order));
        EXPECT_NE(jet::TextKey(u"北京", *order), jet::TextKey(u"京北", *order));
    }
    EXPECT_NE(jet::TextKey(u"北京", legacy), jet::TextKey(u"北京", jet::GeneralSortOrder()));

    jet::TColumnDef column;
    column.SortOrder = jet::TTextKey::GeneralLocale;
    EXPECT_EQ(jet::SortOrderOf(column), &legacy);
    column.SortVersion = jet::TTextKey::GeneralVersion;
    EXPECT_EQ(jet::SortOrderOf(column), &jet::GeneralSortOrder());
    EXPECT_EQ(jet::SortOrderProblem(column), "");
    column.SortOrder = 2052;
    EXPECT_EQ(jet::SortOrderOf(column), nullptr);
    EXPECT_THAT(jet::SortOrderProblem(column), ::testing::HasSubstr("locale 2052"));
}

namespace {

constexpr jet::TRowId GlobalMap{jet::database_page::GlobalMapPage, jet::database_page::GlobalMapRow};

std::size_t GlobalMapSlots(const jet::TPages& pages)
{
    using Layout = jet::TUsageMapLayout;
    return (jet::RowBytes(pages, GlobalMap).size() - Layout::References) / Layout::ReferenceSize;
}

std::uint32_t GlobalMapPointer(const jet::TPages& pages, std::size_t slot)
{
    using Layout = jet::TUsageMapLayout;
    return jet::Get32(jet::RowBytes(pages, GlobalMap).data() + Layout::References + Layout::ReferenceSize * slot);
}

}  // namespace

// Access wrote this file's map of free pages as a reference map that names no usage-map page
// for the pages the file has, and left in the pointer of a range no file of the format reaches
// a value that is no page. The first change that adds a page to the file gives the map a
// usage-map page of its own; the value Access left stays as it was.
TEST(JetFreePages, AReferenceMapOfFreePagesTakesTheFirstPageAdded)
{
    const std::string path = ExternalFixtures() + "/testRefGlobalV2000.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "external fixtures absent";
    jet::TBytes bytes = Copy(Image(path).Bytes());
    const std::size_t pagesBefore = Image(path).PageCount();
    const std::size_t lastSlot = GlobalMapSlots(Image(path).Pages()) - 1;
    const std::uint32_t leftByAccess = GlobalMapPointer(Image(path).Pages(), lastSlot);
    ASSERT_EQ(GlobalMapPointer(Image(path).Pages(), 0), 0u);
    ASSERT_GE(leftByAccess, Image(path).PageCount());
    std::size_t records = 2;
    while (bytes.size() == pagesBefore * jet::Jet4Format().PageSize) {
        ASSERT_LT(records, 500u) << "no page was ever added";
        jet::TPageImage image(path, std::move(bytes), jet::Jet4Format());
        jet::TTableDef def = jet::FindTable(image, "Table1");
        jet::TTableChange change{jet::TChangeKind::Insert, 0, std::vector<std::optional<jet::TParsedValue>>(def.Columns.size())};
        change.Values[0] = jet::TValueParser(def.Columns[0]).Parse("key" + std::to_string(records));
        try {
            jet::RebuildTable(image, def, change, records++);
        } catch (const jet::EDamaged& e) {
            FAIL() << "insert " << records << " taken for damage: " << e.what();
        }
        bytes = Copy(image.Bytes());
    }
    const jet::TPageImage image(path, bytes, jet::Jet4Format());
    const std::uint32_t mapPage = GlobalMapPointer(image.Pages(), 0);
    ASSERT_NE(mapPage, 0u);
    EXPECT_EQ(image.Pages().Type(mapPage), jet::TPageType::UsageMap);
    EXPECT_EQ(GlobalMapPointer(image.Pages(), lastSlot), leftByAccess);
    // Neither the table's pages nor the map's own page are free; the pages past the end are.
    const std::vector<std::uint32_t> free = jet::ReadUsageMap(image.Pages(), GlobalMap);
    const jet::TTableDef def = jet::FindTable(image, "Table1");
    for (std::uint32_t owned : jet::ReadUsageMap(image.Pages(), def.OwnedPages))
        EXPECT_FALSE(std::binary_search(free.begin(), free.end(), owned)) << "page " << owned;
    EXPECT_FALSE(std::binary_search(free.begin(), free.end(), mapPage));
    EXPECT_TRUE(std::binary_search(free.begin(), free.end(), image.PageCount()));
    EXPECT_EQ(jet::RecordPlaces(image.Pages(), def).size(), records);
}

namespace {

// A note as a forecaster writes one, n characters long, Chinese and Latin mixed.
std::string Note(std::size_t n)
{
    static const std::vector<std::string> pieces{"降", "水", "量", " ", "r", "a", "i", "n", "-", "北", "京", "é", "7"};
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += pieces[(i * 7 + i / 13) % pieces.size()];
    return s;
}

struct TNoteTable {
    explicit TNoteTable(const std::string& path) : Bytes(Copy(Image(path).Bytes())), Path(path) {}

    jet::TPageImage Current() const { return jet::TPageImage(Path, Bytes, jet::Jet4Format()); }

    std::size_t Column(const jet::TTableDef& def) const
    {
        for (std::size_t c = 0; c < def.Columns.size(); ++c)
            if (def.Columns[c].Name == "Note") return c;
        ADD_FAILURE() << "no field Note";
        return 0;
    }

    // Makes the change in memory, as the write path does, and keeps the result.
    void Change(jet::TChangeKind kind, std::int32_t record, const std::optional<std::string>& note)
    {
        jet::TPageImage image = Current();
        jet::TTableDef def = jet::FindTable(image, "Types");
        const std::size_t records = jet::RecordPlaces(image.Pages(), def).size();
        jet::TTableChange change{kind, record, std::vector<std::optional<jet::TParsedValue>>(def.Columns.size())};
        if (kind != jet::TChangeKind::Delete) change.Values[Column(def)] = jet::TValueParser(def.Columns[Column(def)]).Parse(note);
        jet::RebuildTable(image, def, change, records);
        Bytes = Copy(image.Bytes());
    }

    // The stored field (reference, and the value when inline) of the record's note.
    jet::TBytes Stored(std::size_t record) const
    {
        const jet::TPageImage image = Current();
        const jet::TTableDef def = jet::FindTable(image, "Types");
        jet::TRowFields fields;
        jet::SplitRow(def, image.Format(), jet::RecordPlaces(image.Pages(), def).at(record).Row, fields);
        return jet::TBytes(fields.Data[Column(def)].begin(), fields.Data[Column(def)].end());
    }

    std::vector<std::uint32_t> FreePages() const { return jet::ReadUsageMap(Current().Pages(), GlobalMap); }

    jet::TBytes Bytes;
    std::string Path;
};

jet::TBytes Utf16(const std::string& text)
{
    jet::TBytes bytes;
    for (char16_t u : Utf8ToUtf16(text)) {
        bytes.push_back(static_cast<std::uint8_t>(u));
        bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return bytes;
}

std::set<std::uint32_t> LongValuePages(const jet::TPages& pages, const jet::TBytes& stored)
{
    std::set<std::uint32_t> used;
    for (const jet::TLongValuePart& part : jet::LongValueParts(pages, stored)) used.insert(part.Row.Page);
    return used;
}

}  // namespace

// A short note stays in the record's row, a note of a page at most takes one long-value row, a
// longer one a chain; each reads back as written from pages the file has in use. A note that
// is replaced or whose record is deleted gives its pages back.
TEST(JetLongValues, NotesInTheRowOnOneRowOrChainedAndTheirPagesGivenBackWhenReplaced)
{
    using L = jet::TLongValue;
    TNoteTable table(DataFile("regression.mdb"));
    const std::vector<std::pair<std::string, std::uint32_t>> notes{
        {Note(20), L::Inline}, {Note(2000), L::SingleRow}, {Note(20000), 0}};
    std::set<std::uint32_t> previous;
    for (const auto& [text, kind] : notes) {
        table.Change(jet::TChangeKind::Update, 1, text);
        const jet::TBytes stored = table.Stored(1);
        EXPECT_EQ(jet::Get32(stored.data()) & (L::Inline | L::SingleRow), kind) << text.size();
        EXPECT_EQ(jet::Get32(stored.data()) & L::LengthMask, Utf16(text).size());
        const jet::TPageImage image = table.Current();
        EXPECT_EQ(jet::ReadLongValue(image.Pages(), stored), Utf16(text)) << text.size();
        const std::set<std::uint32_t> used = LongValuePages(image.Pages(), stored);
        const std::vector<std::uint32_t> free = table.FreePages();
        for (std::uint32_t page : used) {
            EXPECT_TRUE(jet::IsLongValuePage(image.Pages(), page));
            EXPECT_FALSE(std::binary_search(free.begin(), free.end(), page)) << "page " << page << " in use is free";
        }
        for (std::uint32_t page : previous) {
            EXPECT_TRUE(std::binary_search(free.begin(), free.end(), page)) << "page " << page << " was not given back";
            EXPECT_EQ(image.Pages().Type(page), jet::TPageType::Database) << "page " << page << " keeps its rows";
        }
        previous = used;
    }
    EXPECT_EQ(previous.size(), 10u);  // 40000 bytes in parts of 4076

    // Replaced by nothing, and by a note of its own again; then the record deleted.
    table.Change(jet::TChangeKind::Update, 1, std::nullopt);
    std::vector<std::uint32_t> free = table.FreePages();
    for (std::uint32_t page : previous) EXPECT_TRUE(std::binary_search(free.begin(), free.end(), page));
    table.Change(jet::TChangeKind::Update, 1, Note(1000));
    const std::set<std::uint32_t> last = LongValuePages(table.Current().Pages(), table.Stored(1));
    ASSERT_EQ(last.size(), 1u);
    table.Change(jet::TChangeKind::Delete, 1, std::nullopt);
    free = table.FreePages();
    EXPECT_TRUE(std::binary_search(free.begin(), free.end(), *last.begin()));
    // The other records' notes are as they were.
    const jet::TPageImage before = Image(DataFile("regression.mdb"));
    const jet::TPageImage after = table.Current();
    const jet::TTableDef defBefore = jet::FindTable(before, "Types"), defAfter = jet::FindTable(after, "Types");
    const auto placesBefore = jet::RecordPlaces(before.Pages(), defBefore), placesAfter = jet::RecordPlaces(after.Pages(), defAfter);
    ASSERT_EQ(placesAfter.size(), placesBefore.size() - 1);
    EXPECT_TRUE(std::ranges::equal(placesAfter[0].Row, placesBefore[0].Row));
    EXPECT_TRUE(std::ranges::equal(placesAfter[1].Row, placesBefore[2].Row));
}

// A page given back is taken again by a later change, so that a note changed again and again
// does not make the file grow.
TEST(JetLongValues, PagesGivenBackAreTakenAgainByLaterChanges)
{
    TNoteTable table(DataFile("regression.mdb"));
    table.Change(jet::TChangeKind::Update, 1, Note(20000));
    table.Change(jet::TChangeKind::Update, 1, Note(20001));  // the first note's pages given back
    const std::size_t size = table.Bytes.size();
    for (int i = 2; i < 12; ++i) {
        const std::string note = Note(20000 + i);
        table.Change(jet::TChangeKind::Update, 1, note);
        EXPECT_EQ(table.Bytes.size(), size) << "change " << i;
        const jet::TPageImage image = table.Current();
        EXPECT_EQ(jet::ReadLongValue(image.Pages(), table.Stored(1)), Utf16(note));
        const std::vector<std::uint32_t> free = table.FreePages();
        for (std::uint32_t page : LongValuePages(image.Pages(), table.Stored(1)))
            EXPECT_FALSE(std::binary_search(free.begin(), free.end(), page)) << "page " << page << " in use is free";
    }
}

// Two records naming the same long-value row: freeing it for one would take the other's note.
TEST(JetLongValues, ANoteAnotherRecordSharesIsNotFreed)
{
    TNoteTable table(DataFile("regression.mdb"));
    table.Change(jet::TChangeKind::Update, 0, Note(600));
    table.Change(jet::TChangeKind::Update, 2, Note(700));
    // Record 3's reference pointed at record 1's row, as a damaged or foreign file may have it.
    const jet::TBytes first = table.Stored(0), third = table.Stored(2);
    const auto at = std::search(table.Bytes.begin(), table.Bytes.end(), third.begin(), third.end());
    ASSERT_NE(at, table.Bytes.end());
    std::copy(first.begin(), first.end(), at);
    const jet::TBytes shared = table.Bytes;
    try {
        table.Change(jet::TChangeKind::Update, 0, Note(5));
        ADD_FAILURE() << "the shared note was freed";
    } catch (const jet::ERefused& e) {
        EXPECT_THAT(e.what(), ::testing::HasSubstr("'Note'"));
    }
    EXPECT_EQ(table.Bytes, shared);
    EXPECT_THROW(table.Change(jet::TChangeKind::Delete, 2, std::nullopt), jet::ERefused);
}

// Access takes 65535 characters typed into a memo field; the refusal names the field.
TEST(JetLongValues, ANoteLongerThanAccessTakesIsRefusedNamingTheField)
{
    jet::TColumnDef memo;
    memo.Name = "Note";
    memo.Type = TColumnType::Memo;
    EXPECT_EQ(jet::TValueParser(memo).Parse(std::string(65535, 'x')).Data.size(), 2u * 65535);
    EXPECT_THROW(
        {
            try {
                jet::TValueParser(memo).Parse(std::string(65536, 'x'));
            } catch (const jet::ERefused& e) {
                EXPECT_THAT(e.what(), ::testing::HasSubstr("'Note'"));
                throw;
            }
        },
        jet::ERefused);
    memo.Type = TColumnType::Ole;
    EXPECT_THROW(jet::TValueParser(memo).Parse("0x01"), jet::ERefused);
}

// A correction that keeps every key and fits where its record is costs the page of its record:
// in a table Access laid out (512 records on many pages, an index on a number), no other data
// page and no index page is written. A change of a key rebuilds what it must.
TEST(JetIndexPages, AnUpdateKeepingEveryKeyWritesOnlyItsRecordsPage)
{
    const std::string path = ExternalFixtures() + "/compIndexTestV2000.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "external fixtures absent";
    const jet::TPageImage original = AnyImage(path);
    const auto changedPages = [&](const std::string& field, const std::string& value) {
        jet::TPageImage image = AnyImage(path);
        jet::TTableDef def = jet::FindTable(image, "Table1");
        const std::size_t records = jet::RecordPlaces(image.Pages(), def).size();
        jet::TTableChange change{jet::TChangeKind::Update, 100, std::vector<std::optional<jet::TParsedValue>>(def.Columns.size())};
        for (std::size_t c = 0; c < def.Columns.size(); ++c)
            if (def.Columns[c].Name == field) change.Values[c] = jet::TValueParser(def.Columns[c]).Parse(value);
        jet::RebuildTable(image, def, change, records);
        std::map<jet::TPageType, int> changed;
        const jet::TPages before = original.Pages();
        for (std::uint32_t p = 0; p < before.Count(); ++p)
            if (!std::equal(before.Page(p), before.Page(p) + before.Format().PageSize, image.Pages().Page(p))) ++changed[before.Type(p)];
        return changed;
    };
    auto value = changedPages("DC_AGENTE", "ghi");  // as long as the "def" it replaces
    EXPECT_EQ(value[jet::TPageType::Data], 1) << "the record's page, and no other";
    EXPECT_EQ(value[jet::TPageType::IndexLeaf] + value[jet::TPageType::IndexNode], 0);
    // Access filled that page: a longer text no longer fits on it, and the table is laid out anew.
    auto longer = changedPages("DC_AGENTE", "Servizio meteorologico");
    EXPECT_GT(longer[jet::TPageType::Data], 1);
    auto key = changedPages("CD_AGENTE", "-7");
    EXPECT_GT(key[jet::TPageType::IndexLeaf] + key[jet::TPageType::IndexNode], 0);
}

// In a table without indexes no record's place is kept anywhere else: deleting a record costs its
// page, and a new record goes on the last page when it fits there, every other page left as it
// was. (Bench's 100,000 records of Big.)
TEST(JetIndexPages, WithoutIndexesADeleteOrAnInsertWritesOnlyThePageItTouches)
{
    const std::string path = ExternalFixtures() + "/../bench.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "the benchmark database is absent";
    const jet::TPageImage original = AnyImage(path);
    const auto changedDataPages = [&](jet::TChangeKind kind, std::int32_t record) {
        jet::TPageImage image = AnyImage(path);
        jet::TTableDef def = jet::FindTable(image, "Big");
        const std::size_t records = jet::RecordPlaces(image.Pages(), def).size();
        jet::TTableChange change{kind, record, std::vector<std::optional<jet::TParsedValue>>(def.Columns.size())};
        if (kind == jet::TChangeKind::Insert) change.Values[0] = jet::TValueParser(def.Columns[0]).Parse(std::string("0.5"));
        jet::RebuildTable(image, def, change, records);
        EXPECT_EQ(jet::RecordPlaces(image.Pages(), jet::FindTable(image, "Big")).size(),
                  kind == jet::TChangeKind::Insert ? records + 1 : records - 1);
        // The pages holding the maps (the table's of its pages and of those with room, the
        // database's of free pages) aside.
        const std::set<std::uint32_t> maps{def.OwnedPages.Page, def.FreePages.Page, jet::database_page::GlobalMapPage};
        int changed = 0;
        const jet::TPages before = original.Pages();
        for (std::uint32_t p = 0; p < before.Count(); ++p)
            changed += before.Type(p) == jet::TPageType::Data && !maps.count(p) &&
                       !std::equal(before.Page(p), before.Page(p) + before.Format().PageSize, image.Pages().Page(p));
        return changed;
    };
    EXPECT_EQ(changedDataPages(jet::TChangeKind::Delete, 5000), 1);
    EXPECT_EQ(changedDataPages(jet::TChangeKind::Insert, 0), 1);
}
