#include "batch/SkillCommand.h"

#include <climits>
#include <cstdint>
#include <optional>
#include <ostream>

#include "numeric/FloatError.h"
#include "statistics/Skill.h"
#include "support/AsciiText.h"
#include "support/Messages.h"
#include "support/ReportTarget.h"
#include "batch/BatchSource.h"
#include "batch/ForecastCases.h"
#include "batch/JsonText.h"
#include "batch/SkillOutput.h"
#include "batch/OutlookOutput.h"
#ifdef QUORLIN_HAVE_CHARTS
#include "charts/SkillChart.h"
#endif

namespace quorlin {

namespace {

void AddEquationOptions(CLI::App& cmd, TEquationOptions& options)
{
    cmd.add_option("SOURCE", options.Source, "Access database or CSV file holding the records")->required();
    cmd.add_option("--table", options.Table, "The table or view of an Access database");
    cmd.add_option("--y", options.Y, "The forecast element Y (a field name)")->required();
    cmd.add_option("--x", options.X, "A candidate factor; repeat for several. Default: every field but Y");
    cmd.add_option("--method", options.Method, "stepwise (default) or full")->check(CLI::IsMember({"stepwise", "full"}));
    cmd.add_option("--fa", options.Fa, "The F threshold of the stepwise method (default 4.00)");
    cmd.add_flag("--json", options.Json, "Print JSON instead of text; on failure {\"error\": message}");
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& end)
{
    const std::string lower = LowerAscii(text);
    return lower.size() >= end.size() && lower.compare(lower.size() - end.size(), end.size(), end) == 0;
}

void CheckPlotPath(const std::string& path)
{
    if (path.empty()) return;
#ifndef QUORLIN_HAVE_CHARTS
    throw EUsage(Tr("--plot needs the charts, and this quorlin-batch was built without Qt (QUORLIN_DESKTOP=OFF)"));
#endif
    if (!EndsWithIgnoringCase(path, ".svg") && !EndsWithIgnoringCase(path, ".png"))
        throw EUsage(Format(Tr("--plot writes a .svg or a .png file, not '%1$s'"), EchoedText(path)));
}

void SavePlot(const TSkill& skill, const std::optional<TScreeningNull>& null, TSource& source, const std::string& path,
              const std::string& sourcePath)
{
#ifdef QUORLIN_HAVE_CHARTS
    TSkillChartData data;
    data.YName = skill.Equation.YName();
    data.Axis = RecordAxis(source.DataSet(), source.FieldNames().front(), data.Years);
    data.Observed = skill.Observed;
    data.Fitted = skill.Fitted;
    data.Hindcast = skill.Validation.Hindcast;
    data.Leave = skill.Validation.Leave;
    if (skill.Outlook) data.Outlook = skill.Outlook->Scores;
    data.Null = null;
    SaveSkillChart(data, path, sourcePath);
#else
    (void)skill, (void)null, (void)source, (void)path, (void)sourcePath;
#endif
}

std::int32_t WholeNumber(const char* option, const std::string& text)
{
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value < INT32_MIN || value > INT32_MAX)
        throw EUsage(Format(Tr("%1$s needs a whole number, not '%2$s'"), option, EchoedText(text)));
    return static_cast<std::int32_t>(value);
}

std::uint64_t Seed(const std::string& text)
{
    std::size_t used = 0;
    unsigned long long value = 0;
    try {
        if (!text.empty() && text[0] != '-' && text[0] != '+') value = std::stoull(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size())
        throw EUsage(Format(Tr("--seed needs a whole number from 0 to 18446744073709551615, not '%1$s'"), EchoedText(text)));
    return value;
}

double LevelPercent(const std::string& text)
{
    double level = 0.0;
    if (!TryTextToFloat(text, level)) throw EUsage("--level: " + InvalidFloatMessage(text));
    if (!(level > 0.0 && level < 100.0)) throw EUsage(Format(Tr("--level is a percentage between 0 and 100, not %1$s"), text));
    return level;
}

}  // namespace

TSkillCommands::TSkillCommands(CLI::App& app)
{
    FSkillCmd = app.add_subcommand("skill", "The equation in full and its cross-validated skill");
    AddEquationOptions(*FSkillCmd, FSkill);
    FSkillCmd->add_option("--leave", FLeave,
                          "Records left out in each fold, centred on the one forecast (odd; default 1, leave-one-out)");
    FSkillCmd->add_option("--plot", FPlot,
                          "Draw observed, fitted and hindcast Y, and hindcast against observed, to FILE.svg or FILE.png; "
                          "with --terciles also the reliability diagram, with --null the null distributions");
    FSkillCmd->add_flag("--terciles", FTerciles,
                        "Tercile probabilities (below, near, above normal) of every hindcast, with RPSS, ROC areas, HSS "
                        "and reliability");
    FRetroactiveOption = FSkillCmd->add_option("--retroactive", FRetroactive,
                                               "Forecast each record after the first N0 (default half) from the records "
                                               "before it only, as in real time")
                             ->expected(0, 1);
    auto* null = FSkillCmd->add_option("--null", FNullRuns,
                                       "Redo the cross-validation on K shuffles of Y: the chance that screening noise "
                                       "does as well");
    FSkillCmd->add_option("--seed", FSeed, "The seed of the shuffles of --null (default 1): the same seed, the same result")
        ->needs(null);
    FSkillCmd->footer(
        "Every fold repeats the whole computation, the stepwise selection included, on the records it keeps,\n"
        "and forecasts the record left out. Exit status: 0 done; 1 the computation failed; 2 bad usage or input.");

    FForecastCmd = app.add_subcommand("forecast", "Forecast new cases with the equation, with prediction intervals");
    AddEquationOptions(*FForecastCmd, FForecast);
    FForecastCmd->add_option("--level", FLevel, "The interval's level in percent (default 95)");
    FForecastCmd->add_flag("--terciles", FForecastTerciles,
                           "Also the chances of below, near and above normal (the terciles of Y's records)");
    auto* with = FForecastCmd->add_option("--with", FWith, "FACTOR=VALUE for one case; repeat for each factor");
    auto* cases = FForecastCmd->add_option("--cases", FCases, "A CSV file with one case a line, columns named by factor");
    with->excludes(cases);
    FForecastCmd->footer("One line (or JSON object) per case. A case missing a factor of the equation is an error (exit 2).");
}

int TSkillCommands::Run(std::ostream& out, std::ostream& err) const
{
    const bool json = FSkillCmd->parsed() ? FSkill.Json : FForecast.Json;
    return RunEquationCommand(json, out, err, [&] { return FSkillCmd->parsed() ? RunSkill(out, err) : RunForecast(out, err); });
}

int TSkillCommands::RunSkill(std::ostream& out, std::ostream& err) const
{
    CheckPlotPath(FPlot);
    TPreparedEquation p = PrepareEquation(FSkill, err);
    try {
        CheckLeave(FLeave, p.Source->DataSet().RecordCount());
    } catch (const ESkillError& e) {
        throw EUsage(std::string("--leave: ") + e.what());
    }
    TDataSet& data = p.Source->DataSet();
    const TSkillOptions options{p.Method, p.Fa, FLeave, FTerciles, RetroactiveStart(data.RecordCount())};
    const std::optional<TNullOptions> nullOptions = NullOptions();
    const TSkill skill = ComputeSkill(data, p.Factors, p.Y, options);
    std::optional<TScreeningNull> null;
    if (nullOptions) null = ComputeNullTest(data, p.Factors, p.Y, options, *nullOptions);
    if (!FPlot.empty()) SavePlot(skill, null, *p.Source, FPlot, FSkill.Source);
    const TSkillRun run{FSkill.Method, p.Fa};
    if (FSkill.Json) {
        nlohmann::ordered_json json = SkillJson(skill, run);
        AddOutlookJson(json, skill, null);
        out << DumpJson(json) << '\n';
    } else {
        std::vector<std::string> lines = SkillText(skill, run);
        AddOutlookText(lines, skill, null);
        for (const auto& line : lines) out << line << '\n';
    }
    return 0;
}

std::optional<std::int32_t> TSkillCommands::RetroactiveStart(std::int32_t recordCount) const
{
    if (FRetroactiveOption->count() == 0) return std::nullopt;
    std::int32_t start = DefaultRetroactiveStart(recordCount);
    if (!FRetroactive.empty()) start = WholeNumber("--retroactive", FRetroactive);
    try {
        CheckRetroactiveStart(start, recordCount);
    } catch (const ESkillError& e) {
        throw EUsage(std::string("--retroactive: ") + e.what());
    }
    return start;
}

std::optional<TNullOptions> TSkillCommands::NullOptions() const
{
    if (FNullRuns.empty()) return std::nullopt;
    TNullOptions options;
    options.Runs = WholeNumber("--null", FNullRuns);
    if (options.Runs < 1) throw EUsage(Format(Tr("--null needs at least 1 shuffle, not %1$s"), FNullRuns));
    options.Seed = Seed(FSeed);
    return options;
}

int TSkillCommands::RunForecast(std::ostream& out, std::ostream& err) const
{
    if (FWith.empty() && FCases.empty()) throw EUsage(Tr("forecast needs the case: --with FACTOR=VALUE... or --cases FILE.csv"));
    const double level = LevelPercent(FLevel);
    TPreparedEquation p = PrepareEquation(FForecast, err);
    const TFittedEquation equation(p.Source->DataSet(), p.Factors, p.Y, p.Method, p.Fa);
    const std::vector<std::string> factors = equation.FactorNames();
    const std::vector<std::vector<double>> cases =
        FCases.empty() ? std::vector<std::vector<double>>{CaseFromAssignments(*p.Source, FWith, factors)}
                       : CasesFromCsv(FCases, factors);
    std::vector<TForecast> forecasts;
    for (const auto& values : cases) forecasts.push_back(equation.Forecast(values, level / 100.0));
    std::optional<TTerciles> terciles;
    if (FForecastTerciles) terciles = Terciles(TSkillSample(p.Source->DataSet(), {}, p.Y).Y());
    for (std::size_t k = 0; k < forecasts.size(); ++k) {
        const TForecast& f = forecasts[k];
        if (!terciles) {
            out << (FForecast.Json ? DumpJson(ForecastJson(f, level)) : ForecastText(p.Y, f, level)) << '\n';
            continue;
        }
        const TTercileForecast chances = ForecastTerciles(equation, cases[k], *terciles);
        if (FForecast.Json) {
            nlohmann::ordered_json json = ForecastJson(f, level);
            AddForecastTercilesJson(json, chances);
            out << DumpJson(json) << '\n';
        } else {
            out << ForecastText(p.Y, f, level) << "  " << ForecastTercilesText(chances) << '\n';
        }
    }
    return 0;
}

}  // namespace quorlin
