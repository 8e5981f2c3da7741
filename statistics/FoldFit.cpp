#include "statistics/FoldFit.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "numeric/Equation01.h"
#include "statistics/Statistics01.h"

namespace quorlin {

using checked::Store;

namespace {

// A factor of a fold's equation whose variance inflation factor exceeds this is, to working
// precision, a combination of the others: its pivot was left over by rounding.
constexpr double SingularVif = 1e12;

double Swept(const TEquation& equation, std::int32_t row, std::int32_t col)
{
    return *equation.Augmented()->Element(row, col);
}

}  // namespace

TFoldFit::TFoldFit(std::int32_t factors)
    : FCorrelation(factors, factors),
      FCorrelationY(factors, 1),
      FSelected(static_cast<std::size_t>(factors)),
      FScale(static_cast<std::size_t>(factors) + 1),
      FStandard(static_cast<std::size_t>(factors))
{
}

TSpreadForecast TFoldFit::Forecast(const TMoments& moments, std::int32_t method, double fa, const TSkillSample& sample,
                                   std::int32_t record)
{
    const std::int32_t m = sample.FactorCount();
    const auto y = static_cast<std::size_t>(m);
    for (std::size_t a = 0; a <= y; ++a) {
        // A column constant in the records kept has no correlations (0/0).
        if (!(moments.Sum(a, a) > 0)) RaiseFloatFault(FloatFault::InvalidOp);
        FScale[a] = 1.0L / std::sqrt(moments.Sum(a, a));
    }
    for (std::int32_t i = 0; i < m; ++i) {
        const auto a = static_cast<std::size_t>(i);
        for (std::int32_t j = 0; j < m; ++j) {
            const auto b = static_cast<std::size_t>(j);
            FCorrelation.SetElement(i == j ? 1.0 : Store(moments.Sum(a, b) * FScale[a] * FScale[b]), i, j);
        }
        FCorrelationY.SetElement(Store(moments.Sum(a, y) * FScale[a] * FScale[y]), i, 0);
    }

    // More coefficients than records: the correlations are singular, whatever rounding says.
    if (method != MethodStepwise && m >= moments.Count) RaiseFloatFault(FloatFault::ZeroDivide);
    const double ryy = 1.0;
    std::unique_ptr<TEquation> equation;
    if (method == MethodStepwise)
        equation = std::make_unique<TTigEquation>(FCorrelation, FCorrelationY, &ryy, fa, moments.Count);
    else
        equation = std::make_unique<TAugEquation>(FCorrelation, FCorrelationY, &ryy, fa, moments.Count);
    equation->Solve();

    const auto* stepwise = dynamic_cast<const TTigEquation*>(equation.get());
    const auto k = static_cast<std::size_t>(record);
    Extended forecast = moments.Means[y];
    std::int32_t held = 0;
    for (std::int32_t i = 0; i < m; ++i) {
        const auto a = static_cast<std::size_t>(i);
        FSelected[a] = !stepwise || stepwise->IsSelected(i);
        if (!FSelected[a]) continue;
        if (Swept(*equation, i, i) > SingularVif) RaiseFloatFault(FloatFault::ZeroDivide);
        // b = beta · sd(Y) / sd(factor), the coefficient in data units.
        const Extended b = equation->Beta(i) * FScale[a] / FScale[y];
        forecast += b * (sample.Factor(i)[k] - moments.Means[a]);
        FStandard[a] = (sample.Factor(i)[k] - moments.Means[a]) * FScale[a];
        ++held;
    }

    TSpreadForecast result{Store(forecast), std::nullopt, moments.Count - held - 1, false};
    if (result.Dof <= 0) return result;
    // The selected block of the swept correlations is their inverse, so that in standard units
    // d'C⁻¹d = z'R⁻¹z; the corner is Q', the share of Y's sum of squares the equation leaves.
    Extended leverage = 0;
    for (std::int32_t i = 0; i < m; ++i) {
        if (!FSelected[static_cast<std::size_t>(i)]) continue;
        for (std::int32_t j = 0; j < m; ++j)
            if (FSelected[static_cast<std::size_t>(j)])
                leverage += FStandard[static_cast<std::size_t>(i)] * Swept(*equation, i, j) * FStandard[static_cast<std::size_t>(j)];
    }
    const Extended residual = std::max(0.0L, static_cast<Extended>(Swept(*equation, m, m))) * moments.Sum(y, y);
    const Extended variance = residual / result.Dof * (1.0L + 1.0L / moments.Count + std::max(0.0L, leverage));
    result.Spread = Store(std::sqrt(variance));
    return result;
}

}  // namespace quorlin
