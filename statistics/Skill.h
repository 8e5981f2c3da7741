#pragma once
// Honest skill in one call: the final equation in full, the records' observed and fitted Y,
// and the cross-validated hindcast with its skill figures. What the batch command's skill
// subcommand and the desktop's forecast check show.
//
//   TSkill skill = ComputeSkill(table, {"OCT", "NOV"}, "DEC", {.Method = MethodStepwise, .Fa = 4.0, .Leave = 3});
//   skill.Equation.Coefficients()[0].P;  skill.Validation.Msss;  skill.Validation.Hindcast[k];
//   TForecast f = skill.Equation.Forecast(values, 0.95);

#include <cstdint>
#include <string>
#include <vector>

#include "statistics/CrossValidation.h"
#include "statistics/FittedEquation.h"
#include "statistics/Statistics01.h"

namespace quorlin {

struct TSkillOptions {
    std::int32_t Method = MethodStepwise;
    double Fa = 4.0;
    // Records left out in each fold, centred on the one forecast: odd, 1 for leave-one-out.
    std::int32_t Leave = 1;
};

struct TSkill {
    TFittedEquation Equation;
    TCrossValidation Validation;
    std::vector<double> Observed;  // Y of each record
    std::vector<double> Fitted;    // the final equation's value for each record
};

// Reads data (TStatistics' passes for the equation, one more pass for the columns), then works
// from memory. Raises what TStatistics raises for the final equation, ESkillError for a bad
// Leave, ESkillCancelled when progress says so.
TSkill ComputeSkill(TDataSet& data, const std::vector<std::string>& factorNames, const std::string& yName,
                    const TSkillOptions& options, const TFoldProgress& progress = {});

// The values to plot the records against: the data set's first field when it reads as years
// (whole numbers from 1000 to 3000, rising from record to record), else 1, 2, 3, ...
// isYears tells which.
std::vector<double> RecordAxis(TDataSet& data, const std::string& firstField, bool& isYears);

}  // namespace quorlin
