// The skill and forecast subcommands as a script uses them: their JSON against the statistics
// objects computed from the same records, the errors for bad input, and the plot files.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <string>
#include <vector>

#include "tests/BatchRun.h"
#include "tests/StatisticsTestSupport.h"
#include "batch/CsvReader.h"
#include "statistics/Skill.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;
using nlohmann::json;

namespace {

const std::string Database = DataFile("regression.mdb");

// A table of the database as the CSV reader gives it: the same numbers the command reads.
TMemoryDataSet TableOf(const std::string& table)
{
    const RunResult r = RunCommand({"export", Database, "--table", table});
    EXPECT_EQ(r.Status, 0) << r.Err;
    return ParseCsv(r.Out, table);
}

std::vector<std::string> FactorsBut(const TMemoryDataSet& table, const std::string& y)
{
    std::vector<std::string> names;
    for (const auto& name : table.FieldNames())
        if (name != y) names.push_back(name);
    return names;
}

json Optional(const std::optional<double>& v) { return v ? json(*v) : json(nullptr); }

void WriteCsv(const std::string& path, const std::string& text) { WriteBytes(path, text); }

}  // namespace

TEST(BatchSkill, JsonCarriesTheEquationAndTheCrossValidationOfTheSameRecords)
{
    struct Run {
        std::string Table, Y, Method, Leave;
    };
    for (const Run& run : {Run{"ElNino", "DEC", "stepwise", "1"}, Run{"ElNino", "DEC", "full", "5"},
                           Run{"Longley", "TOTEMP", "full", "1"}, Run{"Stepwise4", "Y", "stepwise", "3"}}) {
        const std::string label = run.Table + " " + run.Method + " leave " + run.Leave;
        const RunResult r = RunCommand({"skill", Database, "--table", run.Table, "--y", run.Y, "--method", run.Method,
                                        "--leave", run.Leave, "--json"});
        ASSERT_EQ(r.Status, 0) << label << ": " << r.Err;
        const json got = json::parse(r.Out);

        TMemoryDataSet table = TableOf(run.Table);
        const std::vector<std::string> factors = FactorsBut(table, run.Y);
        const std::int32_t method = run.Method == "full" ? MethodFull : MethodStepwise;
        const TSkill want = ComputeSkill(table, factors, run.Y, {method, 4.0, std::stoi(run.Leave)});
        const RunResult compute = RunCommand({"compute", Database, "--table", run.Table, "--y", run.Y, "--method", run.Method});

        EXPECT_EQ(got["equation"].get<std::string>() + "\n", compute.Out) << label;
        EXPECT_EQ(got["n"], table.RecordCount()) << label;
        EXPECT_EQ(got["leave"], std::stoi(run.Leave)) << label;
        EXPECT_EQ(got["method"], run.Method) << label;
        EXPECT_EQ(got["fa"], 4.0) << label;
        EXPECT_EQ(got["factors"], json(want.Equation.FactorNames())) << label;
        ASSERT_EQ(got["coefficients"].size(), want.Equation.Coefficients().size()) << label;
        for (std::size_t i = 0; i < want.Equation.Coefficients().size(); ++i) {
            const TCoefficient& c = want.Equation.Coefficients()[i];
            const json& g = got["coefficients"][i];
            EXPECT_EQ(g["factor"], c.Name);
            EXPECT_EQ(g["b"], c.B);
            EXPECT_EQ(g["se"], Optional(c.SE));
            EXPECT_EQ(g["t"], Optional(c.T));
            EXPECT_EQ(g["p"], Optional(c.P));
            EXPECT_EQ(g["vif"], c.VIF);
        }
        ASSERT_EQ(got["steps"].size(), want.Equation.Steps().size()) << label;
        for (std::size_t i = 0; i < want.Equation.Steps().size(); ++i) {
            const TStep& s = want.Equation.Steps()[i];
            EXPECT_EQ(got["steps"][i]["action"], s.Action == TStep::TAction::Enter ? "enter" : "remove");
            EXPECT_EQ(got["steps"][i]["factor"], factors[static_cast<std::size_t>(s.Factor)]);
            EXPECT_EQ(got["steps"][i]["v"], s.V);
            EXPECT_EQ(got["steps"][i]["f"], s.F);
        }
        EXPECT_EQ(got["constant"], want.Equation.Constant()) << label;
        EXPECT_EQ(got["r2"], want.Equation.R2()) << label;
        EXPECT_EQ(got["adj_r2"], Optional(want.Equation.AdjustedR2())) << label;
        EXPECT_EQ(got["s"], Optional(want.Equation.S())) << label;
        EXPECT_EQ(got["f"], Optional(want.Equation.F())) << label;
        EXPECT_EQ(got["f_p"], Optional(want.Equation.FP())) << label;
        EXPECT_EQ(got["hindcast"], json(want.Validation.Hindcast)) << label;
        EXPECT_EQ(got["cv_correlation"], Optional(want.Validation.Correlation)) << label;
        EXPECT_EQ(got["cv_rmse"], want.Validation.Rmse) << label;
        EXPECT_EQ(got["cv_mae"], want.Validation.Mae) << label;
        EXPECT_EQ(got["msss"], Optional(want.Validation.Msss)) << label;
        EXPECT_EQ(got["failed_folds"], want.Validation.FailedFolds) << label;
        ASSERT_EQ(got["selection_counts"].size(), factors.size()) << label;
        for (std::size_t i = 0; i < factors.size(); ++i)
            EXPECT_EQ(got["selection_counts"][factors[i]], want.Validation.SelectionCounts[i]) << label << " " << factors[i];
    }
}

