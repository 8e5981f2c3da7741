#include "tests/ReferenceRegression.h"

#include <algorithm>
#include <stdexcept>

namespace quorlin::reference {

namespace {

// Integers convert exactly; quadruple-precision literals would need a compiler extension.
const Quad Zero = 0;
const Quad One = 1;

double RelativeGap(Quad a, Quad b)
{
    const Quad scale = std::max(Abs(a), Abs(b));
    if (scale == Zero) return 1.0;  // both exactly 0: no rounding can separate them
    return ToDouble(Abs(a - b) / scale);
}

// Variance contribution of every factor under the current sweeps: for a factor outside the
// equation the fall of Q' it would bring, for one inside the rise its removal would bring.
std::vector<Quad> Contributions(const QuadMatrix& a, std::size_t m)
{
    std::vector<Quad> v(m, Zero);
    for (std::size_t i = 0; i < m; ++i)
        if (a[i][i] != Zero) v[i] = a[i][m] * a[i][m] / a[i][i];
    return v;
}

// Among the factors whose membership equals `inside`, the one with the largest (entry) or
// smallest (removal) V, the lowest index on ties; also the gap to the runner-up.
struct Choice {
    std::int32_t Factor = -1;
    double Gap = 1.0;  // to the runner-up, unless tied
    bool Tie = false;
};

Choice Choose(const std::vector<Quad>& v, const std::vector<bool>& selected, bool inside, bool largest)
{
    Choice choice;
    std::int32_t runnerUp = -1;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (selected[i] != inside) continue;
        const auto idx = static_cast<std::int32_t>(i);
        const auto better = [&](std::int32_t a, std::int32_t b) {  // strictly better keeps the lower index
            return largest ? v[static_cast<std::size_t>(a)] > v[static_cast<std::size_t>(b)]
                           : v[static_cast<std::size_t>(a)] < v[static_cast<std::size_t>(b)];
        };
        if (choice.Factor < 0 || better(idx, choice.Factor)) {
            runnerUp = choice.Factor;
            choice.Factor = idx;
        } else if (runnerUp < 0 || better(idx, runnerUp)) {
            runnerUp = idx;
        }
    }
    if (choice.Factor >= 0 && runnerUp >= 0) {
        choice.Tie = v[static_cast<std::size_t>(choice.Factor)] == v[static_cast<std::size_t>(runnerUp)];
        if (!choice.Tie)
            choice.Gap = RelativeGap(v[static_cast<std::size_t>(choice.Factor)], v[static_cast<std::size_t>(runnerUp)]);
    }
    return choice;
}

void FinishFit(StandardizedFit& fit, const QuadMatrix& a, const std::vector<Quad>& rxy, std::size_t m)
{
    fit.ResidualShare = a[m][m];
    fit.RegressionShare = Zero;
    fit.RegressionShareScale = Zero;
    for (std::size_t i = 0; i < m; ++i) {
        fit.RegressionShare += fit.Beta[i] * rxy[i];
        fit.RegressionShareScale += Abs(fit.Beta[i] * rxy[i]);
    }
    fit.MultipleR = sqrtq(One - fit.ResidualShare);
}

}  // namespace

std::string ToString(Quad v)
{
    char text[64];
    quadmath_snprintf(text, sizeof text, "%.36Qg", v);
    return text;
}

void Sweep(QuadMatrix& a, std::size_t k)
{
    const QuadMatrix w = a;
    const Quad pivot = w[k][k];
    if (pivot == Zero) throw std::domain_error("zero pivot in sweep");
    for (std::size_t i = 0; i < w.size(); ++i) {
        for (std::size_t j = 0; j < w[i].size(); ++j) {
            if (i == k && j == k)
                a[i][j] = One / pivot;
            else if (i == k)
                a[i][j] = w[k][j] / pivot;
            else if (j == k)
                a[i][j] = -w[i][k] / pivot;
            else
                a[i][j] = w[i][j] - w[i][k] * w[k][j] / pivot;
        }
    }
}

