// The screening null test: each run must be the cross-validation of the shuffled Y, as the
// plain path computes it from a sample holding that Y; p and the 95th percentile must follow
// their definitions; noise must look like noise and real skill like real skill.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/ProbabilityTestSupport.h"
#include "statistics/Permutations.h"
#include "statistics/ProbabilisticHindcast.h"
#include "statistics/ScreeningNull.h"
#include "statistics/Skill.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

TSkillSample SampleOf(const std::string& path, const std::string& y, std::vector<std::string> factors = {})
{
    TMemoryDataSet table = NumberTableFile(path);
    if (factors.empty())
        for (const auto& name : table.FieldNames())
            if (name != y) factors.push_back(name);
    return TSkillSample(table, factors, y);
}

TSkillSample ElNino(std::vector<std::string> factors = {})
{
    return SampleOf(std::string(QUORLIN_EXAMPLES) + "/elnino.csv", "DEC", std::move(factors));
}

// n records of m factors and a Y that none of them has anything to do with.
TSkillSample Noise(std::uint64_t seed, int n, int m)
{
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal;
    std::vector<std::string> names;
    std::vector<std::vector<double>> factors(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) {
        names.push_back("X" + std::to_string(i));
        for (int k = 0; k < n; ++k) factors[static_cast<std::size_t>(i)].push_back(normal(rng));
    }
    std::vector<double> y;
    for (int k = 0; k < n; ++k) y.push_back(normal(rng));
    return TSkillSample(names, std::move(factors), "Y", std::move(y));
}

// Y is constant but for record 6, and c equals a + b but for record 9: some folds of some
// shuffles fail for Y, some folds of every shuffle for the singular factors.
TSkillSample FoldsThatFail()
{
    std::mt19937_64 rng(5);
    std::normal_distribution<double> normal;
    std::vector<double> a, b, c, y;
    for (int k = 0; k < 16; ++k) {
        a.push_back(normal(rng));
        b.push_back(normal(rng));
        c.push_back(a.back() + b.back() + (k == 9 ? 1.5 : 0.0));
        y.push_back(k == 6 || k == 11 ? 4.0 : k % 2);
    }
    return TSkillSample({"a", "b", "c"}, {a, b, c}, "y", y);
}

void ExpectSame(const std::optional<double>& got, const std::optional<double>& want, const std::string& what)
{
    ASSERT_EQ(got.has_value(), want.has_value()) << what;
    if (want) {
        EXPECT_NEAR(*got, *want, 1e-11 * std::max(1.0, std::fabs(*want))) << what;
    }
}

struct NullCase {
    std::string Label;
    TSkillSample (*Sample)();
    std::int32_t Method;
    double Fa;
    std::int32_t Leave;
};

std::ostream& operator<<(std::ostream& out, const NullCase& c) { return out << c.Label; }

TSkillSample ElNinoAll() { return ElNino(); }
TSkillSample Longley() { return SampleOf(DataFile("Longley.csv"), "TOTEMP"); }
TSkillSample Stepwise4() { return SampleOf(DataFile("Stepwise4.csv"), "Y"); }

const NullCase NullCases[] = {
    {"ElNinoLeaveOne", ElNinoAll, MethodStepwise, 4.0, 1},
    {"ElNinoLeaveThree", ElNinoAll, MethodStepwise, 4.0, 3},
    {"LongleyStepwise", Longley, MethodStepwise, 2.0, 1},
    {"LongleyFull", Longley, MethodFull, 4.0, 1},
    {"Stepwise4", Stepwise4, MethodStepwise, 4.0, 1},
    {"FoldsThatFail", FoldsThatFail, MethodFull, 4.0, 3},
};

class ScreeningNullAgainstCrossValidation : public ::testing::TestWithParam<NullCase> {};

}  // namespace

