#pragma once
// Tercile probabilities for hindcasts, made as they would have been made at the time: each
// forecast's terciles come from its own training records, its ŷ and spread from its own
// equation, and what was observed is judged against those same terciles.

#include <span>
#include <vector>

#include "statistics/CrossValidation.h"
#include "statistics/ProbabilityScores.h"
#include "statistics/SkillSample.h"

namespace quorlin {

struct TProbabilisticHindcast {
    // One of each per forecast, in record order.
    std::vector<TTerciles> Terciles;
    std::vector<TTercileProbabilities> Probabilities;
    std::vector<TCategory> Observed;
    TProbabilityScores Scores;
};

// The probabilities of a cross-validation of sample, each fold's terciles from the records it kept.
TProbabilisticHindcast CrossValidatedProbabilities(const TSkillSample& sample, const TCrossValidation& cv);

// Probabilities from forecasts whose terciles are known, and their scores; observed[k] is what
// forecasts[k] forecast.
TProbabilisticHindcast JudgeForecasts(std::vector<TTerciles> terciles, std::span<const TSpreadForecast> forecasts,
                                      std::span<const double> observed);

}  // namespace quorlin
