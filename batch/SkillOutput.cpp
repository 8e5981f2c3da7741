#include "batch/SkillOutput.h"

#include <optional>

#include "statistics/Statistics01.h"

namespace quorlin {

namespace {

nlohmann::ordered_json Nullable(const std::optional<double>& v)
{
    return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
}

std::string Figure(double v) { return FormatFloat("%.6g", v); }
std::string Figure(const std::optional<double>& v) { return v ? Figure(*v) : "—"; }

const char* ActionName(TStep::TAction action) { return action == TStep::TAction::Enter ? "enter" : "remove"; }

// Left-aligned in a column of width characters (counted in bytes: names are padded, not cut).
std::string Cell(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

}  // namespace

nlohmann::ordered_json SkillJson(const TSkill& skill, const TSkillRun& run)
{
    const TFittedEquation& eq = skill.Equation;
    const TCrossValidation& cv = skill.Validation;
    auto steps = nlohmann::ordered_json::array();
    for (const TStep& s : eq.Steps())
        steps.push_back({{"action", ActionName(s.Action)},
                         {"factor", eq.CandidateNames()[static_cast<std::size_t>(s.Factor)]},
                         {"v", s.V},
                         {"f", s.F},
                         {"q", s.Q}});
    auto coefficients = nlohmann::ordered_json::array();
    for (const TCoefficient& c : eq.Coefficients())
        coefficients.push_back({{"factor", c.Name}, {"b", c.B}, {"se", Nullable(c.SE)}, {"t", Nullable(c.T)},
                                {"p", Nullable(c.P)}, {"vif", c.VIF}});
    auto counts = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < cv.SelectionCounts.size(); ++i) counts[eq.CandidateNames()[i]] = cv.SelectionCounts[i];
    return {
        {"equation", eq.Text()},
        {"y", eq.YName()},
        {"n", eq.SampleSize()},
        {"leave", cv.Leave},
        {"method", run.Method},
        {"fa", run.Fa},
        {"factors", eq.FactorNames()},
        {"steps", std::move(steps)},
        {"coefficients", std::move(coefficients)},
        {"constant", eq.Constant()},
        {"r2", eq.R2()},
        {"adj_r2", Nullable(eq.AdjustedR2())},
        {"s", Nullable(eq.S())},
        {"f", Nullable(eq.F())},
        {"f_p", Nullable(eq.FP())},
        {"hindcast", cv.Hindcast},
        {"cv_correlation", Nullable(cv.Correlation)},
        {"cv_rmse", cv.Rmse},
        {"cv_mae", cv.Mae},
        {"msss", Nullable(cv.Msss)},
        {"selection_counts", std::move(counts)},
        {"failed_folds", cv.FailedFolds},
    };
}

std::vector<std::string> SkillText(const TSkill& skill, const TSkillRun& run)
{
    const TFittedEquation& eq = skill.Equation;
    const TCrossValidation& cv = skill.Validation;
    std::vector<std::string> lines{eq.Text()};
    if (!eq.Steps().empty()) {
        lines.push_back("Steps (Fa = " + FormatFloat("%.2f", run.Fa) + "):");
        for (const TStep& s : eq.Steps())
            lines.push_back("  " + Cell(ActionName(s.Action), 7) + Cell(eq.CandidateNames()[static_cast<std::size_t>(s.Factor)], 12) +
                            "V=" + Cell(Figure(s.V), 12) + "F=" + Cell(Figure(s.F), 12) + "Q'=" + Figure(s.Q));
    }
    lines.push_back("  " + Cell("factor", 12) + Cell("b", 14) + Cell("se", 14) + Cell("t", 12) + Cell("p", 14) + "VIF");
    for (const TCoefficient& c : eq.Coefficients())
        lines.push_back("  " + Cell(c.Name, 12) + Cell(Figure(c.B), 14) + Cell(Figure(c.SE), 14) + Cell(Figure(c.T), 12) +
                        Cell(Figure(c.P), 14) + Figure(c.VIF));
    lines.push_back("  " + Cell("constant", 12) + Figure(eq.Constant()));
    lines.push_back("n=" + std::to_string(eq.SampleSize()) + "  R²=" + Figure(eq.R2()) + "  adjusted R²=" +
                    Figure(eq.AdjustedR2()) + "  s=" + Figure(eq.S()) + "  F=" + Figure(eq.F()) + "  p(F)=" + Figure(eq.FP()));
    const std::string folds = std::to_string(cv.Hindcast.size()) + " folds, " + std::to_string(cv.FailedFolds) + " failed";
    lines.push_back("Cross-validated, leaving " + std::to_string(cv.Leave) + (cv.Leave == 1 ? " record" : " records") +
                    " out per fold (" + folds + "):");
    lines.push_back("  correlation=" + Figure(cv.Correlation) + "  RMSE=" + Figure(cv.Rmse) + "  MAE=" + Figure(cv.Mae) +
                    "  MSSS=" + Figure(cv.Msss));
    lines.push_back("Folds whose equation held each factor:");
    for (std::size_t i = 0; i < cv.SelectionCounts.size(); ++i)
        lines.push_back("  " + Cell(eq.CandidateNames()[i], 12) + std::to_string(cv.SelectionCounts[i]));
    return lines;
}

nlohmann::ordered_json ForecastJson(const TForecast& forecast, double level)
{
    return {{"forecast", forecast.Value}, {"lower", forecast.Lower}, {"upper", forecast.Upper}, {"level", level}};
}

std::string ForecastText(const std::string& yName, const TForecast& forecast, double level)
{
    return yName + "=" + Figure(forecast.Value) + "  " + FormatFloat("%g", level) + "% interval " +
           Figure(forecast.Lower) + " to " + Figure(forecast.Upper);
}

}  // namespace quorlin
