// Saved queries as a hostile sender writes them: functions views do not have, reads of the
// engine's own tables, values and statements beyond their bounds, evaluations without end in
// time or memory. Each must end with a message naming the cause, never as a damaged file or an
// exhausted program; ordinary views must read as they always did. The engine is driven with
// queries made up here, and the batch command with tests/data/hostileviews.mdb, whose saved
// queries tests/tools/HostileViews.java wrote as Access stores them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iostream>
#include <map>

#include "tests/BoundedRun.h"
#include "tests/ScopedEnvironment.h"
#include "tests/StatisticsTestSupport.h"
#include "data/reading/Isolation.h"
#include "data/views/AccessSql.h"
#include "data/views/ViewEngine.h"
#include "support/Calendar.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// A file's tables and saved queries as the view engine sees them, made up.
class TMadeFile : public TViewSource {
public:
    struct TTable {
        std::vector<TColumnInfo> Columns;
        std::vector<std::vector<TCellValue>> Rows;
    };
    void AddTable(const std::string& name, TTable table) { FTables[name] = std::move(table); }
    void AddQuery(TQueryDefinition query) { FQueries.push_back(std::move(query)); }

    std::vector<TCatalogObject> Catalog() override
    {
        std::vector<TCatalogObject> objects;
        for (const auto& [name, table] : FTables) objects.push_back({name, TObjectKind::Table});
        for (const auto& q : FQueries) objects.push_back({q.Name, TObjectKind::View});
        return objects;
    }
    void ReadTable(const std::string& name, const std::function<void(const std::vector<TColumnInfo>&, std::int32_t)>& onColumns,
                   const std::function<void(const std::vector<TCellValue>&)>& onRecord, const TProgress&) override
    {
        const TTable& t = FTables.at(name);
        onColumns(t.Columns, static_cast<std::int32_t>(t.Rows.size()));
        for (const auto& row : t.Rows) onRecord(row);
    }
    TQueryDefinition QueryDefinition(const std::string& name) override
    {
        for (const auto& q : FQueries)
            if (q.Name == name) return q;
        throw EProviderError("Cannot find the query '" + name + "'");
    }

private:
    std::map<std::string, TTable> FTables;
    std::vector<TQueryDefinition> FQueries;
};

TColumnInfo Column(const std::string& name, TColumnType type) { return {name, type, 8, 0, 0, false}; }
TCellValue Number(double v) { return {TCellKind::Number, v, ""}; }
TCellValue Text(std::string s) { return {TCellKind::Text, 0.0, std::move(s)}; }

// T: three records of a number, a name, a day number and a number that is once empty.
TMadeFile::TTable SmallTable()
{
    return {{Column("x", TColumnType::Double), Column("s", TColumnType::Text), Column("d", TColumnType::DateTime),
             Column("n", TColumnType::Double)},
            {{Number(1), Text("Alpha"), Number(36585.5), Number(7)},
             {Number(2), Text("beta"), Number(2), TCellValue{}},
             {Number(3), Text("Gamma"), Number(0.25), Number(9)}}};
}

// N: the numbers 1 to count, to be joined with itself.
TMadeFile::TTable Numbers(int count)
{
    TMadeFile::TTable t{{Column("v", TColumnType::Double), Column("w", TColumnType::Text)}, {}};
    for (int i = 1; i <= count; ++i) t.Rows.push_back({Number(i), Text("value number " + std::to_string(i))});
    return t;
}

struct TInput {
    std::string Table, Alias;
};

// A saved select query: its inputs, its columns (alias, expression), a WHERE and an ORDER BY.
TQueryDefinition Select(const std::string& name, const std::vector<TInput>& inputs,
                        const std::vector<std::pair<std::string, std::string>>& columns, const std::string& where = "",
                        const std::string& orderBy = "")
{
    TQueryDefinition q{name, {{1, "", "", "", 1}}};
    for (const auto& in : inputs) q.Parts.push_back({5, in.Table, in.Alias, "", 0});
    for (const auto& [alias, expression] : columns) q.Parts.push_back({6, alias, "", expression, 0});
    if (!where.empty()) q.Parts.push_back({8, "", "", where, 0});
    if (!orderBy.empty()) q.Parts.push_back({11, "", "", orderBy, 0});
    return q;
}

