#pragma once
// Honest skill in one call: the final equation in full, the records' observed and fitted Y,
// and the cross-validated hindcast with its skill figures; on request the tercile outlook of the
// hindcasts and the forecasts made as in real time. What the batch command's skill subcommand
// and the desktop's forecast check show.
//
//   TSkill skill = ComputeSkill(table, {"OCT", "NOV"}, "DEC", {.Method = MethodStepwise, .Fa = 4.0, .Leave = 3});
//   skill.Equation.Coefficients()[0].P;  skill.Validation.Msss;  skill.Validation.Hindcast[k];
//   TForecast f = skill.Equation.Forecast(values, 0.95);
//
//   TSkill outlook = ComputeSkill(table, factors, "DEC", {.Leave = 3, .Terciles = true, .RetroactiveStart = 30});
//   outlook.Outlook->Scores.Rpss;  outlook.Retroactive->Msss;  outlook.RetroactiveOutlook->Scores.Hss;
//   ForecastTerciles(outlook.Equation, values, *outlook.Terciles).Probabilities.Above;
//   TScreeningNull null = ComputeNullTest(table, factors, "DEC", options, {.Runs = 1000, .Seed = 7}, progress);

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "statistics/CrossValidation.h"
#include "statistics/FittedEquation.h"
#include "statistics/Statistics01.h"
#include "statistics/ProbabilisticHindcast.h"
#include "statistics/Retroactive.h"
#include "statistics/ScreeningNull.h"
#include "statistics/TercileProbabilities.h"

namespace quorlin {

struct TSkillOptions {
    std::int32_t Method = MethodStepwise;
    double Fa = 4.0;
    // Records left out in each fold, centred on the one forecast: odd, 1 for leave-one-out.
    std::int32_t Leave = 1;
    // The tercile probabilities of every hindcast and their scores.
    bool Terciles = false;
    // Forecasts made as in real time, the first from this many records (DefaultRetroactiveStart
    // is half of them); none when empty.
    std::optional<std::int32_t> RetroactiveStart{};
};

struct TSkill {
    TFittedEquation Equation;
    TCrossValidation Validation;
    std::vector<double> Observed;  // Y of each record
    std::vector<double> Fitted;    // the final equation's value for each record
    // With TSkillOptions::Terciles: the terciles of every record's Y (what a new case's
    // probabilities are read against) and the probabilities of the cross-validated hindcasts.
    std::optional<TTerciles> Terciles{};
    std::optional<TProbabilisticHindcast> Outlook{};
    // With TSkillOptions::RetroactiveStart, and their probabilities with Terciles as well.
    std::optional<TRetroactive> Retroactive{};
    std::optional<TProbabilisticHindcast> RetroactiveOutlook{};
};

// Reads data (TStatistics' passes for the equation, one more pass for the columns), then works
// from memory. Raises what TStatistics raises for the final equation, ESkillError for a bad
// Leave or RetroactiveStart, ESkillCancelled when progress says so (told of the folds, then of
// the retroactive steps, as one count).
TSkill ComputeSkill(TDataSet& data, const std::vector<std::string>& factorNames, const std::string& yName,
                    const TSkillOptions& options, const TFoldProgress& progress = {});

// The screening null test of the cross-validation options asks for (its RPSS with Terciles).
// progress is told after each run. Raises what ScreenNoise raises.
TScreeningNull ComputeNullTest(TDataSet& data, const std::vector<std::string>& factorNames, const std::string& yName,
                               const TSkillOptions& options, const TNullOptions& null, const TFoldProgress& progress = {});

// The values to plot the records against: the data set's first field when it reads as years
// (whole numbers from 1000 to 3000, rising from record to record), else 1, 2, 3, ...
// isYears tells which.
std::vector<double> RecordAxis(TDataSet& data, const std::string& firstField, bool& isYears);

}  // namespace quorlin
