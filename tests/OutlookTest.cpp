// The tercile outlook against its definitions: terciles from the sorted values, probabilities
// from Student's t, the scores pair by pair and bin by bin, and the hindcasts of every fold and
// every retroactive step against an equation refitted from scratch on the records it keeps.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "tests/ProbabilityTestSupport.h"
#include "statistics/ProbabilisticHindcast.h"
#include "statistics/ProbabilityScores.h"
#include "statistics/Retroactive.h"
#include "statistics/Skill.h"
#include "statistics/TercileProbabilities.h"
#include "statistics/Terciles.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

constexpr double Tolerance = 1e-9;

void ExpectRelative(double actual, double expected, double tolerance, const std::string& what)
{
    EXPECT_LE(std::fabs(actual - expected), tolerance * std::max(1.0, std::fabs(expected)))
        << what << ": got " << actual << ", want " << expected;
}

void ExpectProbabilities(const TTercileProbabilities& got, const DirectProbabilities& want, const std::string& what)
{
    EXPECT_NEAR(got.Below, want.Below, 1e-9) << what;
    EXPECT_NEAR(got.Near, want.Near, 1e-9) << what;
    EXPECT_NEAR(got.Above, want.Above, 1e-9) << what;
}

void ExpectOptional(const std::optional<double>& got, const std::optional<double>& want, const std::string& what)
{
    ASSERT_EQ(got.has_value(), want.has_value()) << what;
    if (want) {
        EXPECT_NEAR(*got, *want, 1e-9 * std::max(1.0, std::fabs(*want))) << what;
    }
}

// The scores of the outlook against the same forecasts scored from their definitions.
void ExpectScores(const TProbabilisticHindcast& outlook, const std::vector<DirectProbabilities>& p,
                  const std::vector<int>& observed, const std::string& label)
{
    const DirectScores want = ScoreDirectly(p, observed);
    const TProbabilityScores& got = outlook.Scores;
    ExpectOptional(got.Rpss, want.Rpss, label + " RPSS");
    ExpectOptional(got.RocBelow, want.RocBelow, label + " ROC below");
    ExpectOptional(got.RocAbove, want.RocAbove, label + " ROC above");
    ExpectOptional(got.Hss, want.Hss, label + " HSS");
    ASSERT_EQ(got.ReliabilityBelow.size(), 10u);
    ASSERT_EQ(got.ReliabilityAbove.size(), 10u);
    for (std::size_t b = 0; b < 10; ++b) {
        EXPECT_EQ(got.ReliabilityBelow[b].Count, want.CountBelow[b]) << label << " bin " << b;
        EXPECT_EQ(got.ReliabilityAbove[b].Count, want.CountAbove[b]) << label << " bin " << b;
        ASSERT_EQ(got.ReliabilityBelow[b].Observed.has_value(), want.CountBelow[b] > 0) << label << " bin " << b;
        ASSERT_EQ(got.ReliabilityAbove[b].Observed.has_value(), want.CountAbove[b] > 0) << label << " bin " << b;
        if (want.CountBelow[b] > 0) {
            EXPECT_DOUBLE_EQ(*got.ReliabilityBelow[b].Observed, double(want.EventsBelow[b]) / want.CountBelow[b]);
        }
        if (want.CountAbove[b] > 0) {
            EXPECT_DOUBLE_EQ(*got.ReliabilityAbove[b].Observed, double(want.EventsAbove[b]) / want.CountAbove[b]);
        }
    }
}

TTercileProbabilities Converted(const DirectProbabilities& p) { return {p.Below, p.Near, p.Above}; }

}  // namespace

