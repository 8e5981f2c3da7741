#pragma once
// A column's stored bytes as a value: numbers as numbers (with Currency and Decimal also as
// exact decimal text), text and memo as UTF-8, binary data as upper-case hex.

#include "values/CellValues.h"
#include "data/format/read/TableDef.h"

namespace quorlin::jet {

class TValueDecoder {
public:
    TValueDecoder(const TPages& pages, unsigned databaseCodePage) noexcept
        : FPages(pages), FCodePage(databaseCodePage)
    {
    }
    // present is the column's null-mask bit (for Yes/No its value); data its bytes.
    void Decode(const TColumnDef& column, bool present, TView data, TCellValue& out) const
    {
        // Tables of measurements are mostly Doubles, millions of them: those take the short way.
        if (column.Type == TColumnType::Double && present && data.size() >= sizeof(double)) {
            out.Kind = TCellKind::Number;
            out.Number = GetAs<double>(data.data());
            out.Text.clear();
            return;
        }
        DecodeAny(column, present, data, out);
    }

private:
    void DecodeAny(const TColumnDef& column, bool present, TView data, TCellValue& out) const;
    void DecodeText(const TColumnDef& column, TView data, TCellValue& out) const;
    const TPages& FPages;
    unsigned FCodePage;
};

// The exact decimal text of a count of units of 10^-scale.
std::string ScaledDecimalText(bool negative, unsigned __int128 units, unsigned scale);

}  // namespace quorlin::jet
