// Calendar arithmetic and date-time texts for the standard script functions.
//
// A date-time is a real number of days since 30 December 1899; its fraction
// is the time of day. For negative values the integer part is the date and
// the magnitude of the fraction the time (-1.25 is 29 December 1899, 06:00).
//
// Texts use one fixed locale so that games behave the same on every machine:
//   short date  "dd.mm.yyyy"      long date   "d mmmm yyyy"
//   short time  "hh:nn"           long time   "hh:nn:ss"
//   date-time   "dd.mm.yyyy hh:nn:ss" (the time is left out at midnight)
//   separators  "." and ":"       AM/PM       "AM", "PM"
//   month and day names in English ("Jan", "January", "Sun", "Sunday").
//
// Failures throw ScriptError with the texts scripts see after
// "Invalid parameters, function NAME : ".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nb::scriptstd {

// Day number of 30 December 1899 counted from 1 January of year 1 as day 1.
inline constexpr int64_t kDateDelta = 693594;
inline constexpr int64_t kMsPerDay = 86400000;

inline constexpr const char* kShortDateFormat = "dd.mm.yyyy";
inline constexpr const char* kLongDateFormat = "d mmmm yyyy";
inline constexpr const char* kShortTimeFormat = "hh:nn";
inline constexpr const char* kLongTimeFormat = "hh:nn:ss";

// A date-time split at whole milliseconds: `date` counts days from 1 January
// of year 1 (that day is 1), `timeMs` is the time of day, 0 .. 86399999.
// The split rounds to the nearest millisecond first, so 0.99999999999 is the
// next midnight, not 23:59:59.999 with a stray fraction.
struct TTimeStamp {
    int64_t date = 0;
    int64_t timeMs = 0;
};

struct TDateParts {
    int64_t year = 0;  // 0 (with month and day 0) for dates before year 1
    int month = 0;
    int day = 0;
};

struct TTimeParts {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int msec = 0;
};

// Throws "Invalid floating point operation" for NaN, infinities and values
// whose millisecond count does not fit in 64 bits.
TTimeStamp ToTimeStamp(double dateTime);

bool IsLeapYear(int64_t year);
int DaysInMonth(int64_t year, int month);  // 0 for a month outside 1..12

TDateParts DecodeDate(double dateTime);
TTimeParts DecodeTime(double dateTime);

// Years 1..9999 only; anything else throws "Invalid argument to date encode".
double EncodeDate(int64_t year, int64_t month, int64_t day);
bool TryEncodeDate(int64_t year, int64_t month, int64_t day, double& out);
// h < 24, m < 60, s < 60, ms < 1000, none negative; else throws
// "Invalid argument to time encode".
double EncodeTime(int64_t hour, int64_t minute, int64_t second, int64_t msec);
bool TryEncodeTime(int64_t hour, int64_t minute, int64_t second, int64_t msec, double& out);

// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(double dateTime);

// Moves the date by `months` calendar months keeping the time of day; the
// day is clamped to the length of the target month (31 January + 1 month is
// 28 or 29 February).
double IncMonth(double dateTime, int32_t months);

// Years between two dates, each calendar year weighed by its own length.
double YearFrac(double d1, double d2);

// Formats with the date-time pattern tokens d dd ddd dddd ddddd dddddd,
// m mm mmm mmmm, yy yyyy, h hh, n nn, s ss, z zzz, t tt, c, am/pm a/p ampm,
// "/" and ":" (the locale's separators) and quoted text; other characters are
// copied. An "m" right after an hour token means minutes. An empty pattern
// means "c".
std::string FormatDateTime(std::string_view pattern, double dateTime);
std::string DateToStr(double dateTime);
std::string TimeToStr(double dateTime);

// Reads a date in the short date order (day, month, optional year; a year of
// one or two digits falls within 50 years of `currentYear`, a missing year is
// `currentYear`). Throws "'TEXT' is not a valid date".
double StrToDate(std::string_view text, int64_t currentYear);
// Reads "h[:n[:s[.ms]]]" with an optional AM/PM before or after. Throws
// "'TEXT' is not a valid time".
double StrToTime(std::string_view text);

// Local wall-clock time as a date-time, to the millisecond.
double SystemNow();

}  // namespace nb::scriptstd