TEST(Terciles, OfASampleByTheQuantileDefinition)
{
    std::mt19937_64 rng(3);
    for (int n = 1; n <= 40; ++n) {
        std::vector<double> values;
        // Whole numbers from a narrow range, so that ties are common.
        for (int k = 0; k < n; ++k) values.push_back(static_cast<double>(rng() % 7) + (k % 3 == 0 ? 0.25 : 0.0));
        const TTerciles t = Terciles(values);
        ExpectRelative(t.Lower, DirectTercile(values, 1), 1e-15, "lower of " + std::to_string(n));
        ExpectRelative(t.Upper, DirectTercile(values, 2), 1e-15, "upper of " + std::to_string(n));
    }
    // n + 1 a multiple of 3: the terciles are sample values themselves, not a hair beside them.
    const TTerciles eight = Terciles(std::vector<double>{8, 1, 7, 2, 6, 3, 5, 4});
    EXPECT_EQ(eight.Lower, 3.0);
    EXPECT_EQ(eight.Upper, 6.0);
    EXPECT_THROW(Terciles(std::vector<double>{}), ESkillError);
}

TEST(Terciles, OfASampleWithoutSomeOfItsRecords)
{
    std::mt19937_64 rng(9);
    for (int trial = 0; trial < 200; ++trial) {
        const int n = 4 + static_cast<int>(rng() % 30);
        std::vector<double> values;
        for (int k = 0; k < n; ++k) values.push_back(static_cast<double>(rng() % 10));
        const TOrderedValues ordered(values);
        std::vector<std::int32_t> removed;
        std::vector<double> rest;
        for (int k = 0; k < n; ++k) {
            if (rng() % 4 == 0 && static_cast<int>(removed.size()) < n - 1)
                removed.push_back(ordered.Rank(k));
            else
                rest.push_back(values[static_cast<std::size_t>(k)]);
        }
        std::sort(removed.begin(), removed.end());
        const TTerciles t = ordered.TercilesWithout(removed);
        ExpectRelative(t.Lower, DirectTercile(rest, 1), 1e-15, "lower of trial " + std::to_string(trial));
        ExpectRelative(t.Upper, DirectTercile(rest, 2), 1e-15, "upper of trial " + std::to_string(trial));
    }
}

TEST(TercileProbabilities, FromStudentsTAroundTheForecast)
{
    std::mt19937_64 rng(5);
    std::normal_distribution<double> normal;
    const TTerciles t{-0.4, 0.5};
    for (int trial = 0; trial < 100; ++trial) {
        const double yhat = normal(rng), sigma = std::exp(normal(rng));
        const std::int32_t dof = 1 + static_cast<std::int32_t>(rng() % 60);
        const TTercileProbabilities p = ProbabilitiesOf({yhat, sigma, dof, false}, t);
        ExpectProbabilities(p, DirectTercileProbabilities(yhat, sigma, dof, t.Lower, t.Upper), "trial " + std::to_string(trial));
        EXPECT_NEAR(p.Below + p.Near + p.Above, 1.0, 1e-15);
    }
}

TEST(TercileProbabilities, CertainWithoutSpreadClimatologyWithoutDegreesOfFreedom)
{
    const TTerciles t{1.0, 2.0};
    for (double yhat : {0.5, 1.0, 1.5, 2.0, 2.5}) {
        const TTercileProbabilities p = ProbabilitiesOf({yhat, 0.0, 5, false}, t);
        const int c = DirectCategory(yhat, 1.0, 2.0);
        EXPECT_EQ(p.Below, c == 0 ? 1.0 : 0.0) << yhat;
        EXPECT_EQ(p.Near, c == 1 ? 1.0 : 0.0) << yhat;
        EXPECT_EQ(p.Above, c == 2 ? 1.0 : 0.0) << yhat;
    }
    for (const TSpreadForecast& f : {TSpreadForecast{1.5, 0.3, 0, false}, TSpreadForecast{1.5, std::nullopt, 0, false},
                                     TSpreadForecast{1.5, 0.3, 10, true}, TSpreadForecast{1.5, 0.3, -2, false}}) {
        const TTercileProbabilities p = ProbabilitiesOf(f, t);
        EXPECT_EQ(p.Below, 1.0 / 3);
        EXPECT_EQ(p.Near, 1.0 / 3);
        EXPECT_EQ(p.Above, 1.0 / 3);
    }
    // A spread so small that (t - ŷ)/σ leaves the doubles: a certainty, not a NaN.
    const TTercileProbabilities far = ProbabilitiesOf({1e300, 1e-300, 4, false}, t);
    EXPECT_EQ(far.Above, 1.0);
    EXPECT_EQ(far.Below, 0.0);
    EXPECT_EQ(far.Near, 0.0);
}

