#include "statistics/TercileProbabilities.h"

#include <algorithm>

#include "statistics/Distributions.h"

namespace quorlin {

namespace {

// (bound − ŷ)/σ; far beyond any t the distribution tells apart from ±infinity, it is held
// there rather than overflowing the double it is handed on as.
double Standardized(double bound, double value, double spread)
{
    constexpr Extended Far = 1e300L;
    const Extended z = (static_cast<Extended>(bound) - value) / spread;
    return static_cast<double>(std::clamp(z, -Far, Far));
}

TTercileProbabilities Certain(TCategory category)
{
    TTercileProbabilities p{0.0, 0.0, 0.0};
    (category == TCategory::Below ? p.Below : category == TCategory::Above ? p.Above : p.Near) = 1.0;
    return p;
}

}  // namespace

TTercileProbabilities ProbabilitiesOf(const TSpreadForecast& forecast, const TTerciles& terciles)
{
    if (forecast.Failed || !forecast.Spread || forecast.Dof <= 0) return {};
    if (*forecast.Spread == 0.0) return Certain(CategoryOf(forecast.Value, terciles));
    const double dof = forecast.Dof;
    TTercileProbabilities p;
    p.Below = StudentLowerP(Standardized(terciles.Lower, forecast.Value, *forecast.Spread), dof);
    p.Above = StudentUpperP(Standardized(terciles.Upper, forecast.Value, *forecast.Spread), dof);
    // Lower <= Upper makes the rest a chance; rounding must not make it a negative one.
    p.Near = std::max(0.0, 1.0 - p.Below - p.Above);
    return p;
}

TCategory MostLikely(const TTercileProbabilities& p) noexcept
{
    if (p.Below > p.Near && p.Below > p.Above) return TCategory::Below;
    if (p.Above > p.Near && p.Above > p.Below) return TCategory::Above;
    return TCategory::Near;
}

TTercileForecast ForecastTerciles(const TFittedEquation& equation, std::span<const double> values,
                                  const TTerciles& terciles)
{
    const TSpreadForecast forecast{equation.Predict(values), equation.PredictionSpread(values), equation.ResidualDof()};
    return {terciles, ProbabilitiesOf(forecast, terciles)};
}

}  // namespace quorlin
