// Number texts: reading (Val, StrToFloat, StrToInt), FloatToStr and the "%"
// formatter.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "script/ScriptValue.h"
#include "scriptlib/std/StdFormat.h"

using namespace nb;
using namespace nb::scriptstd;

namespace {

TFormatArg I(int64_t v) {
    TFormatArg a;
    a.kind = TFormatArg::Kind::Int32;
    a.integer = v;
    a.truncated = v;
    a.text = std::to_string(v);
    return a;
}
TFormatArg I64(int64_t v) {
    TFormatArg a = I(v);
    a.kind = TFormatArg::Kind::Int64;
    return a;
}
TFormatArg R(double v, std::string text = "") {
    TFormatArg a;
    a.kind = TFormatArg::Kind::Real;
    a.real = v;
    if (std::fabs(v) < 9.2e18) a.truncated = static_cast<int64_t>(std::trunc(v));
    a.text = std::move(text);
    return a;
}
TFormatArg S(std::string s) {
    TFormatArg a;
    a.kind = TFormatArg::Kind::String;
    a.text = std::move(s);
    return a;
}
TFormatArg B(bool b) {
    TFormatArg a;
    a.kind = TFormatArg::Kind::Other;
    a.truncated = b ? -1 : 0;
    a.text = b ? "True" : "False";
    return a;
}

std::string fmt(std::string_view f, std::vector<TFormatArg> args) { return FormatValues(f, args); }

std::string fmtError(std::string_view f, std::vector<TFormatArg> args) {
    try {
        return "(no error) " + FormatValues(f, args);
    } catch (const ScriptError& e) {
        return e.what();
    }
}

}  // namespace

TEST(StdFormat, FloatToStrUsesFifteenDecimalsAndDropsTrailingZeros) {
    EXPECT_EQ(FloatToStr(1.5), "1.5");
    EXPECT_EQ(FloatToStr(2), "2");
    EXPECT_EQ(FloatToStr(0.1), "0.1");
    EXPECT_EQ(FloatToStr(100), "100");
    EXPECT_EQ(FloatToStr(-0.25), "-0.25");
    EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FloatToStr(2.0 / 3), "0.666666666666667");
    EXPECT_EQ(FloatToStr(123456789.125), "123456789.125");
    EXPECT_EQ(FloatToStr(1e20), "100000000000000000000");
    // Rounded once, on the exact value: 10/3 is 3.33333333333333348..., and
    // reals of three integer digits show the digits the double really holds.
    EXPECT_EQ(FloatToStr(10.0 / 3), "3.333333333333333");
    EXPECT_EQ(FloatToStr(123.45), "123.450000000000003");
    EXPECT_EQ(fmt("%.15f", {R(10.0 / 3)}), "3.333333333333333");
    // Below the fifteenth decimal a value reads as zero, without a sign.
    EXPECT_EQ(FloatToStr(1e-16), "0");
    EXPECT_EQ(FloatToStr(-1e-16), "0");
    EXPECT_EQ(FloatToStr(-0.0), "0");
    // 2^-16 has a 5 in the sixteenth decimal: halves go away from zero.
    EXPECT_EQ(FloatToStr(std::ldexp(1.0, -16)), "0.000015258789063");
    EXPECT_EQ(FloatToStr(std::nan("")), "NAN");
    EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(StdFormat, ValReportsTheFirstCharacterThatDoesNotFit) {
    auto val = [](std::string_view s) { return ValReal(s); };
    EXPECT_EQ(val("12.5").value, 12.5);
    EXPECT_EQ(val("12.5").errorPos, 0);
    EXPECT_EQ(val("  3").value, 3.0);
    EXPECT_EQ(val("  3").errorPos, 0);
    EXPECT_EQ(val("1e3").value, 1000.0);
    EXPECT_EQ(val("-.5").value, -0.5);
    EXPECT_EQ(val("5.").value, 5.0);
    EXPECT_EQ(val("5.").errorPos, 0);
    EXPECT_EQ(val("1E-999").value, 0.0);
    EXPECT_EQ(val("1E-999").errorPos, 0);

    EXPECT_EQ(val("12abc").errorPos, 3);
    EXPECT_EQ(val("12abc").value, 0.0);
    EXPECT_EQ(val("1 ").errorPos, 2);  // trailing blanks do not fit
    EXPECT_EQ(val("").errorPos, 1);
    EXPECT_EQ(val("abc").errorPos, 1);
    EXPECT_EQ(val("-").errorPos, 2);
    EXPECT_EQ(val(".").errorPos, 1);
    EXPECT_EQ(val("  -x").errorPos, 4);
    EXPECT_EQ(val("1e").errorPos, 2);  // an exponent needs digits
    EXPECT_EQ(val("1e+").errorPos, 2);
    EXPECT_EQ(val("1.5.2").errorPos, 4);
    EXPECT_EQ(val("1,5").errorPos, 2);
    EXPECT_NE(val("1e999").errorPos, 0);  // too large for a real
}

