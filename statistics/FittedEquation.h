#pragma once
// The final equation in full: the stepwise path that led to it, each coefficient with its
// standard error, t, two-sided p and variance inflation factor, the fit figures, and the
// forecast of a new case with its prediction interval.
//
// The equation is the one the compute command reports: it is made by TStatistics from the
// same records, and every figure here is read off that computation's swept matrix.
//
// A figure the records cannot determine is left empty (std::nullopt) rather than made up:
// with no residual degrees of freedom (n - l - 1 <= 0) there is no s, no standard error, no
// adjusted R² and no test; with no factor in the equation there is no F; a perfect fit has
// standard errors of 0, and its t, p and F are empty.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "numeric/Equation01.h"
#include "statistics/DataSet.h"
#include "numeric/FloatError.h"

namespace quorlin {

// One factor of the final equation. Factor indexes the candidate factors.
struct TCoefficient {
    std::int32_t Factor = -1;
    std::string Name;
    double B = 0.0;
    std::optional<double> SE;
    std::optional<double> T;
    std::optional<double> P;
    double VIF = 1.0;
};

// A forecast and its prediction interval at Level (a fraction, 0.95 for 95 %).
struct TForecast {
    double Value = 0.0;
    double Lower = 0.0;
    double Upper = 0.0;
    double Level = 0.0;
};

class TFittedEquation {
public:
    // Computes the equation of yName on the candidate factors by method (MethodStepwise or
    // MethodFull) at threshold fa, as the compute command does. onRemoval is told of each factor
    // the stepwise method takes out again. Raises what TStatistics raises.
    TFittedEquation(TDataSet& data, const std::vector<std::string>& factorNames, const std::string& yName,
                    std::int32_t method, double fa, TRemovalNotifier onRemoval = {});

    const std::string& Text() const noexcept { return FText; }
    const std::vector<std::string>& CandidateNames() const noexcept { return FCandidates; }
    const std::string& YName() const noexcept { return FYName; }
    // Every entry and removal of the stepwise method in order (empty for the full method);
    // TStep::Factor indexes CandidateNames, TStep::Q is Q' after the step.
    const std::vector<TStep>& Steps() const noexcept { return FSteps; }
    // The factors of the final equation, in candidate order.
    const std::vector<TCoefficient>& Coefficients() const noexcept { return FCoefficients; }
    std::vector<std::string> FactorNames() const;
    double Constant() const noexcept { return FConstant; }
    std::int32_t SampleSize() const noexcept { return FSampleSize; }
    // n - l - 1, l the number of factors in the equation.
    std::int32_t ResidualDof() const noexcept { return FSampleSize - static_cast<std::int32_t>(FCoefficients.size()) - 1; }
    double R2() const noexcept { return FR2; }
    std::optional<double> AdjustedR2() const noexcept { return FAdjustedR2; }
    // The residual standard error sqrt(RSS / (n - l - 1)), in Y's units.
    std::optional<double> S() const noexcept { return FS; }
    std::optional<double> F() const noexcept { return FF; }
    std::optional<double> FP() const noexcept { return FFP; }

    // ŷ for a case: values[i] is the value of Coefficients()[i]'s factor.
    double Predict(std::span<const double> values) const;
    // ŷ ± t(n - l - 1) · s · sqrt(1 + 1/n + d'C⁻¹d), d the case's deviations from the factors'
    // means and C their sums of squares and products. Raises ESkillError when the equation
    // leaves no degrees of freedom or level is not strictly between 0 and 1.
    TForecast Forecast(std::span<const double> values, double level) const;
    // s · sqrt(1 + 1/n + d'C⁻¹d), the scale of the interval around ŷ; empty when the equation
    // leaves no degrees of freedom.
    std::optional<double> PredictionSpread(std::span<const double> values) const;

private:
    // 1 + 1/n + d'C⁻¹d for a case.
    Extended SpreadFactor(std::span<const double> values) const;
    void ComputeFitFigures(double residualShare, double residualVariance);
    void ComputeCoefficientFigures(const TEquation& equation, const std::vector<double>& variances);

    std::string FText;
    std::vector<std::string> FCandidates;
    std::string FYName;
    std::vector<TStep> FSteps;
    std::vector<TCoefficient> FCoefficients;
    double FConstant = 0.0;
    std::int32_t FSampleSize = 0;
    double FR2 = 0.0;
    std::optional<double> FAdjustedR2, FS, FF, FFP;
    // What a forecast needs: the means of the factors in the equation and of Y, and C⁻¹ (l x l,
    // row by row).
    std::vector<double> FMeans;
    double FYMean = 0.0;
    std::vector<double> FInverse;
};

}  // namespace quorlin
