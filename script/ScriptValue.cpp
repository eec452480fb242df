// The script value type: conversions and operators.
//
// Kind rules of the operators (what scripts can rely on):
// - Two strings: "+" concatenates, comparisons compare the bytes (ordinal
//   order, the same in every locale); the other operators read both as
//   numbers.
// - A string with a number (or with the empty value) is read as a number
//   first: integer text becomes an integer, other numeric text a real, any
//   other text raises. A string with the empty value under "+" stays a string.
// - Booleans count as -1 (true) and 0 (false) in arithmetic; the empty value
//   counts as 0 (and as "" beside a string).
// - An integer with a real (or a date-time) gives a real. A date-time plus or
//   minus a number stays a date-time; the difference of two date-times is a
//   real.
// - Integer arithmetic is exact: it is done in 64 bits, and the result is a
//   32-bit integer when both operands were of the 32-bit family (32-bit,
//   16-bit, 8-bit, Boolean) and the result fits, otherwise a 64-bit integer.
//   So a 32-bit sum that overflows widens to 64 bits instead of wrapping; a
//   64-bit overflow raises "Integer overflow". An element reference in
//   arithmetic is just its unsigned 32-bit number and gives an ordinary
//   (64-bit) integer, never another element reference.
// - OR, AND, XOR are logical when a Boolean meets a Boolean, a string or the
//   empty value (the string must read as a Boolean) and when two strings both
//   hold "TRUE"/"FALSE"; otherwise they are bitwise on integers (reals are
//   rounded first).
// - SHL shifts the 64-bit value left (a result that fits 32 bits stays a
//   32-bit integer); SHR is a logical shift of the operand's own width (32 or
//   64 bits). Counts outside 0..63 shift everything out.
// - A real result that overflows to infinity, and a division by zero, raise.
//
// Text forms: integers in decimal, reals in the shortest general form with up
// to 15 significant digits and the point "." (0.1 -> "0.1", 1e20 -> "1E20"),
// Booleans "True"/"False", date-times as "dd.mm.yyyy hh:nn:ss" (the time left
// out at exactly midnight).
#include "script/ScriptValue.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/Text.h"

