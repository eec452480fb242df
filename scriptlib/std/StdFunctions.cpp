#include "scriptlib/std/StdFunctions.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "platform/Text.h"
#include "scriptlib/std/StdDates.h"
#include "scriptlib/std/StdFormat.h"

namespace nb {

namespace {

using namespace nb::scriptstd;

constexpr const char* kInvalidFloatOp = "Invalid floating point operation";
constexpr const char* kFloatOverflow = "Floating point overflow";
constexpr const char* kFloatZeroDivide = "Floating point division by zero";

// ---- argument helpers ----------------------------------------------------------

bool isVarArg(const TVar& v) { return v.name == "VAR"; }

std::string str(const TVar& v) { return v.value.toString(); }
double real(const TVar& v) { return v.value.toReal(); }

// Converted to real, then truncated toward zero. Reals beyond the 32-bit
// range clamp to its ends, so Copy(s, 1, 1e10) still means "to the end"
// instead of wrapping to a negative count.
int32_t truncated(const TVar& v) {
    const double x = v.value.toReal();
    if (!(std::fabs(x) < 9.2e18)) throw ScriptError(kInvalidFloatOp);
    const double t = std::trunc(x);
    if (t > 2147483647.0) return INT32_MAX;
    if (t < -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(t);
}

int64_t truncatedI64(double x) {
    if (!(std::fabs(x) < 9223372036854775808.0)) throw ScriptError(kInvalidFloatOp);
    return static_cast<int64_t>(std::trunc(x));
}

// A real result as the floating-point unit would deliver it: an invalid
// operation or an overflow on finite input is an error, not a NaN or an
// infinity travelling on through the script.
double checked(double result, double input) {
    if (std::isnan(result) && !std::isnan(input)) throw ScriptError(kInvalidFloatOp);
    if (std::isinf(result) && std::isfinite(input)) throw ScriptError(kFloatOverflow);
    return result;
}

TScriptValue u16(int64_t v) { return TScriptValue::uint16(static_cast<uint16_t>(v)); }

// 32-bit integer result of a whole-valued real, with the value type's error
// when it does not fit.
TScriptValue wholeToInt32(double whole) { return TScriptValue::int32(TScriptValue::real(whole).toInt32()); }

TFormatArg toFormatArg(const TScriptValue& v) {
    TFormatArg a;
    using K = TFormatArg::Kind;
    switch (v.kind()) {
        case ValueKind::Int32:
        case ValueKind::UInt16:
        case ValueKind::UInt8:
            a.kind = K::Int32;
            a.integer = v.toInt64();
            break;
        case ValueKind::ElementRef:
            a.kind = K::Int32;
            a.integer = v.elementId();
            break;
        case ValueKind::Int64:
            a.kind = K::Int64;
            a.integer = v.toInt64();
            break;
        case ValueKind::Real:
        case ValueKind::DateTime: {
            a.kind = K::Real;
            a.real = v.toReal();
            if (std::fabs(a.real) < 9223372036854775808.0)
                a.truncated = static_cast<int64_t>(std::trunc(a.real));
            a.text = v.toString();
            return a;
        }
        case ValueKind::String:
            a.kind = K::String;
            a.text = v.rawString();
            return a;
        case ValueKind::Boolean:
        case ValueKind::Empty:
            a.kind = K::Other;
            a.truncated = static_cast<int64_t>(v.toReal());
            a.text = v.toString();
            return a;
    }
    a.truncated = a.integer;
    a.text = std::to_string(a.integer);
    return a;
}

// ---- strings ---------------------------------------------------------------------

bool fnVal(TScriptEngine&, TVarList& a, TVar&) {
    if (a.Count() != 3 || !isVarArg(a[1]) || !isVarArg(a[2])) return false;
    const TValResult r = ValReal(str(a[0]));
    a[1].value = TScriptValue::real(r.value);
    a[2].value = TScriptValue::int32(r.errorPos);
    return true;
}

bool fnChar(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    const int32_t n = a[0].value.toInt32();
    r.value = TScriptValue::string(std::string(1, static_cast<char>(n & 0xFF)));
    return true;
}

bool fnIntToStr(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = TScriptValue::string(std::to_string(a[0].value.toInt32()));
    return true;
}

bool fnStrToInt(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = TScriptValue::int32(scriptstd::StrToInt(str(a[0])));
    return true;
}

bool fnFloatToStr(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = TScriptValue::string(scriptstd::FloatToStr(real(a[0])));
    return true;
}

bool fnStrToFloat(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    const auto v = ParseReal(str(a[0]));
    if (!v) return false;
    r.value = TScriptValue::real(*v);
    return true;
}

bool fnCopy(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 3) return false;
    const std::string s = str(a[0]);
    int64_t index = truncated(a[1]);
    const int64_t count = truncated(a[2]);
    if (index < 1) index = 1;
    std::string out;
    if (count > 0 && index <= static_cast<int64_t>(s.size())) out = s.substr(index - 1, count);
    r.value = TScriptValue::string(std::move(out));
    return true;
}

bool fnPoss(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 2) return false;
    const std::string sub = str(a[0]);
    const std::string s = str(a[1]);
    const size_t at = sub.empty() ? std::string::npos : s.find(sub);
    r.value = TScriptValue::int32(at == std::string::npos ? 0 : static_cast<int32_t>(at + 1));
    return true;
}

bool fnLength(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = TScriptValue::int32(static_cast<int32_t>(str(a[0]).size()));
    return true;
}

bool fnInsert(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 3 || !isVarArg(a[1])) return false;
    const std::string src = str(a[0]);
    std::string s = str(a[1]);
    int64_t index = truncated(a[2]);
    if (index < 1) index = 1;
    if (index > static_cast<int64_t>(s.size()) + 1) index = static_cast<int64_t>(s.size()) + 1;
    s.insert(static_cast<size_t>(index - 1), src);
    a[1].value = TScriptValue::string(s);
    r.value = TScriptValue::string(std::move(s));
    return true;
}

