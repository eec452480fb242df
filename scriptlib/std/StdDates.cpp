#include "scriptlib/std/StdDates.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "platform/Text.h"
#include "script/ScriptValue.h"

namespace nb::scriptstd {

namespace {

constexpr const char* kShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonthNames[12] = {"January", "February", "March",     "April",
                                             "May",     "June",     "July",      "August",
                                             "September", "October", "November", "December"};
constexpr const char* kShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
constexpr char kDateSeparator = '.';
constexpr char kTimeSeparator = ':';
constexpr char kDecimalSeparator = '.';
constexpr const char* kTimeAM = "AM";
// The fixed locale has the Gregorian calendar's single era.
constexpr const char* kShortEraName = "AD";
constexpr const char* kLongEraName = "Anno Domini";
constexpr const char* kTimePM = "PM";
// Two-digit years fall within this many years before the current year and
// the years after it.
constexpr int64_t kTwoDigitYearWindow = 50;

constexpr int kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                   {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

// Day of the week from a timestamp day number, 0 = Sunday.
int weekdayIndex(int64_t date) {
    int64_t r = date % 7;
    if (r < 0) r += 7;
    return static_cast<int>(r);
}

TDateParts datePartsOf(int64_t date) {
    TDateParts p;
    if (date <= 0) return p;  // before 1 January of year 1: no calendar date
    constexpr int64_t d1 = 365, d4 = d1 * 4 + 1, d100 = d4 * 25 - 1, d400 = d100 * 4 + 1;
    int64_t t = date - 1;
    int64_t y = 1 + (t / d400) * 400;
    t %= d400;
    int64_t i = t / d100, d = t % d100;
    if (i == 4) {
        --i;
        d += d100;
    }
    y += i * 100;
    i = d / d4;
    d %= d4;
    y += i * 4;
    i = d / d1;
    d %= d1;
    if (i == 4) {
        --i;
        d += d1;
    }
    y += i;
    const int* table = kMonthDays[IsLeapYear(y) ? 1 : 0];
    int m = 0;
    while (m < 11 && d >= table[m]) d -= table[m++];
    p.year = y;
    p.month = m + 1;
    p.day = static_cast<int>(d) + 1;
    return p;
}

TTimeParts timePartsOf(int64_t ms) {
    TTimeParts p;
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.msec = static_cast<int>(ms % 1000);
    return p;
}

void appendNumber(std::string& out, int64_t value, int minDigits) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (value < 0) out += '-';
    if (static_cast<int>(digits.size()) < minDigits) out.append(minDigits - digits.size(), '0');
    out += digits;
}

// Case-insensitive (ASCII) comparison of the text at `pos` with `word`.
bool matchesAt(std::string_view s, size_t pos, std::string_view word) {
    return pos <= s.size() && s.size() - pos >= word.size() &&
           iequalsAscii(s.substr(pos, word.size()), word);
}

// The pattern walker. Date and time parts are decoded once, on first use,
// so that patterns of plain text never touch the value.
class DateTimeFormatter {
public:
    explicit DateTimeFormatter(double dt) : dt_(dt) {}

