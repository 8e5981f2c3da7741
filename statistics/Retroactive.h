#pragma once
// Forecasts made as in real time: each record after the first Start (in table order, which must
// be time order) is forecast by the whole computation, the selection included, on the records
// before it only, as a forecaster would have made it that year.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "statistics/CrossValidation.h"
#include "statistics/ProbabilisticHindcast.h"
#include "statistics/SkillSample.h"

namespace quorlin {

struct TRetroactive {
    // The records the first forecast was made from; the forecasts are of records Start + 1 to
    // n (1-based).
    std::int32_t Start = 0;
    // One value per forecast record, in record order: the forecast, and the mean Y of the
    // records before it (what climatology forecasts).
    std::vector<double> Hindcast;
    std::vector<double> Climatology;
    // Steps that could not be computed, for the reasons a fold cannot; their forecast is the
    // mean of the records before.
    std::vector<bool> Failed;
    std::int32_t FailedSteps = 0;
    // As a cross-validation's: each step's spread (empty where it failed or left no degrees of
    // freedom) and its n - l - 1.
    std::vector<std::optional<double>> Spread;
    std::vector<std::int32_t> Dof;
    std::optional<double> Correlation;
    double Rmse = 0.0;
    double Mae = 0.0;
    std::optional<double> Msss;
    // For each candidate factor, how many steps' equations held it.
    std::vector<std::int32_t> SelectionCounts;
};

// ⌈n/2⌉: half the records to learn from before the first forecast.
std::int32_t DefaultRetroactiveStart(std::int32_t recordCount) noexcept;

// Checks that start keeps at least 3 records to fit and leaves at least one to forecast;
// raises ESkillError naming what is wrong.
void CheckRetroactiveStart(std::int32_t start, std::int32_t recordCount);

// The moments of the records before each step are updated by one record at a time, not summed
// again. Raises ESkillError for a bad start, ESkillCancelled when progress (told after each
// step) says so, EMathError when the skill figures themselves overflow.
TRetroactive ForecastRetroactively(const TSkillSample& sample, std::int32_t method, double fa, std::int32_t start,
                                   const TFoldProgress& progress = {});

// The tercile probabilities of the retroactive forecasts, each from the terciles of the records
// before it; y is the sample's Y.
TProbabilisticHindcast RetroactiveProbabilities(std::span<const double> y, const TRetroactive& retroactive);

}  // namespace quorlin
