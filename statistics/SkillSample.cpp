#include "statistics/SkillSample.h"

#include <stdexcept>

#include "numeric/FloatError.h"
#include "statistics/RecordPass.h"

namespace quorlin {

TSkillSample::TSkillSample(TDataSet& data, std::vector<std::string> factorNames, std::string yName)
    : FFactorNames(std::move(factorNames)), FYName(std::move(yName)), FFactors(FFactorNames.size())
{
    std::vector<std::int32_t> fields;
    for (const auto& name : FFactorNames) fields.push_back(data.FieldByName(name));
    const std::int32_t yField = data.FieldByName(FYName);
    const auto n = static_cast<std::size_t>(data.RecordCount());
    for (auto& column : FFactors) column.reserve(n);
    FY.reserve(n);

    TRecordPass pass(data);
    for (data.First(); !data.Eof(); data.Next()) {
        for (std::size_t i = 0; i < fields.size(); ++i) FFactors[i].push_back(checked::Operand(data.AsFloat(fields[i])));
        FY.push_back(checked::Operand(data.AsFloat(yField)));
    }
    pass.Finish();
}

TSkillSample::TSkillSample(std::vector<std::string> factorNames, std::vector<std::vector<double>> factors,
                           std::string yName, std::vector<double> y)
    : FFactorNames(std::move(factorNames)), FYName(std::move(yName)), FFactors(std::move(factors)), FY(std::move(y))
{
    if (FFactors.size() != FFactorNames.size()) throw std::invalid_argument("one name per factor column is needed");
    for (const auto& column : FFactors) {
        if (column.size() != FY.size()) throw std::invalid_argument("every factor column needs one value per record");
        for (double v : column) checked::Operand(v);
    }
    for (double v : FY) checked::Operand(v);
}

}  // namespace quorlin
