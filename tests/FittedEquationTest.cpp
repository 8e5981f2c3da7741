// The final equation's figures against an independent least-squares fit of the factors it
// selected: coefficients, standard errors, t, p, VIF, R², adjusted R², s, F and its p, the
// stepwise history, and the forecast with its prediction interval.

#include <gtest/gtest.h>

#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/students_t.hpp>

#include <cmath>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/LeastSquares.h"
#include "tests/StatisticsTestSupport.h"
#include "numeric/FloatError.h"
#include "statistics/Distributions.h"
#include "statistics/FittedEquation.h"
#include "statistics/Statistics01.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

// The Longley data are ill-conditioned (the condition number of their design is near 1e9), so
// the 64-bit road keeps fewer digits there than on the other tables.
constexpr double Tolerance = 1e-9;

void ExpectRelative(double actual, Quad expected, double tolerance, const std::string& what)
{
    const double want = static_cast<double>(expected);
    EXPECT_LE(std::fabs(actual - want), tolerance * std::fabs(want)) << what << ": got " << actual << ", want " << want;
}

struct Case {
    std::string Label;
    std::string File;  // a path
    std::string Y;
    std::int32_t Method;
    double Fa;
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.Label; }

std::string Example(const std::string& name) { return std::string(QUORLIN_EXAMPLES) + "/" + name; }

const Case Cases[] = {
    {"ElNinoStepwise", Example("elnino.csv"), "DEC", MethodStepwise, 4.0},
    {"ElNinoFull", Example("elnino.csv"), "DEC", MethodFull, 4.0},
    {"ElNinoStepwiseLowThreshold", Example("elnino.csv"), "DEC", MethodStepwise, 1.0},
    {"LongleyFull", DataFile("Longley.csv"), "TOTEMP", MethodFull, 4.0},
    {"LongleyStepwise", DataFile("Longley.csv"), "TOTEMP", MethodStepwise, 2.0},
    {"Stepwise4Stepwise", DataFile("Stepwise4.csv"), "Y", MethodStepwise, 4.0},
    {"Stepwise4Full", DataFile("Stepwise4.csv"), "Y", MethodFull, 4.0},
};

std::vector<std::string> FactorsBut(const TMemoryDataSet& table, const std::string& y)
{
    std::vector<std::string> names;
    for (const auto& name : table.FieldNames())
        if (name != y) names.push_back(name);
    return names;
}

// The columns of the named factors, for the independent fit.
std::vector<std::vector<double>> Columns(TMemoryDataSet& table, const std::vector<std::string>& names)
{
    std::vector<std::vector<double>> columns;
    for (const auto& name : names) columns.push_back(ColumnValues(table, name));
    return columns;
}

class FittedEquationAgainstLeastSquares : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        Table = NumberTableFile(GetParam().File);
        Candidates = FactorsBut(Table, GetParam().Y);
        Fitted.emplace(Table, Candidates, GetParam().Y, GetParam().Method, GetParam().Fa);
        Y = ColumnValues(Table, GetParam().Y);
        Selected = Fitted->FactorNames();
        Direct = FitLeastSquares(Columns(Table, Selected), Y);
    }

    TMemoryDataSet Table;
    std::vector<std::string> Candidates;
    std::optional<TFittedEquation> Fitted;
    std::vector<double> Y;
    std::vector<std::string> Selected;
    LeastSquaresFit Direct;
};

}  // namespace

TEST_P(FittedEquationAgainstLeastSquares, CoefficientsAndTheirTests)
{
    ASSERT_FALSE(Selected.empty());
    const Quad dof = Direct.Dof();
    const Quad s = sqrtq(Direct.Rss / dof);
    ExpectRelative(*Fitted->S(), s, Tolerance, "s");
    ExpectRelative(Fitted->Constant(), Direct.B[0], 1e-8, "constant");
    const boost::math::students_t_distribution<double> t(static_cast<double>(dof));
    const auto& coefficients = Fitted->Coefficients();
    for (std::size_t i = 0; i < coefficients.size(); ++i) {
        const std::string& name = coefficients[i].Name;
        EXPECT_EQ(Candidates[static_cast<std::size_t>(coefficients[i].Factor)], name);
        const Quad se = s * sqrtq(Direct.XtXInv[i + 1][i + 1]);
        const Quad tValue = Direct.B[i + 1] / se;
        ExpectRelative(coefficients[i].B, Direct.B[i + 1], Tolerance, "b of " + name);
        ExpectRelative(*coefficients[i].SE, se, Tolerance, "se of " + name);
        ExpectRelative(*coefficients[i].T, tValue, Tolerance, "t of " + name);
        const double p = 2 * boost::math::cdf(boost::math::complement(t, std::fabs(static_cast<double>(tValue))));
        ExpectRelative(*coefficients[i].P, p, 1e-6, "p of " + name);

        // VIF: 1 / (1 - R²) of the factor on the equation's other factors.
        std::vector<std::string> others = Selected;
        others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
        const std::vector<double> x = ColumnValues(Table, name);
        const LeastSquaresFit onOthers = FitLeastSquares(Columns(Table, others), x);
        ExpectRelative(coefficients[i].VIF, onOthers.Tss / onOthers.Rss, 1e-8, "VIF of " + name);
    }
}

