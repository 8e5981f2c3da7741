// Files saved by Access itself, read in place from the shared fixtures; skipped where that
// folder is not present.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "data/provider/CustomerData.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using ::testing::ElementsAre;

namespace {

std::string External(const std::string& name)
{
    const std::string path = quorlin::testing::ExternalFixtures() + "/" + name;
    return std::filesystem::exists(path) ? path : std::string();
}

#define REQUIRE_EXTERNAL(var, name)                                              \
    const std::string var = External(name);                                     \
    if (var.empty()) GTEST_SKIP() << name << " is not among the shared fixtures"

// Table1 holds the same two records in every version, in the order each file keeps them.
void ExpectTable1(const std::string& path)
{
    TCustomerData d;
    ASSERT_EQ(d.OpenTable(path, "Table1"), 2) << d.LastError();
    TMdbQuery& q = d.DataQuery;
    EXPECT_EQ(q.FieldNames(), (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G", "H", "I"}));
    ASSERT_EQ(q.RecordCount(), 2);
    bool sawFull = false, sawEmpty = false;
    for (q.First(); !q.Eof(); q.Next()) {
        const std::string a = q.Text(q.FieldByName("A"));
        std::vector<double> numbers;
        for (const char* f : {"C", "D", "E", "F", "G", "H"}) numbers.push_back(q.AsFloat(q.FieldByName(f)));
        const bool yes = q.Number(q.FieldByName("I")) != 0.0;
        if (a == "abcdefg") {
            sawFull = true;
            EXPECT_EQ(q.Text(q.FieldByName("B")), "hijklmnop");
            EXPECT_THAT(numbers, ElementsAre(2, 222, 333333333, 444.555, 27293, 3.5));
            EXPECT_TRUE(yes);
        } else {
            sawEmpty = true;
            EXPECT_EQ(a, "a");
            EXPECT_THAT(numbers, ElementsAre(0, 0, 0, 0, 29932, 0));
            EXPECT_FALSE(yes);
        }
    }
    EXPECT_TRUE(sawFull && sawEmpty);
    EXPECT_THROW(q.AsFloat(q.FieldByName("I")), EConvertError);
}

}  // namespace

TEST(ExternalFiles, Access97)
{
    REQUIRE_EXTERNAL(path, "testV1997.mdb");
    ExpectTable1(path);
}

TEST(ExternalFiles, Access2000)
{
    REQUIRE_EXTERNAL(path, "testV2000.mdb");
    ExpectTable1(path);
}

TEST(ExternalFiles, Access2007)
{
    REQUIRE_EXTERNAL(path, "testV2007.accdb");
    ExpectTable1(path);
}

TEST(ExternalFiles, CompressedUnicodeText)
{
    REQUIRE_EXTERNAL(path, "testUnicodeCompV2003.mdb");
    TCustomerData d;
    ASSERT_EQ(d.OpenTable(path, "Table"), 2);
    d.DataQuery.First();
    d.DataQuery.Next();
    EXPECT_EQ(d.DataQuery.Text(d.DataQuery.FieldByName("Unicode")), "ääkkösiä");
}

TEST(ExternalFiles, QueryKindsListOnlyTheSelectQuery)
{
    REQUIRE_EXTERNAL(path, "queryTestV2000.mdb");
    TCustomerData d;
    ASSERT_EQ(d.ConnectDatabase(path), 1);
    std::vector<std::string> names;
    d.DataConn.GetTableNames(names, false);
    EXPECT_THAT(names, ElementsAre("Table1", "Table2", "Table3", "SelectQuery"));
}

TEST(ExternalFiles, IndexedTablesRead)
{
    REQUIRE_EXTERNAL(path, "indexTestV2000.mdb");
    TCustomerData d;
    ASSERT_EQ(d.ConnectDatabase(path), 1);
    std::vector<std::string> names;
    d.DataConn.GetTableNames(names, false);
    ASSERT_FALSE(names.empty());
    for (const auto& name : names) EXPECT_EQ(d.OpenTable(path, name), 2) << name;
}
