#include "scriptlib/std/StdFormat.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/Text.h"
#include "script/ScriptValue.h"

namespace nb::scriptstd {

namespace {

// Widths and zero-padding precisions above this are cut down: a script
// asking for a field of a billion characters gets a long line, not an
// exhausted machine.
constexpr int kMaxField = 4096;
// Significant digits a real can meaningfully be asked for.
constexpr int kMaxRealDigits = 18;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// ---- decimal digits of a real ----------------------------------------------

// value = 0.D1D2D3... x 10^exponent; no digits means zero.
struct Decimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

void stripTrailingZeros(Decimal& d) {
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    if (d.digits.empty()) d.exponent = 0;
}

// Requires a finite value.
Decimal toDecimal(double v) {
    Decimal d;
    d.negative = std::signbit(v);
    v = std::fabs(v);
    if (v == 0) return d;
    // Every double is a finite binary fraction, m * 2^e with m odd, whose
    // decimal expansion ends -e places after the point (at most 767
    // significant digits); all of them are kept, so that rounding happens
    // once, on the exact value (10/3 under 15 decimals is ...333, not ...334).
    int exp2 = 0;
    const double frac = std::frexp(v, &exp2);
    uint64_t mantissa = static_cast<uint64_t>(std::ldexp(frac, 53));
    int e = exp2 - 53;
    while (mantissa != 0 && (mantissa & 1) == 0) {
        mantissa >>= 1;
        ++e;
    }
    const int leading = static_cast<int>(std::floor(std::log10(v)));
    int precision = leading + (e < 0 ? -e : 0) + 2;  // two spare digits for log10's slack
    if (precision > 767) precision = 767;
    if (precision < 1) precision = 1;
    char buf[800];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, precision);
    const char* end = res.ptr;
    const char* p = buf;
    for (; p < end && *p != 'e' && *p != 'E'; ++p)
        if (isDigit(*p)) d.digits += *p;
    int exp10 = 0;
    if (p < end) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exp10);
    d.exponent = exp10 + 1;
    size_t lead = d.digits.find_first_not_of('0');
    if (lead == std::string::npos) return Decimal{d.negative, {}, 0};
    d.digits.erase(0, lead);
    d.exponent -= static_cast<int>(lead);
    stripTrailingZeros(d);
    return d;
}

// Keeps `keep` significant digits, rounding halves away from zero.
void roundDecimal(Decimal& d, int keep) {
    if (static_cast<int>(d.digits.size()) <= keep) return;
    if (keep < 0) {
        d.digits.clear();
        d.exponent = 0;
        return;
    }
    const bool up = d.digits[keep] >= '5';
    d.digits.resize(keep);
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
        if (i >= 0) {
            ++d.digits[i];
        } else {
            d.digits.insert(d.digits.begin(), '1');
            ++d.exponent;
        }
    }
    stripTrailingZeros(d);
}

char digitAt(const Decimal& d, int pos) {
    return pos >= 0 && pos < static_cast<int>(d.digits.size()) ? d.digits[pos] : '0';
}

void insertThousands(std::string& intPart) {
    for (int i = static_cast<int>(intPart.size()) - 3; i > 0; i -= 3) intPart.insert(i, 1, ',');
}

// Fixed notation with `decimals` digits after the point; the sign is left to
// the caller (it is dropped when the rounded value is zero).
std::string fixedDigits(Decimal& d, int decimals, bool thousands) {
    roundDecimal(d, d.exponent + decimals);
    std::string intPart;
    if (d.exponent > 0) {
        for (int i = 0; i < d.exponent; ++i) intPart += digitAt(d, i);
    } else {
        intPart = "0";
    }
    if (thousands) insertThousands(intPart);
    if (decimals > 0) {
        intPart += '.';
        for (int k = 0; k < decimals; ++k) intPart += digitAt(d, d.exponent + k);
    }
    return intPart;
}

std::string nonFiniteText(double v) {
    if (std::isnan(v)) return "NAN";
    return v < 0 ? "-INF" : "INF";
}

std::string formatFixed(double v, int decimals, bool thousands) {
    if (!std::isfinite(v)) return nonFiniteText(v);
    Decimal d = toDecimal(v);
    std::string body = fixedDigits(d, decimals, thousands);
    return (d.negative && !d.digits.empty() ? "-" : "") + body;
}

