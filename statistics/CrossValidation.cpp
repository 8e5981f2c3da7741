#include "statistics/CrossValidation.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "numeric/Equation01.h"
#include "numeric/FloatError.h"
#include "statistics/FoldMoments.h"
#include "statistics/Statistics01.h"
#include "support/Messages.h"

namespace quorlin {

using checked::Store;

namespace {

// A factor of a fold's equation whose variance inflation factor exceeds this is, to working
// precision, a combination of the others: its pivot was left over by rounding.
constexpr double SingularVif = 1e12;

// The equation of one fold, made from its moments by the same equation objects as the final
// equation, and its forecast of the centre record.
class TFoldFit {
public:
    explicit TFoldFit(std::int32_t factors)
        : FCorrelation(factors, factors), FCorrelationY(factors, 1), FSelected(static_cast<std::size_t>(factors))
    {
    }

    // Raises EMathError when the fold cannot be computed.
    double Forecast(const TMoments& moments, std::int32_t method, double fa, const TSkillSample& sample,
                    std::int32_t record)
    {
        const std::int32_t m = sample.FactorCount();
        const auto y = static_cast<std::size_t>(m);
        std::vector<Extended> scale(y + 1);
        for (std::size_t a = 0; a <= y; ++a) scale[a] = 1.0L / std::sqrt(moments.Sum(a, a));
        for (std::int32_t i = 0; i < m; ++i) {
            const auto a = static_cast<std::size_t>(i);
            for (std::int32_t j = 0; j < m; ++j) {
                const auto b = static_cast<std::size_t>(j);
                FCorrelation.SetElement(i == j ? 1.0 : Store(moments.Sum(a, b) * scale[a] * scale[b]), i, j);
            }
            FCorrelationY.SetElement(Store(moments.Sum(a, y) * scale[a] * scale[y]), i, 0);
        }

        // More coefficients than records: the correlations are singular, whatever rounding says.
        if (method != MethodStepwise && m >= moments.Count) RaiseFloatFault(FloatFault::ZeroDivide);
        const double ryy = 1.0;
        std::unique_ptr<TEquation> equation;
        if (method == MethodStepwise)
            equation = std::make_unique<TTigEquation>(FCorrelation, FCorrelationY, &ryy, fa, moments.Count);
        else
            equation = std::make_unique<TAugEquation>(FCorrelation, FCorrelationY, &ryy, fa, moments.Count);
        equation->Solve();

        const auto* stepwise = dynamic_cast<const TTigEquation*>(equation.get());
        const auto k = static_cast<std::size_t>(record);
        Extended forecast = moments.Means[y];
        for (std::int32_t i = 0; i < m; ++i) {
            const auto a = static_cast<std::size_t>(i);
            FSelected[a] = !stepwise || stepwise->IsSelected(i);
            if (!FSelected[a]) continue;
            if (*equation->Augmented()->Element(i, i) > SingularVif) RaiseFloatFault(FloatFault::ZeroDivide);
            // b = beta · sd(Y) / sd(factor), the coefficient in data units.
            const Extended b = equation->Beta(i) * scale[a] / scale[y];
            forecast += b * (sample.Factor(i)[k] - moments.Means[a]);
        }
        return Store(forecast);
    }

    const std::vector<bool>& Selected() const noexcept { return FSelected; }

private:
    TMatrix FCorrelation;
    TMatrix FCorrelationY;
    std::vector<bool> FSelected;
};

// Y's mean over the records outside the window, from the full mean so that nothing cancels.
double TrainingMean(const TMoments& full, const std::vector<double>& y, TFoldWindow window)
{
    const std::size_t last = full.Means.size() - 1;
    Extended removed = 0;
    for (std::int32_t k = window.First; k <= window.Last; ++k) removed += y[static_cast<std::size_t>(k)] - full.Means[last];
    const Extended kept = full.Count - (window.Last - window.First + 1);
    return Store(full.Means[last] - removed / kept);
}

std::optional<double> Correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    const auto n = static_cast<Extended>(a.size());
    Extended ma = 0, mb = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        ma += a[k];
        mb += b[k];
    }
    ma /= n;
    mb /= n;
    Extended saa = 0, sbb = 0, sab = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        const Extended da = a[k] - ma, db = b[k] - mb;
        saa += da * da;
        sbb += db * db;
        sab += da * db;
    }
    if (!(saa > 0 && sbb > 0)) return std::nullopt;
    return Store(std::clamp(sab / std::sqrt(saa * sbb), -1.0L, 1.0L));
}

void ScoreHindcasts(const std::vector<double>& observed, TCrossValidation& cv)
{
    const auto n = static_cast<Extended>(observed.size());
    Extended squared = 0, absolute = 0, climatologySquared = 0;
    for (std::size_t k = 0; k < observed.size(); ++k) {
        const Extended e = static_cast<Extended>(cv.Hindcast[k]) - observed[k];
        const Extended c = static_cast<Extended>(cv.Climatology[k]) - observed[k];
        squared += e * e;
        absolute += std::fabs(e);
        climatologySquared += c * c;
    }
    cv.Rmse = Store(std::sqrt(squared / n));
    cv.Mae = Store(absolute / n);
    if (climatologySquared > 0) cv.Msss = Store(1.0L - squared / climatologySquared);
    cv.Correlation = Correlation(cv.Hindcast, observed);
}

}  // namespace

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
    cv.SelectionCounts.assign(static_cast<std::size_t>(sample.FactorCount()), 0);
    for (std::int32_t record = 0; record < n; ++record) {
        const auto k = static_cast<std::size_t>(record);
        const TFoldWindow window = FoldWindow(record, leave, n);
        cv.Climatology[k] = TrainingMean(sums.Full(), sample.Y(), window);
        try {
            sums.Without(window.First, window.Last, moments);
            cv.Hindcast[k] = fit.Forecast(moments, method, fa, sample, record);
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
    ScoreHindcasts(sample.Y(), cv);
    return cv;
}

}  // namespace quorlin
