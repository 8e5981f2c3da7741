// Whole computations checked against the quadruple-precision reference: random tables of many
// shapes through TStatistics, the batch command's JSON output, and the NIST Longley data.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "batch/BatchCommand.h"
#include "statistics/MemoryDataSet.h"
#include "statistics/Statistics01.h"
#include "tests/ReferenceRegression.h"

namespace {

using quorlin::reference::Quad;
using quorlin::reference::ToDouble;
using quorlin::reference::ToString;
namespace ref = quorlin::reference;
namespace fs = std::filesystem;

constexpr double RelativeTolerance = 1e-12;

std::string Digits(double v)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Comparison

// The largest relative difference met by any comparison, shown once at the end of the run.
struct WorstDifference {
    double Scaled = 0.0;  // difference over max(|reference|, floor), the quantity tested
    std::string ScaledWhat;
    double Plain = 0.0;  // difference over |reference|, among values the floor does not govern
    std::string PlainWhat;
};
WorstDifference Worst;

class WorstDifferenceReport : public ::testing::Environment {
public:
    void TearDown() override
    {
        std::cout << "[reference] worst relative difference (tested, with floors): " << Worst.Scaled << " at "
                  << Worst.ScaledWhat << "\n[reference] worst plain relative difference (values above their floor): "
                  << Worst.Plain << " at " << Worst.PlainWhat << '\n';
    }
};
[[maybe_unused]] ::testing::Environment* const WorstReport =
    ::testing::AddGlobalTestEnvironment(new WorstDifferenceReport);

// actual must agree with expected to RelativeTolerance of max(|expected|, floor). The floor is
// the magnitude of the terms the value is formed from: a value that comes out near 0 by
// cancellation carries rounding errors of the size of those terms, not of itself.
void ExpectClose(double actual, Quad expected, Quad floor, const std::string& what)
{
    const Quad magnitude = ref::Abs(expected);
    const Quad scale = magnitude > floor ? magnitude : floor;
    const Quad difference = ref::Abs(Quad(actual) - expected);
    double scaled = 0.0;
    if (difference != 0) scaled = scale == 0 ? std::numeric_limits<double>::infinity() : ToDouble(difference / scale);
    if (scaled > Worst.Scaled) {
        Worst.Scaled = scaled;
        Worst.ScaledWhat = what;
    }
    if (magnitude >= floor && magnitude != 0) {
        const double plain = ToDouble(difference / magnitude);
        if (plain > Worst.Plain) {
            Worst.Plain = plain;
            Worst.PlainWhat = what;
        }
    }
    EXPECT_LE(scaled, RelativeTolerance) << what << ": project " << Digits(actual) << ", reference "
                                         << ToString(expected) << ", floor " << ToString(floor);
}

// What the project reports for one computation, whether read from its objects or its JSON.
struct Observed {
    struct Removal {
        std::int32_t Factor;
        double V;
        double F;
    };
    std::vector<double> Means;
    double YMean = 0, YVariance = 0;
    std::vector<std::vector<double>> Covariance, Correlation;
    std::vector<double> CovarianceY, CorrelationY;
    std::vector<double> Beta, Coefficients;
    double Constant = 0, ResidualShare = 0, RegressionShare = 0, MultipleR = 0, Q = 0, U = 0;
    std::vector<Removal> Removals;
    std::vector<std::int32_t> Selected;
};

void ExpectMatchesReference(const Observed& got, const ref::Result& want, const std::string& label)
{
    const std::size_t m = want.Means.size();
    ASSERT_EQ(got.Means.size(), m) << label;
    ASSERT_EQ(got.Covariance.size(), m) << label;
    ASSERT_EQ(got.Correlation.size(), m) << label;
    ASSERT_EQ(got.CovarianceY.size(), m) << label;
    ASSERT_EQ(got.CorrelationY.size(), m) << label;
    ASSERT_EQ(got.Beta.size(), m) << label;
    ASSERT_EQ(got.Coefficients.size(), m) << label;

    // Which factors ended in the equation, and every removal on the way, must be the same
    // before any number is worth comparing.
    EXPECT_EQ(got.Selected, want.Selected) << label << ": factors in the equation";
    ASSERT_EQ(got.Removals.size(), want.Removals.size()) << label << ": number of removals";
    for (std::size_t k = 0; k < want.Removals.size(); ++k) {
        const auto& w = want.Removals[k];
        const std::string what = label + " removal " + std::to_string(k);
        EXPECT_EQ(got.Removals[k].Factor, w.Factor) << what;
        // V is a difference of unit-sized standardized quantities, so its error is absolute at
        // that scale; F = (n - l - 1) V / Q' carries the same error relative to V.
        ExpectClose(got.Removals[k].V, w.V, 1, what + " V");
        ExpectClose(got.Removals[k].F, w.F, w.V != 0 ? ref::Abs(w.F / w.V) : 0, what + " F");
    }

    // A mean is a sum of terms of the size of mean |x|; it may be near 0 only by cancellation.
    for (std::size_t i = 0; i < m; ++i)
        ExpectClose(got.Means[i], want.Means[i], want.MeanMagnitudes[i], label + " mean " + std::to_string(i));
    ExpectClose(got.YMean, want.YMean, want.YMeanMagnitude, label + " y mean");
    ExpectClose(got.YVariance, want.YVariance, 0, label + " y variance");

    // By Cauchy-Schwarz the terms of a covariance are bounded by the product of the two
    // standard deviations, and the terms of a correlation by 1: an off-diagonal entry that is
    // near 0 is known to that absolute accuracy, not to its own relative one.
    for (std::size_t i = 0; i < m; ++i) {
        const std::string row = label + " (" + std::to_string(i);
        for (std::size_t j = 0; j < m; ++j) {
            const std::string cell = row + "," + std::to_string(j) + ")";
            ExpectClose(got.Covariance[i][j], want.Covariance[i][j],
                        sqrtq(want.Covariance[i][i] * want.Covariance[j][j]), cell + " covariance");
            ExpectClose(got.Correlation[i][j], want.Correlation[i][j], 1, cell + " correlation");
        }
        ExpectClose(got.CovarianceY[i], want.CovarianceY[i], sqrtq(want.Covariance[i][i] * want.YVariance),
                    row + ",y) covariance");
        ExpectClose(got.CorrelationY[i], want.CorrelationY[i], 1, row + ",y) correlation");
    }

    // The standardized results are formed from correlations; their rounding is absolute at
    // unit scale, which matters for a coefficient that comes out near 0. Scaling a
    // standardized coefficient into data units scales that floor with it.
    for (std::size_t i = 0; i < m; ++i) {
        const std::string factor = label + " factor " + std::to_string(i);
        ExpectClose(got.Beta[i], want.Beta[i], 1, factor + " std coefficient");
        ExpectClose(got.Coefficients[i], want.Coefficients[i], sqrtq(want.YVariance / want.Covariance[i][i]),
                    factor + " coefficient");
    }
    ExpectClose(got.Constant, want.Constant, want.ConstantScale, label + " constant");
    ExpectClose(got.ResidualShare, want.ResidualShare, 1, label + " residual share");
    ExpectClose(got.RegressionShare, want.RegressionShare, want.RegressionShareScale, label + " regression share");
    ExpectClose(got.Q, want.ResidualVariance, want.YVariance, label + " Q");
    ExpectClose(got.U, want.RegressionVariance, want.YVariance, label + " U");
    // R = sqrt(1 - Q'): an absolute error e in Q' moves R by about e / 2R, without bound as R
    // goes to 0 (an empty equation has R = 0 exactly only if r_yy rounds to exactly 1).
    // So R^2 = 1 - Q' is held to the unit floor of Q', and R itself to the floor that carries
    // over to it, 1 / 2R, wherever R is not lost in the rounding of Q' altogether.
    const Quad r2 = want.MultipleR * want.MultipleR;
    ExpectClose(got.MultipleR * got.MultipleR, r2, 1, label + " multiple R squared");
    if (r2 > RelativeTolerance)
        ExpectClose(got.MultipleR, want.MultipleR, 1 / (2 * want.MultipleR), label + " multiple R");
}

// ---------------------------------------------------------------------------------------------
// Tables

struct Table {
    std::vector<std::vector<double>> X;  // X[i][k]: factor i, record k
    std::vector<double> Y;
};

// Normal deviates from the raw 64-bit output of the engine (Box-Muller), so that a seed gives
// the same table with every standard library, whose distributions may differ between
// implementations.
class Gaussian {
public:
    explicit Gaussian(std::uint64_t seed) : FEngine(seed) {}
    double Uniform() { return (static_cast<double>(FEngine() >> 11) + 0.5) * 0x1p-53; }
    double Between(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
    double operator()()
    {
        if (FHasSpare) {
            FHasSpare = false;
            return FSpare;
        }
        const double radius = std::sqrt(-2.0 * std::log(Uniform()));
        const double angle = 6.283185307179586 * Uniform();
        FSpare = radius * std::sin(angle);
        FHasSpare = true;
        return radius * std::cos(angle);
    }

private:
    std::mt19937_64 FEngine;
    bool FHasSpare = false;
    double FSpare = 0.0;
};

enum class Shape {
    // Factors share a few latent variables plus noise of their own; Y depends on the latent
    // variables and on some factors directly.
    Latent,
    // One factor is the sum of two others plus noise and correlates with Y best, so it enters
    // first; once both of its parts are in, it adds nothing and the stepwise method takes it
    // out again.
    Composite,
};

struct TableRecipe {
    const char* Name;
    std::uint64_t Seed;
    int N;
    int M;
    Shape Form;
    bool MixedScales;    // columns scaled by 1e-3 .. 1e4 and moved far from 0
    bool ExpectRemoval;  // the stepwise method at Fa = 4 takes a factor out
};

std::ostream& operator<<(std::ostream& os, const TableRecipe& recipe) { return os << recipe.Name; }

Table MakeTable(const TableRecipe& recipe)
{
    Gaussian g(recipe.Seed);
    const auto n = static_cast<std::size_t>(recipe.N);
    const auto m = static_cast<std::size_t>(recipe.M);
    Table t;
    t.X.assign(m, std::vector<double>(n));
    t.Y.assign(n, 0.0);

    if (recipe.Form == Shape::Latent) {
        const std::size_t latents = 1 + m / 3;
        std::vector<std::vector<double>> loading(m, std::vector<double>(latents));
        std::vector<double> noise(m), direct(m), weight(latents);
        for (std::size_t i = 0; i < m; ++i) {
            for (auto& l : loading[i]) l = g.Between(-1.0, 1.0);
            noise[i] = g.Between(0.3, 1.0);
            direct[i] = g.Uniform() < 0.5 ? g.Between(-0.6, 0.6) : 0.0;
        }
        for (auto& w : weight) w = g.Between(-1.0, 1.0);
        const double yNoise = g.Between(0.4, 1.2);
        std::vector<double> z(latents);
        for (std::size_t k = 0; k < n; ++k) {
            for (auto& v : z) v = g();
            double y = yNoise * g();
            for (std::size_t l = 0; l < latents; ++l) y += weight[l] * z[l];
            for (std::size_t i = 0; i < m; ++i) {
                double x = noise[i] * g();
                for (std::size_t l = 0; l < latents; ++l) x += loading[i][l] * z[l];
                t.X[i][k] = x;
                y += direct[i] * x;
            }
            t.Y[k] = y;
        }
    } else {
        // The composite factor and its two parts sit at positions that vary with the seed.
        const std::size_t composite = recipe.Seed % m;
        const std::size_t partA = (composite + 1) % m;
        const std::size_t partB = (composite + 2) % m;
        std::vector<double> weak(m);
        for (auto& w : weak) w = g.Uniform() < 0.5 ? g.Between(-0.15, 0.15) : 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            for (std::size_t i = 0; i < m; ++i)
                if (i != composite) t.X[i][k] = g();
            double y = t.X[partA][k] + t.X[partB][k] + 0.5 * g();
            for (std::size_t i = 0; i < m; ++i)
                if (i != composite && i != partA && i != partB) y += weak[i] * t.X[i][k];
            t.X[composite][k] = t.X[partA][k] + t.X[partB][k] + 0.8 * g();
            t.Y[k] = y;
        }
    }

