#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/StatisticsTestSupport.h"
#include "data/provider/CustomerData.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;

namespace {

const std::string Regression = DataFile("regression.mdb");

enum class State { Idle, Connected, TableOpen };

State StateOf(const TCustomerData& d)
{
    if (!d.DataConn.Connected()) return d.DataQuery.Active() ? State::TableOpen : State::Idle;
    return d.DataQuery.Active() ? State::TableOpen : State::Connected;
}

class CountingLink : public TDataSetListener {
public:
    void ActiveChanged() override { ++Active; }
    void DataSetScrolled() override { ++Scrolled; }
    int Active = 0;
    int Scrolled = 0;
};

}  // namespace

TEST(CustomerData, StatementsAndConnectionStrings)
{
    EXPECT_EQ(TCustomerData::SelectStatement("Weather"), "SELECT * FROM [Weather]");
    EXPECT_EQ(TCustomerData::SelectStatement("Rain Data"), "SELECT * FROM [Rain Data]");
    EXPECT_EQ(TCustomerData::SelectStatement("a]b"), "SELECT * FROM [a]]b]");
    EXPECT_EQ(ParseSelectAll(TCustomerData::SelectStatement("a]]b [c]")), "a]]b [c]");
    EXPECT_EQ(TCustomerData::ConnectionStringFor("/x/y.mdb"),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/x/y.mdb;Persist Security Info=False");
}

TEST(CustomerData, StartsIdleAndOpensTables)
{
    TCustomerData d;
    EXPECT_EQ(StateOf(d), State::Idle);
    EXPECT_EQ(d.StatDataSource1.DataSet(), &d.DataQuery);
    EXPECT_EQ(d.OpenTable(Regression, "Weather"), 2);
    EXPECT_EQ(StateOf(d), State::TableOpen);
    EXPECT_EQ(d.DataQuery.SQL().Text(), "SELECT * FROM [Weather]");
    EXPECT_EQ(d.DataQuery.FieldNames(), (std::vector<std::string>{"Rain", "Temp", "Wind"}));
    EXPECT_EQ(d.OpenTable(Regression, "Rain Data"), 2);
    EXPECT_EQ(d.DataQuery.RecordCount(), 12);
}

TEST(CustomerData, NameInAnotherLetterCaseOpensWithTheNameAsPassed)
{
    TCustomerData d;
    EXPECT_EQ(d.OpenTable(Regression, "WEATHER"), 2);
    EXPECT_EQ(d.DataQuery.SQL().Text(), "SELECT * FROM [WEATHER]");
    EXPECT_TRUE(d.DataQuery.Active());
}

TEST(CustomerData, TablesThatAreNotOpenedLeaveTheModuleConnected)
{
    TCustomerData d;
    EXPECT_EQ(d.OpenTable(Regression, ""), 1);
    EXPECT_EQ(StateOf(d), State::Connected);
    EXPECT_EQ(d.OpenTable(Regression, "Nowhere"), 1);
    EXPECT_EQ(StateOf(d), State::Connected);
    EXPECT_THAT(d.LastError(), HasSubstr("Nowhere"));
    EXPECT_EQ(d.OpenTable(Regression, "MSysObjects"), 1);  // never listed
    EXPECT_EQ(StateOf(d), State::Connected);
    EXPECT_EQ(d.OpenTable(Regression, "AskTemp"), 1);  // a parameter query is no view
    EXPECT_EQ(d.OpenTable(Regression, "DropCold"), 1);
    EXPECT_EQ(StateOf(d), State::Connected);
}

TEST(CustomerData, MissingFileChangesNothing)
{
    TCustomerData d;
    ASSERT_EQ(d.OpenTable(Regression, "Sample"), 2);
    EXPECT_EQ(d.ConnectDatabase("/no/such/file.mdb"), -1);
    EXPECT_EQ(d.OpenTable("/no/such/file.mdb", "Sample"), -1);
    EXPECT_EQ(d.ConnectDatabase(std::string(QUORLIN_TEST_DATA)), -1);  // a folder is no file
    EXPECT_EQ(StateOf(d), State::TableOpen);
    EXPECT_EQ(d.DataQuery.RecordCount(), 5);
}

TEST(CustomerData, FileThatIsNoDatabaseLeavesEverythingClosed)
{
    TempFolder folder;
    WriteBytes(folder / "notes.mdb", std::string(8192, 'x'));
    TCustomerData d;
    ASSERT_EQ(d.OpenTable(Regression, "Sample"), 2);
    EXPECT_EQ(d.ConnectDatabase((folder / "notes.mdb").string()), -1);
    EXPECT_EQ(StateOf(d), State::Idle);
    EXPECT_FALSE(d.LastError().empty());
    EXPECT_EQ(d.OpenTable((folder / "notes.mdb").string(), "Sample"), -1);
    EXPECT_EQ(StateOf(d), State::Idle);
}

TEST(CustomerData, ConnectingAgainClosesTheOpenTable)
{
    TCustomerData d;
    ASSERT_EQ(d.OpenTable(Regression, "Sample"), 2);
    EXPECT_EQ(d.ConnectDatabase(Regression), 1);
    EXPECT_EQ(StateOf(d), State::Connected);
}

TEST(CustomerData, OpeningTwiceShowsTheTableAgainFromItsFirstRecord)
{
    TCustomerData d;
    CountingLink link;
    d.StatDataSource1.AddLink(&link);
    ASSERT_EQ(d.OpenTable(Regression, "Sample"), 2);
    d.DataQuery.MoveBy(3);
    EXPECT_EQ(d.OpenTable(Regression, "Sample"), 2);
    EXPECT_EQ(d.DataQuery.RecNo(), 1);
    EXPECT_GE(link.Active, 3);  // opened, closed, opened again
    EXPECT_EQ(link.Scrolled, 1);
    d.StatDataSource1.RemoveLink(&link);
}

TEST(CustomerData, PathWithSemicolonNamesItsOwnFile)
{
    TempFolder folder;
    const auto tricky = folder / "station;Data Source=x.mdb";
    std::filesystem::copy_file(Regression, tricky);
    TCustomerData d;
    EXPECT_EQ(d.OpenTable(tricky.string(), "Sample"), 2);
    EXPECT_EQ(d.DataConn.FileName(), tricky.string());
}
