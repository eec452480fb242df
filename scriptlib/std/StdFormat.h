// Number texts for the standard script functions: reading numbers (Val,
// StrToFloat, StrToInt), writing reals, and the "%" formatter behind Format.
//
// Reals are written from their exact decimal expansion and rounded once, on
// that, with halves away from zero, so 0.125 under "%.2f" gives "0.13", 2.5
// under "%.0f" gives "3" and 123.45 under 15 decimals "123.450000000000003".
// The locale is fixed: point ".", thousands separator ",", currency "$" in
// front ("-$1,234.50" when negative).
//
// Failures throw ScriptError with the texts scripts see after
// "Invalid parameters, function NAME : ".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nb::scriptstd {

// ---- Reading numbers -------------------------------------------------------

// What Val reports: the real read and the 1-based position of the first
// character that does not fit a number, 0 when the whole text was read. On an
// error the value is 0. Leading spaces are skipped; trailing ones do not fit.
struct TValResult {
    double value = 0;
    int32_t errorPos = 0;
};
TValResult ValReal(std::string_view text);

// The whole text, trimmed of codes 32 and below, as a decimal real with the
// point "." and an optional exponent; nothing when anything is left over or
// the value is too large for a double.
std::optional<double> ParseReal(std::string_view text);

// A 32-bit integer: leading spaces, an optional sign, decimal digits or hex
// digits after "$" or "0x"; throws "'TEXT' is not a valid integer value".
int32_t StrToInt(std::string_view text);

// ---- Writing reals ---------------------------------------------------------

// x with 15 decimals, then trailing zeros and a trailing point removed:
// 1.5 -> "1.5", 2 -> "2", 0.1 -> "0.1". NaN and infinities read "NAN", "INF",
// "-INF".
std::string FloatToStr(double x);

// ---- The "%" formatter -----------------------------------------------------

// One argument as the formatter sees it. Integers go to d, u, x and p; reals
// to e, f, g, n and m (integers are accepted there too); every kind has a
// text for s.
struct TFormatArg {
    enum class Kind : uint8_t {
        Int32,  // 32-bit and narrower integers (u and x show 32 bits)
        Int64,
        Real,
        String,
        Other,  // Booleans, empty values: only s takes them directly
    };
    Kind kind = Kind::Other;
    int64_t integer = 0;  // Int32, Int64
    double real = 0;      // Real
    std::string text;     // what s shows
    // The value truncated toward zero to 64 bits, offered when a specifier
    // refuses the value itself (a real under "%d"); empty for strings and for
    // values without one (NaN, out of range).
    std::optional<int64_t> truncated;
};

// Formats `fmt` with the arguments. Text outside specifiers is copied. A
// specifier is "%" [index ":"] ["-"] [width] ["." precision] and a letter
// (d u x e f g n m p s, either case), formatted with the next argument alone:
// an index other than 0 and a "*" width or precision find nothing and are
// refused. The specifier runs from a "%" to the next ASCII letter,
// so a "%%" starts one too: inside it "%%" is one "%" ("%d%%" keeps its "%%",
// which never reaches a letter, and "%%d" gives "%d" and uses up an argument);
// one still open at the end is copied unchanged. Specifiers that find no
// argument left are dropped. A value the specifier refuses is replaced by its
// truncated 64-bit integer; when that is refused too (or the specifier is
// malformed) this throws "Format 'SPECIFIER' invalid or incompatible with argument".
std::string FormatValues(std::string_view fmt, std::span<const TFormatArg> args);

}  // namespace nb::scriptstd