TEST_P(ScreeningNullAgainstCrossValidation, EveryRunIsTheCrossValidationOfItsShuffle)
{
    const NullCase& c = GetParam();
    const TSkillSample sample = c.Sample();
    constexpr std::int32_t Runs = 12;
    const TScreeningNull null = ScreenNoise(sample, c.Method, c.Fa, c.Leave, {Runs, 2024, true});
    ASSERT_EQ(null.Correlation.Null.size(), static_cast<std::size_t>(Runs));
    ASSERT_TRUE(null.Rpss);

    const TCrossValidation actual = CrossValidate(sample, c.Method, c.Fa, c.Leave);
    ExpectSame(null.Correlation.Actual, actual.Correlation, "actual correlation");
    ExpectSame(null.Msss.Actual, actual.Msss, "actual MSSS");
    ExpectSame(null.Rpss->Actual, CrossValidatedProbabilities(sample, actual).Scores.Rpss, "actual RPSS");

    TPermutations orders(2024, sample.RecordCount());
    std::int32_t failedFolds = 0;
    for (std::size_t run = 0; run < Runs; ++run) {
        const std::vector<std::int32_t>& order = orders.Next();
        std::vector<double> y;
        for (std::int32_t k : order) y.push_back(sample.Y()[static_cast<std::size_t>(k)]);
        std::vector<std::vector<double>> factors;
        for (std::int32_t i = 0; i < sample.FactorCount(); ++i) factors.push_back(sample.Factor(i));
        const TSkillSample shuffled(sample.FactorNames(), factors, sample.YName(), y);
        const TCrossValidation cv = CrossValidate(shuffled, c.Method, c.Fa, c.Leave);
        failedFolds += cv.FailedFolds;
        const std::string where = "run " + std::to_string(run);
        ExpectSame(null.Correlation.Null[run], cv.Correlation, where + " correlation");
        ExpectSame(null.Msss.Null[run], cv.Msss, where + " MSSS");
        ExpectSame(null.Rpss->Null[run], CrossValidatedProbabilities(shuffled, cv).Scores.Rpss, where + " RPSS");
    }
    if (c.Sample == FoldsThatFail) {
        EXPECT_GT(failedFolds, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, ScreeningNullAgainstCrossValidation, ::testing::ValuesIn(NullCases),
                         [](const auto& tested) { return tested.param.Label; });

TEST(ScreeningNull, PValuesAndPercentilesByTheirDefinitions)
{
    const TSkillSample sample = ElNino({"JUN", "JUL", "AUG"});
    const TScreeningNull null = ScreenNoise(sample, MethodStepwise, 2.0, 1, {59, 11, true});
    EXPECT_EQ(null.Runs, 59);
    EXPECT_EQ(null.Seed, 11u);
    for (const TNullFigure* figure : {&null.Correlation, &null.Msss, &*null.Rpss}) {
        ASSERT_TRUE(figure->Actual);
        std::vector<double> values;
        int reached = 0;
        for (const auto& v : figure->Null) {
            ASSERT_TRUE(v);
            values.push_back(*v);
            reached += *v >= *figure->Actual;
        }
        EXPECT_DOUBLE_EQ(*figure->P, (1.0 + reached) / 60.0);
        // h = 0.95 · 60 = 57: the 57th smallest exactly.
        std::sort(values.begin(), values.end());
        EXPECT_EQ(*figure->Q95, values[56]);
    }
}

TEST(ScreeningNull, TheSameSeedGivesTheSameRunsAndAnotherSeedOthers)
{
    const TSkillSample sample = ElNino({"SEP", "OCT"});
    const TScreeningNull a = ScreenNoise(sample, MethodStepwise, 4.0, 1, {20, 5, false});
    const TScreeningNull b = ScreenNoise(sample, MethodStepwise, 4.0, 1, {20, 5, false});
    const TScreeningNull c = ScreenNoise(sample, MethodStepwise, 4.0, 1, {20, 6, false});
    EXPECT_EQ(a.Msss.Null, b.Msss.Null);
    EXPECT_EQ(a.Correlation.P, b.Correlation.P);
    EXPECT_NE(a.Msss.Null, c.Msss.Null);
    EXPECT_FALSE(a.Rpss);
}

TEST(ScreeningNull, ScreenedNoiseIsRarelySignificant)
{
    // Stepwise at Fa 2 takes in several of 30 noise factors and fits them well; cross-validated
    // against its own null it must be no better than chance: p < 0.05 about once in 20.
    int significantCorrelation = 0, significantMsss = 0;
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
        const TSkillSample noise = Noise(seed, 40, 30);
        const TScreeningNull null = ScreenNoise(noise, MethodStepwise, 2.0, 1, {99, seed, false});
        significantCorrelation += null.Correlation.P && *null.Correlation.P < 0.05;
        significantMsss += null.Msss.P && *null.Msss.P < 0.05;
    }
    EXPECT_LE(significantCorrelation, 3);
    EXPECT_LE(significantMsss, 3);
}

TEST(ScreeningNull, RealSkillBeatsEveryShuffle)
{
    const TSkillSample sample = ElNino({"SEP", "OCT", "NOV"});
    constexpr std::int32_t Runs = 199;
    const TScreeningNull null = ScreenNoise(sample, MethodStepwise, 4.0, 1, {Runs, 42, true});
    EXPECT_DOUBLE_EQ(*null.Correlation.P, 1.0 / (Runs + 1));
    EXPECT_DOUBLE_EQ(*null.Msss.P, 1.0 / (Runs + 1));
    EXPECT_DOUBLE_EQ(*null.Rpss->P, 1.0 / (Runs + 1));
    EXPECT_LT(*null.Msss.Q95, *null.Msss.Actual);
}

TEST(ScreeningNull, BadRequestsAndCancelling)
{
    const TSkillSample sample = ElNino({"NOV"});
    EXPECT_THROW(ScreenNoise(sample, MethodStepwise, 4.0, 1, {0, 1, false}), ESkillError);
    EXPECT_THROW(ScreenNoise(sample, MethodStepwise, 4.0, 2, {10, 1, false}), ESkillError);
    std::vector<std::int32_t> seen;
    ScreenNoise(sample, MethodStepwise, 4.0, 1, {4, 1, false}, [&](std::int32_t done, std::int32_t total) {
        EXPECT_EQ(total, 4);
        seen.push_back(done);
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2, 3, 4}));
    EXPECT_THROW(ScreenNoise(sample, MethodStepwise, 4.0, 1, {50, 1, false}, [](std::int32_t done, std::int32_t) { return done < 3; }),
                 ESkillCancelled);
}

TEST(Permutations, EveryOrderOfFourEquallyOften)
{
    TPermutations orders(99, 4);
    std::map<std::vector<std::int32_t>, int> seen;
    constexpr int Draws = 24000;
    for (int k = 0; k < Draws; ++k) {
        std::vector<std::int32_t> order = orders.Next();
        ++seen[order];
        std::sort(order.begin(), order.end());
        ASSERT_EQ(order, (std::vector<std::int32_t>{0, 1, 2, 3}));
    }
    ASSERT_EQ(seen.size(), 24u);
    // Each of the 24 orders is expected 1000 times; the chi-square of 23 degrees of freedom
    // exceeds 49.7 once in a thousand.
    double chi2 = 0;
    for (const auto& [order, count] : seen) chi2 += (count - 1000.0) * (count - 1000.0) / 1000.0;
    EXPECT_LT(chi2, 49.7);
}
