#pragma once
// One change to one record, as the user makes it: what the grid and the batch command ask of
// the commit, and what the editing process is handed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorlin {

// A field's new value as text, parsed by the field's type: "." as the decimal point, dates as
// YYYY-MM-DD[ HH:MM[:SS]], Yes/No as true/false, yes/no, on/off or 1/0/-1; no value is NULL.
struct TFieldText {
    std::int32_t Field = 0;  // column index
    std::optional<std::string> Text;
};

struct TRecordChange {
    enum class TKind : std::uint8_t { Update, Insert, Delete };
    TKind Kind = TKind::Update;
    std::int32_t Record = 0;  // 0-based, in the order the table reads; Update and Delete only
    std::vector<TFieldText> Values;
};

}  // namespace quorlin
