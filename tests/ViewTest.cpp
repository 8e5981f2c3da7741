#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>

#include "tests/StatisticsTestSupport.h"
#include "data/views/AccessSql.h"
#include "data/provider/CustomerData.h"
#include "data/views/ViewEngine.h"
#include "batch/BatchCommand.h"
#include "data/format/read/Database.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const std::string Regression = DataFile("regression.mdb");

TQueryPart Part(int attribute, std::string name1, std::string name2, std::string expression, int flag = 0)
{
    return {attribute, std::move(name1), std::move(name2), std::move(expression), flag};
}

// Small tables in SQLite with the Access functions, to run translated expressions on.
class SqlTable {
public:
    SqlTable()
    {
        sqlite3* raw = nullptr;
        sqlite3_open(":memory:", &raw);
        FDb.reset(raw);
        RegisterAccessFunctions(FDb.get());
        Exec("CREATE TABLE t (name TEXT, x REAL, d REAL, flag INTEGER)");
        Exec("INSERT INTO t VALUES ('Alpha', 2.5, 36585.5, -1), ('beta', -1.5, 2, 0), ('Gamma', NULL, 0.25, 0)");
    }
    void Exec(const std::string& sql) { ASSERT_EQ(sqlite3_exec(FDb.get(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql; }
    // The first column of every row the Access expression (translated) selects, as text.
    std::vector<std::string> Column(const std::string& accessExpression, const std::string& accessWhere = "")
    {
        std::string sql = "SELECT " + TranslateExpression(accessExpression) + " FROM t";
        if (!accessWhere.empty()) sql += " WHERE " + TranslateExpression(accessWhere);
        sqlite3_stmt* s = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(FDb.get(), sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql << ": " << sqlite3_errmsg(FDb.get());
        std::vector<std::string> values;
        while (s && sqlite3_step(s) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
            values.push_back(text ? text : "NULL");
        }
        sqlite3_finalize(s);
        return values;
    }

private:
    struct Close {
        void operator()(sqlite3* db) const { sqlite3_close(db); }
    };
    std::unique_ptr<sqlite3, Close> FDb;
};

std::vector<std::vector<double>> Rows(TMdbQuery& q)
{
    std::vector<std::vector<double>> rows;
    for (q.First(); !q.Eof(); q.Next()) {
        std::vector<double> row;
        for (std::int32_t f = 0; f < q.FieldCount(); ++f) row.push_back(q.AsFloat(f));
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

TEST(AccessExpressions, LiteralsAndOperators)
{
    EXPECT_EQ(TranslateExpression(R"((((Table1.col1)>"blah")))"), "(((Table1.col1)>'blah'))");
    EXPECT_EQ(TranslateExpression(R"("it's" & [a b] & "say ""hi""")"), R"('it''s' || [a b] || 'say "hi"')");
    EXPECT_EQ(TranslateExpression("[Temp]*1.8+32"), "[Temp]*1.8+32");
    EXPECT_EQ(TranslateExpression("x=True Or y=False"), "x=(-1) Or y=0");
    EXPECT_EQ(TranslateExpression("a Mod 3"), "a % 3");
    EXPECT_EQ(TranslateExpression("n Like \"A*b?\""), "n Like 'A%b_'");
    EXPECT_EQ(TranslateExpression("d > #1/1/1900#"), "d > 2");
    EXPECT_EQ(TranslateExpression("x In (\"a\",\"b\") And y Between 1 And 2E-3"), "x In ('a','b') And y Between 1 And 2E-3");
    for (const char* unsupported : {"a \\ b", "a ^ 2", "Forms!f!x", "\"open", "#1/1/2000", "[open", "n Like \"[a-c]*\""})
        EXPECT_THROW(TranslateExpression(unsupported), EQueryTranslation) << unsupported;
}

TEST(AccessExpressions, DateLiterals)
{
    EXPECT_EQ(AccessDateLiteral("1/1/1900"), 2.0);
    EXPECT_EQ(AccessDateLiteral("2000-02-29 12:00"), 36585.5);
    EXPECT_EQ(AccessDateLiteral("12/30/1899 6:00 AM"), 0.25);
    EXPECT_EQ(AccessDateLiteral("12/30/1899 6:00:00 PM"), 0.75);
    EXPECT_EQ(AccessDateLiteral("12/29/1899 6:00"), -1.25);
    EXPECT_THROW(AccessDateLiteral("13/1/2000"), EQueryTranslation);
    EXPECT_THROW(AccessDateLiteral("yesterday"), EQueryTranslation);
}

TEST(AccessExpressions, FunctionsRunOnSmallTables)
{
    SqlTable t;
    EXPECT_THAT(t.Column("IIf(x>0, \"up\", \"down\")"), ElementsAre("up", "down", "down"));
    EXPECT_THAT(t.Column("Nz(x)"), ElementsAre("2.5", "-1.5", "0"));
    EXPECT_THAT(t.Column("Nz(x, 9)"), ElementsAre("2.5", "-1.5", "9"));
    EXPECT_THAT(t.Column("Mid(name, 2, 3)"), ElementsAre("lph", "eta", "amm"));
    EXPECT_THAT(t.Column("Mid(name, 3)"), ElementsAre("pha", "ta", "mma"));
    EXPECT_THAT(t.Column("Len(name)"), ElementsAre("5", "4", "5"));
    EXPECT_THAT(t.Column("Int(x)"), ElementsAre("2.0", "-2.0", "NULL"));
    EXPECT_THAT(t.Column("Abs(x)"), ElementsAre("2.5", "1.5", "NULL"));
    EXPECT_THAT(t.Column("Sqr(4)"), ElementsAre("2.0", "2.0", "2.0"));
    EXPECT_THAT(t.Column("Year(d) & \"-\" & Month(d) & \"-\" & Day(d)"), ElementsAre("2000-2-29", "1900-1-1", "1899-12-30"));
    EXPECT_THAT(t.Column("name", "name Like \"*a\""), ElementsAre("Alpha", "beta", "Gamma"));
    EXPECT_THAT(t.Column("name", "name Like \"?amma\""), ElementsAre("Gamma"));
    EXPECT_THAT(t.Column("name", "x Is Null"), ElementsAre("Gamma"));
    EXPECT_THAT(t.Column("name", "x Between -2 And 0"), ElementsAre("beta"));
    EXPECT_THAT(t.Column("name", "flag=True"), ElementsAre("Alpha"));
    EXPECT_THAT(t.Column("name", "d < #1/1/1900#"), ElementsAre("Gamma"));
    EXPECT_THAT(t.Column("name", "name In (\"beta\", \"Gamma\")"), ElementsAre("beta", "Gamma"));
}

TEST(AccessQueries, SelectWithWhereAndOrder)
{
    TQueryDefinition q{"WarmDays",
                       {Part(1, "", "", "", 1), Part(3, "", "", "", 0), Part(5, "Weather", "", ""),
                        Part(6, "", "", "Weather.Rain"), Part(6, "", "", "Weather.Temp"),
                        Part(8, "", "", "(((Weather.Temp)>18))"), Part(11, "", "", "Weather.Temp")}};
    EXPECT_TRUE(q.IsSelectWithoutParameters());
    EXPECT_EQ(TranslateQuery(q),
              "SELECT Weather.Rain, Weather.Temp FROM [Weather] WHERE (((Weather.Temp)>18)) ORDER BY Weather.Temp");
}

TEST(AccessQueries, JoinsAliasesAggregatesDistinctTopAndDescendingOrder)
{
    TQueryDefinition q{"Q",
                       {Part(1, "", "", "", 1), Part(3, "5", "", "", 0x12), Part(5, "T1", "", ""),
                        Part(5, "T2", "B", ""), Part(5, "T3", "", ""), Part(6, "Total", "", "Sum(B.v)"),
                        Part(6, "", "", "T1.k"), Part(7, "T1", "B", "T1.k = B.k", 2),
                        Part(7, "T3", "B", "T3.k = B.j", 1), Part(7, "T3", "B", "T3.m = B.m", 1),
                        Part(9, "", "", "T1.k"), Part(10, "", "", "Sum(B.v)>0"), Part(11, "D", "", "T1.k")}};
    EXPECT_EQ(TranslateQuery(q),
              "SELECT DISTINCT Sum(B.v) AS [Total], T1.k FROM [T1] LEFT JOIN [T2] AS [B] ON (T1.k = B.k) "
              "INNER JOIN [T3] ON (T3.k = B.j) AND (T3.m = B.m) GROUP BY T1.k HAVING Sum(B.v)>0 "
              "ORDER BY T1.k DESC LIMIT 5");
    // Unjoined inputs are crossed in; no columns means every column.
    TQueryDefinition cross{"C", {Part(1, "", "", "", 1), Part(5, "A", "", ""), Part(5, "B", "", "")}};
    EXPECT_EQ(TranslateQuery(cross), "SELECT * FROM [A], [B]");
}

TEST(AccessQueries, WhatIsRefused)
{
    TQueryDefinition parameters{"P", {Part(1, "", "", "", 1), Part(2, "MinTemp", "", "", 7), Part(5, "W", "", "")}};
    EXPECT_FALSE(parameters.IsSelectWithoutParameters());
    TQueryDefinition deletion{"D", {Part(1, "", "", "", 5), Part(5, "W", "", "")}};
    EXPECT_FALSE(deletion.IsSelectWithoutParameters());
    TQueryDefinition percent{"T", {Part(1, "", "", "", 1), Part(3, "10", "", "", 0x30), Part(5, "W", "", "")}};
    EXPECT_THROW(TranslateQuery(percent), EQueryTranslation);
    TQueryDefinition none{"N", {Part(1, "", "", "", 1)}};
    EXPECT_THROW(TranslateQuery(none), EQueryTranslation);
    TQueryDefinition stray{"S", {Part(1, "", "", "", 1), Part(5, "A", "", ""), Part(7, "A", "Z", "A.k=Z.k", 1)}};
    EXPECT_THROW(TranslateQuery(stray), EQueryTranslation);
}

TEST(Views, WarmDaysHoldsTheWarmRowsOfWeatherInTemperatureOrder)
{
    TCustomerData weather, warm;
    ASSERT_EQ(weather.OpenTable(Regression, "Weather"), 2);
    ASSERT_EQ(warm.OpenTable(Regression, "WarmDays"), 2) << warm.LastError();
    auto expected = Rows(weather.DataQuery);
    expected.erase(std::remove_if(expected.begin(), expected.end(), [](const auto& r) { return !(r[1] > 18); }),
                   expected.end());
    std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a[1] < b[1]; });
    EXPECT_EQ(warm.DataQuery.FieldNames(), (std::vector<std::string>{"Rain", "Temp", "Wind"}));
    EXPECT_EQ(warm.DataQuery.Field(1).Type, TColumnType::Double);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(Rows(warm.DataQuery), expected);
}

TEST(Views, FahrenheitHasAComputedAliasedNumber)
{
    TCustomerData weather, f;
    ASSERT_EQ(weather.OpenTable(Regression, "Weather"), 2);
    ASSERT_EQ(f.OpenTable(Regression, "Fahrenheit"), 2) << f.LastError();
    EXPECT_EQ(f.DataQuery.FieldNames(), (std::vector<std::string>{"Rain", "TempF"}));
    EXPECT_EQ(f.DataQuery.Field(1).Type, TColumnType::Double);
    const auto source = Rows(weather.DataQuery);
    const auto view = Rows(f.DataQuery);
    ASSERT_EQ(view.size(), source.size());
    for (std::size_t k = 0; k < view.size(); ++k) {
        EXPECT_EQ(view[k][0], source[k][0]);
        EXPECT_NEAR(view[k][1], source[k][1] * 1.8 + 32, 1e-12 * std::fabs(view[k][1]));
    }
}

TEST(Views, ParameterAndActionQueriesAreNoViews)
{
    TCustomerData d;
    EXPECT_EQ(d.OpenTable(Regression, "AskTemp"), 1);
    EXPECT_EQ(d.OpenTable(Regression, "DropCold"), 1);
    EXPECT_FALSE(d.DataQuery.Active());
}

TEST(Views, SelectQueryWithJoinsOfAnAccessFile)
{
    const std::string path = ExternalFixtures() + "/queryTestV2000.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "queryTestV2000.mdb is not among the shared fixtures";
    TCustomerData d;
    ASSERT_EQ(d.OpenTable(path, "SelectQuery"), 2) << d.LastError();
    EXPECT_EQ(d.DataQuery.RecordCount(), 0);
    EXPECT_THAT(d.DataQuery.FieldNames(), ElementsAre("Table1.col1", "Table1.col2", "Table1.col3", "Table2.col1",
                                                      "Table2.col2", "Table3.col3"));
}

// A saved query is data from whoever sent the file: SQL smuggled into one of its expressions
// must be refused, not run, and must reach no file.
TEST(Views, SmuggledStatementsAreRefusedAndTouchNoFile)
{
    TempFolder folder;
    const std::string path = WritableCopy(folder);
    // An SQLite file of the user's that the smuggled statements aim at.
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open((folder / "p.db").c_str(), &raw), SQLITE_OK);
        sqlite3_exec(raw, "CREATE TABLE kept (v); INSERT INTO kept VALUES (1)", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
    }
    const std::string planted = ReadBytes(folder / "p.db");
    std::string bytes = ReadBytes(path);
    auto utf16 = [](const std::string& ascii) {
        std::string s;
        for (char c : ascii) s += std::string{c, '\0'};
        return s;
    };
    const std::string where = utf16("(((Weather.Temp)>18))");
    const std::size_t at = bytes.find(where);
    ASSERT_NE(at, std::string::npos);
    for (const std::string& smuggled : {std::string("1;ATTACH'x.db'AS x--"), std::string("1;ATTACH'p.db'AS p--"),
                                         std::string("1;DROP TABLE Weather"), std::string("1;PRAGMA writable_schema=1")}) {
        SCOPED_TRACE(smuggled);
        std::string text = smuggled.substr(0, 21);
        text.resize(21, ' ');
        bytes.replace(at, where.size(), utf16(text));
        WriteBytes(path, bytes);
        const auto cwd = std::filesystem::current_path();
        std::filesystem::current_path(folder.Path());
        TCustomerData d;
        const int opened = d.OpenTable(path, "WarmDays");
        const std::vector<std::string> args = {"quorlin-batch", "compute", path, "--table", "WarmDays", "--y", "Rain"};
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream out, err;
        const int status = RunBatch(static_cast<int>(argv.size()), argv.data(), out, err);
        std::filesystem::current_path(cwd);
        EXPECT_EQ(opened, 1);
        EXPECT_THAT(d.LastError(), HasSubstr("holds more than one statement"));
        EXPECT_EQ(status, 2);
        EXPECT_THAT(err.str(), HasSubstr("the saved query 'WarmDays' holds more than one statement"));
        EXPECT_THAT(folder.Entries(), ::testing::UnorderedElementsAre("r.mdb", "p.db"));
        EXPECT_EQ(ReadBytes(folder / "p.db"), planted);
    }
}

namespace {

// A file's contents as the view engine sees them, made up: one table T (x: 1, 2) and the
// saved queries given, each reading the one before it.
class TCraftedSource : public TViewSource {
public:
    explicit TCraftedSource(std::vector<TQueryDefinition> queries) : FQueries(std::move(queries)) {}
    std::vector<TCatalogObject> Catalog() override
    {
        std::vector<TCatalogObject> objects{{"T", TObjectKind::Table}};
        for (const auto& q : FQueries) objects.push_back({q.Name, TObjectKind::View});
        return objects;
    }
    void ReadTable(const std::string&, const std::function<void(const std::vector<TColumnInfo>&, std::int32_t)>& onColumns,
                   const std::function<void(const std::vector<TCellValue>&)>& onRecord, const TProgress&) override
    {
        TColumnInfo x;
        x.Name = "x";
        x.Type = TColumnType::Double;
        onColumns({x}, 2);
        for (double v : {1.0, 2.0}) onRecord({TCellValue{TCellKind::Number, v, ""}});
    }
    TQueryDefinition QueryDefinition(const std::string& name) override
    {
        for (const auto& q : FQueries)
            if (q.Name == name) return q;
        throw EProviderError("Cannot find the query '" + name + "'");
    }

private:
    std::vector<TQueryDefinition> FQueries;
};

TQueryDefinition SelectFrom(const std::string& name, const std::string& input, const std::string& column,
                            const std::string& alias = "")
{
    return {name, {Part(1, "", "", "", 1), Part(5, input, "", ""), Part(6, alias, "", column)}};
}

}  // namespace

// A query that another query reads is created in the engine too: SQL smuggled into it must be
// refused there as well, and reach no file. Each smuggled text closes the column and adds a
// statement, or calls what a select must not.
TEST(Views, SmuggledStatementsInANestedQueryAreRefused)
{
    TempFolder folder;
    const std::string planted = (folder / "planted.db").string();
    const std::vector<std::string> smuggled = {
        "x; ATTACH '" + planted + "' AS p; CREATE TABLE p.owned AS SELECT 42",
        "x FROM T; DROP TABLE T; SELECT x",
        "x; PRAGMA writable_schema = 1",
        "load_extension('" + planted + "')",
        "x FROM T UNION SELECT sql FROM sqlite_master WHERE 0; VACUUM INTO '" + planted + "'",
    };
    for (const std::string& column : smuggled) {
        SCOPED_TRACE(column);
        TCraftedSource source({SelectFrom("Inner", "T", column), SelectFrom("Outer", "Inner", "x")});
        std::string written;
        TWireWriter w([&](const char* p, std::size_t n) { written.append(p, n); });
        EXPECT_THROW(StreamViewRecords(source, "Outer", w, {}), EProviderError);
        EXPECT_TRUE(folder.Entries().empty()) << "a file was created";
    }
    // The same nesting without smuggled text reads as it should.
    TCraftedSource clean({SelectFrom("Inner", "T", "x*10", "y"), SelectFrom("Outer", "Inner", "y")});
    std::string written;
    TWireWriter w([&](const char* p, std::size_t n) { written.append(p, n); });
    try {
        StreamViewRecords(clean, "Outer", w, {});
    } catch (const EProviderError& e) {
        ADD_FAILURE() << e.what();
    }
    w.Flush();
    std::size_t at = 0;
    TWireReader r([&](char* p, std::size_t n) {
        const std::size_t k = std::min(n, written.size() - at);
        std::memcpy(p, written.data() + at, k);
        at += k;
        return k;
    });
    const TTableData outer = ReadTableStream(r);
    ASSERT_EQ(outer.RecordCount, 2);
    EXPECT_EQ(outer.Columns.at(0).Numbers, (std::vector<double>{10.0, 20.0}));
}

// The same through a crafted file: in a copy of the test database WarmDays is made to read
// AskTemp (its input and columns renamed in place), AskTemp loses its parameter (so that it
// is a view) and gets a smuggled statement in its WHERE clause. Opening WarmDays creates
// AskTemp in the engine first, and that is refused.
TEST(Views, ACraftedFileWithANestedSmugglingQueryIsRefused)
{
    TempFolder folder;
    const std::string path = WritableCopy(folder);
    std::string bytes = ReadBytes(path);
    auto utf16 = [](const std::string& ascii) {
        std::string s;
        for (char c : ascii) s += std::string{c, '\0'};
        return s;
    };
    {
        const jet::TDatabase db(path);
        const jet::TTableDef def = db.TableDef(*db.FindTable("MSysQueries"));
        const auto column = [&](const char* name) {
            for (std::size_t i = 0; i < def.Columns.size(); ++i)
                if (def.Columns[i].Name == name) return i;
            return def.Columns.size();
        };
        const std::size_t id = column("ObjectId"), attribute = column("Attribute"), name1 = column("Name1"),
                          expression = column("Expression");
        std::uint32_t warmId = 0, askId = 0;
        for (const auto& e : db.Catalog()) {
            if (e.Name == "WarmDays") warmId = e.Page();
            if (e.Name == "AskTemp") askId = e.Page();
        }
        const jet::TValueDecoder decoder = db.Decoder();
        const std::uint8_t* base = db.Pages().Bytes().data();
        jet::ScanTable(db.Pages(), def, [&](const jet::TRowFields& row) {
            TCellValue owner, kind;
            decoder.Decode(def.Columns[id], row.Present[id], row.Data[id], owner);
            decoder.Decode(def.Columns[attribute], row.Present[attribute], row.Data[attribute], kind);
            const auto object = static_cast<std::uint32_t>(static_cast<std::int64_t>(owner.Number)) & 0xFFFFFF;
            auto replace = [&](std::size_t col, const std::string& from, const std::string& to) {
                if (!row.Present[col]) return;
                const std::size_t at = static_cast<std::size_t>(row.Data[col].data() - base);
                std::string field = bytes.substr(at, row.Data[col].size());
                for (std::size_t k; (k = field.find(utf16(from))) != std::string::npos;) field.replace(k, utf16(from).size(), utf16(to));
                bytes.replace(at, field.size(), field);
            };
            if (object == warmId) {
                replace(name1, "Weather", "AskTemp");
                replace(expression, "Weather", "AskTemp");
            }
            if (object == askId && kind.Number == 2)  // the parameter goes to no query
                jet::Put32(reinterpret_cast<std::uint8_t*>(bytes.data()) + (row.Data[id].data() - base), 0x7FFFFFFF);
            if (object == askId && kind.Number == 8) {
                std::string smuggled = "1;ATTACH'p.db'AS p--";
                smuggled.resize(std::string("(((Weather.Temp)>[MinTemp]))").size(), ' ');
                replace(expression, "(((Weather.Temp)>[MinTemp]))", smuggled);
            }
        });
    }
    WriteBytes(path, bytes);

    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    const std::vector<std::string> args = {"quorlin-batch", "compute", path, "--table", "WarmDays", "--y", "Rain"};
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = RunBatch(static_cast<int>(argv.size()), argv.data(), out, err);
    TCustomerData d;
    ASSERT_EQ(d.ConnectDatabase(path), 1);
    std::vector<std::string> names;
    d.DataConn.GetTableNames(names, false);
    std::filesystem::current_path(cwd);
    EXPECT_THAT(names, ::testing::Contains("AskTemp"));  // now a view: the craft took
    EXPECT_EQ(status, 2);
    EXPECT_THAT(err.str(), HasSubstr("the saved query 'AskTemp' holds more than one statement"));
    EXPECT_THAT(folder.Entries(), ElementsAre("r.mdb"));
}
