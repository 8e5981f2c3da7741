#include "numeric/Equation01.h"

#include <algorithm>

#include "numeric/FloatError.h"

namespace quorlin {

namespace {

// r(i, 0) of a column the caller passed; callers pass matching dimensions, and anything
// outside reads as 0.0 rather than through a null address.
double ColumnValue(const TMatrix& column, std::int32_t i) noexcept
{
    const double* e = column.Element(i, 0);
    return e ? *e : 0.0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TEquation

TEquation::TEquation(const TMatrix& r, const TMatrix& rxy, double fa, std::int32_t n)
    : FStdCoefficients(nullptr),
      FCorrelation(std::make_unique<TMatrix>(r)),
      FCorrelationXY(std::make_unique<TMatrix>(rxy)),
      FFactorCount(r.Rows()),
      FFactorColumns(r.Cols()),
      FSampleSize(n),
      FFa(fa)
{
    FStdCoefficients = std::make_unique<TMatrix>(FFactorColumns, 1);
}

TMatrix* TEquation::BuildAugmented(const TMatrix&, const TMatrix&) { return nullptr; }

std::int32_t TEquation::Solve()
{
    ComputeFitStatistics();
    return 0;
}

void TEquation::ComputeFitStatistics() {}
void TEquation::PrepareSelection() {}
void TEquation::StoreCoefficients() {}

double TEquation::Beta(std::int32_t i) const noexcept
{
    const double* e = FStdCoefficients->Element(i, FStdCoefficients->Cols() - 1);
    return e ? *e : 0.0;
}

TMatrix* TEquation::MakeAugmented(const TMatrix& r, const TMatrix& rxy, double corner)
{
    const std::int32_t m = FFactorCount;
    FAugmented = std::make_unique<TMatrix>(FFactorCount + 1, FFactorColumns + 1);
    FAugmented->CopyFrom(r);
    for (std::int32_t i = 0; i < FFactorColumns; ++i) FAugmented->SetElement(ColumnValue(rxy, i), m, i);
    for (std::int32_t i = 0; i < FFactorCount; ++i) FAugmented->SetElement(ColumnValue(rxy, i), i, FFactorColumns);
    FAugmented->SetElement(corner, m, FFactorColumns);
    return FAugmented.get();
}

void TEquation::FitFromAugmented(double& yCorner)
{
    FResidualShare = 0.0;
    FRegressionShare = 0.0;
    FMultipleR = 0.0;
    yCorner = A(FFactorCount, FFactorColumns);
    FResidualShare = yCorner;
    const std::int32_t last = FStdCoefficients->Cols() - 1;
    for (std::int32_t i = 0; i < FFactorCount; ++i) {
        const Extended term = static_cast<Extended>(*FStdCoefficients->Element(i, last)) *
                              ColumnValue(*FCorrelationXY, i);
        FRegressionShare = checked::Store(FRegressionShare + term);
    }
    FMultipleR = checked::Store(checked::Sqrt(1.0L - yCorner));
}

// ---------------------------------------------------------------------------------------------
// TAugEquation

TAugEquation::TAugEquation(const TMatrix& r, const TMatrix& rxy, const double* ryy, double fa, std::int32_t n)
    : TEquation(r, rxy, fa, n), FYCorner(*ryy)
{
    BuildAugmented(r, rxy);
}

TMatrix* TAugEquation::BuildAugmented(const TMatrix& r, const TMatrix& rxy)
{
    return MakeAugmented(r, rxy, FYCorner);
}

std::int32_t TAugEquation::Solve()
{
    for (std::int32_t k = 0; k < FFactorColumns; ++k) FAugmented->Sweep(k);
    StoreCoefficients();
    ComputeFitStatistics();
    return 0;
}

void TAugEquation::ComputeFitStatistics() { FitFromAugmented(FYCorner); }

void TAugEquation::StoreCoefficients()
{
    const std::int32_t last = FAugmented->Cols() - 1;
    for (std::int32_t i = 0; i < FFactorCount; ++i)
        FStdCoefficients->SetElement(A(i, last), i, FStdCoefficients->Cols() - 1);
}

// ---------------------------------------------------------------------------------------------
// TTigEquation

TTigEquation::TTigEquation(const TMatrix& r, const TMatrix& rxy, const double* ryy, double fa, std::int32_t n,
                           TRemovalNotifier onRemoval, TStepNotifier onStep)
    : TEquation(r, rxy, fa, n), FYCorner(*ryy), FOnRemoval(std::move(onRemoval)), FOnStep(std::move(onStep))
{
    const std::int32_t m = std::min({r.Rows(), r.Cols(), rxy.Rows()});
    FFactorCount = m;
    FFactorColumns = m;
    PrepareSelection();
    BuildAugmented(r, rxy);
}

TMatrix* TTigEquation::BuildAugmented(const TMatrix& r, const TMatrix& rxy)
{
    return MakeAugmented(r, rxy, FYCorner);
}

void TTigEquation::PrepareSelection()
{
    const auto m = static_cast<std::size_t>(FFactorCount);
    FContributions = std::make_unique<double[]>(m);
    FSelectedIndex = std::make_unique<std::int32_t[]>(m);
    for (std::size_t i = 0; i < m; ++i) FSelectedIndex[i] = -1;
    FFinished = 0;
    FSelectedCount = 0;
    FRemovalMinCount = 3;
}

std::int32_t TTigEquation::FindIndex(std::int32_t value, const std::int32_t* array, std::int32_t count) noexcept
{
    for (std::int32_t j = 0; j < count; ++j)
        if (array[j] == value) return j;
    return -1;
}

void TTigEquation::ComputeContributions()
{
    const std::int32_t m = FFactorCount;
    for (std::int32_t i = 0; i < m; ++i) {
        const double aii = A(i, i);
        if (aii == 0.0) {
            FContributions[i] = 0.0;
        } else {
            const Extended aim = A(i, m);
            FContributions[i] = checked::Store(checked::Divide(aim * aim, aii));
        }
    }
}

std::int32_t TTigEquation::TryEnter()
{
    ComputeContributions();
    const std::int32_t m = FFactorCount;
    std::int32_t k = -1;
    for (std::int32_t i = 0; i < m; ++i)
        if (!IsSelected(i) && (k < 0 || FContributions[i] > FContributions[k])) k = i;
    if (k < 0) return -1;

    const double vk = FContributions[k];
    const double q = A(m, m);
    const std::int32_t dof = FSampleSize - FSelectedCount - 2;
    const double f = checked::Store(checked::Divide(static_cast<Extended>(dof) * vk,
                                                    static_cast<Extended>(q) - vk));
    if (!(f >= FFa)) return -1;

    FSelectedIndex[k] = k;
    FAugmented->Sweep(k);
    FSelectedCount += 1;
    StoreCoefficients();
    if (FOnStep) FOnStep({TStep::TAction::Enter, k, vk, f, A(m, m)});
    return k;
}

std::int32_t TTigEquation::TryRemove()
{
    ComputeContributions();
    const std::int32_t m = FFactorCount;
    std::int32_t k = -1;
    for (std::int32_t i = 0; i < m; ++i)
        if (IsSelected(i) && (k < 0 || FContributions[i] < FContributions[k])) k = i;
    if (k < 0) return -1;

    const double vk = FContributions[k];
    const double q = A(m, m);
    const std::int32_t dof = FSampleSize - FSelectedCount - 1;
    const double f = checked::Store(checked::Divide(static_cast<Extended>(dof) * vk, q));
    if (f >= FFa) return -1;

    FSelectedIndex[k] = -1;
    FAugmented->Sweep(k);
    FSelectedCount -= 1;
    StoreCoefficients();
    if (FOnStep) FOnStep({TStep::TAction::Remove, k, vk, f, A(m, m)});
    if (FOnRemoval) FOnRemoval(k, vk, f);
    return k;
}

std::int32_t TTigEquation::Solve()
{
    for (;;) {
        // After a removal, removals are tried again before any entry.
        if (FSelectedCount >= FRemovalMinCount && TryRemove() >= 0) continue;
        if (TryEnter() < 0) {
            FFinished = 1;
            break;
        }
    }
    ComputeFitStatistics();
    return 0;
}

void TTigEquation::ComputeFitStatistics() { FitFromAugmented(FYCorner); }

void TTigEquation::StoreCoefficients()
{
    const std::int32_t m = FFactorCount;
    const std::int32_t last = FStdCoefficients->Cols() - 1;
    for (std::int32_t i = 0; i < m; ++i) FStdCoefficients->SetElement(IsSelected(i) ? A(i, m) : 0.0, i, last);
}

}  // namespace quorlin