TEST_P(FittedEquationAgainstLeastSquares, FitFigures)
{
    const Quad l = static_cast<Quad>(Direct.Factors());
    const Quad n = static_cast<Quad>(Direct.N);
    const Quad r2 = 1 - Direct.Rss / Direct.Tss;
    ExpectRelative(Fitted->R2(), r2, Tolerance, "R²");
    ExpectRelative(*Fitted->AdjustedR2(), 1 - (1 - r2) * (n - 1) / Direct.Dof(), Tolerance, "adjusted R²");
    const Quad f = (Direct.Tss - Direct.Rss) / l / (Direct.Rss / Direct.Dof());
    ExpectRelative(*Fitted->F(), f, Tolerance, "F");
    const boost::math::fisher_f_distribution<double> dist(static_cast<double>(l), static_cast<double>(Direct.Dof()));
    ExpectRelative(*Fitted->FP(), boost::math::cdf(boost::math::complement(dist, static_cast<double>(f))), 1e-6, "p of F");
    EXPECT_EQ(Fitted->SampleSize(), static_cast<std::int32_t>(Direct.N));
    EXPECT_EQ(Fitted->ResidualDof(), static_cast<std::int32_t>(Direct.Dof()));
}

// Each step replayed: Q' after it is the residual share of the least-squares fit of the
// factors then in, V the change of Q', and F the entry or removal test against it.
TEST_P(FittedEquationAgainstLeastSquares, StepHistory)
{
    if (GetParam().Method == MethodFull) {
        EXPECT_TRUE(Fitted->Steps().empty());
        return;
    }
    const Quad n = static_cast<Quad>(Y.size());
    std::set<std::int32_t> in;
    Quad before = 1;
    for (const TStep& step : Fitted->Steps()) {
        const auto l = static_cast<std::int32_t>(in.size());
        const bool entry = step.Action == TStep::TAction::Enter;
        if (entry)
            EXPECT_TRUE(in.insert(step.Factor).second);
        else
            EXPECT_EQ(in.erase(step.Factor), 1u);
        std::vector<std::string> names;
        for (std::int32_t i : in) names.push_back(Candidates[static_cast<std::size_t>(i)]);
        const LeastSquaresFit fit = FitLeastSquares(Columns(Table, names), Y);
        const Quad after = fit.Rss / fit.Tss;
        const Quad v = entry ? before - after : after - before;
        const Quad f = entry ? Quad(n - l - 2) * v / after : Quad(n - l - 1) * v / before;
        const std::string what = (entry ? "entry of " : "removal of ") + Candidates[static_cast<std::size_t>(step.Factor)];
        ExpectRelative(step.Q, after, 1e-10, what + ": Q'");
        ExpectRelative(step.V, v, 1e-8, what + ": V");
        ExpectRelative(step.F, f, 1e-8, what + ": F");
        EXPECT_EQ(entry, step.F >= GetParam().Fa) << what;
        before = after;
    }
    std::set<std::int32_t> final;
    for (const auto& c : Fitted->Coefficients()) final.insert(c.Factor);
    EXPECT_EQ(in, final);
}

