#include "statistics/Skill.h"

#include <cmath>

#include "statistics/RecordPass.h"
#include "statistics/SkillSample.h"

namespace quorlin {

TSkill ComputeSkill(TDataSet& data, const std::vector<std::string>& factorNames, const std::string& yName,
                    const TSkillOptions& options, const TFoldProgress& progress)
{
    const std::int32_t n = data.RecordCount();
    CheckLeave(options.Leave, n);
    if (options.RetroactiveStart) CheckRetroactiveStart(*options.RetroactiveStart, n);
    TFittedEquation equation(data, factorNames, yName, options.Method, options.Fa);
    const TSkillSample sample(data, factorNames, yName);
    const std::int32_t steps = options.RetroactiveStart ? n - *options.RetroactiveStart : 0;
    auto folds = [&](std::int32_t done, std::int32_t) { return !progress || progress(done, n + steps); };
    TCrossValidation validation = CrossValidate(sample, options.Method, options.Fa, options.Leave, folds);

    std::vector<double> fitted;
    std::vector<double> values(equation.Coefficients().size());
    for (std::int32_t k = 0; k < sample.RecordCount(); ++k) {
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = sample.Factor(equation.Coefficients()[i].Factor)[static_cast<std::size_t>(k)];
        fitted.push_back(equation.Predict(values));
    }
    TSkill skill{std::move(equation), std::move(validation), sample.Y(), std::move(fitted)};
    if (options.Terciles) {
        skill.Terciles = Terciles(sample.Y());
        skill.Outlook = CrossValidatedProbabilities(sample, skill.Validation);
    }
    if (options.RetroactiveStart) {
        auto retroactiveSteps = [&](std::int32_t done, std::int32_t) { return !progress || progress(n + done, n + steps); };
        skill.Retroactive =
            ForecastRetroactively(sample, options.Method, options.Fa, *options.RetroactiveStart, retroactiveSteps);
        if (options.Terciles) skill.RetroactiveOutlook = RetroactiveProbabilities(sample.Y(), *skill.Retroactive);
    }
    return skill;
}

TScreeningNull ComputeNullTest(TDataSet& data, const std::vector<std::string>& factorNames, const std::string& yName,
                               const TSkillOptions& options, const TNullOptions& null, const TFoldProgress& progress)
{
    const TSkillSample sample(data, factorNames, yName);
    TNullOptions runs = null;
    runs.Terciles = options.Terciles;
    return ScreenNoise(sample, options.Method, options.Fa, options.Leave, runs, progress);
}

std::vector<double> RecordAxis(TDataSet& data, const std::string& firstField, bool& isYears)
{
    std::vector<double> numbers, years;
    isYears = false;
    for (std::int32_t k = 1; k <= data.RecordCount(); ++k) numbers.push_back(k);
    try {
        const std::int32_t field = data.FieldByName(firstField);
        TRecordPass pass(data);
        for (data.First(); !data.Eof(); data.Next()) {
            const double v = data.AsFloat(field);
            const bool year = v >= 1000 && v <= 3000 && v == std::floor(v) && (years.empty() || v > years.back());
            if (!year) return numbers;
            years.push_back(v);
        }
        pass.Finish();
    } catch (const std::exception&) {
        // A first field that does not read as numbers is no year column.
        return numbers;
    }
    isYears = !years.empty();
    return isYears ? years : numbers;
}

}  // namespace quorlin