bool fnDelete(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 3 || !isVarArg(a[0])) return false;
    std::string s = str(a[0]);
    const int64_t index = truncated(a[1]);
    const int64_t count = truncated(a[2]);
    // Unlike Copy, an index outside the text removes nothing.
    if (index >= 1 && index <= static_cast<int64_t>(s.size()) && count > 0)
        s.erase(static_cast<size_t>(index - 1), static_cast<size_t>(count));
    a[0].value = TScriptValue::string(s);
    r.value = TScriptValue::string(std::move(s));
    return true;
}

template <std::string (*Fn)(std::string_view)>
bool fnText(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = TScriptValue::string(Fn(str(a[0])));
    return true;
}

bool fnFormat(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() < 2) return false;
    std::vector<TFormatArg> args;
    args.reserve(a.Count() - 1);
    for (size_t i = 1; i < a.Count(); ++i) args.push_back(toFormatArg(a[i].value));
    r.value = TScriptValue::string(FormatValues(str(a[0]), args));
    return true;
}

// ---- dates and times ----------------------------------------------------------------

bool fnDateToStr(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = TScriptValue::string(scriptstd::DateToStr(real(a[0])));
    return true;
}

bool fnTimeToStr(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = TScriptValue::string(scriptstd::TimeToStr(real(a[0])));
    return true;
}

bool fnStrToTime(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = TScriptValue::dateTime(scriptstd::StrToTime(str(a[0])));
    return true;
}

bool fnFormatDateTime(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 2) return false;
    r.value = TScriptValue::string(scriptstd::FormatDateTime(str(a[0]), real(a[1])));
    return true;
}

bool fnDayOfWeek(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = u16(scriptstd::DayOfWeek(real(a[0])));
    return true;
}

bool fnIncMonth(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 2) return false;
    const double d = real(a[0]);
    r.value = TScriptValue::dateTime(scriptstd::IncMonth(d, truncated(a[1])));
    return true;
}

bool fnDecodeDate(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 4 || !isVarArg(a[1]) || !isVarArg(a[2]) || !isVarArg(a[3])) return false;
    const double d = real(a[0]);
    const TDateParts p = scriptstd::DecodeDate(d);
    a[1].value = u16(p.year);
    a[2].value = u16(p.month);
    a[3].value = u16(p.day);
    r.value = TScriptValue::dateTime(d);
    return true;
}

bool fnDecodeTime(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 5) return false;
    for (size_t i = 1; i < 5; ++i)
        if (!isVarArg(a[i])) return false;
    const double d = real(a[0]);
    const TTimeParts p = scriptstd::DecodeTime(d);
    a[1].value = u16(p.hour);
    a[2].value = u16(p.minute);
    a[3].value = u16(p.second);
    a[4].value = u16(p.msec);
    r.value = TScriptValue::dateTime(d);
    return true;
}

bool fnEncodeDate(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 3) return false;
    const int32_t y = truncated(a[0]), m = truncated(a[1]), d = truncated(a[2]);
    r.value = TScriptValue::dateTime(scriptstd::EncodeDate(y, m, d));
    return true;
}