// "-d.dddE+ddd": `precision` significant digits, an exponent of at least
// three digits with its sign.
std::string formatExponent(double v, int precision) {
    if (!std::isfinite(v)) return nonFiniteText(v);
    Decimal d = toDecimal(v);
    roundDecimal(d, precision);
    std::string out = d.negative && !d.digits.empty() ? "-" : "";
    out += digitAt(d, 0);
    if (precision > 1) {
        out += '.';
        for (int i = 1; i < precision; ++i) out += digitAt(d, i);
    }
    int e = d.digits.empty() ? 0 : d.exponent - 1;
    out += e < 0 ? "E-" : "E+";
    std::string ed = std::to_string(e < 0 ? -e : e);
    if (ed.size() < 3) out.append(3 - ed.size(), '0');
    return out + ed;
}

// The shortest text with `precision` significant digits: fixed notation
// unless the value needs more integer digits than that or is below 0.0001.
std::string formatGeneral(double v, int precision) {
    if (!std::isfinite(v)) return nonFiniteText(v);
    Decimal d = toDecimal(v);
    roundDecimal(d, precision);
    if (d.digits.empty()) return "0";
    std::string out = d.negative ? "-" : "";
    const int n = static_cast<int>(d.digits.size());
    if (d.exponent > precision || d.exponent < -3) {
        out += d.digits[0];
        if (n > 1) out += "." + d.digits.substr(1);
        out += "E" + std::to_string(d.exponent - 1);
    } else if (d.exponent <= 0) {
        out += "0." + std::string(-d.exponent, '0') + d.digits;
    } else {
        for (int i = 0; i < d.exponent; ++i) out += digitAt(d, i);
        if (n > d.exponent) out += "." + d.digits.substr(d.exponent);
    }
    return out;
}

// ---- reading numbers ---------------------------------------------------------

// [sign] digits ["." digits] [("e" | "E") [sign] digits]. An exponent without
// digits is not part of the number.
struct NumberScan {
    size_t mantissaStart = 0;  // first character after the sign
    size_t end = 0;            // first character after the number
    bool negative = false;
    std::string_view intDigits, fracDigits, expDigits;
    bool expNegative = false;
    bool hasDigits() const { return !intDigits.empty() || !fracDigits.empty(); }
};

NumberScan scanNumber(std::string_view s, size_t pos) {
    NumberScan r;
    size_t i = pos;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) r.negative = s[i++] == '-';
    r.mantissaStart = i;
    size_t a = i;
    while (i < s.size() && isDigit(s[i])) ++i;
    r.intDigits = s.substr(a, i - a);
    if (i < s.size() && s[i] == '.') {
        a = ++i;
        while (i < s.size() && isDigit(s[i])) ++i;
        r.fracDigits = s.substr(a, i - a);
    }
    if (r.hasDigits() && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        bool neg = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) neg = s[j++] == '-';
        a = j;
        while (j < s.size() && isDigit(s[j])) ++j;
        if (j > a) {
            r.expDigits = s.substr(a, j - a);
            r.expNegative = neg;
            i = j;
        }
    }
    r.end = i;
    return r;
}

// The scanned number as a double; nothing when it is too large. Values too
// small for a double read as 0.
std::optional<double> convertNumber(const NumberScan& n) {
    std::string text = n.negative ? "-" : "";
    text += n.intDigits.empty() ? std::string_view("0") : n.intDigits;
    text += '.';
    text += n.fracDigits.empty() ? std::string_view("0") : n.fracDigits;
    if (!n.expDigits.empty()) {
        text += n.expNegative ? "e-" : "e";
        text += n.expDigits;
    }
    double v = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (res.ec == std::errc()) return v;
    // Out of range: decide between overflow and underflow by the magnitude.
    int64_t magnitude = 0;
    size_t lead = n.intDigits.find_first_not_of('0');
    if (lead != std::string_view::npos) {
        magnitude = static_cast<int64_t>(n.intDigits.size() - lead);
    } else {
        size_t fz = n.fracDigits.find_first_not_of('0');
        if (fz == std::string_view::npos) return n.negative ? -0.0 : 0.0;
        magnitude = -static_cast<int64_t>(fz);
    }
    int64_t e = 0;
    for (char c : n.expDigits) e = e < 1000000 ? e * 10 + (c - '0') : e;
    magnitude += n.expNegative ? -e : e;
    if (magnitude > 0) return std::nullopt;
    return n.negative ? -0.0 : 0.0;
}

// ---- the formatter -------------------------------------------------------------

struct FormatItem {
    std::optional<size_t> index;
    bool left = false;
    bool widthStar = false, precStar = false;
    int width = -1, precision = -1;
    char type = 0;  // lower case
};

