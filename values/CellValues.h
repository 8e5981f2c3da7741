#pragma once
// What one value of a table is: its column's type, by the codes Access gives the types, and how
// it is held (a number, a text, or none). The file format's reader and writer, the reading
// process's stream, the views and the grid all speak of values so.

#include <cstdint>
#include <string>

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

// True for the column types whose values read as 64-bit floats.
bool HasNumericReading(TColumnType type) noexcept;
bool IsTextual(TColumnType type) noexcept;
// The name Access gives the type, in English: a value's stand-in text ("(OLE Object)") is data,
// the same under any language.
const char* ColumnTypeName(TColumnType type) noexcept;
// The same name in the language spoken, for messages.
const char* ShownColumnTypeName(TColumnType type) noexcept;

}  // namespace quorlin