TEST(TercileProbabilities, MostLikelyCategoryTiesGoToNear)
{
    EXPECT_EQ(MostLikely({0.5, 0.3, 0.2}), TCategory::Below);
    EXPECT_EQ(MostLikely({0.2, 0.3, 0.5}), TCategory::Above);
    EXPECT_EQ(MostLikely({0.4, 0.4, 0.2}), TCategory::Near);
    EXPECT_EQ(MostLikely({0.45, 0.1, 0.45}), TCategory::Near);
    EXPECT_EQ(MostLikely({}), TCategory::Near);
}

TEST(ProbabilityScores, AgainstTheirDefinitions)
{
    std::mt19937_64 rng(17);
    // Probabilities from a few values, bounds of the bins among them, so that ties and bounds occur.
    const double levels[] = {0.0, 0.1, 0.2, 0.3, 1.0 / 3, 0.5, 0.7, 0.9, 1.0};
    for (int trial = 0; trial < 50; ++trial) {
        const int n = 1 + static_cast<int>(rng() % 40);
        std::vector<DirectProbabilities> direct;
        std::vector<TTercileProbabilities> p;
        std::vector<int> observed;
        std::vector<TCategory> categories;
        for (int k = 0; k < n; ++k) {
            const double below = levels[rng() % 9];
            const double above = levels[rng() % 9] * (1 - below);
            direct.push_back({below, 1 - below - above, above});
            p.push_back(Converted(direct.back()));
            // A few trials see only one category, where a ROC area is undetermined.
            observed.push_back(trial % 10 == 0 ? 1 : static_cast<int>(rng() % 3));
            categories.push_back(static_cast<TCategory>(observed.back()));
        }
        TProbabilisticHindcast outlook;
        outlook.Scores = ScoreProbabilities(p, categories);
        ExpectScores(outlook, direct, observed, "trial " + std::to_string(trial));
    }
    const TProbabilityScores none = ScoreProbabilities({}, {});
    EXPECT_FALSE(none.Rpss || none.RocBelow || none.RocAbove || none.Hss);
    for (const auto& bin : none.ReliabilityAbove) EXPECT_FALSE(bin.Observed);
    EXPECT_EQ(none.ReliabilityAbove.back().Upper, 1.0);
}

TEST(ProbabilityScores, PerfectAndClimatologicalForecasts)
{
    const std::vector<TCategory> observed{TCategory::Below, TCategory::Near, TCategory::Above, TCategory::Above};
    const std::vector<TTercileProbabilities> perfect{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 1}};
    const TProbabilityScores best = ScoreProbabilities(perfect, observed);
    EXPECT_EQ(*best.Rpss, 1.0);
    EXPECT_EQ(*best.RocAbove, 1.0);
    EXPECT_EQ(*best.Hss, 1.0);
    const TProbabilityScores none = ScoreProbabilities(std::vector<TTercileProbabilities>(4), observed);
    EXPECT_EQ(*none.Rpss, 0.0);
    EXPECT_EQ(*none.RocBelow, 0.5);
}

