// Cross-validation against a direct refit per fold: for every record, a table of the records
// the fold keeps is built and the whole computation (TStatistics with the same method and Fa,
// so stepwise selects again) is redone on it; its forecast of the record left out, the factors
// it selected, and whether it could be computed at all must be what the downdating computation
// says. The skill figures are recomputed from the direct hindcasts.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/StatisticsTestSupport.h"
#include "numeric/FloatError.h"
#include "statistics/CrossValidation.h"
#include "statistics/Skill.h"
#include "statistics/Statistics01.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

constexpr double Tolerance = 1e-9;

struct Case {
    std::string Label;
    TMemoryDataSet (*Table)();
    std::string Y;
    std::int32_t Method;
    double Fa;
    std::int32_t Leave;
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.Label; }

TMemoryDataSet ElNino() { return NumberTableFile(std::string(QUORLIN_EXAMPLES) + "/elnino.csv"); }
TMemoryDataSet Longley() { return NumberTable("Longley.csv"); }
TMemoryDataSet Stepwise4() { return NumberTable("Stepwise4.csv"); }

// Y follows a and b; c is 0 except in record 6, so the folds that leave record 6 out have a
// constant factor and cannot be computed.
TMemoryDataSet OneNonzero()
{
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise;
    TMemoryDataSet table({"a", "b", "c", "y"});
    for (int k = 0; k < 20; ++k) {
        const double a = noise(rng), b = noise(rng), c = k == 6 ? 2.5 : 0.0;
        table.AppendRecord({a, b, c, 3 * a - 2 * b + 0.5 * noise(rng)});
    }
    return table;
}

// Factor c has one value far beyond the others: the fold that leaves it out keeps almost
// nothing of c's sum of squares, and its moments cannot come from downdating.
TMemoryDataSet Outlier()
{
    std::mt19937_64 rng(11);
    std::normal_distribution<double> noise;
    TMemoryDataSet table({"a", "b", "c", "y"});
    for (int k = 0; k < 25; ++k) {
        const double a = noise(rng), b = noise(rng), c = (k == 12 ? 1e7 : 0.0) + noise(rng);
        table.AppendRecord({a, b, c, a + b + 0.3 * c * (k == 12 ? 0.0 : 1.0) + 0.2 * noise(rng)});
    }
    return table;
}

// Factor c equals a + b except in record 9: folds that leave record 9 out are singular.
TMemoryDataSet Collinear()
{
    std::mt19937_64 rng(5);
    std::normal_distribution<double> noise;
    TMemoryDataSet table({"a", "b", "c", "y"});
    for (int k = 0; k < 15; ++k) {
        const double a = noise(rng), b = noise(rng), c = a + b + (k == 9 ? 1.5 : 0.0);
        table.AppendRecord({a, b, c, a - b + 0.3 * noise(rng)});
    }
    return table;
}

// Four records and three factors: every fold keeps three records for four coefficients.
TMemoryDataSet FewRecords()
{
    return TableOf({"a", "b", "c", "y"}, {{1.0, 5.0, 0.0, 2.0}, {2.0, 3.0, 1.0, 7.0}, {4.0, 4.0, 3.0, 1.0}, {5.0, 1.0, 1.0, 3.0}});
}

const Case Cases[] = {
    {"ElNinoStepwiseLeaveOne", ElNino, "DEC", MethodStepwise, 4.0, 1},
    {"ElNinoStepwiseLeaveFive", ElNino, "DEC", MethodStepwise, 4.0, 5},
    {"ElNinoFullLeaveThree", ElNino, "DEC", MethodFull, 4.0, 3},
    {"LongleyFullLeaveOne", Longley, "TOTEMP", MethodFull, 4.0, 1},
    {"LongleyStepwiseLeaveOne", Longley, "TOTEMP", MethodStepwise, 2.0, 1},
    {"LongleyStepwiseLeaveThree", Longley, "TOTEMP", MethodStepwise, 4.0, 3},
    {"Stepwise4StepwiseLeaveOne", Stepwise4, "Y", MethodStepwise, 4.0, 1},
    {"Stepwise4StepwiseLeaveThree", Stepwise4, "Y", MethodStepwise, 1.5, 3},
    {"Stepwise4FullLeaveOne", Stepwise4, "Y", MethodFull, 4.0, 1},
    {"ConstantInSomeFoldsLeaveOne", OneNonzero, "y", MethodStepwise, 4.0, 1},
    {"ConstantInSomeFoldsLeaveFive", OneNonzero, "y", MethodFull, 4.0, 5},
    {"OutlierLeaveOne", Outlier, "y", MethodStepwise, 4.0, 1},
    {"OutlierFullLeaveThree", Outlier, "y", MethodFull, 4.0, 3},
    {"SingularFoldsLeaveThree", Collinear, "y", MethodFull, 4.0, 3},
    {"TooFewRecordsForTheFactors", FewRecords, "y", MethodFull, 4.0, 1},
};

