#pragma once
// The one matrix type of the system: dense, rectangular, 64-bit floats, rows and columns
// numbered from 0, dimensions fixed at construction. Its only numerical operation is Sweep,
// the Gauss-Jordan elimination step both regression methods are built from.

#include <cstdint>
#include <memory>

namespace quorlin {

// One row: a block of its own, so that rows are independent allocations.
struct MatrixRow {
    std::int32_t Length = 0;
    std::unique_ptr<double[]> Elements;
};

struct MatrixStorage {
    std::int32_t RowCount = 0;
    std::int32_t ColCount = 0;
    std::unique_ptr<MatrixRow[]> Rows;
};

class TMatrix {
public:
    // rows and cols are at least 1; every element starts as 0.0.
    TMatrix(std::int32_t rows, std::int32_t cols);
    TMatrix(const TMatrix& source);
    // Dimensions never change after construction, so a matrix cannot be assigned over.
    TMatrix& operator=(const TMatrix&) = delete;
    ~TMatrix() = default;

    std::int32_t Rows() const noexcept { return FRows; }
    std::int32_t Cols() const noexcept { return FCols; }

    // Address of element (row, col), or nullptr when it lies outside the matrix.
    double* Element(std::int32_t row, std::int32_t col) noexcept;
    const double* Element(std::int32_t row, std::int32_t col) const noexcept;

    // Stores value at (row, col) and returns 0; returns -1 and changes nothing outside.
    std::int32_t SetElement(double value, std::int32_t row, std::int32_t col) noexcept;

    // Copies the block both matrices have in common; the rest of this matrix keeps its values.
    std::int32_t CopyFrom(const TMatrix& source) noexcept;

    // One elimination step on pivot (k, k), every element computed from the values before the
    // step. No pivoting and no tolerance: a zero pivot raises the division fault (EMathError).
    void Sweep(std::int32_t k);

private:
    std::unique_ptr<MatrixStorage> FStorage;
    std::int32_t FRows;
    std::int32_t FCols;
};

}  // namespace quorlin