namespace {

struct OutlookCase {
    std::string Label;
    TMemoryDataSet (*Table)();
    std::string Y;
    std::int32_t Method;
    double Fa;
    std::int32_t Leave;
    std::int32_t Start;  // of the retroactive forecasts; 0 for half the records
};

std::ostream& operator<<(std::ostream& out, const OutlookCase& c) { return out << c.Label; }

std::string Example(const std::string& name) { return std::string(QUORLIN_EXAMPLES) + "/" + name; }

TMemoryDataSet ElNino() { return NumberTableFile(Example("elnino.csv")); }
TMemoryDataSet Longley() { return NumberTable("Longley.csv"); }
TMemoryDataSet Stepwise4() { return NumberTable("Stepwise4.csv"); }

// Y follows a and b; c is 0 except in record 6, so the folds and the retroactive steps whose
// training records lack record 6 have a constant factor and cannot be computed.
TMemoryDataSet SomeFoldsFail()
{
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise;
    TMemoryDataSet table({"a", "b", "c", "y"});
    for (int k = 0; k < 24; ++k) {
        const double a = noise(rng), b = noise(rng), c = k == 6 ? 2.5 : 0.0;
        table.AppendRecord({a, b, c, 3 * a - 2 * b + 0.5 * noise(rng)});
    }
    return table;
}

const OutlookCase OutlookCases[] = {
    {"ElNinoLeaveOne", ElNino, "DEC", MethodStepwise, 4.0, 1, 0},
    {"ElNinoLeaveThree", ElNino, "DEC", MethodStepwise, 4.0, 3, 20},
    {"LongleyFull", Longley, "TOTEMP", MethodFull, 4.0, 1, 9},
    {"LongleyStepwise", Longley, "TOTEMP", MethodStepwise, 2.0, 1, 0},
    {"Stepwise4", Stepwise4, "Y", MethodStepwise, 4.0, 1, 0},
    {"Stepwise4LowThreshold", Stepwise4, "Y", MethodStepwise, 1.5, 3, 6},
    {"SomeFoldsFail", SomeFoldsFail, "y", MethodStepwise, 4.0, 3, 4},
};

class OutlookAgainstDirectRefit : public ::testing::TestWithParam<OutlookCase> {
protected:
    void SetUp() override
    {
        const OutlookCase& c = GetParam();
        Table = c.Table();
        for (const auto& name : Table.FieldNames())
            if (name != c.Y) Factors.push_back(name);
        Y = ColumnValues(Table, c.Y);
        const std::int32_t n = Table.RecordCount();
        Options = {c.Method, c.Fa, c.Leave, true, c.Start > 0 ? c.Start : DefaultRetroactiveStart(n)};
        Skill.emplace(ComputeSkill(Table, Factors, c.Y, Options));
    }

    // The direct forecast of record target from the records kept, checked against the
    // computation's forecast, spread and degrees of freedom; its probabilities and observed
    // category are added to the lists to be scored.
    void Check(const std::vector<std::int32_t>& kept, std::int32_t target, const TSpreadForecast& got,
               const TProbabilisticHindcast& outlook, std::size_t index, std::vector<DirectProbabilities>& p,
               std::vector<int>& observed, const std::string& where)
    {
        const OutlookCase& c = GetParam();
        const DirectForecast d = RefitDirectly(Table, Factors, c.Y, c.Method, c.Fa, kept, target);
        EXPECT_EQ(got.Failed, d.Failed) << where;
        ExpectRelative(got.Value, d.Value, Tolerance, where + " forecast");
        const double lower = DirectTercile(d.TrainingY, 1), upper = DirectTercile(d.TrainingY, 2);
        ExpectRelative(outlook.Terciles[index].Lower, lower, 1e-14, where + " lower tercile");
        ExpectRelative(outlook.Terciles[index].Upper, upper, 1e-14, where + " upper tercile");
        DirectProbabilities want;
        if (!d.Failed) {
            EXPECT_EQ(got.Dof, d.Dof) << where;
            EXPECT_EQ(got.Spread.has_value(), d.Dof > 0) << where;
            if (got.Spread) ExpectRelative(*got.Spread, d.Sigma, 1e-8, where + " spread");
            want = DirectTercileProbabilities(d.Value, d.Sigma, d.Dof, lower, upper);
        }
        ExpectProbabilities(outlook.Probabilities[index], want, where);
        const int category = DirectCategory(Y[static_cast<std::size_t>(target)], lower, upper);
        EXPECT_EQ(static_cast<int>(outlook.Observed[index]), category) << where;
        p.push_back(want);
        observed.push_back(category);
    }

    TMemoryDataSet Table;
    std::vector<std::string> Factors;
    std::vector<double> Y;
    TSkillOptions Options;
    std::optional<TSkill> Skill;
};

}  // namespace