namespace nb {

namespace {

bool isBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A number read from text. `isInt` when the text was an integer that fits 64
// bits; then `i` holds it (and `d` the same value as a real).
struct ParsedNumber {
    bool isInt = false;
    int64_t i = 0;
    double d = 0;
};

// Reads decimal text: blanks around, an optional sign, digits with an
// optional point and fraction, an optional exponent; or "$" followed by hex
// digits (an integer). Anything left over fails.
bool parseNumberText(std::string_view text, ParsedNumber& out) {
    std::string_view s = trimBlanks(text);
    if (s.empty()) return false;
    bool neg = false;
    std::string_view body = s;
    if (body.front() == '+' || body.front() == '-') {
        neg = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.empty()) return false;
    if (body.front() == '$') {
        body.remove_prefix(1);
        if (body.empty() || body.size() > 16) return false;
        uint64_t u = 0;
        auto r = std::from_chars(body.data(), body.data() + body.size(), u, 16);
        if (r.ec != std::errc() || r.ptr != body.data() + body.size()) return false;
        int64_t v = static_cast<int64_t>(u);
        out.isInt = true;
        out.i = neg ? static_cast<int64_t>(0 - u) : v;
        out.d = static_cast<double>(out.i);
        return true;
    }
    // Validate the shape first: from_chars alone would accept "inf" and "nan".
    size_t p = 0, digits = 0;
    bool integral = true;
    while (p < body.size() && body[p] >= '0' && body[p] <= '9') ++p, ++digits;
    if (p < body.size() && body[p] == '.') {
        integral = false;
        ++p;
        while (p < body.size() && body[p] >= '0' && body[p] <= '9') ++p, ++digits;
    }
    if (digits == 0) return false;
    if (p < body.size() && (body[p] == 'e' || body[p] == 'E')) {
        integral = false;
        ++p;
        if (p < body.size() && (body[p] == '+' || body[p] == '-')) ++p;
        size_t expDigits = 0;
        while (p < body.size() && body[p] >= '0' && body[p] <= '9') ++p, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (p != body.size()) return false;
    if (integral) {
        uint64_t u = 0;
        auto r = std::from_chars(body.data(), body.data() + body.size(), u, 10);
        if (r.ec == std::errc() && r.ptr == body.data() + body.size() &&
            u <= (neg ? uint64_t(1) << 63 : uint64_t(INT64_MAX))) {
            out.isInt = true;
            out.i = neg ? static_cast<int64_t>(0 - u) : static_cast<int64_t>(u);
            out.d = static_cast<double>(out.i);
            return true;
        }
    }
    double d = 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), d);
    if (r.ptr != body.data() + body.size()) return false;
    if (r.ec == std::errc::result_out_of_range) {
        // Underflow reads as 0; overflow is not a number we can hold.
        if (std::fabs(d) > 1) return false;
    } else if (r.ec != std::errc()) {
        return false;
    }
    out.isInt = false;
    out.d = neg ? -d : d;
    return true;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

[[noreturn]] void raise(const std::string& msg) { throw ScriptError(msg); }

bool fitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// Days since 30 December 1899 <-> calendar dates (proleptic Gregorian).
constexpr int64_t kDaysTo1970 = 25569;  // 30.12.1899 .. 01.01.1970

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

// Shortest general form with up to 15 significant digits: fixed notation
// while the decimal exponent lies in -4..14, scientific ("1E20", "1E-5")
// outside it.
std::string formatReal(double v) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    if (v == 0) return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", v);
    // buf: [-]d.dddddddddddddde[+-]xx
    std::string s(buf);
    bool neg = false;
    size_t p = 0;
    if (s[p] == '-') {
        neg = true;
        ++p;
    }
    std::string digits;
    size_t ePos = s.find('e', p);
    for (size_t k = p; k < ePos; ++k)
        if (s[k] != '.') digits.push_back(s[k]);
    int exp10 = std::atoi(s.c_str() + ePos + 1);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string out = neg ? "-" : "";
    if (exp10 >= 15 || exp10 < -4) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        out += 'E';
        out += std::to_string(exp10);
        return out;
    }
    if (exp10 < 0) {
        out += "0.";
        out.append(static_cast<size_t>(-exp10 - 1), '0');
        out += digits;
        return out;
    }
    size_t intLen = static_cast<size_t>(exp10) + 1;
    if (digits.size() <= intLen) {
        out += digits;
        out.append(intLen - digits.size(), '0');
    } else {
        out.append(digits, 0, intLen);
        out += '.';
        out.append(digits, intLen, std::string::npos);
    }
    return out;
}

std::string twoDigits(unsigned v) {
    char b[4];
    std::snprintf(b, sizeof b, "%02u", v % 100);
    return b;
}

// "dd.mm.yyyy hh:nn:ss"; the time is left out at exactly midnight. Negative
// values count days back from 30.12.1899 with the fraction as time of day.
std::string formatDateTime(double v) {
    if (!std::isfinite(v) || v < -693594.0 || v >= 2958466.0)
        raise("Invalid argument to date encode");
    double whole = std::trunc(v);
    int64_t ms = static_cast<int64_t>(std::llround(std::fabs(v - whole) * 86400000.0));
    int64_t day = static_cast<int64_t>(whole);
    if (ms >= 86400000) {
        ms -= 86400000;
        day += v < 0 ? -1 : 1;
    }
    int64_t y;
    unsigned m, d;
    civilFromDays(day - kDaysTo1970, y, m, d);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s.%s.%04lld", twoDigits(d).c_str(), twoDigits(m).c_str(),
                  static_cast<long long>(y));
    std::string out = buf;
    if (ms != 0) {
        int64_t secs = ms / 1000;
        out += ' ';
        out += twoDigits(static_cast<unsigned>(secs / 3600));
        out += ':';
        out += twoDigits(static_cast<unsigned>(secs / 60 % 60));
        out += ':';
        out += twoDigits(static_cast<unsigned>(secs % 60));
    }
    return out;
}

