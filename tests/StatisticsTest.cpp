#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "tests/StatisticsTestSupport.h"
#include "numeric/FloatError.h"
#include "statistics/Statistics01.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

std::string FailureOf(TDataSet& data, const std::vector<std::string>& factors, const std::string& y,
                      std::int32_t method = MethodFull)
{
    try {
        TStatistics stats(data, factors, y, 4.0, method);
        stats.MakeEquationText();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no failure";
}

// A dataset that checks the statistics read records only with the data-aware controls
// suspended, and counts how the cursor is left.
class WatchedDataSet : public TDataSet {
public:
    explicit WatchedDataSet(TMemoryDataSet& inner) : FInner(inner) {}
    std::int32_t RecordCount() const override { return FInner.RecordCount(); }
    std::int32_t RecNo() const override { return FInner.RecNo(); }
    void First() override { FInner.First(); }
    void Next() override { FInner.Next(); }
    bool Eof() const override { return FInner.Eof(); }
    std::int32_t MoveBy(std::int32_t d) override { return FInner.MoveBy(d); }
    void DisableControls() override
    {
        ++Disabled;
        ++Depth;
    }
    void EnableControls() override { --Depth; }
    std::int32_t FieldByName(std::string_view name) const override { return FInner.FieldByName(name); }
    double AsFloat(std::int32_t field) const override
    {
        if (Depth <= 0) ++ReadsWhileFollowing;
        return FInner.AsFloat(field);
    }

    TMemoryDataSet& FInner;
    int Disabled = 0;
    int Depth = 0;
    mutable int ReadsWhileFollowing = 0;
};

}  // namespace

TEST(SampleStatistics, WorkedExample)
{
    TMemoryDataSet data = SampleTable();
    TStatistics stats(data, {"x1", "x2"}, "y", 4.0, MethodFull);
    EXPECT_EQ(stats.SampleSize(), 5);
    EXPECT_EQ(stats.FactorCount(), 2);
    EXPECT_DOUBLE_EQ(stats.Means()[0], 3.0);
    EXPECT_DOUBLE_EQ(stats.Means()[1], 3.2);
    EXPECT_DOUBLE_EQ(stats.YMean(), 7.4);
    EXPECT_NEAR(*stats.Covariance().Element(0, 0), 2.0, 1e-15);
    EXPECT_NEAR(*stats.Covariance().Element(0, 1), 2.0, 1e-15);
    EXPECT_NEAR(*stats.Covariance().Element(1, 0), 2.0, 1e-15);
    EXPECT_NEAR(*stats.Covariance().Element(1, 1), 2.96, 1e-15);
    EXPECT_NEAR(*stats.CovarianceXY().Element(0, 0), 4.6, 1e-14);
    EXPECT_NEAR(*stats.CovarianceXY().Element(1, 0), 4.52, 1e-14);
    EXPECT_NEAR(stats.YVariance(), 10.64, 1e-14);
    EXPECT_NEAR(*stats.Correlation().Element(0, 1), 2.0 / std::sqrt(2.0 * 2.96), 1e-15);
    EXPECT_NEAR(*stats.Correlation().Element(0, 0), 1.0, 1e-15);
    EXPECT_NEAR(*stats.CorrelationXY().Element(0, 0), 4.6 / std::sqrt(2.0 * 10.64), 1e-14);
    EXPECT_NEAR(*stats.CorrelationXY().Element(1, 0), 4.52 / std::sqrt(2.96 * 10.64), 1e-14);
    EXPECT_NEAR(stats.YSelfCorrelation(), 1.0, 1e-15);

    // Unsolved until the equation text is made.
    EXPECT_EQ(stats.Equation().Beta(0), 0.0);
    EXPECT_TRUE(stats.EquationText().empty());
    stats.MakeEquationText();
    EXPECT_NEAR(stats.Coefficients()[0], 2.383333333333333, 1e-12);
    EXPECT_NEAR(stats.Coefficients()[1], -0.083333333333333, 1e-12);
    EXPECT_NEAR(stats.Constant(), 0.516666666666667, 1e-12);
    EXPECT_EQ(stats.EquationText(), "y=0.517+2.383*x1-0.083*x2");
}

