// The write path's parts that work on a file held in memory: rows put together as the reader
// takes them apart, and index trees whose pages hold what the named fields of the format say,
// in files Access wrote as in files this program rebuilt.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "StatisticsTestSupport.h"
#include "data/jet/Catalog.h"
#include "data/jet/TableRebuild.h"
#include "data/jet/TableScan.h"
#include "data/jet/WritableTable.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

using L = jet::TIndexPageLayout;

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
    const std::string path = std::string(QUORLIN_EXTERNAL_FIXTURES) + "/compIndexTestV2000.mdb";
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
    jet::TBytes bytes = Image(path).Bytes();
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
        bytes = image.Bytes();
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
