#include "statistics/HindcastScores.h"

#include <algorithm>
#include <cmath>

#include "numeric/FloatError.h"

namespace quorlin {

using checked::Store;

namespace {

std::optional<double> Correlation(std::span<const double> a, std::span<const double> b)
{
    const auto n = static_cast<Extended>(a.size());
    Extended ma = 0, mb = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        ma += a[k];
        mb += b[k];
    }
    ma /= n;
    mb /= n;
    Extended saa = 0, sbb = 0, sab = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        const Extended da = a[k] - ma, db = b[k] - mb;
        saa += da * da;
        sbb += db * db;
        sab += da * db;
    }
    if (!(saa > 0 && sbb > 0)) return std::nullopt;
    return Store(std::clamp(sab / std::sqrt(saa * sbb), -1.0L, 1.0L));
}

}  // namespace

THindcastScores ScoreHindcasts(std::span<const double> observed, std::span<const double> forecast,
                               std::span<const double> climatology)
{
    const auto n = static_cast<Extended>(observed.size());
    Extended squared = 0, absolute = 0, climatologySquared = 0;
    for (std::size_t k = 0; k < observed.size(); ++k) {
        const Extended e = static_cast<Extended>(forecast[k]) - observed[k];
        const Extended c = static_cast<Extended>(climatology[k]) - observed[k];
        squared += e * e;
        absolute += std::fabs(e);
        climatologySquared += c * c;
    }
    THindcastScores scores;
    scores.Rmse = Store(std::sqrt(squared / n));
    scores.Mae = Store(absolute / n);
    if (climatologySquared > 0) scores.Msss = Store(1.0L - squared / climatologySquared);
    scores.Correlation = Correlation(forecast, observed);
    return scores;
}

}  // namespace quorlin
