#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/BatchRun.h"
#include "tests/StatisticsTestSupport.h"
#include "batch/CsvReader.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;

namespace {

// Runs the installed-style binary through the shell, as a script would.
RunResult RunExecutable(const std::string& arguments)
{
    const std::string command = std::string(QUORLIN_BATCH_EXE) + " " + arguments + " 2>/dev/null";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {-1, "", ""};
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, ""};
}

const std::string Sample = DataFile("Sample.csv");

// A table's field names and every cell as the CSV reader gives them back.
std::pair<std::vector<std::string>, std::vector<std::vector<TCell>>> CellsOf(const TMemoryDataSet& table)
{
    std::vector<std::vector<TCell>> rows(static_cast<std::size_t>(table.RecordCount()));
    for (std::int32_t row = 0; row < table.RecordCount(); ++row)
        for (std::int32_t field = 0; field < table.FieldCount(); ++field) rows[row].push_back(table.Cell(row, field));
    return {table.FieldNames(), rows};
}

// Cells of CSV copies that hold numbers to 16 digits where the database holds 17.
void ExpectSameValue(const TCell& exported, const TCell& copy, const std::string& where)
{
    double a = 0, b = 0;
    const auto* ta = std::get_if<std::string>(&exported);
    const auto* tb = std::get_if<std::string>(&copy);
    if (ta && tb && TryTextToFloat(*ta, a) && TryTextToFloat(*tb, b))
        EXPECT_NEAR(a, b, 1e-15 * std::fabs(b)) << where;
    else
        EXPECT_EQ(exported, copy) << where;
}

}  // namespace

TEST(BatchFields, ListsNamesInColumnOrder)
{
    const RunResult r = RunCommand({"fields", DataFile("降水.csv")});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "气温\n气压\n风速\n降水量\n");
    EXPECT_EQ(RunCommand({"fields", "/no/such.csv"}).Status, 2);
}

TEST(BatchCompute, WorkedExampleEquationAndReport)
{
    TempFolder folder;
    const std::string report = (folder / "report.txt").string();
    const RunResult r = RunCommand({"compute", Sample, "--y", "y", "--method", "full", "--report", report});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "y=0.517+2.383*x1-0.083*x2\n");
    const std::string bytes = ReadBytes(report);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 14);
    EXPECT_THAT(bytes, HasSubstr("\r\n 2.00000   2.96000  |   4.52000\r\n"));
}

