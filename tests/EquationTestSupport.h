#pragma once
// Building correlation inputs for the equation tests.

#include <initializer_list>

#include "numeric/Matrix01.h"

namespace quorlin::testing {

inline TMatrix MatrixOf(std::initializer_list<std::initializer_list<double>> rows)
{
    TMatrix m(static_cast<std::int32_t>(rows.size()), static_cast<std::int32_t>(rows.begin()->size()));
    std::int32_t i = 0;
    for (const auto& row : rows) {
        std::int32_t j = 0;
        for (double v : row) m.SetElement(v, i, j++);
        ++i;
    }
    return m;
}

inline TMatrix ColumnOf(std::initializer_list<double> values)
{
    TMatrix m(static_cast<std::int32_t>(values.size()), 1);
    std::int32_t i = 0;
    for (double v : values) m.SetElement(v, i++, 0);
    return m;
}

}  // namespace quorlin::testing
