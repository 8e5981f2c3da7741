#pragma once
// A field's new value from text, by the field's type: "." as the decimal point, dates as
// YYYY-MM-DD[ HH:MM[:SS]], Yes/No as true/false, yes/no, on/off or 1/0/-1; no text is NULL.

#include <optional>
#include <string>

#include "values/CellValues.h"
#include "data/format/read/TableDef.h"

namespace quorlin::jet {

// What to store, and what reading it back must give.
struct TParsedValue {
    bool Present = false;  // not NULL (for Yes/No: the value)
    TBytes Data;           // the bytes the row keeps (Jet 4); for a memo the value, which the row refers to
    TCellKind Kind = TCellKind::Null;
    double Number = 0.0;
    std::string Text;
};

class TValueParser {
public:
    explicit TValueParser(const TColumnDef& column) noexcept : FColumn(column) {}
    // Raises ERefused, naming the field, for text that is no value of its type or does not fit
    // it, and for fields of types this program does not change.
    TParsedValue Parse(const std::optional<std::string>& text) const;

private:
    const TColumnDef& FColumn;
};

}  // namespace quorlin::jet