TEST_P(FittedEquationAgainstLeastSquares, ForecastAndPredictionInterval)
{
    const std::size_t l = Selected.size();
    const std::vector<std::vector<double>> columns = Columns(Table, Selected);
    // The means, a record of the table, and a case far outside the records.
    std::vector<std::vector<double>> cases(3, std::vector<double>(l));
    for (std::size_t i = 0; i < l; ++i) {
        double sum = 0, spread = 0;
        for (double v : columns[i]) sum += v;
        for (double v : columns[i]) spread = std::max(spread, std::fabs(v - sum / columns[i].size()));
        cases[0][i] = sum / static_cast<double>(columns[i].size());
        cases[1][i] = columns[i][3];
        cases[2][i] = cases[0][i] + (i % 2 ? -3 : 3) * spread;
    }
    const double dof = static_cast<double>(Direct.Dof());
    const Quad s = sqrtq(Direct.Rss / Direct.Dof());
    for (double level : {0.5, 0.95, 0.99}) {
        const double t = boost::math::quantile(
            boost::math::complement(boost::math::students_t_distribution<double>(dof), (1 - level) / 2));
        for (const auto& values : cases) {
            const TForecast forecast = Fitted->Forecast(values, level);
            const Quad y = Direct.Predict(values);
            const Quad half = Quad(t) * s * sqrtq(1 + Direct.Leverage(values));
            EXPECT_EQ(forecast.Level, level);
            ExpectRelative(forecast.Value, y, Tolerance, "forecast");
            // Half widths are compared as such: the bounds themselves may lie near 0.
            ExpectRelative(forecast.Upper - forecast.Value, half, 1e-8, "upper half width");
            ExpectRelative(forecast.Value - forecast.Lower, half, 1e-8, "lower half width");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, FittedEquationAgainstLeastSquares, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return info.param.Label; });

TEST(FittedEquationLimits, NoResidualDegreesOfFreedomLeavesTheTestsEmpty)
{
    // Three records, two factors: the plane passes through every record.
    TMemoryDataSet table = TableOf({"a", "b", "y"}, {{1.0, 5.0, 2.0}, {2.0, 3.0, 7.0}, {4.0, 4.0, 1.0}});
    const TFittedEquation fitted(table, {"a", "b"}, "y", MethodFull, 4.0);
    EXPECT_EQ(fitted.ResidualDof(), 0);
    EXPECT_FALSE(fitted.S());
    EXPECT_FALSE(fitted.AdjustedR2());
    EXPECT_FALSE(fitted.F());
    for (const auto& c : fitted.Coefficients()) {
        EXPECT_FALSE(c.SE);
        EXPECT_FALSE(c.T);
        EXPECT_FALSE(c.P);
    }
    const std::vector<double> values{1.0, 5.0};
    EXPECT_NEAR(fitted.Predict(values), 2.0, 1e-12);
    EXPECT_THROW(fitted.Forecast(values, 0.95), ESkillError);
}

TEST(FittedEquationLimits, NoFactorSelectedForecastsTheMeanWithTheSampleSpread)
{
    TMemoryDataSet table = NumberTable("Stepwise4.csv");
    const TFittedEquation fitted(table, {"X0", "X1", "X2", "X3"}, "Y", MethodStepwise, 1e9);
    ASSERT_TRUE(fitted.Coefficients().empty());
    EXPECT_FALSE(fitted.F());
    EXPECT_FALSE(fitted.FP());
    EXPECT_NEAR(fitted.R2(), 0.0, 1e-15);
    const std::vector<double> y = ColumnValues(table, "Y");
    const LeastSquaresFit mean = FitLeastSquares({}, y);
    ExpectRelative(*fitted.S(), sqrtq(mean.Tss / (y.size() - 1)), 1e-12, "s of Y alone");
    const TForecast forecast = fitted.Forecast({}, 0.9);
    ExpectRelative(forecast.Value, mean.B[0], 1e-12, "mean of Y");
    const double t = boost::math::quantile(
        boost::math::complement(boost::math::students_t_distribution<double>(double(y.size() - 1)), 0.05));
    ExpectRelative(forecast.Upper - forecast.Value, Quad(t) * sqrtq(mean.Tss / (y.size() - 1) * (1 + 1.0 / y.size())),
                   1e-10, "half width");
}

TEST(FittedEquationLimits, ForecastNeedsOneValuePerFactorAndALevelBelowOne)
{
    TMemoryDataSet table = SampleTable();
    const TFittedEquation fitted(table, {"x1", "x2"}, "y", MethodFull, 4.0);
    EXPECT_THROW(fitted.Forecast(std::vector<double>{1.0}, 0.95), std::invalid_argument);
    EXPECT_THROW(fitted.Forecast(std::vector<double>{1.0, 2.0}, 1.0), ESkillError);
    EXPECT_THROW(fitted.Forecast(std::vector<double>{1.0, 2.0}, 0.0), ESkillError);
    EXPECT_THROW(fitted.Predict(std::vector<double>{1.0, NAN}), EMathError);
}

TEST(Distributions, TailsAndQuantilesAgree)
{
    for (double dof : {1.0, 3.0, 17.0, 250.0}) {
        for (double level : {0.5, 0.9, 0.95, 0.999}) {
            const double t = StudentCentralQuantile(level, dof);
            EXPECT_NEAR(StudentTwoSidedP(t, dof), 1 - level, 1e-12 * (1 - level)) << dof << " " << level;
            EXPECT_EQ(StudentTwoSidedP(-t, dof), StudentTwoSidedP(t, dof));
            // t² with dof degrees of freedom is F(1, dof).
            EXPECT_NEAR(FisherUpperP(t * t, 1, dof), 1 - level, 1e-10 * (1 - level)) << dof << " " << level;
        }
    }
    EXPECT_EQ(StudentTwoSidedP(0.0, 5.0), 1.0);
    EXPECT_GT(StudentTwoSidedP(40.0, 30.0), 0.0);
    EXPECT_THROW(StudentTwoSidedP(1.0, 0.0), ESkillError);
    EXPECT_THROW(StudentTwoSidedP(INFINITY, 3.0), ESkillError);
    EXPECT_THROW(FisherUpperP(-1.0, 1.0, 3.0), ESkillError);
    EXPECT_THROW(StudentCentralQuantile(1.0, 3.0), ESkillError);
}
