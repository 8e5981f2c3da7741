#include "statistics/ProbabilityScores.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace quorlin {

using checked::Store;

namespace {

constexpr std::int32_t ReliabilityBins = 10;

void RequireSameLength(std::size_t a, std::size_t b)
{
    if (a != b) throw std::invalid_argument("every forecast needs the category observed");
}

Extended RankedProbabilityScore(const TTercileProbabilities& p, TCategory observed)
{
    const Extended ob = observed == TCategory::Below, on = observed == TCategory::Near;
    const Extended first = p.Below - ob;
    const Extended second = static_cast<Extended>(p.Below) + p.Near - ob - on;
    return first * first + second * second;
}

}  // namespace

std::optional<double> RankedProbabilitySkill(std::span<const TTercileProbabilities> probabilities,
                                             std::span<const TCategory> observed)
{
    RequireSameLength(probabilities.size(), observed.size());
    if (observed.empty()) return std::nullopt;
    Extended score = 0, climatology = 0;
    for (std::size_t k = 0; k < observed.size(); ++k) {
        score += RankedProbabilityScore(probabilities[k], observed[k]);
        climatology += RankedProbabilityScore({}, observed[k]);
    }
    // Climatology scores at least 2/9 on every forecast, so the ratio is always defined.
    return Store(1.0L - score / climatology);
}

std::optional<double> RocArea(std::span<const TTercileProbabilities> probabilities, std::span<const TCategory> observed,
                              TCategory event)
{
    RequireSameLength(probabilities.size(), observed.size());
    // The Mann–Whitney count: ranked by probability, ties sharing their mean rank, the ranks of
    // the years with the event less the least they could be is the number of pairs it won.
    std::vector<std::size_t> order(observed.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return probabilities[a].Of(event) < probabilities[b].Of(event); });
    Extended rankSum = 0;
    std::size_t events = 0;
    for (std::size_t first = 0; first < order.size();) {
        std::size_t last = first;
        while (last + 1 < order.size() && probabilities[order[last + 1]].Of(event) == probabilities[order[first]].Of(event))
            ++last;
        const Extended meanRank = (static_cast<Extended>(first) + last) / 2 + 1;
        for (std::size_t k = first; k <= last; ++k)
            if (observed[order[k]] == event) {
                rankSum += meanRank;
                ++events;
            }
        first = last + 1;
    }
    const std::size_t nonEvents = observed.size() - events;
    if (events == 0 || nonEvents == 0) return std::nullopt;
    const Extended won = rankSum - static_cast<Extended>(events) * (events + 1) / 2;
    return Store(won / (static_cast<Extended>(events) * nonEvents));
}

std::optional<double> HeidkeSkill(std::span<const TTercileProbabilities> probabilities,
                                  std::span<const TCategory> observed)
{
    RequireSameLength(probabilities.size(), observed.size());
    if (observed.empty()) return std::nullopt;
    std::size_t hits = 0;
    for (std::size_t k = 0; k < observed.size(); ++k) hits += MostLikely(probabilities[k]) == observed[k];
    const Extended n = static_cast<Extended>(observed.size());
    return Store((hits - n / 3) / (n - n / 3));
}

std::vector<TReliabilityBin> Reliability(std::span<const TTercileProbabilities> probabilities,
                                         std::span<const TCategory> observed, TCategory event)
{
    RequireSameLength(probabilities.size(), observed.size());
    std::vector<TReliabilityBin> bins;
    std::vector<std::int32_t> happened(ReliabilityBins, 0);
    for (std::int32_t b = 0; b < ReliabilityBins; ++b)
        bins.push_back({b / 10.0, (b + 1) / 10.0, 0, std::nullopt});
    for (std::size_t k = 0; k < observed.size(); ++k) {
        const double p = probabilities[k].Of(event);
        // By comparison with the bounds as written, so that a probability on a bound falls in
        // the bin that bound opens whatever p·10 would round to.
        std::int32_t b = ReliabilityBins - 1;
        while (b > 0 && p < bins[static_cast<std::size_t>(b)].Lower) --b;
        ++bins[static_cast<std::size_t>(b)].Count;
        happened[static_cast<std::size_t>(b)] += observed[k] == event;
    }
    for (std::size_t b = 0; b < bins.size(); ++b)
        if (bins[b].Count > 0) bins[b].Observed = static_cast<double>(happened[b]) / bins[b].Count;
    return bins;
}

TProbabilityScores ScoreProbabilities(std::span<const TTercileProbabilities> probabilities,
                                      std::span<const TCategory> observed)
{
    return {RankedProbabilitySkill(probabilities, observed),
            RocArea(probabilities, observed, TCategory::Below),
            RocArea(probabilities, observed, TCategory::Above),
            HeidkeSkill(probabilities, observed),
            Reliability(probabilities, observed, TCategory::Below),
            Reliability(probabilities, observed, TCategory::Above)};
}

}  // namespace quorlin
