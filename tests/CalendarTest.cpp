#include <gtest/gtest.h>

#include <ostream>

#include "support/Calendar.h"

using namespace quorlin;

namespace quorlin {

void PrintTo(const TCivilDate& date, std::ostream* os) { *os << date.Year << '-' << date.Month << '-' << date.Day; }

void PrintTo(const TCivilDateTime& t, std::ostream* os)
{
    PrintTo(t.Date, os);
    *os << " at second " << t.Second;
}

}  // namespace quorlin

namespace {

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(int year, unsigned month)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

// The next calendar day, counted the way a wall calendar is turned.
TCivilDate NextDay(TCivilDate date)
{
    if (++date.Day > DaysInMonth(date.Year, date.Month)) {
        date.Day = 1;
        if (++date.Month > 12) {
            date.Month = 1;
            ++date.Year;
        }
    }
    return date;
}

}  // namespace

TEST(Calendar, DaysAccessCountsFrom)
{
    // Dates whose day numbers Access documents: its first and last date, and the test tables'.
    EXPECT_EQ(DayNumberFromCivil(1899, 12, 30), 0);
    EXPECT_EQ(DayNumberFromCivil(1899, 12, 29), -1);
    EXPECT_EQ(DayNumberFromCivil(1900, 1, 1), 2);
    EXPECT_EQ(DayNumberFromCivil(1970, 1, 1), 25569);
    EXPECT_EQ(DayNumberFromCivil(2000, 2, 29), 36585);
    EXPECT_EQ(DayNumberFromCivil(100, 1, 1), -657434);
    EXPECT_EQ(DayNumberFromCivil(9999, 12, 31), 2958465);
    EXPECT_EQ(CivilFromDayNumber(-657434), (TCivilDate{100, 1, 1}));
    EXPECT_EQ(CivilFromDayNumber(36585), (TCivilDate{2000, 2, 29}));
}

TEST(Calendar, EveryDayFromYearOneToTenThousandFollowsTheOneBefore)
{
    // Anchored at day 0, each day number must be the next calendar day in both directions,
    // which checks the leap years of four centuries many times over, before and after day 0.
    const std::int64_t first = DayNumberFromCivil(1, 1, 1);
    TCivilDate expected{1, 1, 1};
    for (std::int64_t day = first; day <= DayNumberFromCivil(10000, 12, 31); ++day) {
        const TCivilDate date = CivilFromDayNumber(day);
        ASSERT_EQ(date, expected) << "day " << day;
        ASSERT_EQ(DayNumberFromCivil(date.Year, date.Month, date.Day), day);
        expected = NextDay(expected);
    }
    EXPECT_EQ(CivilFromDayNumber(0), (TCivilDate{1899, 12, 30}));
}

TEST(Calendar, YearsBeforeTheCommonEraRoundTrip)
{
    for (std::int64_t day = DayNumberFromCivil(-4000, 1, 1); day < DayNumberFromCivil(1, 1, 1); day += 97) {
        const TCivilDate date = CivilFromDayNumber(day);
        EXPECT_EQ(DayNumberFromCivil(date.Year, date.Month, date.Day), day);
    }
    EXPECT_EQ(CivilFromDayNumber(DayNumberFromCivil(0, 2, 29)), (TCivilDate{0, 2, 29}));  // year 0 is a leap year
}

TEST(Calendar, DaysPastTheEndOfTheMonthRunIntoTheNext)
{
    EXPECT_EQ(DayNumberFromCivil(2001, 2, 30), DayNumberFromCivil(2001, 3, 2));
    EXPECT_EQ(DayNumberFromCivil(2000, 2, 30), DayNumberFromCivil(2000, 3, 1));
    EXPECT_EQ(DayNumberFromCivil(1999, 4, 31), DayNumberFromCivil(1999, 5, 1));
}

TEST(CalendarTime, TheTimeCountsForwardOnBothSidesOfDayZero)
{
    EXPECT_EQ(DateTimeFromDayNumber(0.25), (TCivilDateTime{{1899, 12, 30}, 6 * 3600}));
    EXPECT_EQ(DateTimeFromDayNumber(-0.25), (TCivilDateTime{{1899, 12, 30}, 6 * 3600}));
    EXPECT_EQ(DateTimeFromDayNumber(-1.25), (TCivilDateTime{{1899, 12, 29}, 6 * 3600}));
    EXPECT_EQ(DateTimeFromDayNumber(-2.75), (TCivilDateTime{{1899, 12, 28}, 18 * 3600}));
    EXPECT_EQ(DateTimeFromDayNumber(36585.5), (TCivilDateTime{{2000, 2, 29}, 12 * 3600}));
    EXPECT_EQ(DayNumberFromDateTime({1899, 12, 29}, 6 * 3600), -1.25);
    EXPECT_EQ(DayNumberFromDateTime({1899, 12, 28}, 18 * 3600), -2.75);
    EXPECT_EQ(DayNumberFromDateTime({2000, 2, 29}, 12 * 3600), 36585.5);
}

TEST(CalendarTime, RoundsToTheNearestSecondIntoTheNextDay)
{
    const double second = 1.0 / 86400;
    EXPECT_EQ(DateTimeFromDayNumber(2 + 59.4 * second).Second, 59);
    EXPECT_EQ(DateTimeFromDayNumber(2 + 59.6 * second).Second, 60);
    EXPECT_EQ(DateTimeFromDayNumber(3 - 0.4 * second), (TCivilDateTime{{1900, 1, 2}, 0}));
    EXPECT_EQ(DateTimeFromDayNumber(-2 - 86399.6 * second), (TCivilDateTime{{1899, 12, 27}, 0}));
    EXPECT_EQ(DateTimeFromDayNumber(-2 - 86399.4 * second), (TCivilDateTime{{1899, 12, 28}, 86399}));
}

TEST(CalendarTime, EverySecondOfADayOnEachSideRoundTrips)
{
    for (const TCivilDate date : {TCivilDate{1899, 12, 27}, TCivilDate{1899, 12, 30}, TCivilDate{2024, 2, 29}}) {
        for (std::int32_t s = 0; s < 86400; s += 7) {
            const TCivilDateTime back = DateTimeFromDayNumber(DayNumberFromDateTime(date, s));
            ASSERT_EQ(back, (TCivilDateTime{date, s})) << ::testing::PrintToString(date) << ", second " << s;
        }
    }
}