int readCount(std::string_view s, size_t& i) {
    int64_t n = 0;
    while (i < s.size() && isDigit(s[i])) {
        n = n * 10 + (s[i++] - '0');
        if (n > kMaxField) n = kMaxField + 1;
    }
    return static_cast<int>(n);
}

// `item` runs from "%" to its letter.
bool parseSpec(std::string_view item, FormatItem& out) {
    const size_t last = item.size() - 1;
    size_t i = 1;
    size_t j = i;
    while (j < last && isDigit(item[j])) ++j;
    if (j > i && j < last && item[j] == ':') {
        out.index = static_cast<size_t>(readCount(item, i));
        i = j + 1;
    }
    if (i < last && item[i] == '-') {
        out.left = true;
        ++i;
    }
    if (i < last && item[i] == '*') {
        out.widthStar = true;
        ++i;
    } else if (i < last && isDigit(item[i])) {
        out.width = readCount(item, i);
    }
    if (i < last && item[i] == '.') {
        ++i;
        if (i < last && item[i] == '*') {
            out.precStar = true;
            ++i;
        } else {
            out.precision = readCount(item, i);
        }
    }
    if (i != last) return false;
    out.type = static_cast<char>(item[last] | 0x20);
    return true;
}

std::string withMinDigits(std::string digits, int minDigits) {
    if (minDigits > kMaxField) minDigits = kMaxField;
    if (static_cast<int>(digits.size()) < minDigits) digits.insert(0, minDigits - digits.size(), '0');
    return digits;
}

std::string hexDigits(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    return buf;
}

int clampDigits(int precision, int fallback, int low) {
    if (precision < 0) return fallback;
    if (precision < low) return low;
    return precision > kMaxRealDigits ? kMaxRealDigits : precision;
}

// False when the specifier does not take this kind of value.
bool formatArg(const FormatItem& s, const TFormatArg& a, std::string& out) {
    using K = TFormatArg::Kind;
    const bool isInt = a.kind == K::Int32 || a.kind == K::Int64;
    switch (s.type) {
        case 'd': {
            if (!isInt) return false;
            uint64_t mag = a.integer < 0 ? 0 - static_cast<uint64_t>(a.integer)
                                         : static_cast<uint64_t>(a.integer);
            out = (a.integer < 0 ? "-" : "") + withMinDigits(std::to_string(mag), s.precision);
            return true;
        }
        case 'u': {
            if (!isInt) return false;
            uint64_t v = a.kind == K::Int32 ? static_cast<uint32_t>(a.integer)
                                            : static_cast<uint64_t>(a.integer);
            out = withMinDigits(std::to_string(v), s.precision);
            return true;
        }
        case 'x': {
            if (!isInt) return false;
            uint64_t v = a.kind == K::Int32 ? static_cast<uint32_t>(a.integer)
                                            : static_cast<uint64_t>(a.integer);
            out = withMinDigits(hexDigits(v), s.precision);
            return true;
        }
        case 'p': {
            if (!isInt) return false;
            out = withMinDigits(hexDigits(static_cast<uint32_t>(a.integer)), 8);
            return true;
        }
        case 'e':
        case 'f':
        case 'g':
        case 'n':
        case 'm': {
            if (!isInt && a.kind != K::Real) return false;
            const double v = a.kind == K::Real ? a.real : static_cast<double>(a.integer);
            if (s.type == 'e') {
                out = formatExponent(v, clampDigits(s.precision, 15, 1));
            } else if (s.type == 'g') {
                out = formatGeneral(v, clampDigits(s.precision, 15, 1));
            } else if (s.type == 'm') {
                if (!std::isfinite(v)) {
                    out = nonFiniteText(v);
                } else {
                    std::string body = formatFixed(std::fabs(v), clampDigits(s.precision, 2, 0), true);
                    bool negative = v < 0 && body.find_first_of("123456789") != std::string::npos;
                    out = (negative ? "-$" : "$") + body;
                }
            } else {
                out = formatFixed(v, clampDigits(s.precision, 2, 0), s.type == 'n');
            }
            return true;
        }
        case 's':
            out = a.text;
            if (s.precision >= 0 && static_cast<size_t>(s.precision) < out.size()) out.resize(s.precision);
            return true;
        default:
            return false;
    }
}

[[noreturn]] void formatError(std::string_view item) {
    throw ScriptError("Format '" + std::string(item) + "' invalid or incompatible with argument");
}

}  // namespace

