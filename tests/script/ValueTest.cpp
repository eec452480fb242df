#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

#include "script/ScriptValue.h"

namespace nb {
namespace {

using V = TScriptValue;

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ScriptError& e) {
        return e.what();
    }
    return "<no error>";
}

TEST(ScriptValue, TextFormOfEveryKind) {
    EXPECT_EQ(V::int32(-42).toString(), "-42");
    EXPECT_EQ(V::int64(INT64_MIN).toString(), "-9223372036854775808");
    EXPECT_EQ(V::uint8(255).toString(), "255");
    EXPECT_EQ(V::element(4000000000u).toString(), "4000000000");
    EXPECT_EQ(V::boolean(true).toString(), "True");
    EXPECT_EQ(V::boolean(false).toString(), "False");
    EXPECT_EQ(V().toString(), "");
    // Reals: shortest general form, 15 significant digits, point ".".
    EXPECT_EQ(V::real(0.1).toString(), "0.1");
    EXPECT_EQ(V::real(1.5).toString(), "1.5");
    EXPECT_EQ(V::real(100).toString(), "100");
    EXPECT_EQ(V::real(-2.5).toString(), "-2.5");
    EXPECT_EQ(V::real(1.0 / 3).toString(), "0.333333333333333");
    EXPECT_EQ(V::real(2.0 / 3).toString(), "0.666666666666667");
    EXPECT_EQ(V::real(1e20).toString(), "1E20");
    EXPECT_EQ(V::real(1.5e-7).toString(), "1.5E-7");
    EXPECT_EQ(V::real(1e15).toString(), "1E15");
    EXPECT_EQ(V::real(123456789012345.0).toString(), "123456789012345");
    EXPECT_EQ(V::real(0.0001).toString(), "0.0001");
    EXPECT_EQ(V::real(0.00001).toString(), "1E-5");
    EXPECT_EQ(V::real(0.0).toString(), "0");
    // Date-times: dd.mm.yyyy, time only when not midnight.
    EXPECT_EQ(V::dateTime(0).toString(), "30.12.1899");
    EXPECT_EQ(V::dateTime(36526.5).toString(), "01.01.2000 12:00:00");
    EXPECT_EQ(V::dateTime(36585).toString(), "29.02.2000");
    EXPECT_EQ(V::dateTime(-1.25).toString(), "29.12.1899 06:00:00");
    EXPECT_EQ(V::dateTime(1.0 / 86400 * 3661).toString(), "30.12.1899 01:01:01");
    EXPECT_NE(errorOf([] { (void)V::dateTime(1e300).toString(); }), "<no error>");
}

TEST(ScriptValue, IntegerConversionRoundsHalvesToEvenAndChecksRange) {
    EXPECT_EQ(V::real(2.5).toInt32(), 2);
    EXPECT_EQ(V::real(3.5).toInt32(), 4);
    EXPECT_EQ(V::real(-2.5).toInt32(), -2);
    EXPECT_EQ(V::real(-2.6).toInt32(), -3);
    EXPECT_EQ(V::boolean(true).toInt32(), -1);
    EXPECT_EQ(V::boolean(false).toInt32(), 0);
    EXPECT_EQ(V::string("12").toInt32(), 12);
    EXPECT_EQ(V::string(" -7 ").toInt32(), -7);
    EXPECT_EQ(V::string("2.5").toInt32(), 2);
    EXPECT_EQ(V().toInt32(), 0);
    EXPECT_EQ(errorOf([] { (void)V::string("abc").toInt32(); }), "'abc' is not a valid integer value");
    EXPECT_NE(errorOf([] { (void)V::real(3e9).toInt32(); }), "<no error>");
    EXPECT_NE(errorOf([] { (void)V::int64(int64_t(1) << 40).toInt32(); }), "<no error>");
    EXPECT_NE(errorOf([] { (void)V::real(std::nan("")).toInt32(); }), "<no error>");
    EXPECT_EQ(V::real(3e9).toInt64(), 3000000000);
    EXPECT_EQ(V::real(2147483647.0).toInt32(), INT32_MAX);
}