TEST(BatchSkill, TextNamesTheFiguresAndUndeterminedOnesAreNullNotNaN)
{
    TempFolder folder;
    // Four records and three factors: the equation fits exactly, with no residual degrees of
    // freedom, and no fold of three records can be computed.
    const std::string exact = (folder / "exact.csv").string();
    WriteCsv(exact, "a,b,c,y\n1,5,0,2\n2,3,1,7\n4,4,3,1\n5,1,1,3\n");
    const RunResult r = RunCommand({"skill", exact, "--y", "y", "--method", "full", "--json"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const json got = json::parse(r.Out);
    for (const char* key : {"adj_r2", "s", "f", "f_p"}) EXPECT_TRUE(got[key].is_null()) << key;
    for (const auto& c : got["coefficients"])
        for (const char* key : {"se", "t", "p"}) EXPECT_TRUE(c[key].is_null()) << key;
    EXPECT_EQ(got["failed_folds"], 4);
    const RunResult text = RunCommand({"skill", exact, "--y", "y", "--method", "full"});
    EXPECT_THAT(text.Out, HasSubstr("s=—"));

    WriteCsv(exact, "a,b,y\n1,5,2\n2,3,7\n4,4,1\n");
    // Three records leave none to fit once one is out: refused before anything is computed.
    const RunResult few = RunCommand({"skill", exact, "--y", "y", "--method", "full", "--json"});
    EXPECT_EQ(few.Status, 2);
    EXPECT_THAT(few.Err, HasSubstr("--leave"));

    const RunResult full = RunCommand({"skill", Database, "--table", "Stepwise4", "--y", "Y"});
    ASSERT_EQ(full.Status, 0) << full.Err;
    for (const char* word : {"Steps (Fa = 4.00):", "enter", "VIF", "constant", "R²=", "adjusted R²=", "s=", "p(F)=",
                             "Cross-validated, leaving 1 record out per fold (20 folds, 0 failed):", "MSSS=",
                             "Folds whose equation held each factor:"})
        EXPECT_THAT(full.Out, HasSubstr(word));
}

TEST(BatchSkill, FoldsWithAConstantFactorAreCountedAndTheJsonStaysValid)
{
    TempFolder folder;
    const std::string path = (folder / "fold.csv").string();
    std::string csv = "a,c,y\n";
    for (int k = 0; k < 12; ++k)
        csv += std::to_string(k % 5) + "," + (k == 4 ? "3" : "0") + "," + std::to_string(2 * (k % 5) + (k % 3)) + "\n";
    WriteCsv(path, csv);
    const RunResult r = RunCommand({"skill", path, "--y", "y", "--method", "full", "--leave", "3", "--json"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const json got = json::parse(r.Out);
    EXPECT_EQ(got["failed_folds"], 3);
    EXPECT_EQ(got["selection_counts"]["c"], 9);
    EXPECT_EQ(got["hindcast"].size(), 12u);
    for (const auto& h : got["hindcast"]) EXPECT_TRUE(h.is_number_float());
}

TEST(BatchSkill, BadRequestsExitWithStatusTwoAndSayWhy)
{
    auto failure = [](std::vector<std::string> args) {
        const RunResult r = RunCommand(std::move(args));
        EXPECT_EQ(r.Status, 2) << r.Out;
        return r.Err;
    };
    EXPECT_THAT(failure({"skill", Database, "--table", "ElNino", "--y", "DEC", "--leave", "4"}), HasSubstr("odd"));
    EXPECT_THAT(failure({"skill", Database, "--table", "ElNino", "--y", "DEC", "--leave", "0"}), HasSubstr("odd"));
    EXPECT_THAT(failure({"skill", Database, "--table", "ElNino", "--y", "DEC", "--leave", "61"}), HasSubstr("too few"));
    EXPECT_THAT(failure({"skill", Database, "--table", "ElNino", "--y", "NOPE"}), HasSubstr("Unknown field 'NOPE'"));
#ifdef QUORLIN_HAVE_CHARTS  // without the charts any --plot is refused for that (BatchSkillPlot)
    EXPECT_THAT(failure({"skill", Database, "--table", "ElNino", "--y", "DEC", "--plot", "x.pdf"}), HasSubstr(".svg or a .png"));
#endif
    const RunResult json = RunCommand({"skill", Database, "--table", "ElNino", "--y", "DEC", "--leave", "2", "--json"});
    EXPECT_EQ(json::parse(json.Out).at("error").get<std::string>().find("--leave"), 0u);
}

TEST(BatchForecast, ValuesGiveTheEquationsForecastAndInterval)
{
    TMemoryDataSet table = TableOf("ElNino");
    const std::vector<std::string> factors = FactorsBut(table, "DEC");
    const TFittedEquation equation(table, factors, "DEC", MethodStepwise, 4.0);
    ASSERT_EQ(equation.FactorNames(), std::vector<std::string>{"NOV"});

    const RunResult r = RunCommand({"forecast", Database, "--table", "ElNino", "--y", "DEC", "--with", "NOV=23.5",
                                    "--with", "OCT=22", "--json"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const json got = json::parse(r.Out);
    const TForecast want = equation.Forecast(std::vector<double>{23.5}, 0.95);
    EXPECT_EQ(got["forecast"], want.Value);
    EXPECT_EQ(got["lower"], want.Lower);
    EXPECT_EQ(got["upper"], want.Upper);
    EXPECT_EQ(got["level"], 95.0);

    const RunResult narrow = RunCommand({"forecast", Database, "--table", "ElNino", "--y", "DEC", "--with", "nov=23.5",
                                         "--level", "80", "--json"});
    ASSERT_EQ(narrow.Status, 0) << narrow.Err;
    const TForecast at80 = equation.Forecast(std::vector<double>{23.5}, 0.80);
    EXPECT_EQ(json::parse(narrow.Out)["upper"], at80.Upper);
    EXPECT_LT(at80.Upper, want.Upper);

    const RunResult text = RunCommand({"forecast", Database, "--table", "ElNino", "--y", "DEC", "--with", "NOV=23.5"});
    EXPECT_EQ(text.Status, 0);
    EXPECT_THAT(text.Out, HasSubstr("DEC=" + FormatFloat("%.6g", want.Value) + "  95% interval "));
}

TEST(BatchForecast, CasesFromACsvFileOneLineEach)
{
    TempFolder folder;
    const std::string cases = (folder / "cases.csv").string();
    WriteCsv(cases, "YEAR,nov\n2011,21.5\n2012,24.25\n");
    const RunResult r = RunCommand({"forecast", Database, "--table", "ElNino", "--y", "DEC", "--cases", cases, "--json"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    TMemoryDataSet table = TableOf("ElNino");
    const TFittedEquation equation(table, FactorsBut(table, "DEC"), "DEC", MethodStepwise, 4.0);
    std::istringstream lines(r.Out);
    std::string line;
    for (double nov : {21.5, 24.25}) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(json::parse(line)["forecast"], equation.Forecast(std::vector<double>{nov}, 0.95).Value);
    }
    EXPECT_FALSE(std::getline(lines, line));
}

TEST(BatchForecast, MissingOrBadCasesExitWithStatusTwoNamingWhat)
{
    TempFolder folder;
    auto failure = [](std::vector<std::string> args) {
        const RunResult r = RunCommand(std::move(args));
        EXPECT_EQ(r.Status, 2) << r.Out;
        return r.Err;
    };
    const std::vector<std::string> base{"forecast", Database, "--table", "ElNino", "--y", "DEC"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = base;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    EXPECT_THAT(failure(with({"--with", "OCT=22"})), HasSubstr("factor 'NOV'"));
    EXPECT_THAT(failure(with({"--with", "NOV=warm"})), HasSubstr("'warm' is not a valid floating point value"));
    EXPECT_THAT(failure(with({"--with", "NOV=1", "--with", "nov=2"})), HasSubstr("given twice"));
    EXPECT_THAT(failure(with({"--with", "NOV=1", "--with", "RAIN=2"})), HasSubstr("Unknown field 'RAIN'"));
    EXPECT_THAT(failure(with({"--with", "NOV"})), HasSubstr("FACTOR=VALUE"));
    EXPECT_THAT(failure(with({})), HasSubstr("--with"));
    EXPECT_THAT(failure(with({"--with", "NOV=1", "--level", "100"})), HasSubstr("percentage"));

    const std::string noColumn = (folder / "a.csv").string(), emptyCell = (folder / "b.csv").string();
    WriteCsv(noColumn, "OCT\n22\n");
    WriteCsv(emptyCell, "OCT,NOV\n22,\n");
    EXPECT_THAT(failure(with({"--cases", noColumn})), HasSubstr("no column for factor 'NOV'"));
    EXPECT_THAT(failure(with({"--cases", emptyCell})), HasSubstr("Case 1"));
    EXPECT_EQ(RunCommand(with({"--cases", noColumn, "--with", "NOV=1"})).Status, 2);
}

TEST(BatchForecast, AnEquationWithoutDegreesOfFreedomHasNoInterval)
{
    TempFolder folder;
    const std::string exact = (folder / "exact.csv").string();
    WriteCsv(exact, "a,b,y\n1,5,2\n2,3,7\n4,4,1\n");
    const RunResult r = RunCommand({"forecast", exact, "--y", "y", "--method", "full", "--with", "a=1", "--with", "b=2"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr("no degrees of freedom"));
}

#ifdef QUORLIN_HAVE_CHARTS
TEST(BatchSkillPlot, WritesSvgAndPngPictures)
{
    TempFolder folder;
    const std::string svg = (folder / "elnino.svg").string(), png = (folder / "elnino.PNG").string();
    for (const std::string& path : {svg, png}) {
        const RunResult r = RunCommand({"skill", Database, "--table", "ElNino", "--y", "DEC", "--plot", path});
        ASSERT_EQ(r.Status, 0) << r.Err;
        EXPECT_EQ(r.Err, "");
    }
    const std::string svgText = ReadBytes(svg);
    EXPECT_THAT(svgText, HasSubstr("<svg"));
    // Three lines of 61 records, their legend and axes: far more than an empty frame.
    EXPECT_GT(svgText.size(), 20000u);
    // The first column holds years, and the axis says so.
    EXPECT_THAT(svgText, HasSubstr("年份"));
    const std::string pngBytes = ReadBytes(png);
    ASSERT_GT(pngBytes.size(), 10000u);
    EXPECT_EQ(pngBytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

TEST(BatchSkillPlot, APlotNeverReplacesADatabase)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const std::string before = ReadBytes(db);
    std::filesystem::create_symlink(db, folder / "db.svg");
    const RunResult r = RunCommand({"skill", Database, "--table", "ElNino", "--y", "DEC", "--plot", (folder / "db.svg").string()});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr("db.svg"));
    EXPECT_EQ(ReadBytes(db), before);
}
#else
TEST(BatchSkillPlot, RefusedWithoutCharts)
{
    const RunResult r = RunCommand({"skill", Database, "--table", "ElNino", "--y", "DEC", "--plot", "x.svg"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_THAT(r.Err, HasSubstr("without Qt"));
}
#endif