// The view evaluated as the reading process evaluates it, read back as the program reads it.
TTableData Evaluate(TMadeFile& file, const std::string& view)
{
    std::string bytes;
    TWireWriter w([&](const char* p, std::size_t n) { bytes.append(p, n); });
    StreamViewRecords(file, view, w, {});
    w.Flush();
    std::size_t at = 0;
    TWireReader r([&](char* p, std::size_t n) {
        const std::size_t k = std::min(n, bytes.size() - at);
        std::memcpy(p, bytes.data() + at, k);
        at += k;
        return k;
    });
    return ReadTableStream(r);
}

std::string RefusalOf(TMadeFile& file, const std::string& view)
{
    try {
        Evaluate(file, view);
    } catch (const EProviderError& e) {
        return e.what();
    }
    return "opened";
}

// One view "Q" over T with one column.
std::string RefusalOfColumn(const std::string& expression)
{
    TMadeFile file;
    file.AddTable("T", SmallTable());
    file.AddQuery(Select("Q", {{"T", ""}}, {{"c", expression}}));
    return RefusalOf(file, "Q");
}

std::vector<std::string> Texts(const TTableData& t, std::size_t column)
{
    std::vector<std::string> texts;
    for (std::int32_t r = 0; r < t.RecordCount; ++r) texts.push_back(FormatCell(t.Columns.at(column), static_cast<std::size_t>(r)));
    return texts;
}

const std::string Hostile = DataFile("hostileviews.mdb");

}  // namespace

// Every SQLite function that is not one of the views' own is refused by name, wherever it
// stands: a column, a condition, a query that another one reads. These include the ones that
// build a gigabyte from one call, and those that tell what engine runs the query.
TEST(ViewGuard, FunctionsBeyondThoseOfViewsAreRefusedByName)
{
    const std::vector<std::pair<std::string, std::string>> calls = {
        {"printf(\"%.*c\", 2000000000, \"x\")", "printf"},
        {"replace(zeroblob(100000000), X'00', \"ab\")", "replace"},
        {"zeroblob(100000000)", "zeroblob"},
        {"randomblob(100000000)", "randomblob"},
        {"sqlite_version()", "sqlite_version"},
        {"sqlite_source_id()", "sqlite_source_id"},
        {"json_array(x, s)", "json_array"},
        {"s -> \"$\"", "->"},
        {"unicode(s)", "unicode"},
        {"instr(s, \"a\")", "instr"},
        {"hex(s)", "hex"},
        {"char(65, 66)", "char"},
        {"substr(s, 1, 2)", "substr"},
        {"upper(s)", "upper"},
        {"group_concat(s)", "group_concat"},
        {"total(x)", "total"},
        {"round(x, 1)", "round"},
        {"coalesce(n, 0)", "coalesce"},
        {"typeof(x)", "typeof"},
        {"quote(s)", "quote"},
        {"s Glob \"A*\"", "glob"},
        {"load_extension(\"/tmp/x.so\")", "load_extension"},
        {"Mid(s, 1, length(s))", "length"},
    };
    for (const auto& [expression, function] : calls)
        EXPECT_EQ(RefusalOfColumn(expression),
                  "The view 'Q' calls the function '" + function + "', which saved queries may not use here")
            << expression;

    TMadeFile file;
    file.AddTable("T", SmallTable());
    file.AddQuery(Select("Where", {{"T", ""}}, {{"", "x"}}, "length(s) > 4"));
    file.AddQuery(Select("Order", {{"T", ""}}, {{"", "x"}}, "", "random()"));
    file.AddQuery(Select("Inner", {{"T", ""}}, {{"p", "printf(\"%d\", x)"}}));
    file.AddQuery(Select("Outer", {{"Inner", ""}}, {{"", "p"}}));
    EXPECT_EQ(RefusalOf(file, "Where"), "The view 'Where' calls the function 'length', which saved queries may not use here");
    EXPECT_EQ(RefusalOf(file, "Order"), "The view 'Order' calls the function 'random', which saved queries may not use here");
    EXPECT_EQ(RefusalOf(file, "Outer"), "The view 'Outer' calls the function 'printf', which saved queries may not use here");
}