TEST(BatchCompute, DefaultsAreStepwiseAtFour)
{
    // Stepwise2 at Fa = 4: only X0 enters (its partner's F is about 2.96).
    const RunResult r = RunCommand({"compute", DataFile("Stepwise2.csv"), "--y", "Y", "--json"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j["method"], "stepwise");
    EXPECT_EQ(j["fa"], 4.0);
    EXPECT_EQ(j["factors"], (std::vector<std::string>{"X0", "X1"}));
    EXPECT_EQ(j["coefficients"][1], 0.0);
    EXPECT_NE(j["coefficients"][0], 0.0);
    EXPECT_NEAR(j["std_coefficients"][0].get<double>(), 0.8, 1e-9);

    const RunResult lower = RunCommand({"compute", DataFile("Stepwise2.csv"), "--y", "Y", "--fa", "2", "--json"});
    EXPECT_NE(nlohmann::json::parse(lower.Out)["coefficients"][1], 0.0);
}

TEST(BatchCompute, FactorsFollowTheGivenOrderWithoutY)
{
    const RunResult r = RunCommand({"compute", Sample, "--y", "y", "--x", "x2", "--x", "Y", "--x", "X1", "--method", "full"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "y=0.517-0.083*x2+2.383*x1\n");
    EXPECT_EQ(RunCommand({"compute", Sample, "--y", "y", "--x", "x2", "--x", "x2"}).Status, 2);
    EXPECT_EQ(RunCommand({"compute", Sample, "--y", "y", "--x", "y"}).Status, 2);
}

TEST(BatchCompute, JsonCarriesEveryStatistic)
{
    const RunResult r = RunCommand({"compute", DataFile("Stepwise4.csv"), "--y", "Y", "--json"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto j = nlohmann::json::parse(r.Out);
    for (const char* key : {"equation", "method", "fa", "n", "y", "factors", "constant", "coefficients",
                            "std_coefficients", "residual_share", "regression_share", "multiple_r", "q", "u",
                            "removals", "means", "y_mean", "y_variance", "correlation", "correlation_y",
                            "covariance", "covariance_y"})
        EXPECT_TRUE(j.contains(key)) << key;
    EXPECT_EQ(j["n"], 20);
    EXPECT_EQ(j["y"], "Y");
    ASSERT_EQ(j["removals"].size(), 1u);
    EXPECT_EQ(j["removals"][0]["factor"], "X2");
    EXPECT_NEAR(j["removals"][0]["f"].get<double>(), 0.785714, 5e-6);
    EXPECT_NEAR(j["residual_share"].get<double>(), 0.20625, 1e-9);
    EXPECT_NEAR(j["q"].get<double>() + j["u"].get<double>(), j["y_variance"].get<double>(), 1e-9);
    EXPECT_EQ(j["correlation"].size(), 4u);
    EXPECT_EQ(j["covariance"][3].size(), 4u);
    EXPECT_EQ(j["equation"].get<std::string>().find("X2"), std::string::npos);
    // The removal is also told on stderr, naming the factor.
    EXPECT_THAT(r.Err, HasSubstr("X2"));
    EXPECT_THAT(r.Err, HasSubstr("F=0.78571"));
}

TEST(BatchCompute, JsonNumbersRoundTrip)
{
    const RunResult r = RunCommand({"compute", DataFile("Weather.csv"), "--y", "Rain", "--method", "full", "--json"});
    ASSERT_EQ(r.Status, 0);
    const auto j = nlohmann::json::parse(r.Out);
    const double constant = j["constant"];
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", constant);
    EXPECT_THAT(r.Out, HasSubstr("\"constant\":"));
    EXPECT_EQ(std::stod(text), constant);
}

TEST(BatchFailures, ComputationFaultsExitOneWithoutAReport)
{
    TempFolder folder;
    const std::string report = (folder / "r.txt").string();
    RunResult r = RunCommand({"compute", DataFile("Constant.csv"), "--y", "y", "--report", report});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr("Invalid floating point operation"));
    EXPECT_TRUE(r.Out.empty());

    r = RunCommand({"compute", DataFile("Empty.csv"), "--y", "y", "--report", report, "--json"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(nlohmann::json::parse(r.Out), (nlohmann::json{{"error", "Invalid floating point operation"}}));

    const auto twins = folder / "twins.csv";
    WriteBytes(twins, "a,b,y\n1,1,2\n2,2,3.5\n3,3,6.5\n4,4,8\n");
    r = RunCommand({"compute", twins.string(), "--y", "y", "--method", "full", "--report", report});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr("Floating point division by zero"));

    r = RunCommand({"compute", DataFile("TextValues.csv"), "--y", "y", "--x", "Bad", "--report", report});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr("'abc' is not a valid floating point value"));

    EXPECT_FALSE(std::filesystem::exists(report));
}

TEST(BatchFailures, UnwritableReportExitsOneAndKeepsTheOldFile)
{
    TempFolder folder;
    const std::string missing = (folder / "nowhere" / "r.txt").string();
    RunResult r = RunCommand({"compute", Sample, "--y", "y", "--report", missing});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr("Cannot write report '" + missing + "': No such file or directory"));

    const auto readOnly = folder / "old.txt";
    WriteBytes(readOnly, "old");
    ::chmod(readOnly.c_str(), 0444);
    r = RunCommand({"compute", Sample, "--y", "y", "--report", readOnly.string(), "--json"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(nlohmann::json::parse(r.Out)["error"].get<std::string>(), HasSubstr("Permission denied"));
    EXPECT_EQ(ReadBytes(readOnly), "old");
}

TEST(BatchFailures, BadUsageOrInputExitsTwo)
{
    TempFolder folder;
    const auto broken = folder / "broken.csv";
    WriteBytes(broken, "a,b\n1,\"2\n");
    EXPECT_EQ(RunCommand({"compute", "/no/such.csv", "--y", "y"}).Status, 2);
    EXPECT_EQ(RunCommand({"compute", folder.Path().string(), "--y", "y"}).Status, 2);
    EXPECT_EQ(RunCommand({"compute", broken.string(), "--y", "a"}).Status, 2);
    const RunResult unknown = RunCommand({"compute", Sample, "--y", "rain"});
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_THAT(unknown.Err, HasSubstr("Unknown field 'rain'"));
    EXPECT_EQ(RunCommand({"compute", Sample, "--y", "y", "--x", "x9"}).Status, 2);
    const RunResult badFa = RunCommand({"compute", Sample, "--y", "y", "--fa", "4,5"});
    EXPECT_EQ(badFa.Status, 2);
    EXPECT_THAT(badFa.Err, HasSubstr("'4,5' is not a valid floating point value"));
    EXPECT_EQ(RunCommand({"compute", Sample, "--y", "y", "--method", "ridge"}).Status, 2);
    EXPECT_EQ(RunCommand({"compute", Sample}).Status, 2);
    EXPECT_EQ(RunCommand({}).Status, 2);
    EXPECT_EQ(RunCommand({"frobnicate"}).Status, 2);
}

// A table of a hundred thousand columns is listed whole, and computing with all of them as
// factors is refused at once as bad input, with what they would need.
TEST(BatchFailures, TooManyFactorsExitTwoAndSayWhy)
{
    TempFolder folder;
    constexpr int Wide = 100000;
    std::string header, record;
    for (int i = 0; i < Wide; ++i) {
        header += (i ? ",c" : "c") + std::to_string(i);
        record += i ? ",1" : "1";
    }
    const std::string path = (folder / "wide.csv").string();
    WriteBytes(path, header + "\n" + record + "\n" + record + "\n");
    const RunResult fields = RunCommand({"fields", path});
    EXPECT_EQ(fields.Status, 0);
    EXPECT_EQ(std::count(fields.Out.begin(), fields.Out.end(), '\n'), Wide);
    const RunResult r = RunCommand({"compute", path, "--y", "c0", "--method", "full", "--json"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_THAT(r.Err, ::testing::HasSubstr("Too many factors: 99999 of them need"));
    EXPECT_THAT(r.Out, ::testing::HasSubstr("\"error\":\"Too many factors"));
}

TEST(BatchHelp, DescribesTheCommands)
{
    const RunResult r = RunCommand({"--help"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_THAT(r.Out, HasSubstr("compute"));
    EXPECT_THAT(r.Out, HasSubstr("fields"));
    EXPECT_THAT(r.Out, HasSubstr("export"));
    const RunResult exportHelp = RunCommand({"export", "--help"});
    EXPECT_EQ(exportHelp.Status, 0);
    for (const char* rule : {"--table", "RFC 4180", "YYYY-MM-DD HH:MM:SS", "0x", "true or false", "1e16"})
        EXPECT_THAT(exportHelp.Out, HasSubstr(rule));
    const RunResult sub = RunCommand({"compute", "--help"});
    EXPECT_EQ(sub.Status, 0);
    for (const char* option : {"--y", "--x", "--method", "--fa", "--report", "--json"}) EXPECT_THAT(sub.Out, HasSubstr(option));
}

TEST(BatchExecutable, BundledExampleAndExitStatus)
{
    const RunResult ok = RunExecutable("compute " + std::string(QUORLIN_EXAMPLES) + "/elnino.csv --y DEC");
    EXPECT_EQ(ok.Status, 0);
    EXPECT_EQ(ok.Out.rfind("DEC=", 0), 0u);
    EXPECT_EQ(RunExecutable("compute /no/such.csv --y DEC").Status, 2);
    EXPECT_EQ(RunExecutable("compute " + DataFile("Constant.csv") + " --y y").Status, 1);
}

TEST(BatchCompute, FieldNamesThatAreNotUtf8StillGiveJson)
{
    TempFolder folder;
    const auto csv = folder / "latin1.csv";
    WriteBytes(csv, "x\xE9,y\n1,2\n2,3.5\n3,6.5\n4,8\n");
    const RunResult r = RunCommand({"compute", csv.string(), "--y", "y", "--method", "full", "--json"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    const auto j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j["factors"][0].get<std::string>().substr(0, 1), "x");
    EXPECT_EQ(j["equation"].get<std::string>().substr(0, 2), "y=");
}

TEST(BatchAccess, TablesAreListedTablesFirstThenViews)
{
    const RunResult r = RunCommand({"tables", DataFile("regression.mdb")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out,
              "Constant\nElNino\nEmpty\nKeyed\nLongley\nNulls\nPlain\nRain Data\nSample\nStations\nStepwise2\n"
              "Stepwise4\nTextValues\nTypes\nWeather\n降水\nFahrenheit\nWarmDays\n");
}

TEST(BatchAccess, FieldsAndComputeOnAccessTables)
{
    const std::string db = DataFile("regression.mdb");
    EXPECT_EQ(RunCommand({"fields", db, "--table", "rain data"}).Out, "x\ny\n");
    const RunResult rain = RunCommand({"compute", db, "--table", "Rain Data", "--y", "y"});
    EXPECT_EQ(rain.Status, 0) << rain.Err;
    EXPECT_EQ(rain.Out.rfind("y=", 0), 0u);
    const RunResult sample = RunCommand({"compute", db, "--table", "Sample", "--y", "y", "--method", "full"});
    EXPECT_EQ(sample.Out, "y=0.517+2.383*x1-0.083*x2\n");
}

TEST(BatchAccess, JsonEqualsTheSameRecordsFromCsv)
{
    for (const char* table : {"Sample", "Stepwise4", "Nulls"}) {
        const RunResult mdb = RunCommand({"compute", DataFile("regression.mdb"), "--table", table, "--y",
                                          table == std::string("Stepwise4") ? "Y" : "y", "--json"});
        const RunResult csv = RunCommand({"compute", DataFile(std::string(table) + ".csv"), "--y",
                                          table == std::string("Stepwise4") ? "Y" : "y", "--json"});
        ASSERT_EQ(mdb.Status, 0) << mdb.Err;
        ASSERT_EQ(csv.Status, 0) << csv.Err;
        const auto a = nlohmann::json::parse(mdb.Out);
        const auto b = nlohmann::json::parse(csv.Out);
        EXPECT_EQ(a["equation"], b["equation"]) << table;
        EXPECT_EQ(a["removals"].size(), b["removals"].size()) << table;
        // The CSV exports hold 16 digits, the database 17: agreement to the last digits.
        for (const char* key : {"constant", "residual_share", "multiple_r", "y_variance"})
            EXPECT_NEAR(a[key].get<double>(), b[key].get<double>(), 1e-12 * std::max(1.0, std::fabs(b[key].get<double>())))
                << table << " " << key;
    }
}

TEST(BatchAccess, ProblemsWithTheDatabaseExitTwoWithAReason)
{
    TempFolder folder;
    const std::string db = DataFile("regression.mdb");
    RunResult r = RunCommand({"compute", (folder / "none.mdb").string(), "--table", "Sample", "--y", "y"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_THAT(r.Err, HasSubstr("Could not find file"));

    WriteBytes(folder / "fake.MDB", "not a database at all");
    r = RunCommand({"compute", (folder / "fake.MDB").string(), "--table", "Sample", "--y", "y"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_THAT(r.Err, HasSubstr("fake.MDB"));
    EXPECT_EQ(RunCommand({"tables", (folder / "fake.MDB").string()}).Status, 2);

    r = RunCommand({"compute", db, "--table", "Nowhere", "--y", "y"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_THAT(r.Err, HasSubstr("Nowhere"));
    EXPECT_EQ(RunCommand({"compute", db, "--y", "y"}).Status, 2);
    EXPECT_EQ(RunCommand({"compute", Sample, "--table", "Sample", "--y", "y"}).Status, 2);
    EXPECT_EQ(RunCommand({"fields", db}).Status, 2);
}

TEST(BatchAccess, FieldsWithoutNumericReadingExitOne)
{
    const std::string db = DataFile("regression.mdb");
    RunResult r = RunCommand({"compute", db, "--table", "Types", "--y", "y", "--x", "L", "--x", "YesNo"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr("Cannot access field 'YesNo' as type Float"));
    r = RunCommand({"compute", db, "--table", "Stations", "--y", "Rain"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr("'S000' is not a valid floating point value"));
    r = RunCommand({"compute", db, "--table", "Constant", "--y", "y"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr("Invalid floating point operation"));
}

TEST(BatchAccess, ViewsOpenLikeTables)
{
    const std::string db = DataFile("regression.mdb");
    EXPECT_EQ(RunCommand({"fields", db, "--table", "Fahrenheit"}).Out, "Rain\nTempF\n");

    // WarmDays against the same computation on the warm rows of the Weather export.
    TempFolder folder;
    std::ifstream in(DataFile("Weather.csv"));
    std::string line, warm;
    std::getline(in, line);
    warm = line + "\n";
    while (std::getline(in, line)) {
        const double temp = std::stod(line.substr(line.find(',') + 1));
        if (temp > 18) warm += line + "\n";
    }
    WriteBytes(folder / "warm.csv", warm);
    const RunResult view = RunCommand({"compute", db, "--table", "WarmDays", "--y", "Rain", "--json"});
    const RunResult csv = RunCommand({"compute", (folder / "warm.csv").string(), "--y", "Rain", "--json"});
    ASSERT_EQ(view.Status, 0) << view.Err;
    ASSERT_EQ(csv.Status, 0) << csv.Err;
    const auto a = nlohmann::json::parse(view.Out), b = nlohmann::json::parse(csv.Out);
    EXPECT_EQ(a["n"], b["n"]);
    EXPECT_EQ(a["equation"], b["equation"]);
    for (const char* key : {"constant", "y_mean", "y_variance", "multiple_r"})
        EXPECT_NEAR(a[key].get<double>(), b[key].get<double>(), 1e-12 * std::max(1.0, std::fabs(b[key].get<double>())))
            << key;
    EXPECT_EQ(RunCommand({"compute", db, "--table", "AskTemp", "--y", "Rain"}).Status, 2);
}

TEST(BatchEdits, UpdateInsertDeleteChangeTheFileAsComputeThenSeesIt)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const auto equation = [&] { return RunCommand({"compute", db, "--table", "Sample", "--y", "y", "--method", "full"}).Out; };
    const std::string before = equation();

    EXPECT_EQ(RunCommand({"update", db, "--table", "Sample", "--record", "5", "--set", "y=15", "--set", "X2=6.5"}).Status, 0);
    EXPECT_EQ(RunCommand({"insert", db, "--table", "Sample", "--set", "x1=6", "--set", "x2=5", "--set", "y=16"}).Status, 0);
    const std::string edited = equation();
    EXPECT_NE(edited, before);
    // The same records in a CSV file give the same equation.
    const auto csv = folder / "same.csv";
    WriteBytes(csv, "x1,x2,y\n1,2,3\n2,1,5\n3,4,7\n4,3,10\n5,6.5,15\n6,5,16\n");
    EXPECT_EQ(RunCommand({"compute", csv.string(), "--y", "y", "--method", "full"}).Out, edited);

    EXPECT_EQ(RunCommand({"delete", db, "--table", "Sample", "--record", "6"}).Status, 0);
    EXPECT_EQ(RunCommand({"update", db, "--table", "Sample", "--record", "5", "--set", "y=12", "--set", "x2=6"}).Status, 0);
    EXPECT_EQ(equation(), before);
}

TEST(BatchEdits, ADeleteSaysWhatTheTablesRelationshipsTookAlong)
{
    TempFolder folder;
    const std::string db = (folder / "related.mdb").string();
    std::filesystem::copy_file(DataFile("related.mdb"), db);
    std::filesystem::permissions(db, std::filesystem::perms(0644));
    const RunResult regions = RunCommand({"delete", db, "--table", "Regions", "--record", "1"});
    EXPECT_EQ(regions.Status, 0) << regions.Err;
    EXPECT_EQ(regions.Out, "Also: 2 records of the table 'Sites' left referring to nothing (the related fields emptied)\n");
    const RunResult stations = RunCommand({"delete", db, "--table", "Stations", "--record", "3"});
    EXPECT_EQ(stations.Out, "Also: 3 records of the table 'Observations' deleted\nAlso: 3 records of the table 'Series' deleted\n"
                            "Also: 9 records of the table 'Months' deleted\n");
    const std::string kept = ReadBytes(db);
    const RunResult elements = RunCommand({"delete", db, "--table", "Elements", "--record", "1"});
    EXPECT_EQ(elements.Status, 1);
    EXPECT_THAT(elements.Err, HasSubstr("because table 'Readings' includes related records"));
    EXPECT_EQ(elements.Out, "");
    EXPECT_EQ(ReadBytes(db), kept);
    EXPECT_EQ(RunCommand({"delete", db, "--table", "Readings", "--record", "3"}).Out, "");
}

TEST(BatchEdits, RefusalsExitOneAndLeaveTheFileUnchanged)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const std::string original = ReadBytes(db);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"update", db, "--table", "Types", "--record", "1", "--set", "I=40000"}, "'I'"},
        {{"update", db, "--table", "Sample", "--record", "6", "--set", "y=1"}, "no record 6"},
        {{"update", db, "--table", "Sample", "--record", "1", "--set", "z=1"}, "Unknown field 'z'"},
        {{"update", db, "--table", "Sample", "--record", "1", "--set", "y"}, "FIELD=VALUE"},
        {{"insert", db, "--table", "Keyed", "--set", "ID=7"}, "AutoNumber"},
        {{"delete", db, "--table", "WarmDays", "--record", "1"}, "view"},
        {{"delete", db, "--table", "Nowhere", "--record", "1"}, "Nowhere"},
    };
    for (const auto& [args, says] : cases) {
        const RunResult r = RunCommand(args);
        EXPECT_EQ(r.Status, 1) << says;
        EXPECT_THAT(r.Err, HasSubstr(says));
        EXPECT_EQ(ReadBytes(db), original) << says;
    }
    EXPECT_EQ(RunCommand({"update", db, "--table", "Sample", "--record", "1"}).Status, 2);  // no --set
    EXPECT_EQ(RunExecutable("delete " + db + " --table Sample").Status, 2);              // no --record
}

TEST(BatchExport, CsvSourcesAreWrittenAsTheyWereRead)
{
    TempFolder folder;
    const auto tricky = folder / "tricky.csv";
    WriteBytes(tricky, "\xEF\xBB\xBFname,\"note, with comma\",n\r\n\" a \",\"say \"\"hi\"\"\",1.50\r\n,\"\",\r\n"
                       "\"two\nlines\",x,04\r\n");
    for (const std::string& source : {tricky.string(), DataFile("TextValues.csv"), DataFile("降水.csv")}) {
        const RunResult r = RunCommand({"export", source});
        ASSERT_EQ(r.Status, 0) << r.Err;
        EXPECT_EQ(r.Out.find('\r'), std::string::npos) << source;
        EXPECT_EQ(CellsOf(ParseCsv(r.Out, "export")), CellsOf(ReadCsvFile(source))) << source;
    }
}

TEST(BatchExport, AccessTablesAgreeWithTheirCsvCopies)
{
    for (const std::string table : {"Weather", "Stations", "Nulls", "Longley", "Rain Data", "Empty", "降水"}) {
        const RunResult r = RunCommand({"export", DataFile("regression.mdb"), "--table", table});
        ASSERT_EQ(r.Status, 0) << table << ": " << r.Err;
        std::string copyName = table;
        std::replace(copyName.begin(), copyName.end(), ' ', '_');
        const auto [names, rows] = CellsOf(ParseCsv(r.Out, table));
        const auto [copyNames, copyRows] = CellsOf(ReadCsvFile(DataFile(copyName + ".csv")));
        EXPECT_EQ(names, copyNames) << table;
        ASSERT_EQ(rows.size(), copyRows.size()) << table;
        for (std::size_t row = 0; row < rows.size(); ++row)
            for (std::size_t field = 0; field < names.size(); ++field)
                ExpectSameValue(rows[row][field], copyRows[row][field],
                                table + " record " + std::to_string(row + 1) + " " + names[field]);
    }
}

TEST(BatchExport, BadSourcesExitTwoAndAFailedWriteOne)
{
    const std::string db = DataFile("regression.mdb");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"export", db, "--table", "Nowhere"}, "Nowhere"},
        {{"export", db}, "--table"},
        {{"export", "/no/such.mdb", "--table", "Sample"}, "/no/such.mdb"},
        {{"export", Sample, "--table", "Sample"}, "--table applies to Access databases"},
        {{"export", DataFile("")}, "folder"},
    };
    for (const auto& [args, says] : cases) {
        const RunResult r = RunCommand(args);
        EXPECT_EQ(r.Status, 2) << says;
        EXPECT_THAT(r.Err, HasSubstr(says));
        EXPECT_EQ(r.Out, "") << says;
    }
    EXPECT_EQ(RunExecutable("export " + Sample).Status, 0);
    EXPECT_EQ(RunExecutable("export " + Sample + " >/dev/full").Status, 1);
}
