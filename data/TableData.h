#pragma once
// A table's columns and records as read from a database file, held in memory column by column.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorlin {

// Access column types, by the codes the file format uses.
enum class TColumnType : std::uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Binary = 0x09,
    Text = 0x0A,
    Ole = 0x0B,
    Memo = 0x0C,
    ReplicationId = 0x0F,
    Decimal = 0x10,
    Complex = 0x12,
};

struct TColumnInfo {
    std::string Name;
    TColumnType Type = TColumnType::Text;
    std::int32_t Size = 0;       // bytes in the record (characters x 2 for Jet 4 text)
    std::int32_t Precision = 0;  // Decimal only
    std::int32_t Scale = 0;      // Decimal only
    bool AutoNumber = false;
};

// How a column's values are kept: numbers (numeric types, dates, Yes/No as 0/-1) or text
// (text, memo, and a description of binary data).
enum class TCellKind : std::uint8_t { Null = 0, Number = 1, Text = 2 };

// One value as read from a file, before it is stored column by column. A Currency or Decimal
// value carries its exact decimal text beside the number (a float cannot hold every one).
struct TCellValue {
    TCellKind Kind = TCellKind::Null;
    double Number = 0.0;
    std::string Text;
};

// Types whose Number cells keep their exact decimal text in Texts too.
bool HasExactText(TColumnType type) noexcept;

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

// True for the column types whose values read as 64-bit floats.
bool HasNumericReading(TColumnType type) noexcept;
bool IsTextual(TColumnType type) noexcept;
// The name Access gives the type, in English: a value's stand-in text ("(OLE Object)") is data,
// the same under any language.
const char* ColumnTypeName(TColumnType type) noexcept;
// The same name in the language spoken, for messages.
const char* ShownColumnTypeName(TColumnType type) noexcept;

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