// An operand of arithmetic seen as a number.
struct Num {
    bool real = false;   // d is the value; else i is
    bool wide = false;   // an integer outside the 32-bit family
    bool date = false;   // a date-time
    int64_t i = 0;
    double d = 0;
    double asReal() const { return real ? d : static_cast<double>(i); }
};

Num toNum(const TScriptValue& v) {
    Num n;
    switch (v.kind()) {
        case ValueKind::Empty: return n;
        case ValueKind::Boolean: n.i = v.rawBool() ? -1 : 0; return n;
        case ValueKind::Int32:
        case ValueKind::UInt16:
        case ValueKind::UInt8: n.i = v.rawInt(); return n;
        case ValueKind::Int64:
        case ValueKind::ElementRef:
            n.i = v.rawInt();
            n.wide = true;
            return n;
        case ValueKind::Real: n.real = true; n.d = v.rawReal(); return n;
        case ValueKind::DateTime:
            n.real = true;
            n.date = true;
            n.d = v.rawReal();
            return n;
        case ValueKind::String: {
            ParsedNumber p;
            if (!parseNumberText(v.rawString(), p))
                raise(quoted(v.rawString()) + " is not a valid floating point value");
            if (p.isInt) {
                n.i = p.i;
                n.wide = !fitsInt32(p.i);
            } else {
                n.real = true;
                n.d = p.d;
            }
            return n;
        }
    }
    return n;
}

TScriptValue intResult(int64_t v, bool wide) {
    if (!wide && fitsInt32(v)) return TScriptValue::int32(static_cast<int32_t>(v));
    return TScriptValue::int64(v);
}

TScriptValue realResult(double v, bool date) {
    if (std::isinf(v)) raise("Floating point overflow");
    return date ? TScriptValue::dateTime(v) : TScriptValue::real(v);
}

enum class Arith { Add, Sub, Mul };

TScriptValue arith(Arith op, const TScriptValue& a, const TScriptValue& b) {
    Num x = toNum(a), y = toNum(b);
    if (x.real || y.real) {
        double r = 0;
        bool date = false;
        switch (op) {
            case Arith::Add: r = x.asReal() + y.asReal(); date = x.date || y.date; break;
            case Arith::Sub: r = x.asReal() - y.asReal(); date = x.date != y.date; break;
            case Arith::Mul: r = x.asReal() * y.asReal(); break;
        }
        if (std::isinf(r) && std::isfinite(x.asReal()) && std::isfinite(y.asReal()))
            raise("Floating point overflow");
        return date ? TScriptValue::dateTime(r) : TScriptValue::real(r);
    }
    int64_t r = 0;
    bool overflow = false;
    switch (op) {
        case Arith::Add: overflow = __builtin_add_overflow(x.i, y.i, &r); break;
        case Arith::Sub: overflow = __builtin_sub_overflow(x.i, y.i, &r); break;
        case Arith::Mul: overflow = __builtin_mul_overflow(x.i, y.i, &r); break;
    }
    if (overflow) raise("Integer overflow");
    return intResult(r, x.wide || y.wide);
}

bool isBoolText(const std::string& s, bool& out) {
    if (iequalsAscii(s, "TRUE")) {
        out = true;
        return true;
    }
    if (iequalsAscii(s, "FALSE")) {
        out = false;
        return true;
    }
    return false;
}

// Integer view of a value for the bitwise operators and shifts.
Num toIntNum(const TScriptValue& v) {
    Num n = toNum(v);
    if (n.real) {
        if (!std::isfinite(n.d) || std::fabs(n.d) >= 9.2233720368547758e18) raise("Integer overflow");
        n.i = roundHalfEvenI64(n.d);
        n.real = false;
        n.date = false;
        n.wide = !fitsInt32(n.i);
    }
    return n;
}

enum class Logic { Or, And, Xor };