StandardizedFit FitStandardized(const QuadMatrix& r, const std::vector<Quad>& rxy, Quad ryy, double fa,
                                std::int32_t n, Method method)
{
    const std::size_t m = rxy.size();
    if (r.size() != m) throw std::invalid_argument("correlation matrix and column differ in size");

    QuadMatrix a(m + 1, std::vector<Quad>(m + 1, Zero));
    for (std::size_t i = 0; i < m; ++i) {
        for (std::size_t j = 0; j < m; ++j) a[i][j] = r[i][j];
        a[i][m] = rxy[i];
        a[m][i] = rxy[i];
    }
    a[m][m] = ryy;

    StandardizedFit fit;
    fit.Beta.assign(m, Zero);

    if (method == Method::Full) {
        for (std::size_t k = 0; k < m; ++k) Sweep(a, k);
        for (std::size_t i = 0; i < m; ++i) {
            fit.Beta[i] = a[i][m];
            fit.Selected.push_back(static_cast<std::int32_t>(i));
        }
        FinishFit(fit, a, rxy, m);
        return fit;
    }

    const Quad threshold = fa;
    std::vector<bool> selected(m, false);
    std::int32_t count = 0;
    // A correct stepwise path never revisits a state; a bound keeps a faulty reference from
    // hanging the test run instead of failing it.
    const std::size_t maxSteps = 50 * (m + 1);
    std::size_t steps = 0;
    for (;;) {
        if (++steps > maxSteps) throw std::runtime_error("stepwise path does not end");

        if (count >= 3) {
            const std::vector<Quad> v = Contributions(a, m);
            const Choice weakest = Choose(v, selected, true, false);
            const auto k = static_cast<std::size_t>(weakest.Factor);
            const Quad f = Quad(n - count - 1) * v[k] / a[m][m];
            fit.DecisionMargin = std::min({fit.DecisionMargin, weakest.Gap, RelativeGap(f, threshold)});
            fit.ExactTies += weakest.Tie;
            if (f < threshold) {
                Sweep(a, k);
                selected[k] = false;
                --count;
                fit.Removals.push_back({weakest.Factor, v[k], f});
                continue;  // removals are tried again before any entry
            }
        }

        const std::vector<Quad> v = Contributions(a, m);
        const Choice strongest = Choose(v, selected, false, true);
        if (strongest.Factor < 0) break;
        const auto k = static_cast<std::size_t>(strongest.Factor);
        const Quad f = Quad(n - count - 2) * v[k] / (a[m][m] - v[k]);
        fit.DecisionMargin = std::min({fit.DecisionMargin, strongest.Gap, RelativeGap(f, threshold)});
        fit.ExactTies += strongest.Tie;
        if (!(f >= threshold)) break;
        Sweep(a, k);
        selected[k] = true;
        ++count;
    }

    for (std::size_t i = 0; i < m; ++i) {
        if (!selected[i]) continue;
        fit.Beta[i] = a[i][m];
        fit.Selected.push_back(static_cast<std::int32_t>(i));
    }
    FinishFit(fit, a, rxy, m);
    return fit;
}

Result Compute(const std::vector<std::vector<double>>& factors, const std::vector<double>& y, double fa,
               Method method)
{
    const std::size_t m = factors.size();
    const std::size_t count = y.size();
    if (m == 0 || count == 0) throw std::invalid_argument("a table needs records and at least one factor");
    for (const auto& column : factors)
        if (column.size() != count) throw std::invalid_argument("columns differ in length");

    const Quad n = static_cast<Quad>(count);
    Result result;
    result.SampleSize = static_cast<std::int32_t>(count);

    // Means: each value is divided by n before it is added.
    result.Means.assign(m, Zero);
    result.MeanMagnitudes.assign(m, Zero);
    for (std::size_t k = 0; k < count; ++k) {
        for (std::size_t i = 0; i < m; ++i) {
            result.Means[i] += Quad(factors[i][k]) / n;
            result.MeanMagnitudes[i] += Abs(Quad(factors[i][k])) / n;
        }
        result.YMean += Quad(y[k]) / n;
        result.YMeanMagnitude += Abs(Quad(y[k])) / n;
    }

    // Centred moments about those means, population divisor.
    result.Covariance.assign(m, std::vector<Quad>(m, Zero));
    result.CovarianceY.assign(m, Zero);
    for (std::size_t k = 0; k < count; ++k) {
        const Quad dy = Quad(y[k]) - result.YMean;
        for (std::size_t i = 0; i < m; ++i) {
            const Quad di = Quad(factors[i][k]) - result.Means[i];
            for (std::size_t j = 0; j < m; ++j)
                result.Covariance[i][j] += di * (Quad(factors[j][k]) - result.Means[j]) / n;
            result.CovarianceY[i] += di * dy / n;
        }
        result.YVariance += dy * dy / n;
    }

    result.Correlation.assign(m, std::vector<Quad>(m, Zero));
    result.CorrelationY.assign(m, Zero);
    for (std::size_t i = 0; i < m; ++i) {
        for (std::size_t j = 0; j < m; ++j)
            result.Correlation[i][j] =
                result.Covariance[i][j] / sqrtq(result.Covariance[j][j] * result.Covariance[i][i]);
        result.CorrelationY[i] = result.CovarianceY[i] / sqrtq(result.Covariance[i][i] * result.YVariance);
    }
    result.YSelfCorrelation = result.YVariance / sqrtq(result.YVariance * result.YVariance);

    static_cast<StandardizedFit&>(result) = FitStandardized(result.Correlation, result.CorrelationY,
                                                            result.YSelfCorrelation, fa,
                                                            result.SampleSize, method);

    // Back to the units of the data.
    result.Coefficients.assign(m, Zero);
    result.Constant = result.YMean;
    result.ConstantScale = Abs(result.YMean);
    for (std::size_t i = 0; i < m; ++i) {
        result.Coefficients[i] = sqrtq(result.YVariance / result.Covariance[i][i]) * result.Beta[i];
        result.Constant -= result.Coefficients[i] * result.Means[i];
        result.ConstantScale += Abs(result.Coefficients[i] * result.Means[i]);
    }
    result.ResidualVariance = result.ResidualShare * result.YVariance;
    result.RegressionVariance = result.RegressionShare * result.YVariance;
    return result;
}

}  // namespace quorlin::reference