// The engine's schema and its pragmas and table-valued functions are no input of a view, under
// any of their names.
TEST(ViewGuard, TheEnginesOwnTablesAreNotRead)
{
    const std::vector<std::pair<std::string, std::string>> reads = {
        {"sqlite_master", "sqlite_master"},           {"sqlite_schema", "sqlite_schema"},
        {"sqlite_temp_master", "sqlite_temp_master"}, {"temp.sqlite_master", "sqlite_master"},
        {"pragma_table_info(\"T\")", "pragma_table_info"}, {"pragma_function_list", "pragma_function_list"},
        {"json_each(\"[1,2]\")", "json_each"},       {"json_tree(\"[1,2]\")", "json_tree"},
    };
    for (const auto& [table, name] : reads) {
        EXPECT_EQ(RefusalOfColumn("(SELECT Count(*) FROM " + table + ")"),
                  "The view 'Q' reads the table '" + name + "', which saved queries may not read here")
            << table;
    }
    EXPECT_EQ(RefusalOfColumn("(SELECT Max(sql) FROM sqlite_master)"),
              "The view 'Q' reads the table 'sqlite_master', which saved queries may not read here");
}

// Under the guard the views' own functions and Access's Like still compute what they did, and a
// computed column is a number unless one of its values is a text.
TEST(ViewGuard, TheFunctionsOfViewsComputeAsBefore)
{
    TMadeFile file;
    file.AddTable("T", SmallTable());
    file.AddQuery(Select("Scalars", {{"T", ""}},
                         {{"a", "IIf(x > 1, \"big\", \"small\")"}, {"b", "Nz(n, 9) + Nz(n)"}, {"c", "Mid(s, 2, 3)"},
                          {"d", "Len(s)"}, {"e", "Int(x / 2)"}, {"f", "Sqr(x * x) + Abs(0 - x)"},
                          {"g", "Year(d) & \"-\" & Month(d) & \"-\" & Day(d)"}, {"h", "IIf(x > 1, \"big\", x)"},
                          {"i", "IIf(x > 1, 10, x)"}}));
    file.AddQuery(Select("Aggregates", {{"T", ""}},
                         {{"", "Sum(x)"}, {"", "Avg(x)"}, {"", "Count(*)"}, {"", "Min(s)"}, {"", "Max(x)"}}));
    file.AddQuery(Select("Like", {{"T", ""}}, {{"", "s"}}, "s Like \"?amma\" Or s Like \"*ph*\""));
    const TTableData scalars = Evaluate(file, "Scalars");
    EXPECT_EQ(Texts(scalars, 0), (std::vector<std::string>{"small", "big", "big"}));
    EXPECT_EQ(Texts(scalars, 1), (std::vector<std::string>{"14", "9", "18"}));
    EXPECT_EQ(Texts(scalars, 2), (std::vector<std::string>{"lph", "eta", "amm"}));
    EXPECT_EQ(Texts(scalars, 3), (std::vector<std::string>{"5", "4", "5"}));
    EXPECT_EQ(Texts(scalars, 4), (std::vector<std::string>{"0", "1", "1"}));
    EXPECT_EQ(Texts(scalars, 5), (std::vector<std::string>{"2", "4", "6"}));
    EXPECT_EQ(Texts(scalars, 6), (std::vector<std::string>{"2000-2-29", "1900-1-1", "1899-12-30"}));
    EXPECT_EQ(scalars.Columns[7].Info.Type, TColumnType::Text);
    EXPECT_EQ(Texts(scalars, 7), (std::vector<std::string>{"1", "big", "big"}));
    EXPECT_EQ(scalars.Columns[8].Info.Type, TColumnType::Double);
    EXPECT_EQ(scalars.Columns[8].Numbers, (std::vector<double>{1, 10, 10}));
    const TTableData aggregates = Evaluate(file, "Aggregates");
    ASSERT_EQ(aggregates.RecordCount, 1);
    EXPECT_EQ((std::vector<std::string>{Texts(aggregates, 0)[0], Texts(aggregates, 1)[0], Texts(aggregates, 2)[0],
                                        Texts(aggregates, 3)[0], Texts(aggregates, 4)[0]}),
              (std::vector<std::string>{"6", "2", "3", "Alpha", "3"}));
    EXPECT_EQ(Texts(Evaluate(file, "Like"), 0), (std::vector<std::string>{"Alpha", "Gamma"}));
}