    if (recipe.MixedScales) {
        auto rescale = [&](std::vector<double>& column) {
            const double scale = std::pow(10.0, g.Between(-3.0, 4.0));
            const double offset = (g.Uniform() < 0.5 ? -1.0 : 1.0) * scale * std::pow(10.0, g.Between(0.0, 3.0));
            for (auto& v : column) v = offset + scale * v;
        };
        for (auto& column : t.X) rescale(column);
        rescale(t.Y);
    }
    return t;
}

std::vector<std::string> FactorNames(std::size_t m)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < m; ++i) names.push_back("X" + std::to_string(i + 1));
    return names;
}

// ---------------------------------------------------------------------------------------------
// The project's side

Observed Observe(const quorlin::TStatistics& stats, std::vector<Observed::Removal> removals)
{
    Observed o;
    const auto m = stats.FactorCount();
    const quorlin::TEquation& equation = stats.Equation();
    const auto* stepwise = dynamic_cast<const quorlin::TTigEquation*>(&equation);
    for (std::int32_t i = 0; i < m; ++i) {
        std::vector<double> cov, corr;
        for (std::int32_t j = 0; j < m; ++j) {
            cov.push_back(*stats.Covariance().Element(i, j));
            corr.push_back(*stats.Correlation().Element(i, j));
        }
        o.Covariance.push_back(cov);
        o.Correlation.push_back(corr);
        o.CovarianceY.push_back(*stats.CovarianceXY().Element(i, 0));
        o.CorrelationY.push_back(*stats.CorrelationXY().Element(i, 0));
        o.Beta.push_back(equation.Beta(i));
        if (!stepwise || stepwise->IsSelected(i)) o.Selected.push_back(i);
    }
    o.Means = stats.Means();
    o.YMean = stats.YMean();
    o.YVariance = stats.YVariance();
    o.Coefficients = stats.Coefficients();
    o.Constant = stats.Constant();
    o.ResidualShare = equation.ResidualShare();
    o.RegressionShare = equation.RegressionShare();
    o.MultipleR = equation.MultipleR();
    o.Q = stats.ResidualVariance();
    o.U = stats.RegressionVariance();
    o.Removals = std::move(removals);
    return o;
}

