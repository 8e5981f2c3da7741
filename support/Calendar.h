#pragma once
// Day numbers as Access keeps dates: days counted from 1899-12-30 (negative before it) in the
// proleptic Gregorian calendar, the time of day as the fraction.

#include <cstdint>

namespace quorlin {

// The years the conversions take.
constexpr int FirstYear = -32767;
constexpr int LastYear = 32767;

struct TCivilDate {
    int Year = 1899;
    unsigned Month = 12;
    unsigned Day = 30;

    bool operator==(const TCivilDate&) const = default;
};

// Months 1 to 12, days 1 to 31: a day past the end of its month counts on into the next one
// (February 30 is March 1 or 2), as date literals are read.
std::int64_t DayNumberFromCivil(int year, unsigned month, unsigned day) noexcept;
TCivilDate CivilFromDayNumber(std::int64_t dayNumber) noexcept;

// A date with its time of day to the second.
struct TCivilDateTime {
    TCivilDate Date;
    std::int32_t Second = 0;  // of the day, 0 to 86399

    bool operator==(const TCivilDateTime&) const = default;
};

// The time counts forward from the start of the day on either side of day 0: before
// 1899-12-30 the whole part is negative and the fraction moves away from zero, so -1.25 is
// 1899-12-29 06:00. Rounded to the nearest second; dayNumber must be finite and within the
// years above.
TCivilDateTime DateTimeFromDayNumber(double dayNumber) noexcept;
double DayNumberFromDateTime(const TCivilDate& date, double secondOfDay) noexcept;

}  // namespace quorlin
