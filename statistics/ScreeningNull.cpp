#include "statistics/ScreeningNull.h"

#include <algorithm>
#include <numeric>

#include "statistics/FoldFit.h"
#include "statistics/FoldMoments.h"
#include "statistics/HindcastScores.h"
#include "statistics/Permutations.h"
#include "statistics/ProbabilityScores.h"
#include "statistics/Statistics01.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

// What one run's cross-validation scored.
struct TRunFigures {
    std::optional<double> Correlation;
    std::optional<double> Msss;
    std::optional<double> Rpss;
};

// A fold's moments as far as they do not involve Y, made once for every run.
struct TFactorFold {
    TFoldWindow Window;
    TMoments Moments;
    bool Recounted = false;
    bool Failed = false;
};

// The cross-validation of a sample whose Y is shuffled, run after run. The moments of each
// fold are those the cross-validation itself makes (TFoldMoments), their factor part made once
// and their Y row again for each shuffle by the same arithmetic, so that a run gives the figures
// CrossValidate gives for the shuffled sample.
class TShuffledCrossValidation {
public:
    TShuffledCrossValidation(const TSkillSample& sample, std::int32_t method, double fa, std::int32_t leave, bool terciles);

    // The run in which record k takes the Y of record order[k].
    TRunFigures Run(const std::vector<std::int32_t>& order);

private:
    void MakeFactorFolds();
    void ShuffleY(const std::vector<std::int32_t>& order);
    // Y's row of a fold's moments: downdated from the shuffle's full sums, or summed from the
    // records kept where the fold's factors were or Y's sum of squares cancels. False when Y
    // is constant in the records kept.
    bool FillYRow(TFactorFold& fold);
    void DowndateYRow(TFactorFold& fold);
    bool SumYRow(TFactorFold& fold);
    TTerciles FoldTerciles(const TFoldWindow& window, const std::vector<std::int32_t>& order);

    const TSkillSample& FSample;
    std::int32_t FMethod;
    double FFa;
    std::int32_t FLeave;
    bool FTerciles;
    std::size_t FY;  // Y's column among the moments
    TMoments FFull;  // the factors' full moments; its Y row is the shuffle's
    std::vector<TFactorFold> FFolds;
    TOrderedValues FOrdered;
    TFoldFit FFit;
    std::vector<double> FShuffled;
    std::vector<Extended> FDeviation, FTotal;
    std::vector<std::int32_t> FRemoved;
};

// In a fold's sums the record numbers stand in for Y: they vary in every fold, so that a fold's
// factor part fails only for a factor, whatever the shuffle does to Y.
TSkillSample FactorsWithRecordNumbers(const TSkillSample& sample)
{
    std::vector<std::vector<double>> factors;
    for (std::int32_t i = 0; i < sample.FactorCount(); ++i) factors.push_back(sample.Factor(i));
    std::vector<double> numbers(static_cast<std::size_t>(sample.RecordCount()));
    std::iota(numbers.begin(), numbers.end(), 0.0);
    return TSkillSample(sample.FactorNames(), std::move(factors), sample.YName(), std::move(numbers));
}

TShuffledCrossValidation::TShuffledCrossValidation(const TSkillSample& sample, std::int32_t method, double fa,
                                                   std::int32_t leave, bool terciles)
    : FSample(sample),
      FMethod(method),
      FFa(fa),
      FLeave(leave),
      FTerciles(terciles),
      FY(static_cast<std::size_t>(sample.FactorCount())),
      FOrdered(sample.Y()),
      FFit(sample.FactorCount()),
      FShuffled(sample.Y().size()),
      FDeviation(FY + 1),
      FTotal(FY + 1)
{
    const auto width = static_cast<std::uint64_t>(sample.FactorCount()) + 1;
    if (static_cast<std::uint64_t>(sample.RecordCount()) * width * width * sizeof(Extended) > MatrixMemoryLimit)
        throw ESkillError(Format(Tr("The screening null test of %1$s records and %2$s factors would keep more sums than "
                                    "a computation may hold in memory"),
                                 sample.RecordCount(), sample.FactorCount()));
    MakeFactorFolds();
}

void TShuffledCrossValidation::MakeFactorFolds()
{
    const TSkillSample numbered = FactorsWithRecordNumbers(FSample);
    const TFoldMoments sums(numbered);
    FFull = sums.Full();
    const std::int32_t n = FSample.RecordCount();
    for (std::int32_t record = 0; record < n; ++record) {
        TFactorFold fold;
        fold.Window = FoldWindow(record, FLeave, n);
        try {
            fold.Recounted = sums.Without(fold.Window.First, fold.Window.Last, fold.Moments);
        } catch (const EFoldFailed&) {
            fold.Failed = true;
        }
        FFolds.push_back(std::move(fold));
    }
}