TEST(SampleStatistics, MethodCodeChoosesTheEquation)
{
    TMemoryDataSet data = SampleTable();
    EXPECT_NE(dynamic_cast<const TTigEquation*>(&TStatistics(data, {"x1"}, "y", 4, MethodStepwise).Equation()), nullptr);
    EXPECT_NE(dynamic_cast<const TAugEquation*>(&TStatistics(data, {"x1"}, "y", 4, MethodFull).Equation()), nullptr);
    EXPECT_NE(dynamic_cast<const TAugEquation*>(&TStatistics(data, {"x1"}, "y", 4, 7).Equation()), nullptr);
    EXPECT_NE(dynamic_cast<const TAugEquation*>(&TStatistics(data, {"x1"}, "y", 4, 0).Equation()), nullptr);
}

TEST(SampleStatistics, FieldNamesIgnoreLetterCase)
{
    TMemoryDataSet data = SampleTable();
    TStatistics stats(data, {"X1", "x2"}, "Y", 4.0, MethodFull);
    stats.MakeEquationText();
    EXPECT_EQ(stats.EquationText(), "Y=0.517+2.383*X1-0.083*x2");
}

TEST(SampleStatistics, EmptyNumericCellReadsAsZeroAndCounts)
{
    TMemoryDataSet withNull = TableOf({"a", "y"}, {{1.0, 2.0}, {std::monostate{}, 3.0}, {4.0, 7.0}});
    TMemoryDataSet withZero = TableOf({"a", "y"}, {{1.0, 2.0}, {0.0, 3.0}, {4.0, 7.0}});
    TStatistics a(withNull, {"a"}, "y", 4.0, MethodFull);
    TStatistics b(withZero, {"a"}, "y", 4.0, MethodFull);
    EXPECT_EQ(a.SampleSize(), 3);
    EXPECT_EQ(a.Means()[0], b.Means()[0]);
    EXPECT_DOUBLE_EQ(a.Means()[0], 5.0 / 3);
    EXPECT_EQ(*a.Covariance().Element(0, 0), *b.Covariance().Element(0, 0));
}

TEST(SampleStatistics, NullsTable)
{
    TMemoryDataSet data = TableOf({"a", "b", "y"}, {{1.0, 2.0, 3.1},
                                                     {2.0, std::monostate{}, 4.9},
                                                     {3.0, 1.0, 7.2},
                                                     {std::monostate{}, 5.0, 8.8},
                                                     {5.0, 4.0, 11.1},
                                                     {6.0, 2.5, 12.0}});
    TStatistics stats(data, {"a", "b"}, "y", 4.0, MethodFull);
    EXPECT_EQ(stats.SampleSize(), 6);
    EXPECT_DOUBLE_EQ(stats.Means()[0], (1 + 2 + 3 + 0 + 5 + 6) / 6.0);
    EXPECT_DOUBLE_EQ(stats.Means()[1], (2 + 0 + 1 + 5 + 4 + 2.5) / 6.0);
}

TEST(SampleStatistics, TextCellsReadAsNumbers)
{
    TMemoryDataSet data = TableOf({"Num", "y"}, {{"1.5", 2.0}, {"2.25", 3.5}, {"-3", 1.0}, {" 4e1 ", 9.0}});
    TStatistics stats(data, {"Num"}, "y", 4.0, MethodFull);
    EXPECT_DOUBLE_EQ(stats.Means()[0], (1.5 + 2.25 - 3 + 40) / 4);
}

TEST(SampleStatistics, OneFactorGivesOneByOneMatrices)
{
    TMemoryDataSet data = SampleTable();
    TStatistics stats(data, {"x2"}, "y", 4.0, MethodFull);
    EXPECT_EQ(stats.Covariance().Rows(), 1);
    EXPECT_EQ(stats.Correlation().Cols(), 1);
    EXPECT_EQ(stats.CovarianceXY().Rows(), 1);
    stats.MakeEquationText();
    const double b = 4.52 / 2.96;
    EXPECT_NEAR(stats.Coefficients()[0], b, 1e-13);
    EXPECT_NEAR(stats.Constant(), 7.4 - b * 3.2, 1e-13);
}

TEST(SampleStatistics, FactorOrderPermutesTheTerms)
{
    TMemoryDataSet data = SampleTable();
    TStatistics forward(data, {"x1", "x2"}, "y", 4.0, MethodFull);
    TStatistics backward(data, {"x2", "x1"}, "y", 4.0, MethodFull);
    forward.MakeEquationText();
    backward.MakeEquationText();
    EXPECT_EQ(backward.EquationText(), "y=0.517-0.083*x2+2.383*x1");
    EXPECT_NEAR(forward.Coefficients()[0], backward.Coefficients()[1], 1e-13);
    EXPECT_NEAR(forward.Constant(), backward.Constant(), 1e-13);
}