Observed RunProject(const Table& table, double fa, ref::Method method)
{
    const std::size_t m = table.X.size();
    std::vector<std::string> names = FactorNames(m);
    std::vector<std::string> fields = names;
    fields.push_back("Y");
    quorlin::TMemoryDataSet data(fields);
    for (std::size_t k = 0; k < table.Y.size(); ++k) {
        std::vector<quorlin::TCell> cells;
        for (std::size_t i = 0; i < m; ++i) cells.emplace_back(table.X[i][k]);
        cells.emplace_back(table.Y[k]);
        data.AppendRecord(cells);
    }
    std::vector<Observed::Removal> removals;
    quorlin::TStatistics stats(data, names, "Y", fa, static_cast<std::int32_t>(method),
                               [&](std::int32_t factor, double v, double f) { removals.push_back({factor, v, f}); });
    stats.MakeEquationText();
    EXPECT_FALSE(stats.EquationText().empty());
    return Observe(stats, std::move(removals));
}

// ---------------------------------------------------------------------------------------------
// Random tables through TStatistics

const TableRecipe RandomTables[] = {
    {"tiny_one_factor", 101, 8, 1, Shape::Latent, false, false},
    {"tiny_three_factors_scaled", 102, 8, 3, Shape::Latent, true, false},
    {"small_five_factors_scaled", 103, 12, 5, Shape::Latent, true, false},
    {"one_factor_scaled", 104, 40, 1, Shape::Latent, true, false},
    {"four_factors", 105, 30, 4, Shape::Latent, false, false},
    {"eight_factors_scaled", 106, 60, 8, Shape::Latent, true, false},
    {"twelve_factors_scaled", 107, 150, 12, Shape::Latent, true, false},
    {"large_twelve_factors_scaled", 108, 500, 12, Shape::Latent, true, false},
    {"large_six_factors", 109, 500, 6, Shape::Latent, false, false},
    {"composite_three_factors", 201, 40, 3, Shape::Composite, false, true},
    {"composite_three_factors_scaled", 206, 40, 3, Shape::Composite, true, true},
    {"composite_four_factors_few_records", 203, 20, 4, Shape::Composite, true, true},
    {"composite_seven_factors_scaled", 204, 80, 7, Shape::Composite, true, true},
    {"composite_twelve_factors_scaled", 205, 300, 12, Shape::Composite, true, true},
};