bool fnEncodeTime(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 4) return false;
    const int32_t h = truncated(a[0]), m = truncated(a[1]), s = truncated(a[2]), ms = truncated(a[3]);
    r.value = TScriptValue::dateTime(scriptstd::EncodeTime(h, m, s, ms));
    return true;
}

// ---- numbers -------------------------------------------------------------------------

template <double (*Fn)(double)>
bool fnReal(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    const double x = real(a[0]);
    r.value = TScriptValue::real(checked(Fn(x), x));
    return true;
}

double absOf(double x) { return std::fabs(x); }
double sinOf(double x) { return std::sin(x); }
double cosOf(double x) { return std::cos(x); }
double tanOf(double x) { return std::tan(x); }
double arcSinOf(double x) { return std::asin(x); }
double arcCosOf(double x) { return std::acos(x); }
double arcTanOf(double x) { return std::atan(x); }
double expOf(double x) { return std::exp(x); }
double sqrOf(double x) { return x * x; }
double sqrtOf(double x) { return std::sqrt(x); }
double lnOf(double x) {
    if (x == 0) throw ScriptError(kFloatZeroDivide);
    return std::log(x);
}
double fracOf(double x) {
    if (!std::isfinite(x)) throw ScriptError(kInvalidFloatOp);
    return x - std::trunc(x);
}

bool fnInt(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = TScriptValue::int64(truncatedI64(real(a[0])));
    return true;
}

bool fnRound(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    // The value type's conversion rounds halves to even, as stored games expect.
    r.value = TScriptValue::int32(TScriptValue::real(real(a[0])).toInt32());
    return true;
}

template <double (*Fn)(double)>
bool fnWhole(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = wholeToInt32(Fn(real(a[0])));
    return true;
}

double ceilOf(double x) { return std::ceil(x); }
double floorOf(double x) { return std::floor(x); }
double truncOf(double x) { return std::trunc(x); }

bool fnIntPower(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 2) return false;
    const double base = real(a[0]);
    const int32_t exponent = truncated(a[1]);
    if (base == 0 && exponent < 0) throw ScriptError(kFloatZeroDivide);
    r.value = TScriptValue::real(checked(std::pow(base, exponent), base));
    return true;
}

// ---- variables and selection -----------------------------------------------------

template <bool Increment>
bool fnStep(TScriptEngine& e, TVarList& a, TVar&) {
    if (a.Count() != 1 && a.Count() != 2) return false;
    const TScriptValue step = a.Count() == 2 ? a[1].value : TScriptValue::uint8(1);
    a[0].value = e.ApplyOperator(Increment ? "+" : "-", a[0].value, step);
    return true;
}

template <bool Smallest>
bool fnExtreme(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() < 1) return false;
    const ValueKind kind = a[0].value.kind();
    for (const TVar& v : a)
        if (v.value.kind() != kind) return false;
    const TScriptValue* best = &a[0].value;
    for (size_t i = 1; i < a.Count(); ++i) {
        const TScriptValue& v = a[i].value;
        if (Smallest ? v.less(*best) : v.greater(*best)) best = &v;
    }
    r.value = *best;
    return true;
}

bool fnGetVar(TScriptEngine& e, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    TVar found;
    // Upper-cased with the Cyrillic letters first, then trimmed and
    // ASCII-folded by the engine.
    if (!e.GetVar(cp1251Upper(str(a[0])), found)) return false;
    r.value = found.value;
    return true;
}

bool fnSetVar(TScriptEngine& e, TVarList& a, TVar&) {
    if (a.Count() != 2) return false;
    return e.SetVar(cp1251Upper(str(a[0])), a[1].value);
}

bool fnDecode(TScriptEngine&, TVarList& a, TVar& r) {
    const size_t n = a.Count();
    if (n < 3) return false;
    for (size_t i = 1; i + 1 < n; i += 2) {
        if (a[0].value.equals(a[i].value)) {
            r.value = a[i + 1].value;
            return true;
        }
    }
    if (n % 2 == 0) {  // x, pairs and a default
        r.value = a[n - 1].value;
        return true;
    }
    return false;
}

bool fnYearDays(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 1) return false;
    r.value = u16(IsLeapYear(scriptstd::DecodeDate(real(a[0])).year) ? 366 : 365);
    return true;
}

bool fnYearFrac(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 2) return false;
    r.value = TScriptValue::real(scriptstd::YearFrac(real(a[0]), real(a[1])));
    return true;
}