TEST(SampleStatistics, StepwiseWithNothingEnteringGivesTheMean)
{
    // Three records: the only F is 1 * V / (1 - V), about 0.12 for this weak correlation.
    TMemoryDataSet data = TableOf({"x1", "y"}, {{1.0, 5.0}, {2.0, 3.0}, {3.0, 6.0}});
    TStatistics stats(data, {"x1"}, "y", 4.0, MethodStepwise);
    stats.MakeEquationText();
    EXPECT_EQ(stats.EquationText(), "y=4.667");
    EXPECT_EQ(stats.Coefficients()[0], 0.0);
    EXPECT_DOUBLE_EQ(stats.ResidualVariance(), stats.YVariance());
    EXPECT_EQ(stats.RegressionVariance(), 0.0);
    EXPECT_EQ(stats.Equation().MultipleR(), 0.0);
}

TEST(SampleStatistics, StepwiseRemovalReachesTheNotifierWithFactorIndex)
{
    // Sample correlations as in the four-factor path: the same path results, factor 2 removed.
    std::vector<std::int32_t> removed;
    TMemoryDataSet table = NumberTable("Stepwise4.csv");
    TStatistics stats(table, {"X0", "X1", "X2", "X3"}, "Y", 4.0, MethodStepwise,
                      [&](std::int32_t k, double, double f) {
                          removed.push_back(k);
                          EXPECT_NEAR(f, 0.785714, 5e-6);
                      });
    stats.MakeEquationText();
    EXPECT_THAT(removed, ::testing::ElementsAre(2));
    EXPECT_NEAR(stats.Equation().Beta(0), 0.5625, 1e-9);
    EXPECT_NEAR(stats.Equation().Beta(3), 0.8125, 1e-9);
    EXPECT_EQ(stats.Coefficients()[1], 0.0);
    EXPECT_EQ(stats.Coefficients()[2], 0.0);
    EXPECT_EQ(stats.EquationText().find("X2"), std::string::npos);
}

TEST(SampleStatistics, TinyCoefficientsAreDroppedAtThreeDecimals)
{
    // x1, x2 and the unexplained part e are orthogonal, so the fit gives exactly the chosen
    // coefficients: -0.0004 shows as "-0.000" and is dropped, 0.0006 as "+0.001" and is kept.
    const double x1[] = {1, 1, -1, -1}, x2[] = {1, -1, 1, -1}, e[] = {1, -1, -1, 1};
    TMemoryDataSet data({"x1", "x2", "y"});
    for (int k = 0; k < 4; ++k) data.AppendRecord({x1[k], x2[k], 10 - 0.0004 * x1[k] + 0.0006 * x2[k] + e[k]});
    TStatistics stats(data, {"x1", "x2"}, "y", 4.0, MethodFull);
    stats.MakeEquationText();
    EXPECT_NEAR(stats.Coefficients()[0], -0.0004, 1e-12);
    EXPECT_NEAR(stats.Coefficients()[1], 0.0006, 1e-12);
    EXPECT_EQ(stats.EquationText(), "y=10.000+0.001*x2");
}

TEST(SampleStatistics, NegativeConstantKeepsItsSign)
{
    TMemoryDataSet data = TableOf({"x", "y"}, {{1.0, -4.0}, {2.0, -3.0}, {3.0, -1.0}});
    TStatistics stats(data, {"x"}, "y", 4.0, MethodFull);
    stats.MakeEquationText();
    EXPECT_EQ(stats.EquationText(), "y=-5.667+1.500*x");
}

TEST(SampleStatisticsCursor, RecordIsRestoredAndControlsResumed)
{
    TMemoryDataSet data = SampleTable();
    data.First();
    data.MoveBy(3);
    ASSERT_EQ(data.RecNo(), 4);
    WatchedDataSet watched(data);
    TStatistics stats(watched, {"x1", "x2"}, "y", 4.0, MethodFull);
    EXPECT_EQ(data.RecNo(), 4);
    EXPECT_FALSE(data.Eof());
    EXPECT_EQ(watched.Depth, 0);
    EXPECT_EQ(watched.Disabled, 3);  // one suspension a pass
    EXPECT_EQ(watched.ReadsWhileFollowing, 0);
}