// The full sums of Y's row as TFoldMoments makes them: the mean corrected by a second pass,
// then the products of the deviations summed record by record.
void TShuffledCrossValidation::ShuffleY(const std::vector<std::int32_t>& order)
{
    const std::vector<double>& y = FSample.Y();
    for (std::size_t k = 0; k < FShuffled.size(); ++k) FShuffled[k] = y[static_cast<std::size_t>(order[k])];
    const Extended n = FFull.Count;
    Extended sum = 0;
    for (double v : FShuffled) sum += v;
    const Extended mean = sum / n;
    Extended correction = 0;
    for (double v : FShuffled) correction += v - mean;
    FFull.Means[FY] = mean + correction / n;
    const std::size_t width = FY + 1;
    for (std::size_t a = 0; a <= FY; ++a) FFull.Sums[a * width + FY] = 0;
    for (std::size_t k = 0; k < FShuffled.size(); ++k) {
        for (std::size_t a = 0; a < FY; ++a) FDeviation[a] = FSample.Factor(static_cast<std::int32_t>(a))[k] - FFull.Means[a];
        FDeviation[FY] = FShuffled[k] - FFull.Means[FY];
        for (std::size_t a = 0; a <= FY; ++a) FFull.Sums[a * width + FY] += FDeviation[a] * FDeviation[FY];
    }
}

bool TShuffledCrossValidation::FillYRow(TFactorFold& fold)
{
    if (fold.Recounted) return SumYRow(fold);
    DowndateYRow(fold);
    const std::size_t width = FY + 1;
    if (fold.Moments.Sums[FY * width + FY] > CancellationLimit * FFull.Sums[FY * width + FY]) return true;
    return SumYRow(fold);
}

void TShuffledCrossValidation::DowndateYRow(TFactorFold& fold)
{
    const std::size_t width = FY + 1;
    TMoments& out = fold.Moments;
    for (std::size_t a = 0; a <= FY; ++a) {
        out.Sums[a * width + FY] = FFull.Sums[a * width + FY];
        FTotal[a] = 0;
    }
    for (auto k = static_cast<std::size_t>(fold.Window.First); k <= static_cast<std::size_t>(fold.Window.Last); ++k) {
        for (std::size_t a = 0; a < FY; ++a) FDeviation[a] = FSample.Factor(static_cast<std::int32_t>(a))[k] - FFull.Means[a];
        FDeviation[FY] = FShuffled[k] - FFull.Means[FY];
        for (std::size_t a = 0; a <= FY; ++a) {
            FTotal[a] += FDeviation[a];
            out.Sums[a * width + FY] -= FDeviation[a] * FDeviation[FY];
        }
    }
    const Extended n = out.Count;
    out.Means[FY] = FFull.Means[FY] - FTotal[FY] / n;
    for (std::size_t a = 0; a <= FY; ++a) out.Sums[a * width + FY] -= FTotal[a] * FTotal[FY] / n;
}

bool TShuffledCrossValidation::SumYRow(TFactorFold& fold)
{
    const std::size_t width = FY + 1;
    TMoments& out = fold.Moments;
    const auto first = static_cast<std::size_t>(fold.Window.First), last = static_cast<std::size_t>(fold.Window.Last);
    auto kept = [&](std::size_t k) { return k < first || k > last; };
    const std::size_t start = first == 0 ? last + 1 : 0;
    bool varies = false;
    for (std::size_t k = start; k < FShuffled.size() && !varies; ++k) varies = kept(k) && FShuffled[k] != FShuffled[start];
    if (!varies) return false;

    const Extended n = out.Count;
    Extended sum = 0;
    for (std::size_t k = 0; k < FShuffled.size(); ++k)
        if (kept(k)) sum += FShuffled[k];
    const Extended mean = sum / n;
    Extended correction = 0;
    for (std::size_t k = 0; k < FShuffled.size(); ++k)
        if (kept(k)) correction += FShuffled[k] - mean;
    out.Means[FY] = mean + correction / n;
    for (std::size_t a = 0; a <= FY; ++a) out.Sums[a * width + FY] = 0;
    for (std::size_t k = 0; k < FShuffled.size(); ++k) {
        if (!kept(k)) continue;
        for (std::size_t a = 0; a < FY; ++a) FDeviation[a] = FSample.Factor(static_cast<std::int32_t>(a))[k] - out.Means[a];
        FDeviation[FY] = FShuffled[k] - out.Means[FY];
        for (std::size_t a = 0; a <= FY; ++a) out.Sums[a * width + FY] += FDeviation[a] * FDeviation[FY];
    }
    return true;
}