// A value, and a record of a table a view reads, may hold 16 MiB in a view, and a statement
// 1 MiB: a longer value made by the query, a longer statement, a longer memo or record of a
// table the view reads stops the view, naming the bound and where it was exceeded; a memo of
// 15 MiB reads whole.
TEST(ViewBounds, ValuesRecordsAndStatementsBeyondTheirBoundStopTheView)
{
    constexpr std::size_t MiB = std::size_t{1} << 20;
    TMadeFile file;
    const std::string nine(9 * MiB, 'n'), fifteen(15 * MiB, 'f');
    file.AddTable("M", {{Column("note", TColumnType::Memo)}, {{Text(nine)}}});
    file.AddTable("Big", {{Column("note", TColumnType::Memo)}, {{Text("short")}, {Text(std::string(17 * MiB, 'b'))}}});
    file.AddTable("Wide", {{Column("a", TColumnType::Memo), Column("b", TColumnType::Memo)}, {{Text(nine), Text(nine)}}});
    file.AddTable("Full", {{Column("note", TColumnType::Memo)}, {{Text(fifteen)}}});
    file.AddQuery(Select("Doubled", {{"M", ""}}, {{"", "note & note"}}));
    file.AddQuery(Select("Long", {{"M", ""}}, {{"", "\"" + std::string(MiB + 100, 'q') + "\""}}));
    file.AddQuery(Select("BigNote", {{"Big", ""}}, {{"", "note"}}));
    file.AddQuery(Select("WideRecord", {{"Wide", ""}}, {{"", "a"}}));
    file.AddQuery(Select("FullNote", {{"Full", ""}}, {{"", "note"}}));
    EXPECT_EQ(RefusalOf(file, "Doubled"), "The view 'Doubled' is too large to open: it makes a value longer than 16 MiB, "
                                          "the most one value may hold in a view");
    EXPECT_EQ(RefusalOf(file, "Long"), "The view 'Long' is too large to open: its statement is longer than 1 MiB, the "
                                       "most a statement may hold in a view");
    EXPECT_EQ(RefusalOf(file, "BigNote"), "The view 'BigNote' is too large to open: the field 'note' of the table 'Big' "
                                          "holds a value of 17 MiB, more than the 16 MiB one value may hold in a view");
    EXPECT_EQ(RefusalOf(file, "WideRecord"), "The view 'WideRecord' is too large to open: a record of the table 'Wide' "
                                             "holds more than 16 MiB, the most one record may hold in a view");
    const TTableData full = Evaluate(file, "FullNote");
    ASSERT_EQ(full.RecordCount, 1);
    EXPECT_EQ(full.Columns[0].Texts.at(0), fifteen);
}

// A view that computes without end (the records of a table joined with itself six times,
// counted) is stopped when its time is up, with the limit named.
TEST(ViewBounds, AnEvaluationBeyondItsTimeIsStopped)
{
    const TScopedEnvironment seconds("QUORLIN_VIEW_SECONDS", "1");
    TMadeFile file;
    file.AddTable("N", Numbers(60));
    file.AddQuery(Select("Six", {{"N", "A"}, {"N", "B"}, {"N", "C"}, {"N", "D"}, {"N", "E"}, {"N", "F"}}, {{"", "Count(*)"}}));
    EXPECT_EQ(RefusalOf(file, "Six"), "The view 'Six' is too large to open: evaluating it took longer than 1 second, the "
                                      "most a view may take (QUORLIN_VIEW_SECONDS sets the limit)");
}

