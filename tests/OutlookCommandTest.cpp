// The outlook options of the skill and forecast subcommands as a script uses them: exactly the
// keys they add, each holding what the statistics compute from the same records, the lines a
// forecaster reads, nothing changed for a run without them, and the charts they add to a plot.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/BatchRun.h"
#include "tests/StatisticsTestSupport.h"
#include "batch/CsvReader.h"
#include "statistics/Skill.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;
// Parsed keeping the order of the keys, which is part of what a script may rely on.
using json = nlohmann::ordered_json;

namespace {

const std::string ElNinoCsv = std::string(QUORLIN_EXAMPLES) + "/elnino.csv";
const std::vector<std::string> Autumn{"--x", "SEP", "--x", "OCT", "--x", "NOV"};

std::vector<std::string> Args(std::vector<std::string> head, const std::vector<std::string>& more)
{
    head.insert(head.end(), Autumn.begin(), Autumn.end());
    head.insert(head.end(), more.begin(), more.end());
    return head;
}

json SkillJson(const std::vector<std::string>& more)
{
    const RunResult r = RunCommand(Args({"skill", ElNinoCsv, "--y", "DEC", "--json"}, more));
    EXPECT_EQ(r.Status, 0) << r.Err;
    return json::parse(r.Out);
}

std::vector<std::string> Keys(const json& object)
{
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

json Optional(const std::optional<double>& v) { return v ? json(*v) : json(nullptr); }

TSkill ComputeElNino(const TSkillOptions& options)
{
    TMemoryDataSet table = NumberTableFile(ElNinoCsv);
    return ComputeSkill(table, {"SEP", "OCT", "NOV"}, "DEC", options);
}

const std::vector<std::string> ClassicKeys{"equation", "y", "n", "leave", "method", "fa", "factors", "steps",
                                           "coefficients", "constant", "r2", "adj_r2", "s", "f", "f_p", "hindcast",
                                           "cv_correlation", "cv_rmse", "cv_mae", "msss", "selection_counts",
                                           "failed_folds"};

}  // namespace

TEST(BatchOutlook, WithoutTheNewOptionsNothingChanges)
{
    EXPECT_EQ(Keys(SkillJson({"--leave", "3"})), ClassicKeys);
    const RunResult plain = RunCommand(Args({"skill", ElNinoCsv, "--y", "DEC"}, {}));
    const RunResult outlook = RunCommand(Args({"skill", ElNinoCsv, "--y", "DEC"}, {"--terciles", "--retroactive", "--null", "9"}));
    // The classic lines come first, unchanged; the new ones follow them.
    EXPECT_EQ(outlook.Out.substr(0, plain.Out.size()), plain.Out);
    EXPECT_GT(outlook.Out.size(), plain.Out.size());
    const RunResult forecast = RunCommand(Args({"forecast", ElNinoCsv, "--y", "DEC", "--with", "NOV=24.1", "--json"}, {}));
    EXPECT_EQ(Keys(json::parse(forecast.Out)), (std::vector<std::string>{"forecast", "lower", "upper", "level"}));
}

TEST(BatchOutlook, TercilesAddTheirKeysWithTheStatisticsFigures)
{
    const json got = SkillJson({"--leave", "3", "--terciles"});
    std::vector<std::string> keys = ClassicKeys;
    for (const char* key : {"terciles", "hindcast_probabilities", "observed_categories", "rpss", "roc_below", "roc_above",
                            "hss", "reliability"})
        keys.push_back(key);
    EXPECT_EQ(Keys(got), keys);

    const TSkill want = ComputeElNino({MethodStepwise, 4.0, 3, true});
    const TProbabilisticHindcast& outlook = *want.Outlook;
    EXPECT_EQ(got["terciles"], (json{{"lower", want.Terciles->Lower}, {"upper", want.Terciles->Upper}}));
    ASSERT_EQ(got["hindcast_probabilities"].size(), 61u);
    for (std::size_t k = 0; k < 61; ++k) {
        const TTercileProbabilities& p = outlook.Probabilities[k];
        EXPECT_EQ(got["hindcast_probabilities"][k], (json{p.Below, p.Near, p.Above})) << k;
        EXPECT_EQ(got["observed_categories"][k], CategoryKey(outlook.Observed[k])) << k;
    }
    EXPECT_EQ(got["rpss"], Optional(outlook.Scores.Rpss));
    EXPECT_EQ(got["roc_below"], Optional(outlook.Scores.RocBelow));
    EXPECT_EQ(got["roc_above"], Optional(outlook.Scores.RocAbove));
    EXPECT_EQ(got["hss"], Optional(outlook.Scores.Hss));
    for (const char* event : {"below", "above"}) {
        const auto& bins = std::string(event) == "below" ? outlook.Scores.ReliabilityBelow : outlook.Scores.ReliabilityAbove;
        ASSERT_EQ(got["reliability"][event].size(), 10u);
        int count = 0;
        for (std::size_t b = 0; b < 10; ++b) {
            const json& bin = got["reliability"][event][b];
            EXPECT_EQ(Keys(bin), (std::vector<std::string>{"bin", "count", "observed"}));
            EXPECT_EQ(bin["bin"], (json{static_cast<double>(b) / 10.0, static_cast<double>(b + 1) / 10.0}));
            EXPECT_EQ(bin["count"], bins[b].Count);
            EXPECT_EQ(bin["observed"], Optional(bins[b].Observed));
            count += bin["count"].get<int>();
        }
        EXPECT_EQ(count, 61) << event;
    }
}

TEST(BatchOutlook, RetroactiveFromHalfTheRecordsOrAGivenStart)
{
    const json half = SkillJson({"--retroactive"});
    EXPECT_EQ(Keys(half["retroactive"]), (std::vector<std::string>{"start", "hindcast", "correlation", "rmse", "mae", "msss"}));
    EXPECT_EQ(half["retroactive"]["start"], 31);
    EXPECT_EQ(half["retroactive"]["hindcast"].size(), 30u);

    const json given = SkillJson({"--retroactive", "40", "--terciles"});
    const json& r = given["retroactive"];
    EXPECT_EQ(Keys(r), (std::vector<std::string>{"start", "hindcast", "correlation", "rmse", "mae", "msss", "rpss",
                                                 "roc_below", "roc_above", "hss"}));
    const TSkill want = ComputeElNino({MethodStepwise, 4.0, 1, true, 40});
    EXPECT_EQ(r["start"], 40);
    EXPECT_EQ(r["hindcast"], json(want.Retroactive->Hindcast));
    EXPECT_EQ(r["correlation"], Optional(want.Retroactive->Correlation));
    EXPECT_EQ(r["rmse"], want.Retroactive->Rmse);
    EXPECT_EQ(r["mae"], want.Retroactive->Mae);
    EXPECT_EQ(r["msss"], Optional(want.Retroactive->Msss));
    EXPECT_EQ(r["rpss"], Optional(want.RetroactiveOutlook->Scores.Rpss));
    EXPECT_EQ(r["hss"], Optional(want.RetroactiveOutlook->Scores.Hss));
}

TEST(BatchOutlook, NullTestWithItsSeed)
{
    const json got = SkillJson({"--null", "19", "--seed", "7"});
    const json& null = got["null"];
    EXPECT_EQ(Keys(null), (std::vector<std::string>{"runs", "seed", "p_correlation", "p_msss", "p_rpss", "q95_correlation",
                                                    "q95_msss", "q95_rpss"}));
    EXPECT_EQ(null["runs"], 19);
    EXPECT_EQ(null["seed"], 7);
    // November forecasts December far better than any shuffle: p is the least it can be.
    EXPECT_EQ(null["p_correlation"], 1.0 / 20);
    EXPECT_EQ(null["p_msss"], 1.0 / 20);
    EXPECT_TRUE(null["p_rpss"].is_null());
    EXPECT_TRUE(null["q95_rpss"].is_null());
    TMemoryDataSet table = NumberTableFile(ElNinoCsv);
    const TScreeningNull want = ComputeNullTest(table, {"SEP", "OCT", "NOV"}, "DEC", {}, {19, 7, false});
    EXPECT_EQ(null["q95_correlation"], Optional(want.Correlation.Q95));
    EXPECT_EQ(null["q95_msss"], Optional(want.Msss.Q95));
    EXPECT_EQ(SkillJson({"--null", "19", "--seed", "7"}), got);
    EXPECT_TRUE(SkillJson({"--null", "19", "--terciles"})["null"]["p_rpss"].is_number());
}

TEST(BatchOutlook, ForecastChancesOfEachCategory)
{
    TMemoryDataSet table = NumberTableFile(ElNinoCsv);
    const TFittedEquation equation(table, {"SEP", "OCT", "NOV"}, "DEC", MethodStepwise, 4.0);
    const TTerciles terciles = Terciles(ColumnValues(table, "DEC"));
    for (double nov : {21.9, 22.6, 23.4}) {
        const std::string with = "NOV=" + std::to_string(nov);
        const RunResult r = RunCommand(Args({"forecast", ElNinoCsv, "--y", "DEC", "--with", with, "--terciles", "--json"}, {}));
        ASSERT_EQ(r.Status, 0) << r.Err;
        const json got = json::parse(r.Out);
        EXPECT_EQ(Keys(got), (std::vector<std::string>{"forecast", "lower", "upper", "level", "lower_tercile", "upper_tercile",
                                                       "p_below", "p_near", "p_above"}));
        const TTercileForecast want = ForecastTerciles(equation, std::vector<double>{nov}, terciles);
        EXPECT_EQ(got["lower_tercile"], terciles.Lower);
        EXPECT_EQ(got["upper_tercile"], terciles.Upper);
        EXPECT_EQ(got["p_below"], want.Probabilities.Below);
        EXPECT_EQ(got["p_near"], want.Probabilities.Near);
        EXPECT_EQ(got["p_above"], want.Probabilities.Above);
        const RunResult text = RunCommand(Args({"forecast", ElNinoCsv, "--y", "DEC", "--with", with, "--terciles"}, {}));
        const std::string chances = "below " + FormatFloat("%.0f", 100 * want.Probabilities.Below) + "%  near " +
                                    FormatFloat("%.0f", 100 * want.Probabilities.Near) + "%  above " +
                                    FormatFloat("%.0f", 100 * want.Probabilities.Above) + "%";
        EXPECT_THAT(text.Out, HasSubstr("% interval "));
        EXPECT_THAT(text.Out, HasSubstr(chances));
    }
}

TEST(BatchOutlook, TextLinesAForecasterReads)
{
    const RunResult r =
        RunCommand(Args({"skill", ElNinoCsv, "--y", "DEC"}, {"--terciles", "--retroactive", "30", "--null", "9"}));
    ASSERT_EQ(r.Status, 0) << r.Err;
    for (const char* text : {"Tercile outlook of the hindcasts", "RPSS=", "ROC area below=", "HSS=", "Reliability",
                             "0.9-1: ", "Retroactive: each record after the first 30", "(31 forecasts, 0 failed)",
                             "Screening null test", "9 shuffles of Y (seed 1)", "correlation=", "p=0.1  (one shuffle in 20"})
        EXPECT_THAT(r.Out, HasSubstr(text));
}

TEST(BatchOutlook, BadRequestsExitWithStatusTwoNamingTheOption)
{
    auto failure = [](const std::vector<std::string>& more) {
        const RunResult r = RunCommand(Args({"skill", ElNinoCsv, "--y", "DEC"}, more));
        EXPECT_EQ(r.Status, 2) << r.Out;
        return r.Err;
    };
    EXPECT_THAT(failure({"--retroactive", "61"}), HasSubstr("--retroactive"));
    EXPECT_THAT(failure({"--retroactive", "2"}), HasSubstr("at least 3"));
    EXPECT_THAT(failure({"--retroactive", "half"}), HasSubstr("whole number"));
    EXPECT_THAT(failure({"--null", "0"}), HasSubstr("at least 1"));
    EXPECT_THAT(failure({"--null", "many"}), HasSubstr("--null"));
    EXPECT_THAT(failure({"--null", "5", "--seed", "-3"}), HasSubstr("--seed"));
    EXPECT_THAT(failure({"--seed", "3"}), HasSubstr("--null"));
}

#ifdef QUORLIN_HAVE_CHARTS
namespace {

// What an XML parser makes of a file: the root element's name and its view box, or its complaint.
std::string SvgRoot(const std::string& path)
{
    const std::string command =
        "python3 -c \"import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); "
        "print(r.tag.split('}')[-1], r.get('viewBox'))\" '" + path + "' 2>&1";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "popen failed";
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ::pclose(pipe);
    return out;
}

// A PNG's width and height, from its header chunk; zero when the file is no PNG.
std::pair<std::uint32_t, std::uint32_t> PngSize(const std::string& bytes)
{
    if (bytes.size() < 24 || bytes.compare(0, 8, std::string("\x89PNG\r\n\x1a\n", 8)) != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto word = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | static_cast<unsigned char>(bytes[at + k]);
        return v;
    };
    return {word(16), word(20)};
}

std::string ThreeDigits(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", v);
    return text;
}

// The words an SVG draws, without its markup or any blank: a label drawn in runs of one font
// each reads as one piece.
std::string DrawnText(const std::string& svg)
{
    std::string text;
    bool inTag = false;
    for (char c : svg) {
        if (c == '<') inTag = true;
        else if (c == '>') inTag = false;
        else if (!inTag && !std::isspace(static_cast<unsigned char>(c))) text += c;
    }
    return text;
}

}  // namespace

// --plot draws the outlook's charts in a row below the two it always draws: the reliability
// diagram with --terciles, each figure's null distribution with --null, the actual figure and
// its p in the legend as the statistics compute them.
TEST(BatchOutlookPlot, TheReliabilityDiagramAndTheNullDistributionsGoBelowTheCharts)
{
    TempFolder folder;
    auto plot = [&](const std::string& name, std::vector<std::string> more) {
        const std::string path = (folder / name).string();
        more.insert(more.end(), {"--plot", path});
        const RunResult r = RunCommand(Args({"skill", ElNinoCsv, "--y", "DEC"}, more));
        EXPECT_EQ(r.Status, 0) << r.Err;
        EXPECT_EQ(r.Err, "");
        return ReadBytes(path);
    };
    const std::string classic = DrawnText(plot("classic.svg", {}));
    const std::string terciles = DrawnText(plot("terciles.svg", {"--terciles"}));
    const std::string noise = DrawnText(plot("null.svg", {"--null", "20"}));
    const std::string both = DrawnText(plot("both.svg", {"--terciles", "--null", "20", "--seed", "3"}));

    EXPECT_EQ(SvgRoot((folder / "classic.svg").string()), "svg 0 0 1420 520\n");
    for (const char* name : {"terciles.svg", "null.svg", "both.svg"})
        EXPECT_EQ(SvgRoot((folder / name).string()), "svg 0 0 1420 980\n") << name;

    const std::string reliability = "可靠性图", correlation = "相关系数p=", msss = "MSSSp=", rpss = "RPSSp=";
    for (const std::string& text : {reliability, correlation, msss, rpss}) EXPECT_EQ(classic.find(text), std::string::npos);
    EXPECT_THAT(terciles, HasSubstr(reliability));
    EXPECT_EQ(terciles.find(correlation), std::string::npos);
    EXPECT_THAT(noise, HasSubstr(correlation));
    EXPECT_THAT(noise, HasSubstr(msss));
    EXPECT_EQ(noise.find(rpss), std::string::npos) << "no RPSS without --terciles";
    EXPECT_EQ(noise.find(reliability), std::string::npos);
    for (const std::string& text : {reliability, correlation, msss, rpss}) EXPECT_THAT(both, HasSubstr(text));

    TMemoryDataSet table = NumberTableFile(ElNinoCsv);
    TSkillOptions options;
    options.Terciles = true;
    TNullOptions runs;
    runs.Runs = 20;
    runs.Seed = 3;
    const TScreeningNull null = ComputeNullTest(table, {"SEP", "OCT", "NOV"}, "DEC", options, runs);
    const std::pair<std::string, const TNullFigure*> figures[] = {
        {correlation, &null.Correlation}, {msss, &null.Msss}, {rpss, &*null.Rpss}};
    for (const auto& [title, figure] : figures) {
        EXPECT_THAT(both, HasSubstr(title + ThreeDigits(*figure->P)));
        EXPECT_THAT(both, HasSubstr("实际" + ThreeDigits(*figure->Actual)));
    }

    plot("classic.png", {});
    plot("both.png", {"--terciles", "--null", "20"});
    EXPECT_EQ(PngSize(ReadBytes(folder / "classic.png")), std::make_pair(1420u, 520u));
    EXPECT_EQ(PngSize(ReadBytes(folder / "both.png")), std::make_pair(1420u, 980u));
}
#endif