TEST(StdFormat, ParseRealNeedsTheWholeTrimmedText) {
    EXPECT_EQ(ParseReal(" 2.5 "), 2.5);
    EXPECT_EQ(ParseReal("\t7\r\n"), 7.0);
    EXPECT_EQ(ParseReal("1E3"), 1000.0);
    EXPECT_EQ(ParseReal("-4"), -4.0);
    EXPECT_EQ(ParseReal("+4e-1"), 0.4);
    EXPECT_EQ(ParseReal("1e-400"), 0.0);
    for (const char* bad : {"", " ", "1,5", "1e", ".", "abc", "1.5x", "1e400", "--1", "0x10", "nan", "inf"})
        EXPECT_FALSE(ParseReal(bad).has_value()) << bad;
}

TEST(StdFormat, StrToIntAcceptsDecimalAndHexAndRejectsTheRest) {
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("  -17"), -17);
    EXPECT_EQ(StrToInt("+8"), 8);
    EXPECT_EQ(StrToInt("2147483647"), INT32_MAX);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("0x1a"), 26);
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(StrToInt("-$10"), -16);
    for (const char* bad : {"", "abc", "12a", "42 ", "1.0", "$", "0x", "2147483648", "-2147483649",
                            "$100000000", "99999999999999999999", "- 1"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const ScriptError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

TEST(StdFormat, IntegerSpecifiers) {
    EXPECT_EQ(fmt("%d pts", {I(7)}), "7 pts");
    EXPECT_EQ(fmt("[%5d|%-5d|%.3d|%.3d]", {I(42), I(42), I(7), I(-7)}), "[   42|42   |007|-007]");
    EXPECT_EQ(fmt("%6.4d|", {I(-5)}), " -0005|");
    EXPECT_EQ(fmt("%d", {I64(-9000000000)}), "-9000000000");
    EXPECT_EQ(fmt("%d", {I64(INT64_MIN)}), "-9223372036854775808");
    EXPECT_EQ(fmt("%u %u", {I(-1), I64(-1)}), "4294967295 18446744073709551615");
    EXPECT_EQ(fmt("%x %X %.4x %x", {I(255), I(255), I(255), I(-1)}), "FF FF 00FF FFFFFFFF");
    EXPECT_EQ(fmt("%x", {I64(-1)}), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(fmt("%p", {I(255)}), "000000FF");
    EXPECT_EQ(fmt("%D", {I(3)}), "3");
}

TEST(StdFormat, RealSpecifiersRoundHalvesAwayFromZero) {
    EXPECT_EQ(fmt("%f", {R(3.14159)}), "3.14");
    EXPECT_EQ(fmt("%.3f", {R(2.0)}), "2.000");
    EXPECT_EQ(fmt("%.0f %.0f %.0f", {R(2.5), R(-2.5), R(0.4)}), "3 -3 0");
    EXPECT_EQ(fmt("%.2f", {R(0.125)}), "0.13");
    EXPECT_EQ(fmt("%.2f", {R(9.995)}), "9.99");  // 9.995 is stored slightly below
    EXPECT_EQ(fmt("%.2f", {R(99.999)}), "100.00");
    EXPECT_EQ(fmt("%.1f", {R(-0.04)}), "0.0");
    EXPECT_EQ(fmt("%8.2f|", {R(-1.5)}), "   -1.50|");
    EXPECT_EQ(fmt("%f", {I(5)}), "5.00");  // integers are taken as reals
    EXPECT_EQ(fmt("%.30f", {R(0.5)}), "0.500000000000000000");  // at most 18 decimals

    EXPECT_EQ(fmt("%e", {R(1.5)}), "1.50000000000000E+000");
    EXPECT_EQ(fmt("%.3e", {R(12345.678)}), "1.23E+004");
    EXPECT_EQ(fmt("%.2e", {R(-0.000123)}), "-1.2E-004");
    EXPECT_EQ(fmt("%.1e", {R(9.9)}), "1E+001");
    EXPECT_EQ(fmt("%e", {R(0)}), "0.00000000000000E+000");

    EXPECT_EQ(fmt("%g", {R(0.5)}), "0.5");
    EXPECT_EQ(fmt("%g", {R(1e20)}), "1E20");
    EXPECT_EQ(fmt("%g", {R(123456)}), "123456");
    EXPECT_EQ(fmt("%g", {R(0.0001)}), "0.0001");
    EXPECT_EQ(fmt("%g", {R(0.00001)}), "1E-5");
    EXPECT_EQ(fmt("%.3g", {R(1234.5)}), "1.23E3");
    EXPECT_EQ(fmt("%.3g", {R(-2.0 / 3)}), "-0.667");
    EXPECT_EQ(fmt("%g", {R(0)}), "0");

    EXPECT_EQ(fmt("%n", {R(1234567.891)}), "1,234,567.89");
    EXPECT_EQ(fmt("%.0n", {R(999.5)}), "1,000");
    EXPECT_EQ(fmt("%n", {R(-123.456)}), "-123.46");
    EXPECT_EQ(fmt("%m|%m", {R(-1234.5), I(5)}), "-$1,234.50|$5.00");

    EXPECT_EQ(fmt("%f %e %g", {R(std::nan("")), R(INFINITY), R(-INFINITY)}), "NAN INF -INF");
}

TEST(StdFormat, StringsAndTheTruncatedFallBack) {
    EXPECT_EQ(fmt("%s-%s", {S("a")}), "a-");
    EXPECT_EQ(fmt("[%.2s|%-4s|%4s]", {S("abcdef"), S("ab"), S("ab")}), "[ab|ab  |  ab]");
    EXPECT_EQ(fmt("%s %s %s", {I(5), R(1.5, "1.5"), B(true)}), "5 1.5 True");
    // A real under an integer specifier is formatted truncated to 64 bits.
    EXPECT_EQ(fmt("%d %d %x", {R(7.9), R(-7.9), R(255.5)}), "7 -7 FF");
    EXPECT_EQ(fmt("%d", {R(1e18)}), "1000000000000000000");
    EXPECT_EQ(fmt("%d %d", {B(true), B(false)}), "-1 0");
    // When that is refused too, the error names the specifier.
    EXPECT_EQ(fmtError("%d", {S("abc")}), "Format '%d' invalid or incompatible with argument");
    EXPECT_EQ(fmtError("x%5.1f", {S("abc")}), "Format '%5.1f' invalid or incompatible with argument");
    EXPECT_EQ(fmtError("%k", {I(1)}), "Format '%k' invalid or incompatible with argument");
    EXPECT_EQ(fmtError("%#d", {I(1)}), "Format '%#d' invalid or incompatible with argument");
    EXPECT_EQ(fmtError("%d", {R(std::nan(""))}), "Invalid floating point operation");
    EXPECT_EQ(fmtError("%d", {R(1e30)}), "Invalid floating point operation");
}

TEST(StdFormat, SpecifiersWithoutArgumentsAndOpenEnds) {
    EXPECT_EQ(fmt("%d %d %d.", {I(1)}), "1  .");
    EXPECT_EQ(fmt("a%sb%sc", {S("X")}), "aXbc");
    EXPECT_EQ(fmt("%s %k", {S("X")}), "X ");  // no argument: even a bad one is dropped
    EXPECT_EQ(fmt("50%", {I(1)}), "50%");
    EXPECT_EQ(fmt("%d ab %5", {I(1)}), "1 ab %5");
    EXPECT_EQ(fmt("%d%", {I(1)}), "1%");
    EXPECT_EQ(fmt("100%% %d", {I(5)}), "100% 5");
    EXPECT_EQ(fmt("%%d", {I(5)}), "%d");
    // "%%" starts a specifier like any "%": at the end it stays as written,
    // before a letter it uses up an argument, and with none left it is dropped
    // up to that letter.
    EXPECT_EQ(fmt("%d%%", {I(50)}), "50%%");
    EXPECT_EQ(fmt("%%d|%d", {I(1), I(2)}), "%d|2");
    EXPECT_EQ(fmt("%d%% done", {I(5)}), "5one");
    EXPECT_EQ(fmtError("%d%%s", {I(1), R(1.5)}), "(no error) 1%s");
    EXPECT_EQ(fmt("", {I(5)}), "");
    // Non-ASCII bytes are plain text, never a specifier's letter.
    EXPECT_EQ(fmt("\xC0\xE1%s\xFF", {S("\xC0")}), "\xC0\xE1\xC0\xFF");
}

TEST(StdFormat, EachSpecifierTakesExactlyTheNextArgument) {
    // Every specifier is formatted with one argument: index 0 is that one,
    // other indexes and "*" ask for arguments it does not have.
    EXPECT_EQ(fmt("%0:s%0:s", {S("x"), S("y")}), "xy");
    EXPECT_EQ(fmt("%0:s%0:s", {S("x")}), "x");
    EXPECT_EQ(fmtError("%s %1:s", {S("a"), S("b")}), "Format '%1:s' invalid or incompatible with argument");
    EXPECT_EQ(fmtError("%*d", {I(4), I(7)}), "Format '%*d' invalid or incompatible with argument");
    EXPECT_EQ(fmtError("%.*f", {I(1), R(2.25)}), "Format '%.*f' invalid or incompatible with argument");
    EXPECT_EQ(fmt("%d %*d", {I(3)}), "3 ");  // no argument left: dropped, not refused
    // Absurd widths are capped instead of exhausting memory.
    EXPECT_EQ(fmt("%999999999d", {I(1)}).size(), 4096u);
    EXPECT_EQ(fmt("%.999999999d", {I(1)}).size(), 4096u);
}
