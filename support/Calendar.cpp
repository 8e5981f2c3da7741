#include "support/Calendar.h"

#include <chrono>
#include <cmath>

namespace quorlin {

namespace {

using namespace std::chrono;

constexpr sys_days DayZero = sys_days{year{1899} / December / 30};
constexpr std::int32_t SecondsPerDay = 86400;

}  // namespace

std::int64_t DayNumberFromCivil(int y, unsigned m, unsigned d) noexcept
{
    return (sys_days{year{y} / month{m} / day{d}} - DayZero).count();
}

TCivilDate CivilFromDayNumber(std::int64_t dayNumber) noexcept
{
    const year_month_day date{DayZero + days{dayNumber}};
    return {static_cast<int>(date.year()), static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day())};
}

TCivilDateTime DateTimeFromDayNumber(double dayNumber) noexcept
{
    const double whole = std::trunc(dayNumber);
    auto dayPart = static_cast<std::int64_t>(whole);
    auto second = static_cast<std::int32_t>(std::llround(std::fabs(dayNumber - whole) * SecondsPerDay));
    if (second == SecondsPerDay) {
        // Rounded up into the next day, which lies further from day 0 on either side of it.
        second = 0;
        dayPart += dayNumber < 0 ? -1 : 1;
    }
    return {CivilFromDayNumber(dayPart), second};
}

double DayNumberFromDateTime(const TCivilDate& date, double secondOfDay) noexcept
{
    const auto dayPart = static_cast<double>(DayNumberFromCivil(date.Year, date.Month, date.Day));
    const double fraction = secondOfDay / SecondsPerDay;
    return dayPart < 0 ? dayPart - fraction : dayPart + fraction;
}

}  // namespace quorlin
