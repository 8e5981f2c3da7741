#include "batch/OutlookOutput.h"

#include "statistics/Statistics01.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

using TJson = nlohmann::ordered_json;

TJson Nullable(const std::optional<double>& v) { return v ? TJson(*v) : TJson(nullptr); }

std::string Figure(double v) { return FormatFloat("%.6g", v); }
std::string Figure(const std::optional<double>& v) { return v ? Figure(*v) : "—"; }
std::string Percent(double p) { return FormatFloat("%.0f", 100.0 * p); }

TJson ReliabilityJson(const std::vector<TReliabilityBin>& bins)
{
    auto json = TJson::array();
    for (const TReliabilityBin& b : bins)
        json.push_back({{"bin", {b.Lower, b.Upper}}, {"count", b.Count}, {"observed", Nullable(b.Observed)}});
    return json;
}

void AddScoresJson(TJson& json, const TProbabilityScores& scores)
{
    json["rpss"] = Nullable(scores.Rpss);
    json["roc_below"] = Nullable(scores.RocBelow);
    json["roc_above"] = Nullable(scores.RocAbove);
    json["hss"] = Nullable(scores.Hss);
}

void AddTercilesJson(TJson& json, const TSkill& skill)
{
    const TProbabilisticHindcast& outlook = *skill.Outlook;
    json["terciles"] = {{"lower", skill.Terciles->Lower}, {"upper", skill.Terciles->Upper}};
    auto probabilities = TJson::array();
    auto categories = TJson::array();
    for (std::size_t k = 0; k < outlook.Probabilities.size(); ++k) {
        const TTercileProbabilities& p = outlook.Probabilities[k];
        probabilities.push_back({p.Below, p.Near, p.Above});
        categories.push_back(CategoryKey(outlook.Observed[k]));
    }
    json["hindcast_probabilities"] = std::move(probabilities);
    json["observed_categories"] = std::move(categories);
    AddScoresJson(json, outlook.Scores);
    json["reliability"] = {{"below", ReliabilityJson(outlook.Scores.ReliabilityBelow)},
                           {"above", ReliabilityJson(outlook.Scores.ReliabilityAbove)}};
}

TJson RetroactiveJson(const TSkill& skill)
{
    const TRetroactive& r = *skill.Retroactive;
    TJson json = {{"start", r.Start},           {"hindcast", r.Hindcast}, {"correlation", Nullable(r.Correlation)},
                  {"rmse", r.Rmse},             {"mae", r.Mae},           {"msss", Nullable(r.Msss)}};
    if (skill.RetroactiveOutlook) AddScoresJson(json, skill.RetroactiveOutlook->Scores);
    return json;
}

TJson NullJson(const TScreeningNull& null)
{
    const std::optional<double> noFigure;
    const auto& rpss = null.Rpss;
    return {{"runs", null.Runs},
            {"seed", null.Seed},
            {"p_correlation", Nullable(null.Correlation.P)},
            {"p_msss", Nullable(null.Msss.P)},
            {"p_rpss", Nullable(rpss ? rpss->P : noFigure)},
            {"q95_correlation", Nullable(null.Correlation.Q95)},
            {"q95_msss", Nullable(null.Msss.Q95)},
            {"q95_rpss", Nullable(rpss ? rpss->Q95 : noFigure)}};
}

std::string ScoresLine(const TProbabilityScores& s)
{
    return Format(Tr("  RPSS=%1$s  ROC area below=%2$s  above=%3$s  HSS=%4$s"), Figure(s.Rpss), Figure(s.RocBelow),
                  Figure(s.RocAbove), Figure(s.Hss));
}

std::string ReliabilityLine(const char* event, const std::vector<TReliabilityBin>& bins)
{
    std::string line = std::string("    ") + event;
    for (const TReliabilityBin& b : bins)
        line += "  " + Format(Tr("%1$s-%2$s: %3$s (%4$s)"), FormatFloat("%g", b.Lower), FormatFloat("%g", b.Upper), b.Count,
                              Figure(b.Observed));
    return line;
}

void AddTercilesText(std::vector<std::string>& lines, const TSkill& skill)
{
    const TProbabilisticHindcast& outlook = *skill.Outlook;
    lines.push_back(Format(Tr("Tercile outlook of the hindcasts (near normal over all records: %1$s to %2$s):"),
                           Figure(skill.Terciles->Lower), Figure(skill.Terciles->Upper)));
    lines.push_back(ScoresLine(outlook.Scores));
    lines.push_back(Tr("  Reliability (probability forecast: forecasts in the bin, share that came true):"));
    lines.push_back(ReliabilityLine(Tr("below"), outlook.Scores.ReliabilityBelow));
    lines.push_back(ReliabilityLine(Tr("above"), outlook.Scores.ReliabilityAbove));
}

void AddRetroactiveText(std::vector<std::string>& lines, const TSkill& skill)
{
    const TRetroactive& r = *skill.Retroactive;
    lines.push_back(Format(Tr("Retroactive: each record after the first %1$s forecast from the records before it "
                              "(%2$s forecasts, %3$s failed):"),
                           r.Start, r.Hindcast.size(), r.FailedSteps));
    lines.push_back("  correlation=" + Figure(r.Correlation) + "  RMSE=" + Figure(r.Rmse) + "  MAE=" + Figure(r.Mae) +
                    "  MSSS=" + Figure(r.Msss));
    if (skill.RetroactiveOutlook) lines.push_back(ScoresLine(skill.RetroactiveOutlook->Scores));
}

std::string NullLine(const char* name, const TNullFigure& figure)
{
    return Format(Tr("  %1$s=%2$s  p=%3$s  (one shuffle in 20 reaches %4$s)"), name, Figure(figure.Actual), Figure(figure.P),
                  Figure(figure.Q95));
}

void AddNullText(std::vector<std::string>& lines, const TScreeningNull& null)
{
    lines.push_back(Format(Tr("Screening null test: the cross-validation redone on %1$s shuffles of Y (seed %2$s); p is "
                              "the chance that screening noise does as well:"),
                           null.Runs, std::to_string(null.Seed)));
    lines.push_back(NullLine("correlation", null.Correlation));
    lines.push_back(NullLine("MSSS", null.Msss));
    if (null.Rpss) lines.push_back(NullLine("RPSS", *null.Rpss));
}

}  // namespace

void AddOutlookJson(TJson& json, const TSkill& skill, const std::optional<TScreeningNull>& null)
{
    if (skill.Outlook) AddTercilesJson(json, skill);
    if (skill.Retroactive) json["retroactive"] = RetroactiveJson(skill);
    if (null) json["null"] = NullJson(*null);
}

void AddOutlookText(std::vector<std::string>& lines, const TSkill& skill, const std::optional<TScreeningNull>& null)
{
    if (skill.Outlook) AddTercilesText(lines, skill);
    if (skill.Retroactive) AddRetroactiveText(lines, skill);
    if (null) AddNullText(lines, *null);
}

void AddForecastTercilesJson(TJson& json, const TTercileForecast& forecast)
{
    json["lower_tercile"] = forecast.Terciles.Lower;
    json["upper_tercile"] = forecast.Terciles.Upper;
    json["p_below"] = forecast.Probabilities.Below;
    json["p_near"] = forecast.Probabilities.Near;
    json["p_above"] = forecast.Probabilities.Above;
}

std::string ForecastTercilesText(const TTercileForecast& forecast)
{
    const TTercileProbabilities& p = forecast.Probabilities;
    return Format(Tr("below %1$s%%  near %2$s%%  above %3$s%%"), Percent(p.Below), Percent(p.Near), Percent(p.Above));
}

}  // namespace quorlin