TEST(SampleStatisticsCursor, RestoredAlsoWhenAValueCannotBeRead)
{
    TMemoryDataSet data = TableOf({"x", "y"}, {{1.0, 1.0}, {2.0, 2.0}, {"abc", 3.0}, {4.0, 4.0}});
    data.MoveBy(1);
    WatchedDataSet watched(data);
    EXPECT_EQ(FailureOf(watched, {"x"}, "y"), "'abc' is not a valid floating point value");
    EXPECT_EQ(data.RecNo(), 2);
    EXPECT_EQ(watched.Depth, 0);
}

TEST(SampleStatisticsFailures, ZeroVarianceAndEmptyTablesAreInvalidOperations)
{
    TMemoryDataSet constantFactor = TableOf({"c", "x", "y"}, {{7.0, 1.0, 2.0}, {7.0, 2.0, 3.5}, {7.0, 3.0, 6.5}, {7.0, 4.0, 8.0}});
    EXPECT_EQ(FailureOf(constantFactor, {"c", "x"}, "y"), "Invalid floating point operation");
    EXPECT_EQ(FailureOf(constantFactor, {"x"}, "c"), "Invalid floating point operation");
    EXPECT_EQ(FailureOf(constantFactor, {"c"}, "y", MethodStepwise), "Invalid floating point operation");

    TMemoryDataSet empty({"x", "y"});
    EXPECT_EQ(FailureOf(empty, {"x"}, "y"), "Invalid floating point operation");
    EXPECT_EQ(FailureOf(empty, {"x"}, "y", MethodStepwise), "Invalid floating point operation");
}

TEST(SampleStatisticsFailures, IdenticalFactorsAreSingular)
{
    TMemoryDataSet data = TableOf({"a", "b", "y"}, {{1.0, 1.0, 2.0}, {2.0, 2.0, 3.5}, {3.0, 3.0, 6.5}, {4.0, 4.0, 8.0}});
    EXPECT_EQ(FailureOf(data, {"a", "b"}, "y"), "Floating point division by zero");
}

TEST(SampleStatisticsFailures, UnreadableValuesNameTheText)
{
    TMemoryDataSet data = TableOf({"Bad", "Blank", "y"}, {{"1", "1", 2.0}, {"abc", "", 3.5}, {"2", "2", 1.0}});
    EXPECT_EQ(FailureOf(data, {"Bad"}, "y"), "'abc' is not a valid floating point value");
    EXPECT_EQ(FailureOf(data, {"Blank"}, "y"), "'' is not a valid floating point value");
    // The factors of a record are read before its Y, in list order.
    EXPECT_EQ(FailureOf(data, {"Blank", "Bad"}, "y"), "'' is not a valid floating point value");
}

TEST(SampleStatisticsFailures, OverflowingMomentsAreReported)
{
    TMemoryDataSet data = TableOf({"x", "y"}, {{1e300, 1.0}, {-1e300, 2.0}, {3e300, 4.0}});
    EXPECT_EQ(FailureOf(data, {"x"}, "y"), "Floating point overflow");
}

TEST(SampleStatisticsFailures, NonFiniteStoredValuesNeverEnterTheArithmetic)
{
    TMemoryDataSet data = TableOf({"x", "y"}, {{1.0, 1.0}, {std::nan(""), 2.0}, {3.0, 4.0}});
    EXPECT_EQ(FailureOf(data, {"x"}, "y"), "Invalid floating point operation");
}

// A table of very many columns costs a message, not the machine's memory: the count is
// checked before any matrix is made, and the message says what the factors would need.
TEST(StatisticsLimits, TooManyFactorsAreRefusedBeforeAnyMatrixIsMade)
{
    constexpr std::size_t Wide = 100000;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < Wide; ++i) names.push_back("x" + std::to_string(i));
    names.push_back("y");
    TMemoryDataSet table(names);
    table.AppendRecord(std::vector<TCell>(names.size(), 1.0));
    const std::vector<std::string> factors(names.begin(), names.end() - 1);
    try {
        TStatistics stats(table, factors, "y", 4.0, MethodFull);
        FAIL() << "100 000 factors were accepted";
    } catch (const ETooManyFactors& e) {
        EXPECT_THAT(e.what(), ::testing::StartsWith("Too many factors: 100000 of them need 298.0 GiB of memory"));
    }
    // Below the limit the same table computes as usual (and fails only on its data).
    EXPECT_LE(MatrixBytes(2000), MatrixMemoryLimit);
    EXPECT_GT(MatrixBytes(Wide), MatrixMemoryLimit);
}
