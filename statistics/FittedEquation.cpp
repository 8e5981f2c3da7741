#include "statistics/FittedEquation.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "numeric/FloatError.h"
#include "statistics/Distributions.h"
#include "statistics/Statistics01.h"
#include "support/Messages.h"

namespace quorlin {

using checked::Store;

namespace {

// The factors the solved equation holds: all of them for the full method, those the stepwise
// method left selected otherwise.
std::vector<std::int32_t> SelectedFactors(const TEquation& equation)
{
    const auto* stepwise = dynamic_cast<const TTigEquation*>(&equation);
    std::vector<std::int32_t> selected;
    for (std::int32_t i = 0; i < equation.FactorCount(); ++i)
        if (!stepwise || stepwise->IsSelected(i)) selected.push_back(i);
    return selected;
}

// Once the factors of the equation are swept, their block of the augmented matrix is the
// inverse of their correlation matrix, whatever path of entries and removals led there.
double Swept(const TEquation& equation, std::int32_t row, std::int32_t col)
{
    return *equation.Augmented()->Element(row, col);
}

}  // namespace

TFittedEquation::TFittedEquation(TDataSet& data, const std::vector<std::string>& factorNames,
                                 const std::string& yName, std::int32_t method, double fa, TRemovalNotifier onRemoval)
    : FCandidates(factorNames), FYName(yName)
{
    TStatistics stats(data, factorNames, yName, fa, method, std::move(onRemoval),
                      [this](const TStep& step) { FSteps.push_back(step); });
    stats.MakeEquationText();
    FText = stats.EquationText();
    FConstant = stats.Constant();
    FSampleSize = stats.SampleSize();
    FYMean = stats.YMean();

    std::vector<double> variances;
    for (std::int32_t i : SelectedFactors(stats.Equation())) {
        const auto k = static_cast<std::size_t>(i);
        FCoefficients.push_back({i, factorNames[k], stats.Coefficients()[k], {}, {}, {}, Swept(stats.Equation(), i, i)});
        FMeans.push_back(stats.Means()[k]);
        variances.push_back(*stats.Covariance().Element(i, i));
    }
    ComputeFitFigures(stats.Equation().ResidualShare(), stats.ResidualVariance());
    ComputeCoefficientFigures(stats.Equation(), variances);
}

void TFittedEquation::ComputeFitFigures(double residualShare, double residualVariance)
{
    // Q' a hair below 0 is a perfect fit seen through rounding.
    const Extended share = std::max(0.0, residualShare);
    const Extended n = FSampleSize;
    const auto l = static_cast<Extended>(FCoefficients.size());
    const Extended dof = ResidualDof();
    FR2 = Store(1.0L - share);
    if (dof <= 0) return;

    // Q is the residual sum of squares per record.
    const Extended rss = std::max(0.0L, static_cast<Extended>(residualVariance) * n);
    FS = Store(std::sqrt(rss / dof));
    FAdjustedR2 = Store(1.0L - share * (n - 1) / dof);
    if (l > 0 && share > 0) {
        FF = Store((1.0L - share) / l / (share / dof));
        FFP = FisherUpperP(*FF, static_cast<double>(l), static_cast<double>(dof));
    }
}

void TFittedEquation::ComputeCoefficientFigures(const TEquation& equation, const std::vector<double>& variances)
{
    const std::size_t l = FCoefficients.size();
    const Extended n = FSampleSize;
    // C⁻¹ of the centred sums from R⁻¹: C(i, j) = n · r(i, j) · sd(i) · sd(j).
    FInverse.assign(l * l, 0.0);
    for (std::size_t i = 0; i < l; ++i)
        for (std::size_t j = 0; j < l; ++j) {
            const Extended scale = n * std::sqrt(static_cast<Extended>(variances[i]) * variances[j]);
            FInverse[i * l + j] =
                Store(Swept(equation, FCoefficients[i].Factor, FCoefficients[j].Factor) / scale);
        }
    if (!FS) return;
    const double dof = ResidualDof();
    for (std::size_t i = 0; i < l; ++i) {
        TCoefficient& c = FCoefficients[i];
        c.SE = Store(*FS * std::sqrt(std::max(0.0L, static_cast<Extended>(FInverse[i * l + i]))));
        if (*c.SE > 0) {
            c.T = Store(static_cast<Extended>(c.B) / *c.SE);
            c.P = StudentTwoSidedP(*c.T, dof);
        }
    }
}

std::vector<std::string> TFittedEquation::FactorNames() const
{
    std::vector<std::string> names;
    for (const auto& c : FCoefficients) names.push_back(c.Name);
    return names;
}

double TFittedEquation::Predict(std::span<const double> values) const
{
    if (values.size() != FCoefficients.size())
        throw std::invalid_argument("a forecast needs one value for each factor of the equation");
    // From the means rather than the constant: the constant may be a large number that the
    // terms then nearly cancel.
    Extended y = FYMean;
    for (std::size_t i = 0; i < values.size(); ++i)
        y += static_cast<Extended>(FCoefficients[i].B) * (static_cast<Extended>(checked::Operand(values[i])) - FMeans[i]);
    return Store(y);
}

TForecast TFittedEquation::Forecast(std::span<const double> values, double level) const
{
    const double value = Predict(values);
    if (!FS)
        throw ESkillError(
            Format(Tr("The equation leaves no degrees of freedom (n - l - 1 = %1$s), so a forecast has no interval"),
                   ResidualDof()));
    const Extended half =
        StudentCentralQuantile(level, ResidualDof()) * static_cast<Extended>(*FS) * std::sqrt(SpreadFactor(values));
    return {value, Store(value - half), Store(value + half), level};
}

std::optional<double> TFittedEquation::PredictionSpread(std::span<const double> values) const
{
    if (values.size() != FCoefficients.size())
        throw std::invalid_argument("a forecast needs one value for each factor of the equation");
    if (!FS) return std::nullopt;
    return Store(static_cast<Extended>(*FS) * std::sqrt(SpreadFactor(values)));
}

Extended TFittedEquation::SpreadFactor(std::span<const double> values) const
{
    const std::size_t l = FCoefficients.size();
    Extended spread = 0;
    for (std::size_t i = 0; i < l; ++i)
        for (std::size_t j = 0; j < l; ++j)
            spread += (static_cast<Extended>(values[i]) - FMeans[i]) * FInverse[i * l + j] *
                      (static_cast<Extended>(values[j]) - FMeans[j]);
    return 1.0L + 1.0L / FSampleSize + std::max(0.0L, spread);
}

}  // namespace quorlin
