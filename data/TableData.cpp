#include "TableData.h"

#include "../support/Messages.h"

namespace quorlin {

bool HasNumericReading(TColumnType type) noexcept
{
    switch (type) {
    case TColumnType::Byte:
    case TColumnType::Integer:
    case TColumnType::Long:
    case TColumnType::Currency:
    case TColumnType::Single:
    case TColumnType::Double:
    case TColumnType::DateTime:
    case TColumnType::Decimal:
    case TColumnType::Text:
        return true;
    default:
        return false;
    }
}

bool HasExactText(TColumnType type) noexcept { return type == TColumnType::Currency || type == TColumnType::Decimal; }

bool IsTextual(TColumnType type) noexcept { return type == TColumnType::Text || type == TColumnType::Memo; }

const char* ColumnTypeName(TColumnType type) noexcept
{
    switch (type) {
    case TColumnType::Boolean: return TrNoop("Yes/No");
    case TColumnType::Byte: return TrNoop("Byte");
    case TColumnType::Integer: return TrNoop("Integer");
    case TColumnType::Long: return TrNoop("Long Integer");
    case TColumnType::Currency: return TrNoop("Currency");
    case TColumnType::Single: return TrNoop("Single");
    case TColumnType::Double: return TrNoop("Double");
    case TColumnType::DateTime: return TrNoop("Date/Time");
    case TColumnType::Binary: return TrNoop("Binary");
    case TColumnType::Text: return TrNoop("Text");
    case TColumnType::Ole: return TrNoop("OLE Object");
    case TColumnType::Memo: return TrNoop("Memo");
    case TColumnType::ReplicationId: return TrNoop("Replication ID");
    case TColumnType::Decimal: return TrNoop("Decimal");
    case TColumnType::Complex: return TrNoop("Attachment");
    }
    return TrNoop("Unknown");
}

const char* ShownColumnTypeName(TColumnType type) noexcept { return Tr(ColumnTypeName(type)); }

}  // namespace quorlin

#include <cmath>
#include <cstdio>

#include "../statistics/Statistics01.h"
#include "../support/Calendar.h"
#include "../support/NumberText.h"

namespace quorlin {

std::string FormatDayNumber(double dayNumber)
{
    if (!std::isfinite(dayNumber) || std::fabs(dayNumber) > 3e6) return FormatGeneral(dayNumber);
    const TCivilDateTime t = DateTimeFromDayNumber(dayNumber);
    const auto [y, m, d] = t.Date;
    const std::int32_t seconds = t.Second;
    char buffer[64];
    if (seconds == 0)
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u", y, m, d);
    else
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02d:%02d:%02d", y, m, d, seconds / 3600,
                      seconds / 60 % 60, seconds % 60);
    return buffer;
}

std::string FormatCell(const TColumnData& column, std::size_t row)
{
    const TCellKind kind = column.Kinds.at(row);
    if (kind == TCellKind::Null) return {};
    if (kind == TCellKind::Text) return column.Texts.at(row);
    const double v = column.Numbers.at(row);
    switch (column.Info.Type) {
    case TColumnType::Boolean: return v != 0.0 ? "True" : "False";
    case TColumnType::DateTime: return FormatDayNumber(v);
    case TColumnType::Single: return ShortestText(static_cast<float>(v));
    default: return ShortestText(v);
    }
}

}  // namespace quorlin