TEST_P(OutlookAgainstDirectRefit, EveryFoldsProbabilitiesAndTheirScores)
{
    const std::int32_t n = Table.RecordCount();
    const TCrossValidation& cv = Skill->Validation;
    ASSERT_TRUE(Skill->Outlook && Skill->Terciles);
    ExpectRelative(Skill->Terciles->Lower, DirectTercile(Y, 1), 1e-14, "lower tercile");
    ExpectRelative(Skill->Terciles->Upper, DirectTercile(Y, 2), 1e-14, "upper tercile");
    std::vector<DirectProbabilities> p;
    std::vector<int> observed;
    for (std::int32_t record = 0; record < n; ++record) {
        std::vector<std::int32_t> kept;
        for (std::int32_t k = 0; k < n; ++k)
            if (std::abs(k - record) > Options.Leave / 2) kept.push_back(k);
        const auto i = static_cast<std::size_t>(record);
        Check(kept, record, {cv.Hindcast[i], cv.Spread[i], cv.Dof[i], cv.Failed[i]}, *Skill->Outlook, i, p, observed,
              "fold " + std::to_string(record));
    }
    ExpectScores(*Skill->Outlook, p, observed, "cross-validated");
}

TEST_P(OutlookAgainstDirectRefit, EveryRetroactiveStepAndTheirScores)
{
    const std::int32_t n = Table.RecordCount();
    ASSERT_TRUE(Skill->Retroactive && Skill->RetroactiveOutlook);
    const TRetroactive& r = *Skill->Retroactive;
    ASSERT_EQ(r.Start, *Options.RetroactiveStart);
    ASSERT_EQ(r.Hindcast.size(), static_cast<std::size_t>(n - r.Start));
    std::vector<DirectProbabilities> p;
    std::vector<int> observed;
    std::vector<double> forecast, climatology, y;
    std::vector<std::int32_t> kept;
    std::int32_t failed = 0;
    for (std::int32_t k = 0; k < r.Start; ++k) kept.push_back(k);
    for (std::int32_t record = r.Start; record < n; ++record) {
        const auto i = static_cast<std::size_t>(record - r.Start);
        const std::string where = "step " + std::to_string(record);
        Check(kept, record, {r.Hindcast[i], r.Spread[i], r.Dof[i], r.Failed[i]}, *Skill->RetroactiveOutlook, i, p, observed,
              where);
        const DirectForecast d = RefitDirectly(Table, Factors, GetParam().Y, GetParam().Method, GetParam().Fa, kept, record);
        ExpectRelative(r.Climatology[i], d.TrainingMean, 1e-13, where + " climatology");
        forecast.push_back(d.Value);
        climatology.push_back(d.TrainingMean);
        y.push_back(Y[static_cast<std::size_t>(record)]);
        failed += d.Failed;
        kept.push_back(record);
    }
    EXPECT_EQ(r.FailedSteps, failed);
    if (GetParam().Table == SomeFoldsFail) {
        EXPECT_EQ(failed, 3);
    }
    ExpectScores(*Skill->RetroactiveOutlook, p, observed, "retroactive");

    double se = 0, ae = 0, ce = 0, mf = 0, my = 0;
    const double count = static_cast<double>(y.size());
    for (std::size_t k = 0; k < y.size(); ++k) {
        se += (forecast[k] - y[k]) * (forecast[k] - y[k]);
        ae += std::fabs(forecast[k] - y[k]);
        ce += (climatology[k] - y[k]) * (climatology[k] - y[k]);
        mf += forecast[k] / count;
        my += y[k] / count;
    }
    double sff = 0, syy = 0, sfy = 0;
    for (std::size_t k = 0; k < y.size(); ++k) {
        sff += (forecast[k] - mf) * (forecast[k] - mf);
        syy += (y[k] - my) * (y[k] - my);
        sfy += (forecast[k] - mf) * (y[k] - my);
    }
    ExpectRelative(r.Rmse, std::sqrt(se / count), Tolerance, "RMSE");
    ExpectRelative(r.Mae, ae / count, Tolerance, "MAE");
    ExpectOptional(r.Msss, 1 - se / ce, "MSSS");
    ExpectOptional(r.Correlation, sfy / std::sqrt(sff * syy), "correlation");
}

INSTANTIATE_TEST_SUITE_P(Tables, OutlookAgainstDirectRefit, ::testing::ValuesIn(OutlookCases),
                         [](const auto& tested) { return tested.param.Label; });

