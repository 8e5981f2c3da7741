#pragma once
// The equation of one fold (or one retroactive step), made from the moments of the records it
// keeps by the same equation objects as the final equation, and its forecast of one record
// with the spread of that forecast.

#include <cstdint>
#include <vector>

#include "numeric/Matrix01.h"
#include "statistics/FoldMoments.h"
#include "statistics/SkillSample.h"
#include "statistics/TercileProbabilities.h"

namespace quorlin {

class TFoldFit {
public:
    explicit TFoldFit(std::int32_t factors);

    // The forecast of record from the moments, with s · sqrt(1 + 1/n + d'C⁻¹d) of the fold's
    // equation as its spread (empty without degrees of freedom). Raises EMathError when the
    // fold cannot be computed: a singular matrix, or a floating-point fault.
    TSpreadForecast Forecast(const TMoments& moments, std::int32_t method, double fa, const TSkillSample& sample,
                             std::int32_t record);

    // The factors the last equation held.
    const std::vector<bool>& Selected() const noexcept { return FSelected; }

private:
    TMatrix FCorrelation;
    TMatrix FCorrelationY;
    std::vector<bool> FSelected;
    std::vector<Extended> FScale;
    // The record's factors in standard units of the fold, z = (x − mean) / sqrt(C_ii).
    std::vector<Extended> FStandard;
};

}  // namespace quorlin
