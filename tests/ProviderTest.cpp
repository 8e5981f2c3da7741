#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "tests/StatisticsTestSupport.h"
#include "batch/CsvReader.h"
#include "data/provider/CustomerData.h"
#include "data/provider/Provider.h"
#include "statistics/Statistics01.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const std::string Regression = DataFile("regression.mdb");

std::string ProviderErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EProviderError& e) {
        return e.what();
    }
    return "no error";
}

// An open connection and a query on one table of the test database.
struct OpenTable {
    explicit OpenTable(const std::string& table, const std::string& path = Regression) : Query(Connection)
    {
        Connection.SetConnectionString(TConnectionString::Build(JetProvider, path));
        Connection.Open();
        Query.SQL().Add("SELECT * FROM [" + table + "]");
        Query.Open();
    }
    std::vector<double> Column(const std::string& field) { return ColumnValues(Query, field); }
    std::string FailureAt(const std::string& field, std::int32_t record)
    {
        Query.First();
        Query.MoveBy(record - 1);
        try {
            Query.AsFloat(Query.FieldByName(field));
        } catch (const EConvertError& e) {
            return e.what();
        }
        return "no failure";
    }
    TMdbConnection Connection;
    TMdbQuery Query;
};

class RecordingListener : public TDataSetListener {
public:
    void ActiveChanged() override { Events.push_back("active"); }
    void DataSetChanged() override { Events.push_back("changed"); }
    void DataSetScrolled() override { Events.push_back("scrolled"); }
    std::vector<std::string> Events;
};

}  // namespace

