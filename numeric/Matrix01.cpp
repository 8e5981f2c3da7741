#include "numeric/Matrix01.h"

#include <algorithm>
#include <vector>

#include "numeric/FloatError.h"

namespace quorlin {

namespace {

std::unique_ptr<MatrixStorage> MakeStorage(std::int32_t rows, std::int32_t cols)
{
    auto storage = std::make_unique<MatrixStorage>();
    storage->RowCount = rows;
    storage->ColCount = cols;
    storage->Rows = std::make_unique<MatrixRow[]>(static_cast<std::size_t>(rows));
    for (std::int32_t i = 0; i < rows; ++i) {
        storage->Rows[i].Length = cols;
        // Value-initialised: every element starts as 0.0.
        storage->Rows[i].Elements = std::make_unique<double[]>(static_cast<std::size_t>(cols));
    }
    return storage;
}

}  // namespace

TMatrix::TMatrix(std::int32_t rows, std::int32_t cols)
    : FStorage(MakeStorage(rows, cols)), FRows(rows), FCols(cols)
{
}

TMatrix::TMatrix(const TMatrix& source)
    : FStorage(MakeStorage(source.FRows, source.FCols)), FRows(source.FRows), FCols(source.FCols)
{
    for (std::int32_t i = 0; i < FRows; ++i)
        std::copy_n(source.FStorage->Rows[i].Elements.get(), FCols, FStorage->Rows[i].Elements.get());
}

double* TMatrix::Element(std::int32_t row, std::int32_t col) noexcept
{
    if (row < 0 || col < 0 || row >= FStorage->RowCount || col >= FStorage->ColCount) return nullptr;
    return &FStorage->Rows[row].Elements[col];
}

const double* TMatrix::Element(std::int32_t row, std::int32_t col) const noexcept
{
    return const_cast<TMatrix*>(this)->Element(row, col);
}

std::int32_t TMatrix::SetElement(double value, std::int32_t row, std::int32_t col) noexcept
{
    double* e = Element(row, col);
    if (!e) return -1;
    *e = value;
    return 0;
}

std::int32_t TMatrix::CopyFrom(const TMatrix& source) noexcept
{
    const std::int32_t rows = std::min(FStorage->RowCount, source.FStorage->RowCount);
    const std::int32_t cols = std::min(FStorage->ColCount, source.FStorage->ColCount);
    for (std::int32_t i = 0; i < rows; ++i)
        std::copy_n(source.FStorage->Rows[i].Elements.get(), cols, FStorage->Rows[i].Elements.get());
    return 0;
}

void TMatrix::Sweep(std::int32_t k)
{
    const std::int32_t rows = FStorage->RowCount;
    const std::int32_t cols = FStorage->ColCount;
    // Only row k and column k of the old values are read by other elements; each element's own
    // old value is read just before it is overwritten. Keeping those two lines is therefore the
    // same working copy as a copy of the whole matrix.
    std::vector<double> pivotRow(FStorage->Rows[k].Elements.get(), FStorage->Rows[k].Elements.get() + cols);
    std::vector<double> pivotCol(static_cast<std::size_t>(rows));
    for (std::int32_t i = 0; i < rows; ++i) pivotCol[i] = FStorage->Rows[i].Elements[k];
    const Extended pivot = pivotRow[k];

    for (std::int32_t i = 0; i < rows; ++i) {
        double* row = FStorage->Rows[i].Elements.get();
        const Extended wik = pivotCol[i];
        for (std::int32_t j = 0; j < cols; ++j) {
            Extended v;
            if (i == k && j == k)
                v = checked::Divide(1.0L, pivot);
            else if (i == k)
                v = checked::Divide(pivotRow[j], pivot);
            else if (j == k)
                v = checked::Divide(-1.0L * wik, pivot);
            else
                v = static_cast<Extended>(row[j]) - checked::Divide(wik * pivotRow[j], pivot);
            row[j] = checked::Store(v);
        }
    }
}

}  // namespace quorlin