class RandomTableAgainstReference : public ::testing::TestWithParam<TableRecipe> {};

TEST_P(RandomTableAgainstReference, FullMethodMatches)
{
    const TableRecipe& recipe = GetParam();
    const Table table = MakeTable(recipe);
    // Fa plays no part in the full method; two values make sure of it.
    for (const double fa : {4.0, 0.0}) {
        const std::string label = std::string(recipe.Name) + " full Fa=" + Digits(fa);
        const ref::Result want = ref::Compute(table.X, table.Y, fa, ref::Method::Full);
        ExpectMatchesReference(RunProject(table, fa, ref::Method::Full), want, label);
    }
}

TEST_P(RandomTableAgainstReference, StepwiseMethodMatches)
{
    const TableRecipe& recipe = GetParam();
    const Table table = MakeTable(recipe);
    for (const double fa : {0.0, 1.0, 2.5, 4.0, 10.0}) {
        const std::string label = std::string(recipe.Name) + " stepwise Fa=" + Digits(fa);
        const ref::Result want = ref::Compute(table.X, table.Y, fa, ref::Method::Stepwise);
        // A decision on a knife edge could rightly go either way in 64-bit arithmetic: such a
        // table would test the rounding, not the method.
        ASSERT_GT(want.DecisionMargin, 1e-8) << label << ": choose another seed";
        ASSERT_EQ(want.ExactTies, 0) << label << ": choose another seed";
        if (fa == 4.0 && recipe.ExpectRemoval) {
            ASSERT_FALSE(want.Removals.empty()) << label << ": the table was built for a removal";
        }
        if (fa == 0.0) {
            EXPECT_EQ(want.Selected.size(), table.X.size()) << label << ": Fa = 0 admits every factor";
        }
        ExpectMatchesReference(RunProject(table, fa, ref::Method::Stepwise), want, label);
    }
}

