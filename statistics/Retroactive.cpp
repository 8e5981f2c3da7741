#include "statistics/Retroactive.h"

#include <algorithm>

#include "numeric/FloatError.h"
#include "statistics/FoldFit.h"
#include "statistics/FoldMoments.h"
#include "statistics/HindcastScores.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

// Takes record k into the moments by the updating formulas, with d its deviation from the old
// means: mean' = mean + d/n', C' = C + d d' · n/n'. Every addition is of a product that cannot
// be negative on the diagonal, so nothing cancels, and a column whose records are all equal
// keeps a sum of squares of exactly 0.
void AddRecord(const TSkillSample& sample, std::int32_t k, TMoments& moments, std::vector<Extended>& d)
{
    const std::size_t width = moments.Means.size();
    const auto record = static_cast<std::size_t>(k);
    const Extended before = moments.Count;
    const Extended after = before + 1;
    for (std::size_t a = 0; a < width; ++a) d[a] = sample.Column(static_cast<std::int32_t>(a))[record] - moments.Means[a];
    for (std::size_t a = 0; a < width; ++a) {
        moments.Means[a] += d[a] / after;
        const Extended weighted = d[a] * before / after;
        Extended* row = &moments.Sums[a * width];
        for (std::size_t b = a; b < width; ++b) row[b] += weighted * d[b];
    }
    ++moments.Count;
}

}  // namespace

std::int32_t DefaultRetroactiveStart(std::int32_t recordCount) noexcept { return (recordCount + 1) / 2; }

void CheckRetroactiveStart(std::int32_t start, std::int32_t recordCount)
{
    if (start < 3)
        throw ESkillError(Format(Tr("The retroactive forecasts must start after at least 3 records to fit, not %1$s"), start));
    if (start >= recordCount)
        throw ESkillError(Format(Tr("The retroactive forecasts start after record %1$s, which leaves none of the %2$s "
                                    "records to forecast"),
                                 start, recordCount));
}

TRetroactive ForecastRetroactively(const TSkillSample& sample, std::int32_t method, double fa, std::int32_t start,
                                   const TFoldProgress& progress)
{
    const std::int32_t n = sample.RecordCount();
    CheckRetroactiveStart(start, n);
    const auto width = static_cast<std::size_t>(sample.FactorCount()) + 1;
    TMoments moments;
    moments.Means.assign(width, 0.0L);
    moments.Sums.assign(width * width, 0.0L);
    std::vector<Extended> d(width);
    for (std::int32_t k = 0; k < start; ++k) AddRecord(sample, k, moments, d);

    TRetroactive retro;
    retro.Start = start;
    retro.SelectionCounts.assign(static_cast<std::size_t>(sample.FactorCount()), 0);
    TFoldFit fit(sample.FactorCount());
    for (std::int32_t record = start; record < n; ++record) {
        const double climatology = checked::Store(moments.Means.back());
        TSpreadForecast forecast{climatology, std::nullopt, 0, false};
        try {
            forecast = fit.Forecast(moments, method, fa, sample, record);
            for (std::size_t i = 0; i < retro.SelectionCounts.size(); ++i) retro.SelectionCounts[i] += fit.Selected()[i];
        } catch (const EMathError&) {
            forecast = {climatology, std::nullopt, 0, true};
            ++retro.FailedSteps;
        }
        retro.Hindcast.push_back(forecast.Value);
        retro.Climatology.push_back(climatology);
        retro.Failed.push_back(forecast.Failed);
        retro.Spread.push_back(forecast.Spread);
        retro.Dof.push_back(forecast.Dof);
        AddRecord(sample, record, moments, d);
        if (progress && !progress(record - start + 1, n - start))
            throw ESkillCancelled(Tr("The retroactive forecasts were cancelled"));
    }
    const auto observed = std::span<const double>(sample.Y()).subspan(static_cast<std::size_t>(start));
    const THindcastScores scores = ScoreHindcasts(observed, retro.Hindcast, retro.Climatology);
    retro.Correlation = scores.Correlation;
    retro.Rmse = scores.Rmse;
    retro.Mae = scores.Mae;
    retro.Msss = scores.Msss;
    return retro;
}

TProbabilisticHindcast RetroactiveProbabilities(std::span<const double> y, const TRetroactive& retro)
{
    // The records before each step, kept sorted as they are taken in one by one.
    const auto start = static_cast<std::size_t>(retro.Start);
    std::vector<double> sorted(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(start));
    std::sort(sorted.begin(), sorted.end());
    std::vector<TTerciles> terciles;
    std::vector<TSpreadForecast> forecasts;
    for (std::size_t k = 0; k < retro.Hindcast.size(); ++k) {
        terciles.push_back(SortedTerciles([&](std::int32_t j) { return sorted[static_cast<std::size_t>(j)]; },
                                          static_cast<std::int32_t>(sorted.size())));
        forecasts.push_back({retro.Hindcast[k], retro.Spread[k], retro.Dof[k], retro.Failed[k]});
        const double taken = y[start + k];
        sorted.insert(std::upper_bound(sorted.begin(), sorted.end(), taken), taken);
    }
    return JudgeForecasts(std::move(terciles), forecasts, y.subspan(start));
}

}  // namespace quorlin