TEST(OutlookOfAFailingTable, FailedFoldsAndStepsKnowNoMoreThanClimatology)
{
    TMemoryDataSet table = SomeFoldsFail();
    const TSkill skill = ComputeSkill(table, {"a", "b", "c"}, "y", {MethodStepwise, 4.0, 3, true, 4});
    // The folds centred on records 5 to 7 leave record 6 out; the steps forecasting records 4
    // to 6 have not seen it yet.
    for (std::size_t k = 0; k < 24; ++k) {
        EXPECT_EQ(skill.Validation.Failed[k], k >= 5 && k <= 7) << k;
        if (k >= 4) {
            EXPECT_EQ(skill.Retroactive->Failed[k - 4], k <= 6) << k;
        }
    }
    for (const TProbabilisticHindcast* outlook : {&*skill.Outlook, &*skill.RetroactiveOutlook})
        for (std::size_t k = 0; k < outlook->Probabilities.size(); ++k) {
            const bool failed = outlook == &*skill.Outlook ? skill.Validation.Failed[k] : skill.Retroactive->Failed[k];
            if (!failed) continue;
            EXPECT_EQ(outlook->Probabilities[k].Below, 1.0 / 3) << k;
            EXPECT_EQ(outlook->Probabilities[k].Near, 1.0 / 3) << k;
            EXPECT_EQ(outlook->Probabilities[k].Above, 1.0 / 3) << k;
        }
}

TEST(RetroactiveForecasts, StartIsCheckedAndProgressMayCancel)
{
    TMemoryDataSet table = NumberTable("Stepwise4.csv");
    const TSkillSample sample(table, {"X0", "X1", "X2", "X3"}, "Y");
    EXPECT_EQ(DefaultRetroactiveStart(20), 10);
    EXPECT_EQ(DefaultRetroactiveStart(61), 31);
    for (std::int32_t start : {-1, 0, 2, 20, 21}) EXPECT_THROW(ForecastRetroactively(sample, MethodStepwise, 4.0, start), ESkillError) << start;
    std::vector<std::int32_t> seen;
    ForecastRetroactively(sample, MethodStepwise, 4.0, 15, [&](std::int32_t done, std::int32_t total) {
        EXPECT_EQ(total, 5);
        seen.push_back(done);
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
    EXPECT_THROW(ForecastRetroactively(sample, MethodStepwise, 4.0, 3, [](std::int32_t done, std::int32_t) { return done < 4; }),
                 ESkillCancelled);
    EXPECT_THROW(ComputeSkill(table, {"X0"}, "Y", {MethodStepwise, 4.0, 1, false, 20}), ESkillError);
}

TEST(ForecastTerciles, OfANewCaseAgainstALeastSquaresFit)
{
    TMemoryDataSet table = ElNino();
    const std::vector<double> y = ColumnValues(table, "DEC");
    const TTerciles terciles = Terciles(y);
    for (double fa : {4.0, 1e9}) {
        std::vector<std::string> candidates{"SEP", "OCT", "NOV"};
        const TFittedEquation equation(table, candidates, "DEC", MethodStepwise, fa);
        std::vector<std::vector<double>> columns;
        for (const auto& name : equation.FactorNames()) columns.push_back(ColumnValues(table, name));
        const LeastSquaresFit fit = FitLeastSquares(columns, y);
        // Fa 1e9 takes no factor: the spread is Y's own standard deviation with divisor n - 1.
        EXPECT_EQ(columns.empty(), fa > 100);
        for (double nov : {21.0, 24.1, 27.5}) {
            const std::vector<double> values(equation.FactorNames().size(), nov);
            const double sigma = static_cast<double>(sqrtq(fit.Rss / fit.Dof() * (1 + fit.Leverage(values))));
            const TTercileForecast f = ForecastTerciles(equation, values, terciles);
            ExpectProbabilities(f.Probabilities,
                                DirectTercileProbabilities(static_cast<double>(fit.Predict(values)), sigma,
                                                           static_cast<double>(fit.Dof()), terciles.Lower, terciles.Upper),
                                "NOV " + std::to_string(nov));
            ExpectRelative(*equation.PredictionSpread(values), sigma, 1e-9, "spread");
        }
    }
}