// Two factors that mirror each other record by record: small integers and n = 16 keep every
// sum exact, so they tie exactly in 64-bit arithmetic as well. They are so alike that once one
// is in, the other adds too little to follow: which one the equation holds shows the tie rule.
TEST(TiedFactorsAgainstReference, LowerIndexEntersFirst)
{
    const double a[] = {3, 5, 8, 10, 12, 15, 17, 20};
    const double b[] = {4, 5, 7, 11, 12, 14, 18, 19};
    const double y[] = {12, 4, 20, 14, 31, 20, 41, 30};
    const double z[] = {2, 7, 1, 8, 2, 8, 1, 8};  // a third factor, which enters as well
    Table table;
    table.X.assign(3, {});
    for (std::size_t k = 0; k < 8; ++k) {
        for (const bool swapped : {false, true}) {
            table.X[0].push_back(swapped ? b[k] : a[k]);
            table.X[1].push_back(swapped ? a[k] : b[k]);
            table.X[2].push_back(z[k] + (swapped ? 1 : 0));
            table.Y.push_back(y[k]);
        }
    }
    const ref::Result want = ref::Compute(table.X, table.Y, 4.0, ref::Method::Stepwise);
    ASSERT_GE(want.ExactTies, 1);
    ASSERT_GT(want.DecisionMargin, 1e-8);
    ASSERT_EQ(want.Selected, (std::vector<std::int32_t>{0, 2}));
    ExpectMatchesReference(RunProject(table, 4.0, ref::Method::Stepwise), want, "tied factors");
}

INSTANTIATE_TEST_SUITE_P(Tables, RandomTableAgainstReference, ::testing::ValuesIn(RandomTables),
                         [](const ::testing::TestParamInfo<TableRecipe>& info) { return std::string(info.param.Name); });

// ---------------------------------------------------------------------------------------------
// The batch command