std::vector<std::string> FactorsBut(const TMemoryDataSet& table, const std::string& y)
{
    std::vector<std::string> names;
    for (const auto& name : table.FieldNames())
        if (name != y) names.push_back(name);
    return names;
}

// What one fold gives when it is computed from scratch.
struct DirectFold {
    double Hindcast = 0;
    double TrainingMean = 0;
    bool Failed = false;
    std::vector<bool> Selected;
};

DirectFold RefitFold(const TMemoryDataSet& table, const std::vector<std::string>& factors, const std::string& y,
                     const Case& c, std::int32_t centre)
{
    const std::int32_t half = c.Leave / 2;
    TMemoryDataSet kept(table.FieldNames());
    std::vector<TCell> left;
    for (std::int32_t k = 0; k < table.RecordCount(); ++k) {
        std::vector<TCell> cells;
        for (std::int32_t f = 0; f < table.FieldCount(); ++f) cells.push_back(table.Cell(k, f));
        if (k == centre) left = cells;
        if (std::abs(k - centre) > half) kept.AppendRecord(cells);
    }
    DirectFold fold;
    const std::vector<double> keptY = ColumnValues(kept, y);
    for (double v : keptY) fold.TrainingMean += v / static_cast<double>(keptY.size());
    fold.Selected.assign(factors.size(), false);
    try {
        TStatistics stats(kept, factors, y, c.Fa, c.Method);
        stats.MakeEquationText();
        // Singular: more coefficients than records, or a factor that is a combination of the
        // others to working precision (its VIF, the swept diagonal, beyond 1e12).
        if (c.Method == MethodFull && factors.size() >= static_cast<std::size_t>(kept.RecordCount()))
            throw EMathError(FloatFault::ZeroDivide);
        for (std::size_t i = 0; i < factors.size(); ++i)
            if (stats.Equation().Beta(static_cast<std::int32_t>(i)) != 0.0 &&
                *stats.Equation().Augmented()->Element(static_cast<std::int32_t>(i), static_cast<std::int32_t>(i)) > 1e12)
                throw EMathError(FloatFault::ZeroDivide);
        // From the means, as the constant may nearly cancel against the terms.
        double forecast = stats.YMean();
        for (std::size_t i = 0; i < factors.size(); ++i) {
            const double x = std::get<double>(left[static_cast<std::size_t>(table.FindField(factors[i]))]);
            forecast += stats.Coefficients()[i] * (x - stats.Means()[i]);
            fold.Selected[i] = stats.Equation().Beta(static_cast<std::int32_t>(i)) != 0.0;
        }
        fold.Hindcast = forecast;
    } catch (const EMathError&) {
        fold.Failed = true;
        fold.Hindcast = fold.TrainingMean;
    }
    return fold;
}

void ExpectRelative(double actual, double expected, double tolerance, const std::string& what)
{
    EXPECT_LE(std::fabs(actual - expected), tolerance * std::fabs(expected))
        << what << ": got " << actual << ", want " << expected;
}

