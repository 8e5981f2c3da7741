#pragma once
// An independent ordinary least-squares fit for the skill tests: Y on an intercept and the given
// factor columns, by Householder QR in quadruple precision straight from the records, with no
// correlations, no sweeps and nothing shared with the project's regression.

#include <quadmath.h>

#include <cstddef>
#include <stdexcept>
#include <vector>

namespace quorlin::testing {

using Quad = __float128;

struct LeastSquaresFit {
    std::size_t N = 0;
    std::vector<Quad> B;                   // intercept first, then one per factor
    std::vector<std::vector<Quad>> XtXInv;  // (X'X)⁻¹, X with its column of ones first
    Quad Rss = 0;
    Quad Tss = 0;

    std::size_t Factors() const { return B.size() - 1; }
    Quad Dof() const { return Quad(N) - Quad(B.size()); }
    // x0'(X'X)⁻¹x0 for a case, x0 = (1, values).
    Quad Leverage(const std::vector<double>& values) const
    {
        std::vector<Quad> x0{1};
        for (double v : values) x0.push_back(v);
        Quad sum = 0;
        for (std::size_t i = 0; i < x0.size(); ++i)
            for (std::size_t j = 0; j < x0.size(); ++j) sum += x0[i] * XtXInv[i][j] * x0[j];
        return sum;
    }
    Quad Predict(const std::vector<double>& values) const
    {
        Quad y = B[0];
        for (std::size_t i = 0; i < values.size(); ++i) y += B[i + 1] * Quad(values[i]);
        return y;
    }
};

inline LeastSquaresFit FitLeastSquares(const std::vector<std::vector<double>>& factors, const std::vector<double>& y)
{
    const std::size_t n = y.size(), p = factors.size() + 1;
    if (n < p) throw std::invalid_argument("fewer records than coefficients");
    std::vector<std::vector<Quad>> a(p, std::vector<Quad>(n));  // column by column
    for (std::size_t k = 0; k < n; ++k) {
        a[0][k] = 1;
        for (std::size_t i = 1; i < p; ++i) a[i][k] = factors[i - 1][k];
    }
    std::vector<Quad> qty(y.begin(), y.end());

    // Householder reflections make a upper triangular and carry y along.
    for (std::size_t j = 0; j < p; ++j) {
        Quad norm = 0;
        for (std::size_t k = j; k < n; ++k) norm += a[j][k] * a[j][k];
        norm = sqrtq(norm);
        if (norm == 0) throw std::domain_error("a column is linearly dependent on the earlier ones");
        const Quad alpha = a[j][j] > 0 ? -norm : norm;
        std::vector<Quad> v(n, 0);
        for (std::size_t k = j; k < n; ++k) v[k] = a[j][k];
        v[j] -= alpha;
        Quad vv = 0;
        for (std::size_t k = j; k < n; ++k) vv += v[k] * v[k];
        auto reflect = [&](std::vector<Quad>& column) {
            Quad dot = 0;
            for (std::size_t k = j; k < n; ++k) dot += v[k] * column[k];
            const Quad f = 2 * dot / vv;
            for (std::size_t k = j; k < n; ++k) column[k] -= f * v[k];
        };
        for (std::size_t c = j; c < p; ++c) reflect(a[c]);
        reflect(qty);
    }

    // R b = Q'y, and R⁻¹ column by column.
    LeastSquaresFit fit;
    fit.N = n;
    fit.B.assign(p, 0);
    for (std::size_t i = p; i-- > 0;) {
        Quad s = qty[i];
        for (std::size_t c = i + 1; c < p; ++c) s -= a[c][i] * fit.B[c];
        fit.B[i] = s / a[i][i];
    }
    std::vector<std::vector<Quad>> rinv(p, std::vector<Quad>(p, 0));
    for (std::size_t c = 0; c < p; ++c) {
        rinv[c][c] = 1 / a[c][c];
        for (std::size_t i = c; i-- > 0;) {
            Quad s = 0;
            for (std::size_t k = i + 1; k <= c; ++k) s += a[k][i] * rinv[k][c];
            rinv[i][c] = -s / a[i][i];
        }
    }
    fit.XtXInv.assign(p, std::vector<Quad>(p, 0));
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = 0; j < p; ++j)
            for (std::size_t k = std::max(i, j); k < p; ++k) fit.XtXInv[i][j] += rinv[i][k] * rinv[j][k];

    Quad mean = 0;
    for (double v : y) mean += Quad(v);
    mean /= Quad(n);
    for (std::size_t k = 0; k < n; ++k) {
        Quad fitted = fit.B[0];
        for (std::size_t i = 1; i < p; ++i) fitted += fit.B[i] * Quad(factors[i - 1][k]);
        const Quad e = Quad(y[k]) - fitted;
        fit.Rss += e * e;
        fit.Tss += (Quad(y[k]) - mean) * (Quad(y[k]) - mean);
    }
    return fit;
}

}  // namespace quorlin::testing