TEST(ScriptValue, RealAndBooleanConversions) {
    EXPECT_DOUBLE_EQ(V::string("1.5").toReal(), 1.5);
    EXPECT_DOUBLE_EQ(V::string("2e3").toReal(), 2000);
    EXPECT_DOUBLE_EQ(V::boolean(true).toReal(), -1);
    EXPECT_EQ(errorOf([] { (void)V::string("1.5x").toReal(); }), "'1.5x' is not a valid floating point value");
    EXPECT_NE(errorOf([] { (void)V::string("nan").toReal(); }), "<no error>");
    EXPECT_TRUE(V::string("true").toBool());
    EXPECT_FALSE(V::string("FaLsE").toBool());
    EXPECT_FALSE(V::string("0").toBool());
    EXPECT_TRUE(V::string("2").toBool());
    EXPECT_TRUE(V::real(0.5).toBool());
    EXPECT_FALSE(V::int32(0).toBool());
    EXPECT_FALSE(V().toBool());
    EXPECT_NE(errorOf([] { (void)V::string("yes").toBool(); }), "<no error>");
}

TEST(ScriptValue, ArithmeticKindsAndOverflow) {
    V sum = V::int32(INT32_MAX).add(V::int32(1));
    EXPECT_EQ(sum.kind(), ValueKind::Int64);  // widens instead of wrapping
    EXPECT_EQ(sum.rawInt(), 2147483648LL);
    EXPECT_EQ(V::int32(INT32_MIN).sub(V::int32(1)).rawInt(), -2147483649LL);
    EXPECT_EQ(V::int32(70000).mul(V::int32(70000)).rawInt(), 4900000000LL);
    EXPECT_NE(errorOf([] { (void)V::int64(INT64_MAX).add(V::int32(1)); }), "<no error>");
    EXPECT_EQ(V::int32(3).add(V::int32(4)).kind(), ValueKind::Int32);
    V byteSum = V::int32(5).add(V::uint8(1));
    EXPECT_EQ(byteSum.kind(), ValueKind::Int32);
    EXPECT_EQ(byteSum.rawInt(), 6);
    V mixed = V::int32(1).add(V::real(0.5));
    EXPECT_EQ(mixed.kind(), ValueKind::Real);
    EXPECT_DOUBLE_EQ(mixed.rawReal(), 1.5);
    // Strings with numbers are read as numbers; two strings concatenate.
    EXPECT_EQ(V::string("5").add(V::int32(1)).rawInt(), 6);
    EXPECT_EQ(V::string("5").add(V::int32(1)).kind(), ValueKind::Int32);
    EXPECT_DOUBLE_EQ(V::string("1.5").add(V::int32(1)).rawReal(), 2.5);
    EXPECT_EQ(V::string("ab").add(V::string("cd")).rawString(), "abcd");
    EXPECT_EQ(V::string("ab").add(V()).rawString(), "ab");
    EXPECT_NE(errorOf([] { (void)V::string("ab").add(V::int32(1)); }), "<no error>");
    EXPECT_EQ(V::string("6").mul(V::string("7")).rawInt(), 42);
    // Booleans count as -1 in arithmetic; element references lose their kind.
    EXPECT_EQ(V::boolean(true).add(V::int32(1)).rawInt(), 0);
    V fromElement = V::element(7).add(V::int32(1));
    EXPECT_FALSE(fromElement.isElement());
    EXPECT_EQ(fromElement.rawInt(), 8);
    // Date-times stay date-times when moved by a number.
    EXPECT_EQ(V::dateTime(100).add(V::int32(1)).kind(), ValueKind::DateTime);
    EXPECT_EQ(V::dateTime(100).sub(V::dateTime(40)).kind(), ValueKind::Real);
}

TEST(ScriptValue, DivisionAndPower) {
    V half = V::int32(7).div(V::int32(2));
    EXPECT_EQ(half.kind(), ValueKind::Real);
    EXPECT_DOUBLE_EQ(half.rawReal(), 3.5);
    EXPECT_EQ(V::int32(4).div(V::int32(2)).kind(), ValueKind::Real);
    EXPECT_NE(errorOf([] { (void)V::int32(1).div(V::int32(0)); }), "<no error>");
    EXPECT_NE(errorOf([] { (void)V::int32(0).div(V::real(0)); }), "<no error>");
    V p = V::int32(2).power(V::int32(10));
    EXPECT_EQ(p.kind(), ValueKind::Real);
    EXPECT_DOUBLE_EQ(p.rawReal(), 1024);
    // Single precision: 0.1^1 is the float nearest 0.1, not the double.
    EXPECT_EQ(V::real(0.1).power(V::int32(1)).rawReal(), static_cast<double>(0.1f));
    EXPECT_NE(errorOf([] { (void)V::int32(-8).power(V::real(0.5)); }), "<no error>");
    EXPECT_NE(errorOf([] { (void)V::int32(10).power(V::int32(60)); }), "<no error>");
}

