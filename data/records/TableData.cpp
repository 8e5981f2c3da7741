#include "data/records/TableData.h"

#include <cmath>
#include <cstdio>

#include "support/Calendar.h"
#include "support/NumberText.h"

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
