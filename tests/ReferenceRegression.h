#pragma once
// A second, independent computation of the regression road, carried out in quadruple
// precision (__float128). Its results are exact to far beyond 64-bit accuracy for the
// well-conditioned tables the tests use, so the differences the tests see are the project's
// own rounding (or its faults), never the reference's.
//
// It follows the same arithmetic as the program: per-term division by n, two-pass centred
// moments, correlations from covariances, the augmented matrix [[R, r], [r', ryy]] reduced by
// sweeps, the full and the stepwise method, and the conversion back to data units. It shares
// no code with the project.

#include <quadmath.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorlin::reference {

using Quad = __float128;
using QuadMatrix = std::vector<std::vector<Quad>>;

enum class Method : std::int32_t { Stepwise = 1, Full = 2 };

struct Removal {
    std::int32_t Factor = -1;
    Quad V = 0;
    Quad F = 0;
};

// What the regression of standardized data gives: the part that works on correlations only.
struct StandardizedFit {
    std::vector<Quad> Beta;      // 0 for a factor outside the equation
    Quad ResidualShare = 0;      // Q'
    Quad RegressionShare = 0;    // U'
    Quad MultipleR = 0;
    std::vector<Removal> Removals;
    std::vector<std::int32_t> Selected;  // factors in the final equation, ascending
    // Smallest relative gap met by any stepwise decision: between F and Fa, and between the
    // chosen factor's V and the runner-up's. A tiny gap means 64-bit rounding could rightly
    // decide the other way, so such a table cannot serve as a check of the stepwise path.
    // Exact ties between the best and the runner-up are counted apart: they are settled by the
    // lowest index, and only a table built to tie exactly in 64-bit arithmetic too (such as
    // integer data) can check that rule.
    double DecisionMargin = 1.0;
    std::int32_t ExactTies = 0;
    // Magnitude of the terms U' is summed from; a bound for its cancellation error.
    Quad RegressionShareScale = 0;
};

struct Result : StandardizedFit {
    std::int32_t SampleSize = 0;
    std::vector<Quad> Means;
    std::vector<Quad> MeanMagnitudes;  // mean of |x| per factor, the scale a mean is rounded at
    Quad YMean = 0;
    Quad YMeanMagnitude = 0;
    Quad YVariance = 0;
    QuadMatrix Covariance;
    std::vector<Quad> CovarianceY;
    QuadMatrix Correlation;
    std::vector<Quad> CorrelationY;
    Quad YSelfCorrelation = 0;
    std::vector<Quad> Coefficients;
    Quad Constant = 0;
    // |YMean| + sum of |b(i) * mean(i)|: the terms the constant is formed from.
    Quad ConstantScale = 0;
    Quad ResidualVariance = 0;    // Q = Q' * variance of Y
    Quad RegressionVariance = 0;  // U = U' * variance of Y
};

// One Gauss-Jordan step on pivot (k, k), every element computed from the values before it.
// Raises std::domain_error on a zero pivot.
void Sweep(QuadMatrix& a, std::size_t k);

// The regression on a correlation matrix r (m x m), correlations with Y rxy, and ryy.
StandardizedFit FitStandardized(const QuadMatrix& r, const std::vector<Quad>& rxy, Quad ryy, double fa,
                                std::int32_t n, Method method);

// The whole road for a table: factors[i][k] is factor i in record k, y[k] the forecast element.
Result Compute(const std::vector<std::vector<double>>& factors, const std::vector<double>& y, double fa,
               Method method);

inline double ToDouble(Quad v) { return static_cast<double>(v); }
inline Quad Abs(Quad v) { return fabsq(v); }
std::string ToString(Quad v);

}  // namespace quorlin::reference