TEST(ScriptValue, LogicalBitwiseAndShifts) {
    EXPECT_EQ(V::boolean(true).logicalAnd(V::boolean(false)).kind(), ValueKind::Boolean);
    EXPECT_TRUE(V::boolean(true).logicalXor(V::boolean(false)).rawBool());
    EXPECT_TRUE(V::string("TRUE").logicalOr(V::boolean(false)).rawBool());
    EXPECT_EQ(V::int32(6).logicalAnd(V::int32(3)).rawInt(), 2);
    EXPECT_EQ(V::int32(6).logicalOr(V::int32(3)).rawInt(), 7);
    EXPECT_EQ(V::int32(6).logicalXor(V::int32(3)).rawInt(), 5);
    EXPECT_EQ(V::int32(6).logicalAnd(V::int32(3)).kind(), ValueKind::Int32);
    EXPECT_EQ(V::int32(-1).logicalNot().kind(), ValueKind::Int32);
    EXPECT_EQ(V::int32(5).logicalNot().rawInt(), -6);
    EXPECT_FALSE(V::boolean(true).logicalNot().rawBool());
    EXPECT_TRUE(V::string("false").logicalNot().rawBool());
    V big = V::int32(1).shl(V::int32(31));
    EXPECT_EQ(big.kind(), ValueKind::Int64);
    EXPECT_EQ(big.rawInt(), 2147483648LL);
    EXPECT_EQ(V::int32(1).shl(V::int32(4)).rawInt(), 16);
    EXPECT_EQ(V::int32(-8).shr(V::int32(1)).rawInt(), 2147483644LL);  // logical, 32 bits
    EXPECT_EQ(V::int32(-8).shr(V::int32(0)).rawInt(), -8);
    EXPECT_EQ(V::int32(1).shl(V::int32(64)).rawInt(), 0);
    EXPECT_EQ(V::int64(-8).shr(V::int32(60)).rawInt(), 15);
}

TEST(ScriptValue, NegationKeepsKindsSensible) {
    EXPECT_EQ(V::int32(5).negate().rawInt(), -5);
    V wide = V::int32(INT32_MIN).negate();
    EXPECT_EQ(wide.kind(), ValueKind::Int64);
    EXPECT_EQ(wide.rawInt(), 2147483648LL);
    EXPECT_EQ(V::real(1.5).negate().rawReal(), -1.5);
    EXPECT_EQ(V::string("3").negate().rawInt(), -3);
    EXPECT_NE(errorOf([] { (void)V::string("x").negate(); }), "<no error>");
    EXPECT_NE(errorOf([] { (void)V::int64(INT64_MIN).negate(); }), "<no error>");
}

TEST(ScriptValue, Comparisons) {
    EXPECT_TRUE(V::string("a").less(V::string("b")));
    EXPECT_TRUE(V::string("B").less(V::string("a")));  // byte order
    EXPECT_TRUE(V::string("abc").equals(V::string("abc")));
    EXPECT_FALSE(V::string("abc").equals(V::string("ABC")));
    EXPECT_TRUE(V::int32(1).equals(V::real(1.0)));
    EXPECT_TRUE(V::string("10").equals(V::int32(10)));
    EXPECT_TRUE(V::string("9").less(V::int32(10)));  // numeric, not textual
    EXPECT_NE(errorOf([] { (void)V::string("x").less(V::int32(1)); }), "<no error>");
    EXPECT_TRUE(V::element(3).equals(V::element(3)));
    EXPECT_FALSE(V::element(3).equals(V::element(4)));
    EXPECT_TRUE(V::int64(INT64_MAX).greater(V::int64(INT64_MAX - 1)));  // exact, not via double
    EXPECT_TRUE(V::boolean(false).less(V::boolean(true)));
    EXPECT_TRUE(V().equals(V()));
    EXPECT_TRUE(V().equals(V::string("")));
    EXPECT_FALSE(V::real(std::nan("")).equals(V::real(std::nan(""))));
}

}  // namespace
}  // namespace nb