bool fnMod(TScriptEngine&, TVarList& a, TVar& r) {
    if (a.Count() != 2) return false;
    const int32_t x = a[0].value.toInt32();
    const int32_t y = a[1].value.toInt32();
    if (y == 0) throw ScriptError("Division by zero");
    // -1 divides everything; it is singled out because the smallest integer
    // divided by it overflows the machine division.
    r.value = TScriptValue::int32(y == -1 ? 0 : x % y);
    return true;
}

}  // namespace

std::vector<TStdFunction> MakeStdFunctions(TNowSource now) {
    auto fnNow = [now](TScriptEngine&, TVarList& a, TVar& r) {
        if (a.Count() != 0) return false;
        r.value = TScriptValue::dateTime(now());
        return true;
    };
    auto fnDate = [now](TScriptEngine&, TVarList& a, TVar& r) {
        if (a.Count() != 0) return false;
        r.value = TScriptValue::dateTime(std::trunc(now()));
        return true;
    };
    auto fnTime = [now](TScriptEngine&, TVarList& a, TVar& r) {
        if (a.Count() != 0) return false;
        const double t = now();
        r.value = TScriptValue::dateTime(t - std::trunc(t));
        return true;
    };
    auto fnStrToDate = [now](TScriptEngine&, TVarList& a, TVar& r) {
        if (a.Count() != 1) return false;
        const int64_t year = scriptstd::DecodeDate(now()).year;
        r.value = TScriptValue::dateTime(scriptstd::StrToDate(str(a[0]), year));
        return true;
    };

    return {
        // Strings
        {"Val", fnVal},
        {"Char", fnChar},
        {"IntToStr", fnIntToStr},
        {"StrToInt", fnStrToInt},
        {"FloatToStr", fnFloatToStr},
        {"StrToFloat", fnStrToFloat},
        {"Copy", fnCopy},
        {"Poss", fnPoss},
        {"Length", fnLength},
        {"Insert", fnInsert},
        {"Delete", fnDelete},
        {"Trim", fnText<trim>},
        {"TrimLeft", fnText<trimLeft>},
        {"TrimRight", fnText<trimRight>},
        {"UpperCase", fnText<cp1251Upper>},
        {"LowerCase", fnText<cp1251Lower>},
        {"Format", fnFormat},
        // Date and time
        {"Now", fnNow},
        {"Date", fnDate},
        {"Time", fnTime},
        {"DateToStr", fnDateToStr},
        {"StrToDate", fnStrToDate},
        {"TimeToStr", fnTimeToStr},
        {"StrToTime", fnStrToTime},
        {"FormatDateTime", fnFormatDateTime},
        {"DayOfWeek", fnDayOfWeek},
        {"IncMonth", fnIncMonth},
        {"DecodeDate", fnDecodeDate},
        {"DecodeTime", fnDecodeTime},
        {"EncodeDate", fnEncodeDate},
        {"EncodeTime", fnEncodeTime},
        // Numbers
        {"Abs", fnReal<absOf>},
        {"Int", fnInt},
        {"Frac", fnReal<fracOf>},
        {"Round", fnRound},
        {"Ceil", fnWhole<ceilOf>},
        {"Floor", fnWhole<floorOf>},
        {"Trunc", fnWhole<truncOf>},
        {"Sin", fnReal<sinOf>},
        {"Cos", fnReal<cosOf>},
        {"Tan", fnReal<tanOf>},
        {"ArcSin", fnReal<arcSinOf>},
        {"ArcCos", fnReal<arcCosOf>},
        {"ArcTan", fnReal<arcTanOf>},
        {"Exp", fnReal<expOf>},
        {"Ln", fnReal<lnOf>},
        {"IntPower", fnIntPower},
        {"Sqr", fnReal<sqrOf>},
        {"Sqrt", fnReal<sqrtOf>},
        // Variables and selection
        {"Inc", fnStep<true>},
        {"Dec", fnStep<false>},
        {"Min", fnExtreme<true>},
        {"Max", fnExtreme<false>},
        {"GetVar", fnGetVar},
        {"SetVar", fnSetVar},
        {"Decode", fnDecode},
        {"YearDays", fnYearDays},
        {"YearFrac", fnYearFrac},
        {"Mod", fnMod},
    };
}

void RegisterStdFunctions(TScriptEngine& engine, TNowSource now) {
    for (TStdFunction& f : MakeStdFunctions(std::move(now))) engine.SetFunction(f.name, std::move(f.routine));
}

void RegisterStdFunctions(TScriptEngine& engine) { RegisterStdFunctions(engine, scriptstd::SystemNow); }

}  // namespace nb