// A view whose evaluation needs more memory than its records may take (a join sorted: every
// record is held before the first is sent) is stopped at that memory, with the limit named.
TEST(ViewBounds, AnEvaluationBeyondItsMemoryIsStopped)
{
    const TScopedEnvironment memory("QUORLIN_RECORD_MEMORY", "16M");
    TMadeFile file;
    file.AddTable("N", Numbers(100));
    file.AddQuery(Select("Sorted", {{"N", "A"}, {"N", "B"}, {"N", "C"}}, {{"", "A.w & B.w & C.w"}}, "", "A.w & B.w & C.w"));
    EXPECT_EQ(RefusalOf(file, "Sorted"), "The view 'Sorted' is too large to open: evaluating it needs more than the 16 "
                                         "MiB of memory a view may take (QUORLIN_RECORD_MEMORY sets the limit)");
}

namespace {

// The batch command run on a view of the hostile file as a machine with 1 GiB of address space
// would run it; the figures go to the test's output.
TBoundedRun OpenHostileView(const std::string& view, const TempFolder& folder)
{
    const TBoundedRun run = RunBounded({QUORLIN_BATCH_EXE, "fields", Hostile, "--table", view}, std::uint64_t{1} << 30, folder);
    std::cout << "[ figures  ] " << view << ": " << run.Seconds << " s, peak " << run.PeakKiB / 1024 << " MiB\n";
    return run;
}

}  // namespace

// The view that took a program to 4 GB and its end: a table joined with itself six times, once
// sending every column of every record and once only counting them. Under 1 GiB of address
// space each ends within ten seconds, refused as too large with the cause named, never as a
// damaged file and never for want of memory.
TEST(HostileViews, ASixFoldSelfJoinEndsWithinTenSecondsUnderOneGigabyte)
{
    TempFolder folder;
    for (const std::string view : {"SixFold", "SixFoldCount"}) {
        const TBoundedRun run = OpenHostileView(view, folder);
        ASSERT_TRUE(run.Exited) << Describe(run);
        EXPECT_EQ(run.Status, 2) << Describe(run);
        EXPECT_THAT(run.Err, StartsWith("quorlin-batch: The view '" + view + "' is too large to open: "));
        EXPECT_THAT(run.Err, Not(HasSubstr("damaged")));
        EXPECT_THAT(run.Err, Not(HasSubstr("alloc")));
        EXPECT_LT(run.Seconds, 10.0 * GuardScale) << Describe(run);
        if (!SanitizedBuild) {
            EXPECT_LT(run.PeakKiB, 1 << 20) << Describe(run);
        }
    }
}

// The file's views that call what views may not, or read the engine's schema, are refused by
// name, each at once and in little memory.
TEST(HostileViews, ForbiddenFunctionsAndSchemaReadsAreRefusedByName)
{
    TempFolder folder;
    const std::vector<std::pair<std::string, std::string>> refusals = {
        {"Printf", "calls the function 'printf', which saved queries may not use here"},
        {"Replace", "calls the function 'replace', which saved queries may not use here"},
        {"Version", "calls the function 'sqlite_version', which saved queries may not use here"},
        {"Json", "calls the function 'json_array', which saved queries may not use here"},
        {"Unicode", "calls the function 'unicode', which saved queries may not use here"},
        {"Instr", "calls the function 'instr', which saved queries may not use here"},
        {"Master", "reads the table 'sqlite_master', which saved queries may not read here"},
        {"PragmaTable", "reads the table 'pragma_table_info', which saved queries may not read here"},
    };
    for (const auto& [view, why] : refusals) {
        const TBoundedRun run = OpenHostileView(view, folder);
        ASSERT_TRUE(run.Exited) << Describe(run);
        EXPECT_EQ(run.Status, 2) << Describe(run);
        EXPECT_EQ(run.Err, "quorlin-batch: The view '" + view + "' " + why + "\n");
        if (!SanitizedBuild) {
            EXPECT_LT(run.PeakKiB, 100 << 10) << Describe(run);
        }
    }
}

