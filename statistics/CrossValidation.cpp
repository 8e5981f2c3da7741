#include "statistics/CrossValidation.h"

#include <algorithm>

#include "numeric/Equation01.h"
#include "numeric/FloatError.h"
#include "statistics/FoldMoments.h"
#include "statistics/Statistics01.h"
#include "statistics/FoldFit.h"
#include "statistics/HindcastScores.h"
#include "support/Messages.h"

namespace quorlin {

TFoldWindow FoldWindow(std::int32_t centre, std::int32_t leave, std::int32_t recordCount)
{
    const std::int32_t half = leave / 2;
    return {std::max(0, centre - half), std::min(recordCount - 1, centre + half)};
}

void CheckLeave(std::int32_t leave, std::int32_t recordCount)
{
    if (leave < 1 || leave % 2 == 0)
        throw ESkillError(Format(Tr("The number of records left out in each fold must be odd and at least 1, not %1$s"),
                                 leave));
    if (recordCount - leave < 3)
        throw ESkillError(Format(Tr("Leaving out %1$s of %2$s records keeps too few to fit an equation (at least 3 "
                                    "must be kept)"),
                                 leave, recordCount));
}

TCrossValidation CrossValidate(const TSkillSample& sample, std::int32_t method, double fa, std::int32_t leave,
                               const TFoldProgress& progress)
{
    const std::int32_t n = sample.RecordCount();
    CheckLeave(leave, n);
    const TFoldMoments sums(sample);
    TFoldFit fit(sample.FactorCount());
    TMoments moments;

    TCrossValidation cv;
    cv.Leave = leave;
    cv.Hindcast.resize(static_cast<std::size_t>(n));
    cv.Climatology.resize(static_cast<std::size_t>(n));
    cv.Failed.assign(static_cast<std::size_t>(n), false);
    cv.Spread.resize(static_cast<std::size_t>(n));
    cv.Dof.assign(static_cast<std::size_t>(n), 0);
    cv.SelectionCounts.assign(static_cast<std::size_t>(sample.FactorCount()), 0);
    for (std::int32_t record = 0; record < n; ++record) {
        const auto k = static_cast<std::size_t>(record);
        const TFoldWindow window = FoldWindow(record, leave, n);
        cv.Climatology[k] = TrainingMean(sums.Full().Means.back(), n, sample.Y(), window.First, window.Last);
        try {
            sums.Without(window.First, window.Last, moments);
            const TSpreadForecast forecast = fit.Forecast(moments, method, fa, sample, record);
            cv.Hindcast[k] = forecast.Value;
            cv.Spread[k] = forecast.Spread;
            cv.Dof[k] = forecast.Dof;
            for (std::size_t i = 0; i < cv.SelectionCounts.size(); ++i) cv.SelectionCounts[i] += fit.Selected()[i];
        } catch (const EFoldFailed&) {
            cv.Failed[k] = true;
        } catch (const EMathError&) {
            cv.Failed[k] = true;
        }
        if (cv.Failed[k]) {
            cv.Hindcast[k] = cv.Climatology[k];
            ++cv.FailedFolds;
        }
        if (progress && !progress(record + 1, n)) throw ESkillCancelled(Tr("The cross-validation was cancelled"));
    }
    const THindcastScores scores = ScoreHindcasts(sample.Y(), cv.Hindcast, cv.Climatology);
    cv.Correlation = scores.Correlation;
    cv.Rmse = scores.Rmse;
    cv.Mae = scores.Mae;
    cv.Msss = scores.Msss;
    return cv;
}

}  // namespace quorlin