TScriptValue logic(Logic op, const TScriptValue& a, const TScriptValue& b) {
    auto boolish = [](const TScriptValue& v) {
        return v.kind() == ValueKind::Boolean || v.kind() == ValueKind::String ||
               v.kind() == ValueKind::Empty;
    };
    bool logical = false;
    if (a.kind() == ValueKind::Boolean || b.kind() == ValueKind::Boolean) {
        logical = boolish(a) && boolish(b);
    } else if (a.isString() && b.isString()) {
        bool t;
        logical = isBoolText(a.rawString(), t) && isBoolText(b.rawString(), t);
    }
    if (logical) {
        bool x = a.toBool(), y = b.toBool();
        switch (op) {
            case Logic::Or: return TScriptValue::boolean(x || y);
            case Logic::And: return TScriptValue::boolean(x && y);
            case Logic::Xor: return TScriptValue::boolean(x != y);
        }
    }
    Num x = toIntNum(a), y = toIntNum(b);
    int64_t r = 0;
    switch (op) {
        case Logic::Or: r = x.i | y.i; break;
        case Logic::And: r = x.i & y.i; break;
        case Logic::Xor: r = x.i ^ y.i; break;
    }
    return intResult(r, x.wide || y.wide);
}

enum class Order { Less, Equal, Greater, Unordered };

Order compareValues(const TScriptValue& a, const TScriptValue& b) {
    auto textOrder = [](std::string_view x, std::string_view y) {
        int c = x.compare(y);
        return c < 0 ? Order::Less : c > 0 ? Order::Greater : Order::Equal;
    };
    ValueKind ka = a.kind(), kb = b.kind();
    if (ka == ValueKind::String && kb == ValueKind::String)
        return textOrder(a.rawString(), b.rawString());
    if (ka == ValueKind::Empty && kb == ValueKind::Empty) return Order::Equal;
    if (ka == ValueKind::String && kb == ValueKind::Empty) return textOrder(a.rawString(), "");
    if (ka == ValueKind::Empty && kb == ValueKind::String) return textOrder("", b.rawString());
    if ((ka == ValueKind::Boolean && (kb == ValueKind::Boolean || kb == ValueKind::String)) ||
        (kb == ValueKind::Boolean && ka == ValueKind::String)) {
        // False sorts before True.
        int x = a.toBool() ? 1 : 0, y = b.toBool() ? 1 : 0;
        return x < y ? Order::Less : x > y ? Order::Greater : Order::Equal;
    }
    Num x = toNum(a), y = toNum(b);
    if (!x.real && !y.real)
        return x.i < y.i ? Order::Less : x.i > y.i ? Order::Greater : Order::Equal;
    double p = x.asReal(), q = y.asReal();
    if (p < q) return Order::Less;
    if (p > q) return Order::Greater;
    if (p == q) return Order::Equal;
    return Order::Unordered;
}

}  // namespace

TScriptValue TScriptValue::boolean(bool b) {
    TScriptValue v;
    v.kind_ = ValueKind::Boolean;
    v.i_ = b ? 1 : 0;
    return v;
}
TScriptValue TScriptValue::int32(int32_t x) {
    TScriptValue v;
    v.kind_ = ValueKind::Int32;
    v.i_ = x;
    return v;
}
TScriptValue TScriptValue::int64(int64_t x) {
    TScriptValue v;
    v.kind_ = ValueKind::Int64;
    v.i_ = x;
    return v;
}
TScriptValue TScriptValue::uint16(uint16_t x) {
    TScriptValue v;
    v.kind_ = ValueKind::UInt16;
    v.i_ = x;
    return v;
}
TScriptValue TScriptValue::uint8(uint8_t x) {
    TScriptValue v;
    v.kind_ = ValueKind::UInt8;
    v.i_ = x;
    return v;
}
TScriptValue TScriptValue::real(double x) {
    TScriptValue v;
    v.kind_ = ValueKind::Real;
    v.d_ = x;
    return v;
}
TScriptValue TScriptValue::dateTime(double days) {
    TScriptValue v;
    v.kind_ = ValueKind::DateTime;
    v.d_ = days;
    return v;
}
TScriptValue TScriptValue::string(std::string s) {
    TScriptValue v;
    v.kind_ = ValueKind::String;
    v.s_ = std::move(s);
    return v;
}
TScriptValue TScriptValue::element(ElementId id) {
    TScriptValue v;
    v.kind_ = ValueKind::ElementRef;
    v.i_ = id;
    return v;
}

