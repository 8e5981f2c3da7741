#include "batch/CsvExport.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "support/Calendar.h"
#include "support/NumberText.h"

namespace quorlin {

namespace {

// Access's first and last dates, 100-01-01 and 9999-12-31; a day number outside them is
// written as the number it is.
constexpr double FirstAccessDay = -657434;
constexpr double LastAccessDay = 2958465;

std::string WholeNumberText(double value)
{
    if (value != std::trunc(value) || std::fabs(value) > 9e15) return ShortestText(value);
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value));
    return std::string(buffer, end);
}

std::string DateTimeText(double dayNumber)
{
    if (!(dayNumber > FirstAccessDay - 1 && dayNumber < LastAccessDay + 1)) return ShortestText(dayNumber);
    const TCivilDateTime t = DateTimeFromDayNumber(dayNumber);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02d:%02d:%02d", t.Date.Year, t.Date.Month, t.Date.Day,
                  t.Second / 3600, t.Second / 60 % 60, t.Second % 60);
    return buffer;
}

// The reader keeps a column's texts only once the column has one.
const std::string& StoredText(const TColumnData& column, std::size_t row)
{
    static const std::string none;
    return row < column.Texts.size() ? column.Texts[row] : none;
}

std::string FromNumber(const TColumnData& column, std::size_t row)
{
    const double value = column.Numbers[row];
    switch (column.Info.Type) {
    case TColumnType::Byte:
    case TColumnType::Integer:
    case TColumnType::Long: return WholeNumberText(value);
    case TColumnType::Single: return ShortestText(static_cast<float>(value));
    case TColumnType::Currency:
    case TColumnType::Decimal: return StoredText(column, row);  // the double may have lost digits
    case TColumnType::DateTime: return DateTimeText(value);
    case TColumnType::Boolean: return value != 0.0 ? "true" : "false";
    default: return ShortestText(value);
    }
}

std::string FromText(const TColumnData& column, std::size_t row)
{
    const std::string& text = StoredText(column, row);
    const TColumnType type = column.Info.Type;
    return type == TColumnType::Binary || type == TColumnType::Ole ? "0x" + text : text;
}

void WriteCell(const std::optional<std::string>& text, bool first, std::ostream& out)
{
    if (!first) out << ',';
    if (text) out << CsvField(*text);
}

// Floats are the bulk of a forecaster's table: written straight into the line, since a number
// never needs quoting.
bool AppendFloat(std::string& line, const TColumnData& column, std::size_t row)
{
    if (column.Kinds[row] != TCellKind::Number) return false;
    char buffer[ShortestTextRoom];
    if (column.Info.Type == TColumnType::Double)
        line += ShortestTextIn(buffer, column.Numbers[row]);
    else if (column.Info.Type == TColumnType::Single)
        line += ShortestTextIn(buffer, static_cast<float>(column.Numbers[row]));
    else
        return false;
    return true;
}

void AppendCell(std::string& line, const TColumnData& column, std::size_t row)
{
    if (AppendFloat(line, column, row)) return;
    if (const auto text = ExportText(column, row)) line += CsvField(*text);
}

// Output goes out in large pieces rather than a stream call per value.
constexpr std::size_t FlushAt = std::size_t{1} << 20;

}  // namespace

std::string CsvField(std::string_view text)
{
    const bool quoted = text.empty() || text.find_first_of(",\"\r\n") != std::string_view::npos ||
                        text.front() == ' ' || text.back() == ' ';
    if (!quoted) return std::string(text);
    std::string field = "\"";
    for (char c : text) {
        if (c == '"') field.push_back('"');
        field.push_back(c);
    }
    return field + '"';
}


std::optional<std::string> ExportText(const TColumnData& column, std::size_t row)
{
    switch (column.Kinds[row]) {
    case TCellKind::Null: return std::nullopt;
    case TCellKind::Number: return FromNumber(column, row);
    case TCellKind::Text: return FromText(column, row);
    }
    return std::nullopt;
}

void WriteCsv(const TTableData& table, std::ostream& out)
{
    for (std::size_t c = 0; c < table.Columns.size(); ++c) WriteCell(table.Columns[c].Info.Name, c == 0, out);
    out << '\n';
    std::string text;
    text.reserve(FlushAt + FlushAt / 4);
    for (std::size_t row = 0; row < static_cast<std::size_t>(table.RecordCount); ++row) {
        for (std::size_t c = 0; c < table.Columns.size(); ++c) {
            if (c > 0) text += ',';
            AppendCell(text, table.Columns[c], row);
        }
        text += '\n';
        if (text.size() >= FlushAt) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            text.clear();
        }
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void WriteCsv(const TMemoryDataSet& table, std::ostream& out)
{
    const std::int32_t fields = table.FieldCount();
    for (std::int32_t f = 0; f < fields; ++f) WriteCell(table.FieldName(f), f == 0, out);
    out << '\n';
    for (std::int32_t row = 0; row < table.RecordCount(); ++row) {
        for (std::int32_t f = 0; f < fields; ++f) {
            const TCell cell = table.Cell(row, f);
            std::optional<std::string> text;
            if (const auto* s = std::get_if<std::string>(&cell)) text = *s;
            if (const auto* number = std::get_if<double>(&cell)) text = ShortestText(*number);
            WriteCell(text, f == 0, out);
        }
        out << '\n';
    }
}

}  // namespace quorlin