TValResult ValReal(std::string_view text) {
    TValResult r;
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    const NumberScan n = scanNumber(text, i);
    if (!n.hasDigits()) {
        r.errorPos = static_cast<int32_t>(n.mantissaStart + 1);
        return r;
    }
    if (n.end < text.size()) {
        r.errorPos = static_cast<int32_t>(n.end + 1);
        return r;
    }
    auto v = convertNumber(n);
    if (!v) {
        r.errorPos = static_cast<int32_t>(i + 1);
        return r;
    }
    r.value = *v;
    return r;
}

std::optional<double> ParseReal(std::string_view text) {
    std::string_view t = trimView(text);
    const NumberScan n = scanNumber(t, 0);
    if (!n.hasDigits() || n.end != t.size()) return std::nullopt;
    return convertNumber(n);
}

int32_t StrToInt(std::string_view text) {
    auto fail = [&]() -> int32_t {
        throw ScriptError("'" + std::string(text) + "' is not a valid integer value");
    };
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    const size_t start = i;
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int digit = -1;
        if (isDigit(c))
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0) return fail();
        v = v * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (v > 0xFFFFFFFFull) return fail();
    }
    if (i == start) return fail();
    if (hex) {
        // Eight hex digits cover the whole 32-bit pattern: "$FFFFFFFF" is -1.
        uint32_t bits = static_cast<uint32_t>(v);
        if (negative) bits = 0u - bits;
        return static_cast<int32_t>(bits);
    }
    if (negative) {
        if (v > 2147483648ull) return fail();
        return static_cast<int32_t>(-static_cast<int64_t>(v));
    }
    if (v > 2147483647ull) return fail();
    return static_cast<int32_t>(v);
}

std::string FloatToStr(double x) {
    std::string s = formatFixed(x, 15, false);
    if (!std::isfinite(x)) return s;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

std::string FormatValues(std::string_view fmt, std::span<const TFormatArg> args) {
    std::string out;
    size_t cursor = 0;
    size_t i = 0;
    while (i < fmt.size()) {
        const char c = fmt[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < fmt.size() && !isAsciiLetter(fmt[j])) ++j;
        if (j == fmt.size()) {
            out.append(fmt.substr(i));  // a specifier without its letter stays as written
            break;
        }
        const std::string_view specText = fmt.substr(i, j - i + 1);
        i = j + 1;

        // The specifier is formatted on its own with the next argument, so a
        // "%%" inside it is a plain "%" and other characters before the
        // conversion are plain text: "%% %d" gives "% 7", and "%%d" gives the
        // text "%d" and still uses up its argument.
        std::string prefix;
        size_t k = 0;
        while (k < specText.size()) {
            if (specText[k] == '%' && k + 1 < specText.size() && specText[k + 1] == '%') {
                prefix += '%';
                k += 2;
            } else if (specText[k] == '%') {
                break;
            } else {
                prefix += specText[k++];
            }
        }
        if (k == specText.size()) {
            if (cursor >= args.size()) continue;  // arguments used up: dropped
            ++cursor;
            out += prefix;
            continue;
        }
        const std::string_view conversion = specText.substr(k);

        FormatItem item;
        if (!parseSpec(conversion, item)) {
            if (cursor >= args.size()) continue;
            formatError(specText);
        }
        if (cursor >= args.size()) continue;  // arguments used up: the specifier is dropped
        // Each specifier is formatted with its own argument alone: a "*" width
        // or precision finds no second one, and an index other than 0 none.
        if (item.widthStar || item.precStar || (item.index && *item.index != 0)) formatError(specText);
        const TFormatArg& arg = args[cursor++];

        std::string text;
        if (!formatArg(item, arg, text)) {
            if (arg.kind == TFormatArg::Kind::String) formatError(specText);
            if (!arg.truncated) throw ScriptError("Invalid floating point operation");
            TFormatArg whole;
            whole.kind = TFormatArg::Kind::Int64;
            whole.integer = *arg.truncated;
            whole.text = std::to_string(*arg.truncated);
            if (!formatArg(item, whole, text)) formatError(specText);
        }
        if (item.width > kMaxField) item.width = kMaxField;
        if (item.width > static_cast<int>(text.size())) {
            const size_t pad = item.width - text.size();
            if (item.left)
                text.append(pad, ' ');
            else
                text.insert(0, pad, ' ');
        }
        out += prefix;
        out += text;
    }
    return out;
}

}  // namespace nb::scriptstd