bool TScriptValue::isInteger() const {
    return kind_ == ValueKind::Int32 || kind_ == ValueKind::Int64 || kind_ == ValueKind::UInt16 ||
           kind_ == ValueKind::UInt8;
}

bool TScriptValue::isNumeric() const {
    return isInteger() || kind_ == ValueKind::Real || kind_ == ValueKind::DateTime;
}

std::string TScriptValue::toString() const {
    switch (kind_) {
        case ValueKind::Empty: return {};
        case ValueKind::Boolean: return i_ ? "True" : "False";
        case ValueKind::Int32:
        case ValueKind::Int64:
        case ValueKind::UInt16:
        case ValueKind::UInt8:
        case ValueKind::ElementRef: return std::to_string(i_);
        case ValueKind::Real: return formatReal(d_);
        case ValueKind::DateTime: return formatDateTime(d_);
        case ValueKind::String: return s_;
    }
    return {};
}

int64_t TScriptValue::toInt64() const {
    switch (kind_) {
        case ValueKind::Empty: return 0;
        case ValueKind::Boolean: return i_ ? -1 : 0;
        case ValueKind::Int32:
        case ValueKind::Int64:
        case ValueKind::UInt16:
        case ValueKind::UInt8:
        case ValueKind::ElementRef: return i_;
        case ValueKind::Real:
        case ValueKind::DateTime: {
            double r = roundHalfEven(d_);
            if (!(r >= -9.2233720368547758e18 && r < 9.2233720368547758e18))
                raise("Value " + formatReal(d_) + " is out of the integer range");
            return static_cast<int64_t>(r);
        }
        case ValueKind::String: {
            ParsedNumber p;
            if (!parseNumberText(s_, p)) raise(quoted(s_) + " is not a valid integer value");
            if (p.isInt) return p.i;
            return real(p.d).toInt64();
        }
    }
    return 0;
}

int32_t TScriptValue::toInt32() const {
    int64_t v;
    if (kind_ == ValueKind::Real || kind_ == ValueKind::DateTime) {
        double r = roundHalfEven(d_);
        if (!(r >= -2147483648.0 && r <= 2147483647.0))
            raise("Value " + formatReal(d_) + " is out of the 32-bit integer range");
        return static_cast<int32_t>(r);
    }
    v = toInt64();
    if (!fitsInt32(v)) raise("Value " + std::to_string(v) + " is out of the 32-bit integer range");
    return static_cast<int32_t>(v);
}

double TScriptValue::toReal() const {
    switch (kind_) {
        case ValueKind::Empty: return 0;
        case ValueKind::Boolean: return i_ ? -1.0 : 0.0;
        case ValueKind::Int32:
        case ValueKind::Int64:
        case ValueKind::UInt16:
        case ValueKind::UInt8:
        case ValueKind::ElementRef: return static_cast<double>(i_);
        case ValueKind::Real:
        case ValueKind::DateTime: return d_;
        case ValueKind::String: {
            ParsedNumber p;
            if (!parseNumberText(s_, p)) raise(quoted(s_) + " is not a valid floating point value");
            return p.d;
        }
    }
    return 0;
}

bool TScriptValue::toBool() const {
    switch (kind_) {
        case ValueKind::Empty: return false;
        case ValueKind::Boolean:
        case ValueKind::Int32:
        case ValueKind::Int64:
        case ValueKind::UInt16:
        case ValueKind::UInt8:
        case ValueKind::ElementRef: return i_ != 0;
        case ValueKind::Real:
        case ValueKind::DateTime: return d_ != 0;
        case ValueKind::String: {
            bool b;
            if (isBoolText(s_, b)) return b;
            ParsedNumber p;
            if (!parseNumberText(s_, p)) raise(quoted(s_) + " is not a valid boolean value");
            return p.d != 0;
        }
    }
    return false;
}

TScriptValue TScriptValue::add(const TScriptValue& b) const {
    if (kind_ == ValueKind::String && (b.kind_ == ValueKind::String || b.kind_ == ValueKind::Empty))
        return string(s_ + b.s_);
    if (kind_ == ValueKind::Empty && b.kind_ == ValueKind::String) return b;
    if (kind_ == ValueKind::Int32 && b.kind_ == ValueKind::Int32)
        return intResult(i_ + b.i_, false);  // cannot overflow 64 bits
    return arith(Arith::Add, *this, b);
}

