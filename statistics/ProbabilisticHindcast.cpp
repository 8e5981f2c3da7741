#include "statistics/ProbabilisticHindcast.h"

#include <algorithm>


namespace quorlin {

TProbabilisticHindcast CrossValidatedProbabilities(const TSkillSample& sample, const TCrossValidation& cv)
{
    const TOrderedValues ordered(sample.Y());
    const std::int32_t n = sample.RecordCount();
    std::vector<TTerciles> terciles;
    std::vector<TSpreadForecast> forecasts;
    std::vector<std::int32_t> removed;
    for (std::int32_t record = 0; record < n; ++record) {
        const auto k = static_cast<std::size_t>(record);
        const TFoldWindow window = FoldWindow(record, cv.Leave, n);
        removed.clear();
        for (std::int32_t left = window.First; left <= window.Last; ++left) removed.push_back(ordered.Rank(left));
        std::sort(removed.begin(), removed.end());
        terciles.push_back(ordered.TercilesWithout(removed));
        forecasts.push_back({cv.Hindcast[k], cv.Spread[k], cv.Dof[k], cv.Failed[k]});
    }
    return JudgeForecasts(std::move(terciles), forecasts, sample.Y());
}

TProbabilisticHindcast JudgeForecasts(std::vector<TTerciles> terciles, std::span<const TSpreadForecast> forecasts,
                                      std::span<const double> observed)
{
    TProbabilisticHindcast outlook;
    outlook.Terciles = std::move(terciles);
    for (std::size_t k = 0; k < forecasts.size(); ++k) {
        outlook.Probabilities.push_back(ProbabilitiesOf(forecasts[k], outlook.Terciles[k]));
        outlook.Observed.push_back(CategoryOf(observed[k], outlook.Terciles[k]));
    }
    outlook.Scores = ScoreProbabilities(outlook.Probabilities, outlook.Observed);
    return outlook;
}

}  // namespace quorlin