class CrossValidationAgainstDirectRefit : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(CrossValidationAgainstDirectRefit, EveryFoldAndTheSkillFigures)
{
    const Case& c = GetParam();
    // NumberTable gives text cells; the direct refit reads numbers.
    TMemoryDataSet text = c.Table();
    TMemoryDataSet table(text.FieldNames());
    for (std::int32_t k = 0; k < text.RecordCount(); ++k) {
        std::vector<TCell> cells;
        for (std::int32_t f = 0; f < text.FieldCount(); ++f) {
            text.First();
            text.MoveBy(k);
            cells.emplace_back(std::in_place_type<double>, text.AsFloat(f));
        }
        table.AppendRecord(cells);
    }
    const std::vector<std::string> factors = FactorsBut(table, c.Y);
    const TSkillSample sample(table, factors, c.Y);
    const TCrossValidation cv = CrossValidate(sample, c.Method, c.Fa, c.Leave);
    const std::vector<double>& y = sample.Y();
    const std::size_t n = y.size();
    ASSERT_EQ(cv.Hindcast.size(), n);

    std::vector<std::int32_t> counts(factors.size(), 0);
    std::int32_t failed = 0;
    std::vector<double> hindcast, climatology;
    for (std::size_t k = 0; k < n; ++k) {
        const DirectFold fold = RefitFold(table, factors, c.Y, c, static_cast<std::int32_t>(k));
        const std::string where = "fold " + std::to_string(k);
        EXPECT_EQ(cv.Failed[k], fold.Failed) << where;
        ExpectRelative(cv.Hindcast[k], fold.Hindcast, Tolerance, where + " hindcast");
        ExpectRelative(cv.Climatology[k], fold.TrainingMean, 1e-13, where + " climatology");
        failed += fold.Failed;
        for (std::size_t i = 0; i < factors.size(); ++i) counts[i] += fold.Selected[i];
        hindcast.push_back(fold.Hindcast);
        climatology.push_back(fold.TrainingMean);
    }
    EXPECT_EQ(cv.FailedFolds, failed);
    EXPECT_EQ(cv.SelectionCounts, counts);
    EXPECT_EQ(cv.Leave, c.Leave);

    double se = 0, ae = 0, ce = 0, mh = 0, my = 0;
    for (std::size_t k = 0; k < n; ++k) {
        se += (hindcast[k] - y[k]) * (hindcast[k] - y[k]);
        ae += std::fabs(hindcast[k] - y[k]);
        ce += (climatology[k] - y[k]) * (climatology[k] - y[k]);
        mh += hindcast[k] / n;
        my += y[k] / n;
    }
    double shh = 0, syy = 0, shy = 0;
    for (std::size_t k = 0; k < n; ++k) {
        shh += (hindcast[k] - mh) * (hindcast[k] - mh);
        syy += (y[k] - my) * (y[k] - my);
        shy += (hindcast[k] - mh) * (y[k] - my);
    }
    ExpectRelative(cv.Rmse, std::sqrt(se / n), Tolerance, "RMSE");
    ExpectRelative(cv.Mae, ae / n, Tolerance, "MAE");
    ASSERT_TRUE(cv.Msss && cv.Correlation);
    // MSSS and the correlation are compared on a scale of at least 1: they may lie near 0.
    const double msss = 1 - se / ce;
    EXPECT_NEAR(*cv.Msss, msss, Tolerance * std::max(1.0, std::fabs(msss)));
    EXPECT_NEAR(*cv.Correlation, shy / std::sqrt(shh * syy), Tolerance);
}

INSTANTIATE_TEST_SUITE_P(Tables, CrossValidationAgainstDirectRefit, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return info.param.Label; });

TEST(CrossValidationFolds, FailingFoldsAreTheOnesWithoutTheOnlyNonzeroRecord)
{
    TMemoryDataSet table = OneNonzero();
    const TSkillSample sample(table, {"a", "b", "c"}, "y");
    for (std::int32_t leave : {1, 3, 5}) {
        const TCrossValidation cv = CrossValidate(sample, MethodStepwise, 4.0, leave);
        EXPECT_EQ(cv.FailedFolds, leave);
        for (std::int32_t k = 0; k < 20; ++k)
            EXPECT_EQ(cv.Failed[static_cast<std::size_t>(k)], std::abs(k - 6) <= leave / 2) << leave << " " << k;
    }
}