    void append(std::string& out, std::string_view fmt, int level) {
        char lastToken = ' ';
        size_t p = 0;
        while (p < fmt.size()) {
            const char starter = fmt[p++];
            char token = asciiUpperChar(starter);
            if (token >= 'A' && token <= 'Z') {
                if (token == 'M' && lastToken == 'H') token = 'N';
                lastToken = token;
            }
            auto count = [&] {
                int n = 1;
                while (p < fmt.size() && fmt[p] == starter) {
                    ++p;
                    ++n;
                }
                return n;
            };
            switch (token) {
                case 'Y': {
                    int n = count();
                    if (n <= 2)
                        appendNumber(out, date().year % 100, 2);
                    else
                        appendNumber(out, date().year, 4);
                    break;
                }
                case 'M': {
                    int n = count();
                    const TDateParts& d = date();
                    if (n <= 2)
                        appendNumber(out, d.month, n);
                    else if (d.month >= 1)  // no names for the empty date
                        out += (n == 3 ? kShortMonthNames : kLongMonthNames)[d.month - 1];
                    break;
                }
                case 'D': {
                    int n = count();
                    if (n <= 2) {
                        appendNumber(out, date().day, n);
                    } else if (n <= 4) {
                        int w = weekdayIndex(stamp().date);
                        out += (n == 3 ? kShortDayNames : kLongDayNames)[w];
                    } else if (level < 2) {
                        append(out, n == 5 ? kShortDateFormat : kLongDateFormat, level + 1);
                    }
                    break;
                }
                case 'H': {
                    int n = count();
                    int h = time().hour;
                    if (usesTwelveHourClock(fmt, p)) {
                        if (h == 0)
                            h = 12;
                        else if (h > 12)
                            h -= 12;
                    }
                    appendNumber(out, h, n > 2 ? 2 : n);
                    break;
                }
                case 'N': {
                    int n = count();
                    appendNumber(out, time().minute, n > 2 ? 2 : n);
                    break;
                }
                case 'S': {
                    int n = count();
                    appendNumber(out, time().second, n > 2 ? 2 : n);
                    break;
                }
                case 'Z': {
                    int n = count();
                    appendNumber(out, time().msec, n > 3 ? 3 : n);
                    break;
                }
                case 'T': {
                    int n = count();
                    if (level < 2) append(out, n == 1 ? kShortTimeFormat : kLongTimeFormat, level + 1);
                    break;
                }
                case 'C': {
                    count();
                    if (level < 2) {
                        append(out, kShortDateFormat, level + 1);
                        const TTimeParts& t = time();
                        if (t.hour != 0 || t.minute != 0 || t.second != 0) {
                            out += ' ';
                            append(out, kLongTimeFormat, level + 1);
                        }
                    }
                    break;
                }
                case 'A': {
                    const size_t at = p - 1;
                    const bool pm = time().hour >= 12;
                    if (matchesAt(fmt, at, "AM/PM")) {
                        // The letters are copied in the case the pattern uses.
                        out.append(fmt.substr(pm ? at + 3 : at, 2));
                        p = at + 5;
                    } else if (matchesAt(fmt, at, "A/P")) {
                        out += fmt[pm ? at + 2 : at];
                        p = at + 3;
                    } else if (matchesAt(fmt, at, "AMPM")) {
                        out += pm ? kTimePM : kTimeAM;
                        p = at + 4;
                    } else if (matchesAt(fmt, at, "AAAA")) {
                        // The locale's day names, as "dddd" and "ddd".
                        out += kLongDayNames[weekdayIndex(stamp().date)];
                        p = at + 4;
                    } else if (matchesAt(fmt, at, "AAA")) {
                        out += kShortDayNames[weekdayIndex(stamp().date)];
                        p = at + 3;
                    } else {
                        out += starter;
                    }
                    break;
                }
                case 'E': {
                    // Year of the era: the plain year in the Gregorian
                    // calendar; "ee" and longer pad it to two digits.
                    int n = count();
                    appendNumber(out, date().year, n >= 2 ? 2 : 1);
                    break;
                }
                case 'G': {
                    int n = count();
                    out += n == 1 ? kShortEraName : kLongEraName;
                    break;
                }
                case '/':
                    out += kDateSeparator;
                    break;
                case ':':
                    out += kTimeSeparator;
                    break;
                case '\'':
                case '"': {
                    size_t close = fmt.find(starter, p);
                    if (close == std::string_view::npos) close = fmt.size();
                    out.append(fmt.substr(p, close - p));
                    p = close < fmt.size() ? close + 1 : close;
                    break;
                }
                default:
                    out += starter;
                    break;
            }
        }
    }

private:
    // An hour is shown on the 12-hour clock when the first "a" after it
    // (outside quotes, before another hour token) starts an AM/PM marker.
    static bool usesTwelveHourClock(std::string_view fmt, size_t from) {
        bool quoted = false;
        for (size_t i = from; i < fmt.size(); ++i) {
            char c = fmt[i];
            if (c == '\'' || c == '"') {
                quoted = !quoted;
            } else if (c == 'H' || c == 'h') {
                return false;
            } else if ((c == 'A' || c == 'a') && !quoted) {
                return matchesAt(fmt, i, "AM/PM") || matchesAt(fmt, i, "A/P") ||
                       matchesAt(fmt, i, "AMPM");
            }
        }
        return false;
    }

