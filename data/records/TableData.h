#pragma once
// A table's columns and records as read from a database file, held in memory column by column.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "values/CellValues.h"

namespace quorlin {

struct TColumnData {
    TColumnInfo Info;
    std::vector<TCellKind> Kinds;
    std::vector<double> Numbers;     // for TCellKind::Number, else 0
    std::vector<std::string> Texts;  // for TCellKind::Text and exact numbers, else empty; unused for other numeric columns
};

struct TTableData {
    std::vector<TColumnData> Columns;
    std::int32_t RecordCount = 0;
    // TableFingerprint (Fingerprint.h) of the bytes and the table these records were read from,
    // given by the reading process only when the file held still while it read; none for views
    // and whenever in doubt. Records changed after the reading no longer match it: whoever
    // changes them drops it.
    std::optional<std::uint64_t> Fingerprint;
    // What the reading found that the user should know of although every record was read: a
    // table whose definition counts other records than it holds. Records changed and read back
    // carry the warnings of that reading.
    std::vector<std::string> Warnings;
};

}  // namespace quorlin

namespace quorlin {

// The text a grid shows for one value: numbers as their shortest exact texts (as the export
// writes them, so that every digit stored is shown and nothing more), dates as
// "yyyy-mm-dd hh:mm:ss" (the time left out at midnight), Yes/No as "True"/"False", empty for
// NULL.
std::string FormatCell(const TColumnData& column, std::size_t row);
// The calendar date and time of a day number (days since 1899-12-30, the time as the fraction
// of the day, on either side of that day).
std::string FormatDayNumber(double dayNumber);

}  // namespace quorlin