TEST(CrossValidationFolds, SingularFoldsAreTheOnesWithoutTheRecordThatBreaksTheCombination)
{
    TMemoryDataSet table = Collinear();
    const TSkillSample sample(table, {"a", "b", "c"}, "y");
    const TCrossValidation cv = CrossValidate(sample, MethodFull, 4.0, 3);
    EXPECT_EQ(cv.FailedFolds, 3);
    for (std::int32_t k = 0; k < 15; ++k) EXPECT_EQ(cv.Failed[static_cast<std::size_t>(k)], std::abs(k - 9) <= 1) << k;
    TMemoryDataSet few = FewRecords();
    EXPECT_EQ(CrossValidate(TSkillSample(few, {"a", "b", "c"}, "y"), MethodFull, 4.0, 1).FailedFolds, 4);
}

TEST(CrossValidationFolds, WindowsAreCutAtTheEnds)
{
    EXPECT_EQ(FoldWindow(0, 5, 10).First, 0);
    EXPECT_EQ(FoldWindow(0, 5, 10).Last, 2);
    EXPECT_EQ(FoldWindow(9, 5, 10).First, 7);
    EXPECT_EQ(FoldWindow(9, 5, 10).Last, 9);
    EXPECT_EQ(FoldWindow(4, 1, 10).First, 4);
    EXPECT_EQ(FoldWindow(4, 1, 10).Last, 4);
}

TEST(CrossValidationFolds, BadNumbersOfRecordsToLeaveOutAreRefused)
{
    TMemoryDataSet table = Stepwise4();
    const TSkillSample sample(table, {"X0", "X1"}, "Y");
    for (std::int32_t leave : {0, -1, 2, 4, 19, 21})
        EXPECT_THROW(CrossValidate(sample, MethodStepwise, 4.0, leave), ESkillError) << leave;
    EXPECT_NO_THROW(CrossValidate(sample, MethodStepwise, 4.0, 17));
}

TEST(CrossValidationFolds, ProgressIsToldOfEveryFoldAndMayCancel)
{
    TMemoryDataSet table = Stepwise4();
    const TSkillSample sample(table, {"X0", "X1", "X2", "X3"}, "Y");
    std::vector<std::int32_t> seen;
    CrossValidate(sample, MethodStepwise, 4.0, 1, [&](std::int32_t done, std::int32_t total) {
        EXPECT_EQ(total, 20);
        seen.push_back(done);
        return true;
    });
    ASSERT_EQ(seen.size(), 20u);
    EXPECT_EQ(seen.back(), 20);
    EXPECT_THROW(CrossValidate(sample, MethodStepwise, 4.0, 1, [](std::int32_t done, std::int32_t) { return done < 5; }),
                 ESkillCancelled);
}

TEST(SkillOfATable, FittedValuesAndTheRecordAxis)
{
    TMemoryDataSet table = ElNino();
    std::vector<std::string> factors = FactorsBut(table, "DEC");
    const TSkill skill = ComputeSkill(table, factors, "DEC", {MethodStepwise, 4.0, 3});
    TStatistics stats(table, factors, "DEC", 4.0, MethodStepwise);
    stats.MakeEquationText();
    EXPECT_EQ(skill.Equation.Text(), stats.EquationText());
    ASSERT_EQ(skill.Fitted.size(), 61u);
    for (std::int32_t k = 0; k < 61; ++k) {
        table.First();
        table.MoveBy(k);
        double fitted = stats.Constant();
        for (std::size_t i = 0; i < factors.size(); ++i)
            fitted += stats.Coefficients()[i] * table.AsFloat(table.FieldByName(factors[i]));
        EXPECT_NEAR(skill.Fitted[static_cast<std::size_t>(k)], fitted, 1e-9 * std::fabs(fitted));
        EXPECT_EQ(skill.Observed[static_cast<std::size_t>(k)], table.AsFloat(table.FieldByName("DEC")));
    }
    EXPECT_EQ(skill.Validation.Leave, 3);

    bool years = false;
    const std::vector<double> axis = RecordAxis(table, "YEAR", years);
    EXPECT_TRUE(years);
    EXPECT_EQ(axis.front(), 1950);
    EXPECT_EQ(axis.back(), 2010);
    TMemoryDataSet sample = SampleTable();
    EXPECT_EQ(RecordAxis(sample, "x1", years), (std::vector<double>{1, 2, 3, 4, 5}));
    EXPECT_FALSE(years);
}
