#pragma once
// The skill of forecasts of Y against what was observed: correlation, RMSE, MAE, and the
// mean-square skill score against the climatology each forecast had to beat.

#include <optional>
#include <span>

namespace quorlin {

struct THindcastScores {
    // Empty when the forecasts or the observations do not vary.
    std::optional<double> Correlation;
    double Rmse = 0.0;
    double Mae = 0.0;
    // 1 - MSE(forecast) / MSE(climatology): empty when climatology makes no error at all.
    std::optional<double> Msss;
};

// All three the same length, at least 1. Raises EMathError when the figures overflow.
THindcastScores ScoreHindcasts(std::span<const double> observed, std::span<const double> forecast,
                               std::span<const double> climatology);

}  // namespace quorlin