class BatchAgainstReference : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device entropy;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0; attempt < 100 && FDir.empty(); ++attempt) {
            const fs::path candidate = fs::temp_directory_path() / ("quorlin-reference-" + std::to_string(stamp) +
                                                                    "-" + std::to_string(entropy()));
            if (fs::create_directory(candidate)) FDir = candidate;
        }
        ASSERT_FALSE(FDir.empty()) << "no temporary directory";
    }
    void TearDown() override
    {
        std::error_code ignored;
        if (!FDir.empty()) fs::remove_all(FDir, ignored);
    }

    // Y goes between the factors, so the command's default factor list (every field but Y,
    // in column order) is the order X1 .. Xm.
    fs::path WriteCsv(const Table& table, const std::string& name) const
    {
        const fs::path path = FDir / name;
        std::ofstream file(path, std::ios::binary);
        const std::size_t m = table.X.size();
        const std::size_t yColumn = m / 2;
        const std::vector<std::string> names = FactorNames(m);
        for (std::size_t c = 0, i = 0; c <= m; ++c) file << (c ? "," : "") << (c == yColumn ? "Y" : names[i++]);
        file << '\n';
        for (std::size_t k = 0; k < table.Y.size(); ++k) {
            for (std::size_t c = 0, i = 0; c <= m; ++c)
                file << (c ? "," : "") << Digits(c == yColumn ? table.Y[k] : table.X[i++][k]);
            file << '\n';
        }
        EXPECT_TRUE(file.good());
        return path;
    }

    static nlohmann::json RunCompute(const fs::path& csv, const std::string& method, const std::string& fa)
    {
        const std::string source = csv.string();
        const char* argv[] = {"quorlin-batch", "compute", source.c_str(), "--y",      "Y",
                              "--json",        "--method", method.c_str(), "--fa", fa.c_str()};
        std::ostringstream out, err;
        const int status = quorlin::RunBatch(static_cast<int>(std::size(argv)), argv, out, err);
        EXPECT_EQ(status, 0) << err.str();
        return nlohmann::json::parse(out.str());
    }

    static Observed ObserveJson(const nlohmann::json& j)
    {
        Observed o;
        const auto factors = j.at("factors").get<std::vector<std::string>>();
        o.Means = j.at("means").get<std::vector<double>>();
        o.YMean = j.at("y_mean").get<double>();
        o.YVariance = j.at("y_variance").get<double>();
        o.Covariance = j.at("covariance").get<std::vector<std::vector<double>>>();
        o.CovarianceY = j.at("covariance_y").get<std::vector<double>>();
        o.Correlation = j.at("correlation").get<std::vector<std::vector<double>>>();
        o.CorrelationY = j.at("correlation_y").get<std::vector<double>>();
        o.Beta = j.at("std_coefficients").get<std::vector<double>>();
        o.Coefficients = j.at("coefficients").get<std::vector<double>>();
        o.Constant = j.at("constant").get<double>();
        o.ResidualShare = j.at("residual_share").get<double>();
        o.RegressionShare = j.at("regression_share").get<double>();
        o.MultipleR = j.at("multiple_r").get<double>();
        o.Q = j.at("q").get<double>();
        o.U = j.at("u").get<double>();
        for (const auto& r : j.at("removals")) {
            const auto name = r.at("factor").get<std::string>();
            std::int32_t index = -1;
            for (std::size_t i = 0; i < factors.size(); ++i)
                if (factors[i] == name) index = static_cast<std::int32_t>(i);
            EXPECT_GE(index, 0) << "removal names an unknown factor " << name;
            o.Removals.push_back({index, r.at("v").get<double>(), r.at("f").get<double>()});
        }
        // The JSON has no membership list; a factor outside the equation has a standardized
        // coefficient of exactly 0.
        for (std::size_t i = 0; i < o.Beta.size(); ++i)
            if (o.Beta[i] != 0.0) o.Selected.push_back(static_cast<std::int32_t>(i));
        return o;
    }

    void CheckCommand(const TableRecipe& recipe, const std::string& method, const std::string& fa)
    {
        const Table table = MakeTable(recipe);
        const fs::path csv = WriteCsv(table, std::string(recipe.Name) + ".csv");
        const std::string label = std::string(recipe.Name) + " batch " + method + " --fa " + fa;
        const nlohmann::json j = RunCompute(csv, method, fa);
        ASSERT_FALSE(j.contains("error")) << label << ": " << j.dump();
        EXPECT_EQ(j.at("factors").get<std::vector<std::string>>(), FactorNames(table.X.size())) << label;
        EXPECT_EQ(j.at("n").get<std::int64_t>(), static_cast<std::int64_t>(table.Y.size())) << label;

        const ref::Method m = method == "full" ? ref::Method::Full : ref::Method::Stepwise;
        const ref::Result want = ref::Compute(table.X, table.Y, std::strtod(fa.c_str(), nullptr), m);
        if (m == ref::Method::Stepwise) {
            ASSERT_GT(want.DecisionMargin, 1e-8) << label << ": choose another seed";
            ASSERT_EQ(want.ExactTies, 0) << label << ": choose another seed";
            if (recipe.ExpectRemoval) {
                ASSERT_FALSE(want.Removals.empty()) << label << ": the table was built for a removal";
            }
        }
        ExpectMatchesReference(ObserveJson(j), want, label);
    }

    fs::path FDir;
};

