#pragma once
// Could the skill have come from screening noise? Y is shuffled among the records, which keeps
// its values and the factors as they are but breaks every real tie between them, and the whole
// cross-validation, the stepwise selection in every fold included, is done again on each
// shuffle. The skill of the real Y is then set against the skill screening finds in noise:
//     p = (1 + runs whose skill reached the real one) / (runs + 1),
// the chance of skill this good from screening alone.

#include <cstdint>
#include <optional>
#include <vector>

#include "statistics/CrossValidation.h"
#include "statistics/SkillSample.h"

namespace quorlin {

struct TNullOptions {
    std::int32_t Runs = 1000;
    std::uint64_t Seed = 1;
    // Also the RPSS of the hindcasts' tercile probabilities.
    bool Terciles = false;
};

// One skill figure against its null distribution.
struct TNullFigure {
    // The cross-validated figure of the real Y; empty where the records cannot determine it.
    std::optional<double> Actual;
    // One per run, in the order of the shuffles; empty where a run's figure is undetermined.
    std::vector<std::optional<double>> Null;
    // Empty when Actual is; a run whose figure is undetermined counts as not reaching it.
    std::optional<double> P;
    // The 95th percentile of the determined null figures (the quantile of the terciles, at
    // 19/20); empty when no run determined one.
    std::optional<double> Q95;
};

struct TScreeningNull {
    std::int32_t Runs = 0;
    std::uint64_t Seed = 0;
    TNullFigure Correlation;
    TNullFigure Msss;
    // Only with TNullOptions::Terciles.
    std::optional<TNullFigure> Rpss;
};

// Run r shuffles Y by the r-th order of TPermutations(options.Seed, n): the record k takes the
// Y of record order[k]. Only the sums that involve Y are made again for a shuffle; the factors'
// sums of each fold are made once. Raises ESkillError for a bad leave or number of runs, or
// when the folds' sums would take more memory than a computation may; ESkillCancelled when
// progress (told after each run) says so.
TScreeningNull ScreenNoise(const TSkillSample& sample, std::int32_t method, double fa, std::int32_t leave,
                           const TNullOptions& options, const TFoldProgress& progress = {});

}  // namespace quorlin
