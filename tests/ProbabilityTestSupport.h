#pragma once
// The tercile outlook computed straight from its definitions, for the tests to hold the
// statistics against: quantiles from sorted values, Student's t from Boost.Math, an equation
// refitted from scratch on the records a fold or a retroactive step keeps (the selection by the
// single-equation path, the fit itself by least squares in quadruple precision), and every
// score from its formula, pair by pair and bin by bin.

#include <boost/math/distributions/students_t.hpp>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "tests/LeastSquares.h"
#include "tests/StatisticsTestSupport.h"
#include "numeric/FloatError.h"
#include "statistics/Statistics01.h"

namespace quorlin::testing {

struct DirectProbabilities {
    double Below = 1.0 / 3, Near = 1.0 / 3, Above = 1.0 / 3;
};

// The p-quantile at h = p·(n + 1) of the values, p = 1/3 or 2/3 given as which = 1 or 2.
inline double DirectTercile(std::vector<double> values, int which)
{
    std::sort(values.begin(), values.end());
    const double n = static_cast<double>(values.size());
    const double h = which * (n + 1) / 3;  // exact where n + 1 is a multiple of 3
    if (h <= 1) return values.front();
    if (h >= n) return values.back();
    const auto j = static_cast<std::size_t>(std::floor(h));
    return values[j - 1] + (h - std::floor(h)) * (values[j] - values[j - 1]);
}

// 0 below, 1 near, 2 above.
inline int DirectCategory(double y, double lower, double upper) { return y < lower ? 0 : y > upper ? 2 : 1; }

inline DirectProbabilities DirectTercileProbabilities(double yhat, double sigma, double dof, double lower, double upper)
{
    if (dof <= 0) return {};
    if (sigma == 0) {
        const int c = DirectCategory(yhat, lower, upper);
        return {c == 0 ? 1.0 : 0.0, c == 1 ? 1.0 : 0.0, c == 2 ? 1.0 : 0.0};
    }
    const boost::math::students_t_distribution<double> t(dof);
    const double below = boost::math::cdf(t, (lower - yhat) / sigma);
    const double above = 1 - boost::math::cdf(t, (upper - yhat) / sigma);
    return {below, 1 - below - above, above};
}

inline double ProbabilityOf(const DirectProbabilities& p, int category)
{
    return category == 0 ? p.Below : category == 2 ? p.Above : p.Near;
}

struct DirectScores {
    double Rpss = 0;
    std::optional<double> RocBelow, RocAbove;
    double Hss = 0;
    // Per bin of ten: count and events, for below and above.
    std::vector<int> CountBelow, EventsBelow, CountAbove, EventsAbove;
};

inline std::optional<double> DirectRoc(const std::vector<DirectProbabilities>& p, const std::vector<int>& observed, int event)
{
    double won = 0;
    int pairs = 0;
    for (std::size_t a = 0; a < p.size(); ++a) {
        if (observed[a] != event) continue;
        for (std::size_t b = 0; b < p.size(); ++b) {
            if (observed[b] == event) continue;
            const double pa = ProbabilityOf(p[a], event), pb = ProbabilityOf(p[b], event);
            won += pa > pb ? 1.0 : pa == pb ? 0.5 : 0.0;
            ++pairs;
        }
    }
    if (pairs == 0) return std::nullopt;
    return won / pairs;
}

inline DirectScores ScoreDirectly(const std::vector<DirectProbabilities>& p, const std::vector<int>& observed)
{
    DirectScores s;
    double rps = 0, climatology = 0;
    int hits = 0;
    s.CountBelow.assign(10, 0);
    s.EventsBelow.assign(10, 0);
    s.CountAbove.assign(10, 0);
    s.EventsAbove.assign(10, 0);
    for (std::size_t k = 0; k < p.size(); ++k) {
        const double ob = observed[k] == 0, on = observed[k] == 1;
        rps += std::pow(p[k].Below - ob, 2) + std::pow(p[k].Below + p[k].Near - ob - on, 2);
        climatology += std::pow(1.0 / 3 - ob, 2) + std::pow(2.0 / 3 - ob - on, 2);
        int likely = 1;
        if (p[k].Below > p[k].Near && p[k].Below > p[k].Above) likely = 0;
        if (p[k].Above > p[k].Near && p[k].Above > p[k].Below) likely = 2;
        hits += likely == observed[k];
        for (int bin = 0; bin < 10; ++bin) {
            const double lo = bin / 10.0, hi = (bin + 1) / 10.0;
            auto in = [&](double v) { return v >= lo && (v < hi || bin == 9); };
            if (in(p[k].Below)) ++s.CountBelow[bin], s.EventsBelow[bin] += observed[k] == 0;
            if (in(p[k].Above)) ++s.CountAbove[bin], s.EventsAbove[bin] += observed[k] == 2;
        }
    }
    const double n = static_cast<double>(p.size());
    s.Rpss = 1 - rps / climatology;
    s.Hss = (hits - n / 3) / (n - n / 3);
    s.RocBelow = DirectRoc(p, observed, 0);
    s.RocAbove = DirectRoc(p, observed, 2);
    return s;
}

// One forecast by an equation made from scratch on some records of a table.
struct DirectForecast {
    bool Failed = false;
    double Value = 0;       // the training mean where the fit failed
    double Sigma = 0;       // s·sqrt(1 + x0'(X'X)⁻¹x0)
    double Dof = 0;         // n' - l - 1
    double TrainingMean = 0;
    std::vector<double> TrainingY;
};

// The equation of y on the candidates made from the records kept (0-based), by the method at
// Fa, and its forecast of record target. A fold cannot be computed when the computation faults,
// when the full method has no fewer factors than records, or when a factor of the equation is a
// combination of the others to working precision (its VIF, the swept diagonal, beyond 1e12).
inline DirectForecast RefitDirectly(TMemoryDataSet& table, const std::vector<std::string>& factors, const std::string& y,
                                    std::int32_t method, double fa, const std::vector<std::int32_t>& kept,
                                    std::int32_t target)
{
    TMemoryDataSet keptTable(table.FieldNames());
    for (std::int32_t k : kept) {
        std::vector<TCell> cells;
        for (std::int32_t f = 0; f < table.FieldCount(); ++f) cells.push_back(table.Cell(k, f));
        keptTable.AppendRecord(cells);
    }
    DirectForecast d;
    d.TrainingY = ColumnValues(keptTable, y);
    for (double v : d.TrainingY) d.TrainingMean += v / static_cast<double>(d.TrainingY.size());
    std::vector<std::string> selected;
    try {
        TStatistics stats(keptTable, factors, y, fa, method);
        stats.MakeEquationText();
        if (method == MethodFull && factors.size() >= kept.size()) throw EMathError(FloatFault::ZeroDivide);
        for (std::size_t i = 0; i < factors.size(); ++i) {
            const auto f = static_cast<std::int32_t>(i);
            if (stats.Equation().Beta(f) == 0.0) continue;
            if (*stats.Equation().Augmented()->Element(f, f) > 1e12) throw EMathError(FloatFault::ZeroDivide);
            selected.push_back(factors[i]);
        }
    } catch (const EMathError&) {
        d.Failed = true;
        d.Value = d.TrainingMean;
        return d;
    }
    std::vector<std::vector<double>> columns;
    std::vector<double> x0;
    table.First();
    table.MoveBy(target);
    for (const auto& name : selected) {
        columns.push_back(ColumnValues(keptTable, name));
        x0.push_back(table.AsFloat(table.FieldByName(name)));
    }
    const LeastSquaresFit fit = FitLeastSquares(columns, d.TrainingY);
    d.Value = static_cast<double>(fit.Predict(x0));
    d.Dof = static_cast<double>(fit.Dof());
    if (d.Dof > 0) d.Sigma = static_cast<double>(sqrtq(fit.Rss / fit.Dof() * (1 + fit.Leverage(x0))));
    return d;
}

}  // namespace quorlin::testing
