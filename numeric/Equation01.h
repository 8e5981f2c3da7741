#pragma once
// Regression of the forecast element on m factors in standardized form: the equation objects
// work on the correlation matrix R of the factors and the column r of their correlations with
// Y, and hand back the standardized coefficients and the analysis-of-variance figures.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "numeric/Matrix01.h"

namespace quorlin {

// Told of each factor the stepwise method takes out again: its index, its variance
// contribution V and its F to remove. The stepwise loop waits for the call to return, so a
// desktop caller can show a modal box here.
using TRemovalNotifier = std::function<void(std::int32_t factor, double v, double f)>;

// One step of the stepwise method: a factor taken in or taken out again, its variance
// contribution V and its F, and Q' once the step is done.
struct TStep {
    enum class TAction { Enter, Remove };
    TAction Action = TAction::Enter;
    std::int32_t Factor = -1;
    double V = 0.0;
    double F = 0.0;
    double Q = 0.0;
};
using TStepNotifier = std::function<void(const TStep& step)>;

class TEquation {
public:
    virtual ~TEquation() = default;
    TEquation(const TEquation&) = delete;
    TEquation& operator=(const TEquation&) = delete;

    // The five operations, in this order.
    virtual TMatrix* BuildAugmented(const TMatrix& r, const TMatrix& rxy);
    virtual std::int32_t Solve();
    virtual void ComputeFitStatistics();
    virtual void PrepareSelection();
    virtual void StoreCoefficients();

    const TMatrix& StdCoefficients() const noexcept { return *FStdCoefficients; }
    const TMatrix& Correlation() const noexcept { return *FCorrelation; }
    const TMatrix& CorrelationXY() const noexcept { return *FCorrelationXY; }
    const TMatrix* Augmented() const noexcept { return FAugmented.get(); }
    std::int32_t FactorCount() const noexcept { return FFactorCount; }
    std::int32_t FactorColumns() const noexcept { return FFactorColumns; }
    std::int32_t SampleSize() const noexcept { return FSampleSize; }
    double Fa() const noexcept { return FFa; }
    double ResidualShare() const noexcept { return FResidualShare; }
    double RegressionShare() const noexcept { return FRegressionShare; }
    double MultipleR() const noexcept { return FMultipleR; }

    // Standardized coefficient of factor i: row i of the last column of StdCoefficients.
    double Beta(std::int32_t i) const noexcept;

protected:
    TEquation(const TMatrix& r, const TMatrix& rxy, double fa, std::int32_t n);

    // Builds [[R, r], [r', corner]] as the new Augmented matrix and returns it.
    TMatrix* MakeAugmented(const TMatrix& r, const TMatrix& rxy, double corner);
    // Q', U' and the multiple correlation from the swept matrix; yCorner receives Q'.
    void FitFromAugmented(double& yCorner);
    double& A(std::int32_t row, std::int32_t col) noexcept { return *FAugmented->Element(row, col); }

    std::unique_ptr<TMatrix> FStdCoefficients;
    std::unique_ptr<TMatrix> FCorrelation;
    std::unique_ptr<TMatrix> FCorrelationXY;
    std::int32_t FFactorCount = 0;
    std::int32_t FFactorColumns = 0;
    std::int32_t FSampleSize = 0;
    std::unique_ptr<TMatrix> FAugmented;
    double FFa = 0.0;
    double FResidualShare = 0.0;
    double FRegressionShare = 0.0;
    double FMultipleR = 0.0;
};

// Full multiple linear regression: every factor is taken in, without a test.
class TAugEquation : public TEquation {
public:
    // ryy is copied; the object keeps its own copies of R and r.
    TAugEquation(const TMatrix& r, const TMatrix& rxy, const double* ryy, double fa, std::int32_t n);

    TMatrix* BuildAugmented(const TMatrix& r, const TMatrix& rxy) override;
    std::int32_t Solve() override;
    void ComputeFitStatistics() override;
    void StoreCoefficients() override;

    double YCorner() const noexcept { return FYCorner; }

private:
    double FYCorner;
};

// Stepwise regression: factors enter and leave one at a time by F tests against Fa.
class TTigEquation : public TEquation {
public:
    TTigEquation(const TMatrix& r, const TMatrix& rxy, const double* ryy, double fa, std::int32_t n,
                 TRemovalNotifier onRemoval = {}, TStepNotifier onStep = {});

    TMatrix* BuildAugmented(const TMatrix& r, const TMatrix& rxy) override;
    std::int32_t Solve() override;
    void ComputeFitStatistics() override;
    void PrepareSelection() override;
    void StoreCoefficients() override;

    void ComputeContributions();
    std::int32_t TryEnter();
    std::int32_t TryRemove();
    static std::int32_t FindIndex(std::int32_t value, const std::int32_t* array, std::int32_t count) noexcept;

    std::int32_t RemovalMinCount() const noexcept { return FRemovalMinCount; }
    std::int32_t Finished() const noexcept { return FFinished; }
    std::int32_t SelectedCount() const noexcept { return FSelectedCount; }
    double YCorner() const noexcept { return FYCorner; }
    double Contribution(std::int32_t i) const noexcept { return FContributions[i]; }
    bool IsSelected(std::int32_t i) const noexcept { return FindIndex(i, FSelectedIndex.get(), FFactorCount) == i; }

private:
    std::int32_t FRemovalMinCount = 3;
    std::int32_t FFinished = 0;
    std::unique_ptr<double[]> FContributions;
    std::unique_ptr<std::int32_t[]> FSelectedIndex;
    std::int32_t FSelectedCount = 0;
    double FYCorner;
    TRemovalNotifier FOnRemoval;
    TStepNotifier FOnStep;
};

}  // namespace quorlin