    const TTimeStamp& stamp() {
        if (!haveStamp_) {
            stamp_ = ToTimeStamp(dt_);
            haveStamp_ = true;
        }
        return stamp_;
    }
    const TDateParts& date() {
        if (!haveDate_) {
            date_ = datePartsOf(stamp().date);
            haveDate_ = true;
        }
        return date_;
    }
    const TTimeParts& time() {
        if (!haveTime_) {
            time_ = timePartsOf(stamp().timeMs);
            haveTime_ = true;
        }
        return time_;
    }

    double dt_;
    TTimeStamp stamp_;
    TDateParts date_;
    TTimeParts time_;
    bool haveStamp_ = false, haveDate_ = false, haveTime_ = false;
};

// Scanner for date and time texts: blanks (spaces) are skipped before every
// item, numbers have at most four digits.
struct Scanner {
    std::string_view s;
    size_t pos = 0;

    void blanks() {
        while (pos < s.size() && s[pos] == ' ') ++pos;
    }
    bool number(int64_t& value, int& digits) {
        blanks();
        size_t i = pos;
        int64_t n = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && n < 1000) n = n * 10 + (s[i++] - '0');
        if (i == pos) return false;
        digits = static_cast<int>(i - pos);
        pos = i;
        value = n;
        return true;
    }
    bool character(char c) {
        blanks();
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool word(std::string_view w) {
        blanks();
        if (matchesAt(s, pos, w)) {
            pos += w.size();
            return true;
        }
        return false;
    }
    bool atEnd() const { return pos >= s.size(); }
};

}  // namespace

TTimeStamp ToTimeStamp(double dateTime) {
    double ms = dateTime * static_cast<double>(kMsPerDay);
    // 2^63 milliseconds; beyond it (and for NaN) there is no day number.
    if (!(std::fabs(ms) < 9.2e18)) throw ScriptError("Invalid floating point operation");
    int64_t total = roundHalfEvenI64(ms);
    TTimeStamp t;
    t.date = total / kMsPerDay + kDateDelta;
    int64_t rem = total % kMsPerDay;
    t.timeMs = rem < 0 ? -rem : rem;
    return t;
}

bool IsLeapYear(int64_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int64_t year, int month) {
    if (month < 1 || month > 12) return 0;
    return kMonthDays[IsLeapYear(year) ? 1 : 0][month - 1];
}

TDateParts DecodeDate(double dateTime) { return datePartsOf(ToTimeStamp(dateTime).date); }

TTimeParts DecodeTime(double dateTime) { return timePartsOf(ToTimeStamp(dateTime).timeMs); }

bool TryEncodeDate(int64_t year, int64_t month, int64_t day, double& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
    if (day < 1 || day > DaysInMonth(year, static_cast<int>(month))) return false;
    int64_t days = day;
    for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
    int64_t y = year - 1;
    out = static_cast<double>(y * 365 + y / 4 - y / 100 + y / 400 + days - kDateDelta);
    return true;
}

double EncodeDate(int64_t year, int64_t month, int64_t day) {
    double out = 0;
    if (!TryEncodeDate(year, month, day, out)) throw ScriptError("Invalid argument to date encode");
    return out;
}

bool TryEncodeTime(int64_t hour, int64_t minute, int64_t second, int64_t msec, double& out) {
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
        msec < 0 || msec >= 1000)
        return false;
    int64_t ms = ((hour * 60 + minute) * 60 + second) * 1000 + msec;
    out = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
    return true;
}

double EncodeTime(int64_t hour, int64_t minute, int64_t second, int64_t msec) {
    double out = 0;
    if (!TryEncodeTime(hour, minute, second, msec, out))
        throw ScriptError("Invalid argument to time encode");
    return out;
}

int DayOfWeek(double dateTime) { return weekdayIndex(ToTimeStamp(dateTime).date) + 1; }

