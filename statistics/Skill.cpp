#include "statistics/Skill.h"

#include <cmath>

#include "statistics/RecordPass.h"
#include "statistics/SkillSample.h"

namespace quorlin {

TSkill ComputeSkill(TDataSet& data, const std::vector<std::string>& factorNames, const std::string& yName,
                    const TSkillOptions& options, const TFoldProgress& progress)
{
    CheckLeave(options.Leave, data.RecordCount());
    TFittedEquation equation(data, factorNames, yName, options.Method, options.Fa);
    const TSkillSample sample(data, factorNames, yName);
    TCrossValidation validation = CrossValidate(sample, options.Method, options.Fa, options.Leave, progress);

    std::vector<double> fitted;
    std::vector<double> values(equation.Coefficients().size());
    for (std::int32_t k = 0; k < sample.RecordCount(); ++k) {
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = sample.Factor(equation.Coefficients()[i].Factor)[static_cast<std::size_t>(k)];
        fitted.push_back(equation.Predict(values));
    }
    return {std::move(equation), std::move(validation), sample.Y(), std::move(fitted)};
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