TTerciles TShuffledCrossValidation::FoldTerciles(const TFoldWindow& window, const std::vector<std::int32_t>& order)
{
    FRemoved.clear();
    for (std::int32_t k = window.First; k <= window.Last; ++k) FRemoved.push_back(FOrdered.Rank(order[static_cast<std::size_t>(k)]));
    std::sort(FRemoved.begin(), FRemoved.end());
    return FOrdered.TercilesWithout(FRemoved);
}

TRunFigures TShuffledCrossValidation::Run(const std::vector<std::int32_t>& order)
{
    ShuffleY(order);
    const std::int32_t n = FSample.RecordCount();
    std::vector<double> hindcast, climatology;
    std::vector<TTercileProbabilities> probabilities;
    std::vector<TCategory> observed;
    for (std::int32_t record = 0; record < n; ++record) {
        TFactorFold& fold = FFolds[static_cast<std::size_t>(record)];
        const double mean = TrainingMean(FFull.Means[FY], n, FShuffled, fold.Window.First, fold.Window.Last);
        TSpreadForecast forecast{mean, std::nullopt, 0, true};
        try {
            if (!fold.Failed && FillYRow(fold)) forecast = FFit.Forecast(fold.Moments, FMethod, FFa, FSample, record);
        } catch (const EMathError&) {
            forecast = {mean, std::nullopt, 0, true};
        }
        hindcast.push_back(forecast.Value);
        climatology.push_back(mean);
        if (!FTerciles) continue;
        const TTerciles terciles = FoldTerciles(fold.Window, order);
        probabilities.push_back(ProbabilitiesOf(forecast, terciles));
        observed.push_back(CategoryOf(FShuffled[static_cast<std::size_t>(record)], terciles));
    }
    const THindcastScores scores = ScoreHindcasts(FShuffled, hindcast, climatology);
    TRunFigures figures{scores.Correlation, scores.Msss, std::nullopt};
    if (FTerciles) figures.Rpss = RankedProbabilitySkill(probabilities, observed);
    return figures;
}

TNullFigure Judge(std::optional<double> actual, std::vector<std::optional<double>> null)
{
    TNullFigure figure{actual, std::move(null), std::nullopt, std::nullopt};
    std::vector<double> determined;
    for (const auto& v : figure.Null)
        if (v) determined.push_back(*v);
    std::sort(determined.begin(), determined.end());
    if (!determined.empty())
        figure.Q95 = SortedQuantile([&](std::int32_t k) { return determined[static_cast<std::size_t>(k)]; },
                                    static_cast<std::int32_t>(determined.size()), 19, 20);
    if (actual) {
        const auto reached = std::count_if(determined.begin(), determined.end(), [&](double v) { return v >= *actual; });
        figure.P = static_cast<double>(1 + reached) / static_cast<double>(figure.Null.size() + 1);
    }
    return figure;
}

}  // namespace

TScreeningNull ScreenNoise(const TSkillSample& sample, std::int32_t method, double fa, std::int32_t leave,
                           const TNullOptions& options, const TFoldProgress& progress)
{
    CheckLeave(leave, sample.RecordCount());
    if (options.Runs < 1)
        throw ESkillError(Format(Tr("The screening null test needs at least 1 run, not %1$s"), options.Runs));
    TShuffledCrossValidation shuffled(sample, method, fa, leave, options.Terciles);
    std::vector<std::int32_t> identity(static_cast<std::size_t>(sample.RecordCount()));
    std::iota(identity.begin(), identity.end(), 0);
    const TRunFigures actual = shuffled.Run(identity);

    TPermutations permutations(options.Seed, sample.RecordCount());
    std::vector<std::optional<double>> correlation, msss, rpss;
    for (std::int32_t run = 1; run <= options.Runs; ++run) {
        const TRunFigures null = shuffled.Run(permutations.Next());
        correlation.push_back(null.Correlation);
        msss.push_back(null.Msss);
        rpss.push_back(null.Rpss);
        if (progress && !progress(run, options.Runs)) throw ESkillCancelled(Tr("The screening null test was cancelled"));
    }
    TScreeningNull result{options.Runs, options.Seed, Judge(actual.Correlation, std::move(correlation)),
                          Judge(actual.Msss, std::move(msss)), std::nullopt};
    if (options.Terciles) result.Rpss = Judge(actual.Rpss, std::move(rpss));
    return result;
}

}  // namespace quorlin