TEST_F(BatchAgainstReference, StepwiseWithRemovalMatches)
{
    CheckCommand({"batch_composite", 301, 120, 6, Shape::Composite, true, true}, "stepwise", "4");
}

TEST_F(BatchAgainstReference, StepwiseAtOtherThresholdMatches)
{
    CheckCommand({"batch_latent", 302, 90, 9, Shape::Latent, true, false}, "stepwise", "2.5");
}

TEST_F(BatchAgainstReference, FullMethodMatches)
{
    CheckCommand({"batch_full", 303, 250, 11, Shape::Latent, true, false}, "full", "4");
}

// ---------------------------------------------------------------------------------------------
// NIST StRD Longley: a notoriously ill-conditioned linear regression with certified values.

struct Certified {
    const char* Name;
    double Value;
};
// Intercept first, then the factors in column order.
const Certified LongleyCertified[] = {
    {"constant", -3482258.63459582},    {"GNPDEFL", 15.0618722713733},   {"GNP", -0.358191792925910E-01},
    {"UNEMP", -2.02022980381683},       {"ARMED", -1.03322686717359},    {"POP", -0.511041056535807E-01},
    {"YEAR", 1829.15146461355},
};
const std::vector<std::string> LongleyFactors = {"GNPDEFL", "GNP", "UNEMP", "ARMED", "POP", "YEAR"};

// Log relative error: the number of correct significant digits.
double Lre(double computed, double certified)
{
    const double relative = std::fabs(computed - certified) / std::fabs(certified);
    return relative == 0.0 ? 17.0 : -std::log10(relative);
}

// The file is plain numbers; read here without the project's reader so the reference's
// input is independent of it.
Table ReadLongley(const std::string& path, const std::vector<std::string>& factors, const std::string& y)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    std::vector<std::string> header;
    {
        std::stringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) header.push_back(cell);
    }
    std::vector<std::vector<double>> columns(header.size());
    while (std::getline(file, line)) {
        if (line.empty() || line == "\r") continue;
        std::stringstream cells(line);
        std::size_t c = 0;
        for (std::string cell; std::getline(cells, cell, ','); ++c) columns.at(c).push_back(std::strtod(cell.c_str(), nullptr));
    }
    auto column = [&](const std::string& name) {
        for (std::size_t c = 0; c < header.size(); ++c)
            if (header[c] == name || header[c] == name + "\r") return columns[c];
        ADD_FAILURE() << "no column " << name << " in " << path;
        return std::vector<double>{};
    };
    Table t;
    for (const auto& name : factors) t.X.push_back(column(name));
    t.Y = column(y);
    return t;
}

TEST(LongleyCertifiedValues, FullMethodReachesElevenDigits)
{
    const Table table = ReadLongley(QUORLIN_TEST_DATA "/Longley.csv", LongleyFactors, "TOTEMP");
    ASSERT_EQ(table.Y.size(), 16u);
    const Observed got = RunProject(table, 4.0, ref::Method::Full);
    ASSERT_EQ(got.Coefficients.size(), LongleyFactors.size());

    std::vector<double> computed = {got.Constant};
    computed.insert(computed.end(), got.Coefficients.begin(), got.Coefficients.end());
    std::ostringstream lres;
    for (std::size_t i = 0; i < computed.size(); ++i) {
        const double lre = Lre(computed[i], LongleyCertified[i].Value);
        lres << ' ' << LongleyCertified[i].Name << '=' << lre;
        EXPECT_GE(lre, 11.0) << LongleyCertified[i].Name << ": computed " << Digits(computed[i]) << ", certified "
                             << Digits(LongleyCertified[i].Value);
    }
    std::cout << "[reference] Longley LRE:" << lres.str() << '\n';
    RecordProperty("longley_lre", lres.str());
}