TScriptValue TScriptValue::sub(const TScriptValue& b) const {
    if (kind_ == ValueKind::Int32 && b.kind_ == ValueKind::Int32) return intResult(i_ - b.i_, false);
    return arith(Arith::Sub, *this, b);
}

TScriptValue TScriptValue::mul(const TScriptValue& b) const {
    if (kind_ == ValueKind::Int32 && b.kind_ == ValueKind::Int32) return intResult(i_ * b.i_, false);
    return arith(Arith::Mul, *this, b);
}

TScriptValue TScriptValue::div(const TScriptValue& b) const {
    double x = toNum(*this).asReal();
    double y = toNum(b).asReal();
    if (y == 0) raise(x == 0 || std::isnan(x) ? "Invalid floating point operation" : "Division by zero");
    return realResult(x / y, false);
}

TScriptValue TScriptValue::power(const TScriptValue& b) const {
    // Single precision on purpose: stored games were tuned against it.
    float x = static_cast<float>(toNum(*this).asReal());
    float y = static_cast<float>(toNum(b).asReal());
    float r = std::pow(x, y);
    if (std::isnan(r) && !std::isnan(x) && !std::isnan(y)) raise("Invalid floating point operation");
    if (std::isinf(r) && std::isfinite(x) && std::isfinite(y)) {
        if (x == 0) raise("Division by zero");
        raise("Floating point overflow");
    }
    return real(static_cast<double>(r));
}

TScriptValue TScriptValue::logicalOr(const TScriptValue& b) const { return logic(Logic::Or, *this, b); }
TScriptValue TScriptValue::logicalAnd(const TScriptValue& b) const { return logic(Logic::And, *this, b); }
TScriptValue TScriptValue::logicalXor(const TScriptValue& b) const { return logic(Logic::Xor, *this, b); }

TScriptValue TScriptValue::shl(const TScriptValue& b) const {
    Num x = toIntNum(*this), n = toIntNum(b);
    if (n.i < 0 || n.i >= 64) return intResult(0, x.wide);
    int64_t r = static_cast<int64_t>(static_cast<uint64_t>(x.i) << n.i);
    return intResult(r, x.wide);
}

TScriptValue TScriptValue::shr(const TScriptValue& b) const {
    Num x = toIntNum(*this), n = toIntNum(b);
    if (x.wide) {
        if (n.i < 0 || n.i >= 64) return int64(0);
        return int64(static_cast<int64_t>(static_cast<uint64_t>(x.i) >> n.i));
    }
    if (n.i < 0 || n.i >= 32) return int32(0);
    return int32(static_cast<int32_t>(static_cast<uint32_t>(x.i) >> n.i));
}

TScriptValue TScriptValue::negate() const {
    switch (kind_) {
        case ValueKind::Real: return real(-d_);
        case ValueKind::DateTime: return dateTime(-d_);
        default: break;
    }
    Num x = toNum(*this);
    if (x.real) return real(-x.d);
    if (x.i == INT64_MIN) raise("Integer overflow");
    return intResult(-x.i, x.wide);
}

TScriptValue TScriptValue::logicalNot() const {
    switch (kind_) {
        case ValueKind::Boolean: return boolean(i_ == 0);
        case ValueKind::Empty: return boolean(true);
        case ValueKind::String: {
            bool b;
            if (isBoolText(s_, b)) return boolean(!b);
            break;
        }
        default: break;
    }
    Num x = toIntNum(*this);
    return intResult(~x.i, x.wide);
}

bool TScriptValue::equals(const TScriptValue& b) const {
    return compareValues(*this, b) == Order::Equal;
}
bool TScriptValue::less(const TScriptValue& b) const { return compareValues(*this, b) == Order::Less; }
bool TScriptValue::greater(const TScriptValue& b) const {
    return compareValues(*this, b) == Order::Greater;
}

}  // namespace nb
