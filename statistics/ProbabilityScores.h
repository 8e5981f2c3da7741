#pragma once
// How good tercile forecasts were, judged against what was observed, by the measures of
// long-range forecast verification:
// - RPSS, the ranked probability skill score 1 − ΣRPS / ΣRPS(climatology), with
//   RPS = (P_b − O_b)² + (P_b + P_n − O_b − O_n)² and climatology 1/3 each: 1 is perfect, 0 no
//   better than always saying 1/3, below 0 worse;
// - the ROC area of "below" and of "above": the chance that a year the event happened got a
//   higher probability of it than a year it did not (ties count one half; 0.5 is no skill);
// - the Heidke skill score of the most likely category, (H − N/3)/(N − N/3), H the hits;
// - reliability: for each event, the forecasts grouped in ten bins of the probability, and how
//   often the event happened in each bin.
// A score the forecasts cannot determine is empty: no forecast at all, or, for a ROC area, no
// year with the event or none without it.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "statistics/TercileProbabilities.h"
#include "statistics/Terciles.h"

namespace quorlin {

// Forecasts whose probability lies in [Lower, Upper) (the last bin includes 1), and the share of
// them in which the event happened.
struct TReliabilityBin {
    double Lower = 0.0;
    double Upper = 0.0;
    std::int32_t Count = 0;
    std::optional<double> Observed;
};

struct TProbabilityScores {
    std::optional<double> Rpss;
    std::optional<double> RocBelow;
    std::optional<double> RocAbove;
    std::optional<double> Hss;
    std::vector<TReliabilityBin> ReliabilityBelow;
    std::vector<TReliabilityBin> ReliabilityAbove;
};

// probabilities[k] and observed[k] are one forecast and what came; both the same length.
TProbabilityScores ScoreProbabilities(std::span<const TTercileProbabilities> probabilities,
                                      std::span<const TCategory> observed);

std::optional<double> RankedProbabilitySkill(std::span<const TTercileProbabilities> probabilities,
                                             std::span<const TCategory> observed);
std::optional<double> RocArea(std::span<const TTercileProbabilities> probabilities, std::span<const TCategory> observed,
                              TCategory event);
std::optional<double> HeidkeSkill(std::span<const TTercileProbabilities> probabilities,
                                  std::span<const TCategory> observed);
std::vector<TReliabilityBin> Reliability(std::span<const TTercileProbabilities> probabilities,
                                         std::span<const TCategory> observed, TCategory event);

}  // namespace quorlin
