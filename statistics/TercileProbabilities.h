#pragma once
// The chances of the three categories for one forecast: ŷ with a Student's t spread around it,
// as the prediction interval has, read against the terciles of the records the equation was
// made from:
//     P(below) = T_ν((t1 − ŷ)/σ),  P(above) = 1 − T_ν((t2 − ŷ)/σ),  P(near) = the rest,
// σ = s·sqrt(1 + 1/n + d'C⁻¹d) and ν = n − l − 1. A forecast without spread (a perfect fit) is
// certain of ŷ's own category; one without degrees of freedom, or from a fold that could not be
// computed, knows no more than climatology: 1/3 each.

#include <cstdint>
#include <optional>
#include <span>

#include "statistics/FittedEquation.h"
#include "statistics/Terciles.h"

namespace quorlin {

struct TTercileProbabilities {
    double Below = 1.0 / 3.0;
    double Near = 1.0 / 3.0;
    double Above = 1.0 / 3.0;

    double Of(TCategory category) const noexcept
    {
        return category == TCategory::Below ? Below : category == TCategory::Above ? Above : Near;
    }
};

// One forecast as its probabilities need it. Spread is empty where the equation leaves no
// degrees of freedom; Failed marks a fold that could not be computed.
struct TSpreadForecast {
    double Value = 0.0;
    std::optional<double> Spread;
    std::int32_t Dof = 0;
    bool Failed = false;
};

TTercileProbabilities ProbabilitiesOf(const TSpreadForecast& forecast, const TTerciles& terciles);

// The most likely category; any tie goes to near, the category that splits the difference.
TCategory MostLikely(const TTercileProbabilities& p) noexcept;

// A new case forecast by the final equation, against the terciles of its records' Y.
struct TTercileForecast {
    TTerciles Terciles;
    TTercileProbabilities Probabilities;
};
TTercileForecast ForecastTerciles(const TFittedEquation& equation, std::span<const double> values,
                                  const TTerciles& terciles);

}  // namespace quorlin