TEST(ConnectionString, BuildsAndParsesPlainAndQuotedPaths)
{
    EXPECT_EQ(TConnectionString::Build(JetProvider, "/data/a.mdb"),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/data/a.mdb;Persist Security Info=False");
    const std::string tricky = "/data/x;Data Source=/etc/other.mdb \"q\".mdb";
    const std::string built = TConnectionString::Build(JetProvider, tricky);
    EXPECT_EQ(built, "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"/data/x;Data Source=/etc/other.mdb \"\"q\"\".mdb\";"
                     "Persist Security Info=False");
    const TConnectionString parsed = TConnectionString::Parse(built);
    EXPECT_EQ(parsed.DataSource, tricky);
    EXPECT_EQ(parsed.Provider, JetProvider);
    EXPECT_EQ(TConnectionString::Parse(" provider = P ; DATA SOURCE= /a b.mdb ;x=y").DataSource, "/a b.mdb");
    EXPECT_THROW(TConnectionString::Parse("Provider=P;Data Source=\"/a.mdb"), EProviderError);
    EXPECT_THROW(TConnectionString::Parse("Provider=P;Data Source=\"/a\"x.mdb"), EProviderError);
}

TEST(SelectStatement, AcceptsOneTableNamePlainOrBracketed)
{
    EXPECT_EQ(ParseSelectAll("SELECT * FROM Weather"), "Weather");
    EXPECT_EQ(ParseSelectAll("  select *\n from   [Rain Data] ; "), "Rain Data");
    EXPECT_EQ(ParseSelectAll("SeLeCt*FrOm [a]]b]"), "a]b");
    EXPECT_EQ(ParseSelectAll("SELECT * FROM 降水;"), "降水");
    EXPECT_EQ(ParseSelectAll("SELECT * FROM t_1"), "t_1");
}

TEST(SelectStatement, RejectsEverythingElse)
{
    for (const char* statement :
         {"", "SELECT a FROM t", "SELECT * FROM", "SELECT * FROM t WHERE x > 1", "DELETE FROM t", "SELECT * FROMt",
          "SELECT * FROM [unclosed", "SELECT * FROM []", "SELECT * FROM t; DROP TABLE t", "SELECTED * FROM t",
          "SELECT * FROM Rain Data", "SELECT * FROM t;;"}) {
        EXPECT_THROW(ParseSelectAll(statement), EProviderError) << statement;
    }
    EXPECT_THAT(ProviderErrorOf([] { ParseSelectAll("UPDATE t SET a=1"); }), HasSubstr("Invalid SQL statement"));
}

TEST(Connection, ListsTablesThenViewsWithoutSystemTables)
{
    TMdbConnection c;
    c.SetConnectionString(TConnectionString::Build(JetProvider, Regression));
    EXPECT_FALSE(c.Connected());
    c.Open();
    EXPECT_TRUE(c.Connected());
    std::vector<std::string> names{"left over"};
    c.GetTableNames(names, false);
    EXPECT_THAT(names, ElementsAre("Constant", "ElNino", "Empty", "Keyed", "Longley", "Nulls", "Plain", "Rain Data",
                                   "Sample", "Stations", "Stepwise2", "Stepwise4", "TextValues", "Types", "Weather",
                                   "降水", "Fahrenheit", "WarmDays"));
    std::vector<std::string> all;
    c.GetTableNames(all, true);
    EXPECT_EQ(all.size(), names.size() + 5);
    EXPECT_EQ(all.front().rfind("MSys", 0), 0u);
    EXPECT_EQ(std::vector<std::string>(all.end() - static_cast<long>(names.size()), all.end()), names);
    c.Close();
    EXPECT_FALSE(c.Connected());
    c.Close();
    c.GetTableNames(names, false);
    EXPECT_TRUE(names.empty());
}

TEST(Connection, NameOrderIgnoresCaseAndUsesCodePoints)
{
    EXPECT_TRUE(NameLess("apple", "Banana"));
    EXPECT_TRUE(NameLess("Weather", "降水"));
    EXPECT_TRUE(NameLess("Rain", "Rain Data"));
    EXPECT_FALSE(NameLess("b", "B"));
    // Letters are compared as lower case, so '_' (0x5F) comes before every letter.
    EXPECT_TRUE(NameLess("_x", "A"));
    EXPECT_FALSE(NameLess("Z", "_"));
}

TEST(Connection, FilesThatCannotBeOpenedRaiseProviderErrors)
{
    TempFolder folder;
    TMdbConnection c;
    c.SetConnectionString(TConnectionString::Build(JetProvider, (folder / "missing.mdb").string()));
    EXPECT_THAT(ProviderErrorOf([&] { c.Open(); }), HasSubstr("Could not find file"));
    EXPECT_FALSE(c.Connected());

    WriteBytes(folder / "text.mdb", "this is not a database\n");
    c.SetConnectionString(TConnectionString::Build(JetProvider, (folder / "text.mdb").string()));
    EXPECT_THAT(ProviderErrorOf([&] { c.Open(); }), HasSubstr("text.mdb"));
    EXPECT_FALSE(c.Connected());

    c.SetConnectionString("Provider=SQLOLEDB;Data Source=" + Regression);
    EXPECT_THAT(ProviderErrorOf([&] { c.Open(); }), HasSubstr("Provider cannot be found"));
    EXPECT_FALSE(c.Connected());
}

TEST(Query, StatementsTheProviderRefuses)
{
    TMdbConnection c;
    TMdbQuery q(c);
    q.SQL().Add("SELECT * FROM Sample");
    EXPECT_THAT(ProviderErrorOf([&] { q.Open(); }), HasSubstr("closed"));
    c.SetConnectionString(TConnectionString::Build(JetProvider, Regression));
    c.Open();
    auto openFails = [&](const std::string& statement) {
        q.SQL().Clear();
        q.SQL().Add(statement);
        const std::string e = ProviderErrorOf([&] { q.Open(); });
        EXPECT_FALSE(q.Active()) << statement;
        return e;
    };
    EXPECT_THAT(openFails("SELECT * FROM Nowhere"), HasSubstr("cannot find the input table or query 'Nowhere'"));
    EXPECT_THAT(openFails("SELECT * FROM MSysObjects"), HasSubstr("no read permission"));
    EXPECT_THAT(openFails("SELECT * FROM AskTemp"), HasSubstr("'AskTemp'"));
    EXPECT_THAT(openFails("SELECT x1 FROM Sample"), HasSubstr("SELECT *"));
}

TEST(QueryValues, EveryTypeOfTheTypesTable)
{
    OpenTable t("Types");
    EXPECT_EQ(t.Query.FieldNames(), (std::vector<std::string>{"L", "I", "B", "F", "M", "N", "D", "YesNo", "Note", "y"}));
    EXPECT_EQ(t.Query.Field(0).Type, TColumnType::Long);
    EXPECT_EQ(t.Query.Field(5).Type, TColumnType::Decimal);
    EXPECT_EQ(t.Query.Field(8).Type, TColumnType::Memo);
    EXPECT_EQ(t.Column("L"), (std::vector<double>{100000, 200000, 300001}));
    EXPECT_EQ(t.Column("I"), (std::vector<double>{-5, 6, 12}));
    EXPECT_EQ(t.Column("B"), (std::vector<double>{7, 8, 127}));
    EXPECT_EQ(t.Column("F"), (std::vector<double>{1.5, 2.25, -0.5}));
    EXPECT_EQ(t.Column("M"), (std::vector<double>{12.34, -7.5, 1000.0001}));
    EXPECT_EQ(t.Column("N"), (std::vector<double>{3.1416, -2.5, 0.0001}));
    EXPECT_EQ(t.Column("D"), (std::vector<double>{2, 36585.5, 0.25}));
    EXPECT_EQ(t.Column("y"), (std::vector<double>{1, 2, 4.5}));
    EXPECT_EQ(t.FailureAt("YesNo", 1), "Cannot access field 'YesNo' as type Float");
    EXPECT_EQ(t.FailureAt("Note", 2), "Cannot access field 'Note' as type Float");
    t.Query.First();
    EXPECT_EQ(t.Query.Text(t.Query.FieldByName("note")), "first");
    EXPECT_NE(t.Query.Number(t.Query.FieldByName("YesNo")), 0.0);
}

TEST(QueryValues, NullsAndTextFollowTheReadingRule)
{
    OpenTable nulls("Nulls");
    EXPECT_EQ(nulls.Column("b"), (std::vector<double>{2, 0, 1, 5, 4, 2.5}));
    EXPECT_EQ(nulls.Column("a"), (std::vector<double>{1, 2, 3, 0, 5, 6}));
    nulls.Query.First();
    nulls.Query.Next();
    EXPECT_TRUE(nulls.Query.IsNull(nulls.Query.FieldByName("b")));
    EXPECT_FALSE(nulls.Query.IsNull(nulls.Query.FieldByName("a")));

    OpenTable text("TextValues");
    EXPECT_EQ(text.Column("Num"), (std::vector<double>{1.5, 2.25, -3, 40}));
    EXPECT_EQ(text.FailureAt("Bad", 2), "'abc' is not a valid floating point value");
    EXPECT_EQ(text.FailureAt("Blank", 2), "'' is not a valid floating point value");
    EXPECT_EQ(text.FailureAt("Bad", 1), "no failure");

    OpenTable stations("Stations");
    EXPECT_EQ(stations.FailureAt("Station", 1), "'S000' is not a valid floating point value");
}

TEST(QueryValues, DoublesAgreeWithTheExportedText)
{
    OpenTable weather("Weather");
    TMemoryDataSet csv = ReadCsvFile(DataFile("Weather.csv"));
    ASSERT_EQ(weather.Query.RecordCount(), csv.RecordCount());
    for (const char* field : {"Rain", "Temp", "Wind"}) {
        const auto fromFile = weather.Column(field);
        std::size_t k = 0;
        for (csv.First(); !csv.Eof(); csv.Next(), ++k)
            EXPECT_NEAR(fromFile[k], csv.AsFloat(csv.FieldByName(field)), 1e-15 * std::fabs(fromFile[k]));
    }
}

TEST(QueryValues, ChineseNamesAndNamesWithBlanks)
{
    OpenTable chinese("降水");
    EXPECT_EQ(chinese.Query.FieldNames(), (std::vector<std::string>{"气温", "气压", "风速", "降水量"}));
    EXPECT_EQ(chinese.Query.RecordCount(), 24);
    OpenTable blank("Rain Data");
    EXPECT_EQ(blank.Query.RecordCount(), 12);
}

TEST(QueryCursor, MovesLikeAClientSideCursor)
{
    OpenTable t("Sample");
    TMdbQuery& q = t.Query;
    EXPECT_EQ(q.RecordCount(), 5);
    EXPECT_EQ(q.RecNo(), 1);
    EXPECT_TRUE(q.Bof());
    q.Last();
    EXPECT_EQ(q.RecNo(), 5);
    EXPECT_TRUE(q.Eof());
    q.Prior();
    EXPECT_EQ(q.RecNo(), 4);
    EXPECT_FALSE(q.Eof());
    EXPECT_EQ(q.MoveBy(-10), -3);
    EXPECT_TRUE(q.Bof());
    EXPECT_EQ(q.RecNo(), 1);
    EXPECT_EQ(q.MoveBy(2), 2);
    EXPECT_EQ(q.AsFloat(q.FieldByName("x2")), 4.0);
    q.Close();
    EXPECT_EQ(q.RecordCount(), 0);
    EXPECT_EQ(q.RecNo(), 0);
    EXPECT_THROW(q.AsFloat(0), EDatabaseError);
}

TEST(QueryListeners, ToldOfOpeningMovingAndClosingUnlessSuspended)
{
    TMdbConnection c;
    c.SetConnectionString(TConnectionString::Build(JetProvider, Regression));
    c.Open();
    TMdbQuery q(c);
    TDataSource source(&q);
    RecordingListener link;
    source.AddLink(&link);
    q.SQL().Add("SELECT * FROM Sample");
    q.Open();
    q.Next();
    q.DisableControls();
    q.Next();
    q.First();
    q.EnableControls();
    q.Last();
    c.Close();  // closing the connection closes its queries
    EXPECT_FALSE(q.Active());
    EXPECT_THAT(link.Events, ElementsAre("active", "scrolled", "changed", "scrolled", "active"));
    source.RemoveLink(&link);
    q.SQL().Clear();
    q.SQL().Add("SELECT * FROM Sample");
    c.Open();
    q.Open();
    EXPECT_EQ(link.Events.size(), 5u);
}

TEST(QueryStatistics, AccessTableGivesTheSameEquationAsItsExport)
{
    OpenTable t("Sample");
    t.Query.MoveBy(2);
    TStatistics fromFile(t.Query, {"x1", "x2"}, "y", 4.0, MethodFull);
    EXPECT_EQ(t.Query.RecNo(), 3);
    EXPECT_FALSE(t.Query.ControlsDisabled());
    TMemoryDataSet csv = ReadCsvFile(DataFile("Sample.csv"));
    TStatistics fromCsv(csv, {"x1", "x2"}, "y", 4.0, MethodFull);
    fromFile.MakeEquationText();
    fromCsv.MakeEquationText();
    EXPECT_EQ(fromFile.ReportLines(), fromCsv.ReportLines());
    EXPECT_EQ(fromFile.Constant(), fromCsv.Constant());
    EXPECT_EQ(fromFile.EquationText(), "y=0.517+2.383*x1-0.083*x2");
}