// The reference itself must reproduce the certified values; they are given to 15 digits.
TEST(LongleyCertifiedValues, ReferenceReachesThirteenDigits)
{
    const Table table = ReadLongley(QUORLIN_TEST_DATA "/Longley.csv", LongleyFactors, "TOTEMP");
    const ref::Result want = ref::Compute(table.X, table.Y, 4.0, ref::Method::Full);
    ASSERT_EQ(want.Coefficients.size(), LongleyFactors.size());
    EXPECT_GE(Lre(ToDouble(want.Constant), LongleyCertified[0].Value), 13.0);
    for (std::size_t i = 0; i < LongleyFactors.size(); ++i)
        EXPECT_GE(Lre(ToDouble(want.Coefficients[i]), LongleyCertified[i + 1].Value), 13.0) << LongleyFactors[i];
}

// ---------------------------------------------------------------------------------------------
// The reference against results known in closed form, so that agreement with the project
// means both are right rather than both wrong the same way.

TEST(ReferenceSelfCheck, FiveRecordsInClosedForm)
{
    const ref::Result r =
        ref::Compute({{1, 2, 3, 4, 5}, {2, 1, 4, 3, 6}}, {3, 5, 7, 10, 12}, 4.0, ref::Method::Full);
    const double tight = 1e-25;  // exact rational results, computed in quadruple precision
    EXPECT_NEAR(ToDouble(r.Means[0]), 3.0, tight);
    EXPECT_NEAR(ToDouble(r.Means[1]), 3.2, 1e-15);
    EXPECT_NEAR(ToDouble(r.YVariance), 10.64, 1e-14);
    EXPECT_NEAR(ToDouble(r.Covariance[0][1]), 2.0, 1e-15);
    EXPECT_NEAR(ToDouble(r.CovarianceY[1]), 4.52, 1e-15);
    // Normal equations in data units: S b = s_xy gives b = (143/60, -1/12), b0 = 31/60.
    EXPECT_NEAR(ToDouble(r.Coefficients[0]), 143.0 / 60.0, 1e-14);
    EXPECT_NEAR(ToDouble(r.Coefficients[1]), -1.0 / 12.0, 1e-14);
    EXPECT_NEAR(ToDouble(r.Constant), 31.0 / 60.0, 1e-14);
    EXPECT_NEAR(ToDouble(r.ResidualShare + r.RegressionShare), 1.0, 1e-25);
}

TEST(ReferenceSelfCheck, StepwiseEntersTiesLowAndRemoves)
{
    // Factors 2 and 3 tie for entry; the lower index goes first. After factors 3 and 0 follow,
    // factor 2 adds too little and is taken out; it then fails to enter again.
    const std::vector<std::vector<double>> r = {
        {1, -0.8, 0.4, -0.2}, {-0.8, 1, -0.1, 0.7}, {0.4, -0.1, 1, 0.5}, {-0.2, 0.7, 0.5, 1}};
    const std::vector<double> rxy = {0.4, 0.1, 0.7, 0.7};
    ref::QuadMatrix rq;
    for (const auto& row : r) rq.emplace_back(row.begin(), row.end());
    const ref::StandardizedFit fit =
        ref::FitStandardized(rq, std::vector<Quad>(rxy.begin(), rxy.end()), 1, 4.0, 20, ref::Method::Stepwise);
    EXPECT_GE(fit.ExactTies, 1);
    ASSERT_EQ(fit.Removals.size(), 1u);
    EXPECT_EQ(fit.Removals[0].Factor, 2);
    EXPECT_NEAR(ToDouble(fit.Removals[0].F), 0.785714, 1e-6);
    EXPECT_EQ(fit.Selected, (std::vector<std::int32_t>{0, 3}));
    EXPECT_NEAR(ToDouble(fit.Beta[0]), 0.5625, 1e-14);
    EXPECT_EQ(ToDouble(fit.Beta[2]), 0.0);
    EXPECT_NEAR(ToDouble(fit.Beta[3]), 0.8125, 1e-14);
    EXPECT_NEAR(ToDouble(fit.ResidualShare), 0.20625, 1e-14);
}

}  // namespace