// Beside the hostile ones, the file's ordinary views read exactly as those of the file it was
// made from, and a view using the functions of views computes what an independent computation
// from its tables gives.
TEST(HostileViews, OrdinaryViewsReadAsBefore)
{
    const std::string regression = DataFile("regression.mdb");
    for (const std::string view : {"WarmDays", "Fahrenheit"}) {
        const TTableData here = ReadRecordsIsolated(Hostile, view, true), there = ReadRecordsIsolated(regression, view, true);
        ASSERT_EQ(here.Columns.size(), there.Columns.size()) << view;
        EXPECT_EQ(here.RecordCount, there.RecordCount) << view;
        for (std::size_t c = 0; c < here.Columns.size(); ++c) {
            EXPECT_EQ(here.Columns[c].Info.Name, there.Columns[c].Info.Name) << view;
            EXPECT_EQ(here.Columns[c].Info.Type, there.Columns[c].Info.Type) << view;
            EXPECT_EQ(here.Columns[c].Kinds, there.Columns[c].Kinds) << view;
            EXPECT_EQ(here.Columns[c].Numbers, there.Columns[c].Numbers) << view;
        }
    }

    // Listed: the stations named like S0?1 crossed with every day of Weather, grouped by warmth
    // and by the first three letters of the name with its length.
    const TTableData stations = ReadRecordsIsolated(Hostile, "Stations", false);
    const TTableData weather = ReadRecordsIsolated(Hostile, "Weather", false);
    struct TGroup {
        std::string Kind;
        double Rain = 0, Day = -1e300, Stations = 0, Wind = 0, Low = 1e300;
    };
    std::map<std::string, TGroup> groups;  // by Head, which orders the view
    for (std::int32_t s = 0; s < stations.RecordCount; ++s) {
        const std::string name = stations.Columns[0].Texts.at(static_cast<std::size_t>(s));
        if (name.size() != 4 || name.compare(0, 2, "S0") != 0 || name[3] != '1') continue;
        const double rain = stations.Columns[1].Numbers[static_cast<std::size_t>(s)];
        const double temp = stations.Columns[2].Numbers[static_cast<std::size_t>(s)];
        TGroup& g = groups[name.substr(0, 3) + "4"];
        g.Kind = temp > 18 ? "warm" : "cool";
        g.Low = std::min(g.Low, stations.Columns[3].Numbers[static_cast<std::size_t>(s)]);
        for (std::int32_t w = 0; w < weather.RecordCount; ++w) {
            const double wRain = weather.Columns[0].Numbers[static_cast<std::size_t>(w)];
            const double wTemp = weather.Columns[1].Numbers[static_cast<std::size_t>(w)];
            const TCivilDate date = CivilFromDayNumber(static_cast<std::int64_t>(std::trunc(wTemp)));
            g.Rain += rain + std::floor(wRain) + std::sqrt(std::fabs(wTemp));
            g.Day = std::max(g.Day, static_cast<double>(date.Year) + date.Month + date.Day);
            g.Stations += 1;
            g.Wind += weather.Columns[2].Numbers[static_cast<std::size_t>(w)];
        }
    }
    const TTableData listed = ReadRecordsIsolated(Hostile, "Listed", true);
    ASSERT_EQ(static_cast<std::size_t>(listed.RecordCount), groups.size());
    ASSERT_EQ(groups.size(), 3u);
    std::size_t r = 0;
    for (const auto& [head, g] : groups) {
        EXPECT_EQ(listed.Columns[0].Texts.at(r), g.Kind);
        EXPECT_NEAR(listed.Columns[1].Numbers.at(r), g.Rain, 1e-9 * g.Rain);
        EXPECT_EQ(listed.Columns[2].Texts.at(r), head);
        EXPECT_EQ(listed.Columns[3].Numbers.at(r), g.Day);
        EXPECT_EQ(listed.Columns[4].Numbers.at(r), g.Stations);
        EXPECT_NEAR(listed.Columns[5].Numbers.at(r), g.Wind / g.Stations, 1e-12);
        EXPECT_EQ(listed.Columns[6].Numbers.at(r), g.Low);
        ++r;
    }
}