double IncMonth(double dateTime, int32_t months) {
    TTimeStamp ts = ToTimeStamp(dateTime);
    TDateParts d = datePartsOf(ts.date);
    int64_t year = d.year + months / 12;
    int64_t month = d.month + months % 12;
    if (month < 1) {
        month += 12;
        --year;
    } else if (month > 12) {
        month -= 12;
        ++year;
    }
    int64_t day = d.day;
    const int last = DaysInMonth(year, static_cast<int>(month));
    if (day > last) day = last;
    double result = EncodeDate(year, month, day);
    // The time of day goes with the date, away from zero for dates before
    // the origin, as everywhere in this representation.
    double time = static_cast<double>(ts.timeMs) / static_cast<double>(kMsPerDay);
    return result >= 0 ? result + time : result - time;
}

double YearFrac(double d1, double d2) {
    if (d1 > d2) std::swap(d1, d2);
    const int64_t y1 = DecodeDate(d1).year;
    const int64_t y2 = DecodeDate(d2).year;
    double sum = 0;
    for (int64_t y = y1; y <= y2; ++y) {
        double start = y == y1 ? d1 : EncodeDate(y, 1, 1);
        double end = y == y2 ? d2 : EncodeDate(y + 1, 1, 1);
        sum += (end - start) / (IsLeapYear(y) ? 366.0 : 365.0);
    }
    return sum;
}

std::string FormatDateTime(std::string_view pattern, double dateTime) {
    std::string out;
    DateTimeFormatter f(dateTime);
    f.append(out, pattern.empty() ? std::string_view("c") : pattern, 0);
    return out;
}

std::string DateToStr(double dateTime) { return FormatDateTime("ddddd", dateTime); }

std::string TimeToStr(double dateTime) { return FormatDateTime("tt", dateTime); }

double StrToDate(std::string_view text, int64_t currentYear) {
    auto fail = [&]() -> double {
        throw ScriptError("'" + std::string(text) + "' is not a valid date");
    };
    Scanner sc{text};
    int64_t n1 = 0, n2 = 0, n3 = 0;
    int l1 = 0, l2 = 0, l3 = 0;
    if (!(sc.number(n1, l1) && sc.character(kDateSeparator) && sc.number(n2, l2))) return fail();
    int64_t year = currentYear;
    if (sc.character(kDateSeparator)) {
        if (!sc.number(n3, l3)) return fail();
        year = n3;
        if (l3 <= 2) {
            int64_t base = currentYear - kTwoDigitYearWindow;
            year += base / 100 * 100;
            if (year < base) year += 100;
        }
    }
    sc.character(kDateSeparator);  // a closing separator is allowed
    sc.blanks();
    double out = 0;
    if (!sc.atEnd() || !TryEncodeDate(year, n2, n1, out)) return fail();
    return out;
}

double StrToTime(std::string_view text) {
    auto fail = [&]() -> double {
        throw ScriptError("'" + std::string(text) + "' is not a valid time");
    };
    Scanner sc{text};
    int baseHour = -1;
    auto scanAmPm = [&] {
        if (sc.word(kTimeAM))
            baseHour = 0;
        else if (sc.word(kTimePM))
            baseHour = 12;
    };
    scanAmPm();
    int64_t hour = 0, minute = 0, second = 0, msec = 0;
    int digits = 0;
    if (!sc.number(hour, digits)) return fail();
    if (sc.character(kTimeSeparator)) {
        if (!sc.number(minute, digits)) return fail();
        if (sc.character(kTimeSeparator)) {
            if (!sc.number(second, digits)) return fail();
            if (sc.character(kDecimalSeparator) && !sc.number(msec, digits)) return fail();
        }
    }
    if (baseHour < 0) scanAmPm();
    if (baseHour >= 0) {
        if (hour == 0 || hour > 12) return fail();
        if (hour == 12) hour = 0;
        hour += baseHour;
    }
    sc.blanks();
    double out = 0;
    if (!sc.atEnd() || !TryEncodeTime(hour, minute, second, msec, out)) return fail();
    return out;
}

double SystemNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const int64_t ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm lt{};
    localtime_r(&t, &lt);
    const int second = lt.tm_sec > 59 ? 59 : lt.tm_sec;  // a leap second reads as :59
    return EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday) +
           EncodeTime(lt.tm_hour, lt.tm_min, second, ms < 0 ? 0 : ms);
}

}  // namespace nb::scriptstd
