// Calendar arithmetic and date-time texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "script/ScriptValue.h"
#include "scriptlib/std/StdDates.h"

using namespace nb;
using namespace nb::scriptstd;

namespace {

// Days since 30 December 1899 by the standard library's civil calendar.
double civilDays(int y, unsigned m, unsigned d) {
    using namespace std::chrono;
    const sys_days origin = year{1899} / December / day{30};
    const sys_days when = year{y} / month{m} / day{d};
    return static_cast<double>((when - origin).count());
}

std::string errorOf(auto&& fn) {
    try {
        fn();
    } catch (const ScriptError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(StdDates, EncodeAndDecodeAgreeWithTheCivilCalendar) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
    // Every 97th day over the whole range of years, covering leap rules of
    // every kind (1900 and 2100 are common years, 2000 is a leap year).
    using namespace std::chrono;
    for (double days = EncodeDate(1, 1, 1); days <= EncodeDate(9999, 12, 31); days += 97) {
        const sys_days when = sys_days{year{1899} / December / day{30}} + std::chrono::days{static_cast<int>(days)};
        const year_month_day ymd{when};
        const TDateParts p = DecodeDate(days);
        ASSERT_EQ(p.year, static_cast<int>(ymd.year())) << days;
        ASSERT_EQ(p.month, static_cast<int>(static_cast<unsigned>(ymd.month()))) << days;
        ASSERT_EQ(p.day, static_cast<int>(static_cast<unsigned>(ymd.day()))) << days;
        ASSERT_EQ(EncodeDate(p.year, p.month, p.day), days);
    }
    for (int y : {1900, 2000, 2001, 2004, 2100, 2400}) {
        EXPECT_EQ(EncodeDate(y, 3, 1) - EncodeDate(y, 2, 28), civilDays(y, 3, 1) - civilDays(y, 2, 28)) << y;
        EXPECT_EQ(IsLeapYear(y), std::chrono::year{y}.is_leap()) << y;
    }
}

TEST(StdDates, ImpossibleDatesAndTimesRaise) {
    const std::string dateError = "Invalid argument to date encode";
    EXPECT_EQ(errorOf([] { EncodeDate(2001, 2, 29); }), dateError);
    EXPECT_EQ(errorOf([] { EncodeDate(2000, 13, 1); }), dateError);
    EXPECT_EQ(errorOf([] { EncodeDate(2000, 0, 1); }), dateError);
    EXPECT_EQ(errorOf([] { EncodeDate(0, 1, 1); }), dateError);
    EXPECT_EQ(errorOf([] { EncodeDate(10000, 1, 1); }), dateError);
    EXPECT_EQ(errorOf([] { EncodeDate(2000, 4, 31); }), dateError);
    EXPECT_NO_THROW(EncodeDate(2000, 2, 29));

    const std::string timeError = "Invalid argument to time encode";
    EXPECT_EQ(errorOf([] { EncodeTime(24, 0, 0, 0); }), timeError);
    EXPECT_EQ(errorOf([] { EncodeTime(0, 60, 0, 0); }), timeError);
    EXPECT_EQ(errorOf([] { EncodeTime(0, 0, 60, 0); }), timeError);
    EXPECT_EQ(errorOf([] { EncodeTime(0, 0, 0, 1000); }), timeError);
    EXPECT_EQ(errorOf([] { EncodeTime(-1, 0, 0, 0); }), timeError);
    EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_DOUBLE_EQ(EncodeTime(6, 30, 15, 250), (6 * 3600000.0 + 30 * 60000 + 15250) / 86400000.0);

    // Values with no day number at all are errors, never wrapped garbage.
    EXPECT_EQ(errorOf([] { DecodeDate(1e300); }), "Invalid floating point operation");
    EXPECT_EQ(errorOf([] { DecodeTime(std::nan("")); }), "Invalid floating point operation");
}

TEST(StdDates, TimeOfDayRoundsToTheMillisecondAndNegativeDatesKeepTheirTime) {
    const double t = EncodeTime(23, 59, 59, 999);
    TTimeParts p = DecodeTime(t);
    EXPECT_EQ(p.hour, 23);
    EXPECT_EQ(p.minute, 59);
    EXPECT_EQ(p.second, 59);
    EXPECT_EQ(p.msec, 999);
    // A hair below midnight rounds up into the next day, date included.
    const double almost = EncodeDate(2000, 12, 31) + 0.99999999999;
    p = DecodeTime(almost);
    EXPECT_EQ(p.hour + p.minute + p.second + p.msec, 0);
    const TDateParts d = DecodeDate(almost);
    EXPECT_EQ(d.year, 2001);
    EXPECT_EQ(d.month, 1);
    EXPECT_EQ(d.day, 1);
    // -1.25: the day before the origin at 06:00; -0.5: the origin day at noon.
    EXPECT_EQ(DecodeDate(-1.25).day, 29);
    EXPECT_EQ(DecodeTime(-1.25).hour, 6);
    EXPECT_EQ(DecodeDate(-0.5).day, 30);
    EXPECT_EQ(DecodeTime(-0.5).hour, 12);
    // Before year 1 there is no calendar date.
    const TDateParts none = DecodeDate(EncodeDate(1, 1, 1) - 1);
    EXPECT_EQ(none.year, 0);
    EXPECT_EQ(none.month, 0);
    EXPECT_EQ(none.day, 0);
}

TEST(StdDates, DayOfWeekStartsOnSunday) {
    EXPECT_EQ(DayOfWeek(0), 7);                          // 30 December 1899, a Saturday
    EXPECT_EQ(DayOfWeek(EncodeDate(2024, 6, 2)), 1);     // a Sunday
    EXPECT_EQ(DayOfWeek(EncodeDate(2000, 1, 1) + 0.9), 7);
    using namespace std::chrono;
    for (double days = -700000; days < 3000000; days += 12345.0) {
        const weekday wd{sys_days{year{1899} / December / day{30}} + std::chrono::days{static_cast<int>(days)}};
        ASSERT_EQ(DayOfWeek(days), static_cast<int>(wd.c_encoding()) + 1) << days;
    }
}

TEST(StdDates, IncMonthClampsTheDayAndKeepsTheTime) {
    const double time = EncodeTime(10, 30, 0, 0);
    EXPECT_EQ(IncMonth(EncodeDate(2001, 1, 31), 1), EncodeDate(2001, 2, 28));
    EXPECT_EQ(IncMonth(EncodeDate(2004, 1, 31), 1), EncodeDate(2004, 2, 29));
    EXPECT_EQ(IncMonth(EncodeDate(2004, 3, 31), -1), EncodeDate(2004, 2, 29));
    EXPECT_EQ(IncMonth(EncodeDate(2000, 1, 15), -1), EncodeDate(1999, 12, 15));
    EXPECT_EQ(IncMonth(EncodeDate(2000, 12, 15), 1), EncodeDate(2001, 1, 15));
    EXPECT_EQ(IncMonth(EncodeDate(2000, 5, 31), -17), EncodeDate(1998, 12, 31));
    EXPECT_EQ(IncMonth(EncodeDate(2000, 5, 31), 25), EncodeDate(2002, 6, 30));
    EXPECT_EQ(IncMonth(EncodeDate(2000, 5, 1), 0), EncodeDate(2000, 5, 1));
    EXPECT_DOUBLE_EQ(IncMonth(EncodeDate(2001, 1, 31) + time, 1), EncodeDate(2001, 2, 28) + time);
    // Before the origin the time is subtracted, as that representation has it.
    EXPECT_DOUBLE_EQ(IncMonth(EncodeDate(1899, 1, 10) - 0.25, 1), EncodeDate(1899, 2, 10) - 0.25);
    EXPECT_EQ(errorOf([] { IncMonth(EncodeDate(9999, 12, 1), 1); }), "Invalid argument to date encode");
}

TEST(StdDates, YearFracWeighsEachYearByItsLength) {
    const double jan1 = EncodeDate(2001, 1, 1);
    EXPECT_EQ(YearFrac(jan1, jan1), 0.0);
    EXPECT_DOUBLE_EQ(YearFrac(jan1, EncodeDate(2001, 7, 1)), 181.0 / 365.0);
    EXPECT_DOUBLE_EQ(YearFrac(EncodeDate(2001, 7, 1), jan1), 181.0 / 365.0);  // swapped
    EXPECT_DOUBLE_EQ(YearFrac(EncodeDate(2000, 1, 1), EncodeDate(2000, 7, 1)), 182.0 / 366.0);
    // 1 July 2000 .. 1 July 2001: 184 days of a leap year, 181 of a common one.
    EXPECT_DOUBLE_EQ(YearFrac(EncodeDate(2000, 7, 1), EncodeDate(2001, 7, 1)), 184.0 / 366.0 + 181.0 / 365.0);
    EXPECT_DOUBLE_EQ(YearFrac(EncodeDate(1990, 1, 1), EncodeDate(2000, 1, 1)), 10.0);
    EXPECT_DOUBLE_EQ(YearFrac(jan1, jan1 + 0.5), 0.5 / 365.0);
}

TEST(StdDates, FormatDateTimeTokens) {
    const double dt = EncodeDate(2007, 3, 4) + EncodeTime(15, 5, 9, 42);  // a Sunday
    EXPECT_EQ(FormatDateTime("d dd ddd dddd", dt), "4 04 Sun Sunday");
    EXPECT_EQ(FormatDateTime("m mm mmm mmmm", dt), "3 03 Mar March");
    EXPECT_EQ(FormatDateTime("yy yyyy y", dt), "07 2007 07");
    EXPECT_EQ(FormatDateTime("h hh n nn s ss z zzz", dt), "15 15 5 05 9 09 42 042");
    EXPECT_EQ(FormatDateTime("ddddd|dddddd", dt), "04.03.2007|4 March 2007");
    EXPECT_EQ(FormatDateTime("t|tt", dt), "15:05|15:05:09");
    EXPECT_EQ(FormatDateTime("c", dt), "04.03.2007 15:05:09");
    EXPECT_EQ(FormatDateTime("", dt), "04.03.2007 15:05:09");
    EXPECT_EQ(FormatDateTime("", EncodeDate(2007, 3, 4)), "04.03.2007");
    EXPECT_EQ(FormatDateTime("DD/MM/YYYY HH:NN", dt), "04.03.2007 15:05");
    // "m" right after an hour token is the minute, even across a separator.
    EXPECT_EQ(FormatDateTime("hh:mm", dt), "15:05");
    EXPECT_EQ(FormatDateTime("mm hh mm", dt), "03 15 05");
    // 12-hour clock when an AM/PM marker follows; the marker keeps its case.
    EXPECT_EQ(FormatDateTime("h:nn am/pm", dt), "3:05 pm");
    EXPECT_EQ(FormatDateTime("h:nn AM/PM", dt), "3:05 PM");
    EXPECT_EQ(FormatDateTime("hh a/p", dt), "03 p");
    EXPECT_EQ(FormatDateTime("hh ampm", dt), "03 PM");
    EXPECT_EQ(FormatDateTime("h am/pm", EncodeDate(2007, 3, 4)), "12 am");
    EXPECT_EQ(FormatDateTime("hh 'am/pm'", dt), "15 am/pm");  // quoted: 24-hour clock
    // Quoted text is copied without interpretation; other characters as they are.
    EXPECT_EQ(FormatDateTime("'day' d \"of\" mmmm!", dt), "day 4 of March!");
    EXPECT_EQ(FormatDateTime("'open", dt), "open");
    EXPECT_EQ(FormatDateTime("q-w", dt), "q-w");
    // Day names also through "aaa"/"aaaa" (which must not be taken for an
    // AM/PM marker); the era of the fixed Gregorian locale.
    EXPECT_EQ(FormatDateTime("aaa aaaa AAAA", dt), "Sun Sunday Sunday");
    EXPECT_EQ(FormatDateTime("hh aaa", dt), "15 Sun");
    EXPECT_EQ(FormatDateTime("g gg e ee", EncodeDate(5, 1, 1)), "AD Anno Domini 5 05");
    EXPECT_EQ(FormatDateTime("bc", dt), "b04.03.2007 15:05:09");  // "c" is a token anywhere
}

TEST(StdDates, FixedLocaleTexts) {
    EXPECT_EQ(DateToStr(EncodeDate(1999, 12, 31) + 0.75), "31.12.1999");
    EXPECT_EQ(TimeToStr(EncodeDate(1999, 12, 31) + EncodeTime(7, 8, 9, 999)), "07:08:09");
    EXPECT_EQ(DateToStr(EncodeDate(5, 1, 2)), "02.01.0005");
}

TEST(StdDates, StrToDateReadsDayMonthYear) {
    EXPECT_EQ(StrToDate("31.12.1999", 2024), EncodeDate(1999, 12, 31));
    EXPECT_EQ(StrToDate(" 1 . 2 . 2003 ", 2024), EncodeDate(2003, 2, 1));
    EXPECT_EQ(StrToDate("5.6", 2024), EncodeDate(2024, 6, 5));
    EXPECT_EQ(StrToDate("5.6.2003.", 2024), EncodeDate(2003, 6, 5));
    // Two-digit years fall in the hundred years starting 50 years back.
    EXPECT_EQ(StrToDate("1.1.30", 2024), EncodeDate(2030, 1, 1));
    EXPECT_EQ(StrToDate("1.1.73", 2024), EncodeDate(2073, 1, 1));
    EXPECT_EQ(StrToDate("1.1.74", 2024), EncodeDate(1974, 1, 1));
    EXPECT_EQ(StrToDate("1.1.99", 2024), EncodeDate(1999, 1, 1));
    EXPECT_EQ(StrToDate("1.1.0030", 2024), EncodeDate(30, 1, 1));
    EXPECT_EQ(errorOf([] { StrToDate("31.02.2001", 2024); }), "'31.02.2001' is not a valid date");
    for (const char* bad : {"", "12", "5.6.", "1/2/2003", "1.2.2003x", "a.b.c", "1.2.20030", "1..2"})
        EXPECT_EQ(errorOf([&] { StrToDate(bad, 2024); }), "'" + std::string(bad) + "' is not a valid date")
            << bad;
}

TEST(StdDates, StrToTimeReadsClockTimes) {
    EXPECT_DOUBLE_EQ(StrToTime("13:45:10"), EncodeTime(13, 45, 10, 0));
    EXPECT_DOUBLE_EQ(StrToTime("7"), EncodeTime(7, 0, 0, 0));
    EXPECT_DOUBLE_EQ(StrToTime("7:05"), EncodeTime(7, 5, 0, 0));
    EXPECT_DOUBLE_EQ(StrToTime("7:05:01.250"), EncodeTime(7, 5, 1, 250));
    EXPECT_DOUBLE_EQ(StrToTime("12:30 am"), EncodeTime(0, 30, 0, 0));
    EXPECT_DOUBLE_EQ(StrToTime("PM 1:15"), EncodeTime(13, 15, 0, 0));
    EXPECT_DOUBLE_EQ(StrToTime("12:00 PM"), EncodeTime(12, 0, 0, 0));
    for (const char* bad : {"", "25:00", "13:00 pm", "0:10 am", "1:2:3:4", "ab", "10:", "10:60"})
        EXPECT_EQ(errorOf([&] { StrToTime(bad); }), "'" + std::string(bad) + "' is not a valid time") << bad;
}

TEST(StdDates, SystemNowIsACurrentDate) {
    const double now = SystemNow();
    const TDateParts p = DecodeDate(now);
    EXPECT_GE(p.year, 2020);
    EXPECT_LE(p.year, 2200);
    EXPECT_GE(now - std::trunc(now), 0.0);
}
