#include "TableData.h"

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
    case TColumnType::Boolean: return "Yes/No";
    case TColumnType::Byte: return "Byte";
    case TColumnType::Integer: return "Integer";
    case TColumnType::Long: return "Long Integer";
    case TColumnType::Currency: return "Currency";
    case TColumnType::Single: return "Single";
    case TColumnType::Double: return "Double";
    case TColumnType::DateTime: return "Date/Time";
    case TColumnType::Binary: return "Binary";
    case TColumnType::Text: return "Text";
    case TColumnType::Ole: return "OLE Object";
    case TColumnType::Memo: return "Memo";
    case TColumnType::ReplicationId: return "Replication ID";
    case TColumnType::Decimal: return "Decimal";
    case TColumnType::Complex: return "Attachment";
    }
    return "Unknown";
}

}  // namespace quorlin

#include <cmath>
#include <cstdio>

#include "../statistics/Statistics01.h"

namespace quorlin {

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

}  // namespace

void CivilDate(double dayNumber, long long& year, unsigned& month, unsigned& day)
{
    CivilFromDays(static_cast<long long>(std::trunc(dayNumber)) - 25569, year, month, day);
}

std::string FormatDayNumber(double dayNumber)
{
    if (!std::isfinite(dayNumber) || std::fabs(dayNumber) > 3e6) return FormatGeneral(dayNumber);
    // The whole part counts days from 1899-12-30; the fraction is the time, whatever the sign.
    const double whole = std::trunc(dayNumber);
    long long seconds = std::llround(std::fabs(dayNumber - whole) * 86400.0);
    long long days = static_cast<long long>(whole);
    if (seconds >= 86400) {
        seconds -= 86400;
        days += dayNumber < 0 ? -1 : 1;
    }
    long long y;
    unsigned m, d;
    CivilFromDays(days - 25569, y, m, d);  // 1899-12-30 is 25569 days before 1970-01-01
    char buffer[64];
    if (seconds == 0)
        std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u", y, m, d);
    else
        std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, seconds / 3600,
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
    case TColumnType::Single: return FormatFloat("%.7g", v);
    default: return FormatGeneral(v);
    }
}

}  // namespace quorlin
