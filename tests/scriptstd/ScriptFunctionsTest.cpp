// The standard functions as scripts see them: compiled and run on a real
// interpreter with a small fake scene behind it.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numbers>

#include "script/scriptengine.h"
#include "scriptlib/std/StdDates.h"
#include "scriptlib/std/StdFunctions.h"

using namespace nb;
using scriptstd::EncodeDate;
using scriptstd::EncodeTime;

namespace {

// A scene of named values reachable by path (for GetVar's element paths).
class FakeHost : public IScriptHost {
public:
    std::map<std::string, TScriptValue, std::less<>> values;
    std::vector<std::string> log;

    bool pathGet(std::string_view name, const TVarList&, TScriptValue& out) override {
        auto it = values.find(name);
        if (it == values.end()) return false;
        out = it->second;
        return true;
    }
    bool pathSet(std::string_view name, const TVarList&, TScriptValue& value) override {
        auto it = values.find(name);
        if (it == values.end()) return false;
        it->second = value;
        return true;
    }
    std::string lookupText(std::string_view) override { return ""; }
    std::string currentElementText() override { return "BTN1 <TNBImage>"; }
    std::string currentHookName() override { return "ms_Down"; }
    void appendLog(std::string_view line) override { log.emplace_back(line); }
};

class StdScript : public ::testing::Test {
protected:
    void SetUp() override {
        now_ = EncodeDate(2024, 6, 2) + 0.75;  // a Sunday, 18:00
        RegisterStdFunctions(engine_, [this] { return now_; });
    }

    bool run(const std::string& source) { return engine_.Run(engine_.Compile(source)); }

    // The variable's value; the empty value when there is no such variable.
    TScriptValue var(std::string_view name) {
        const TVar* v = engine_.Vars().Find(name);
        return v ? v->value : TScriptValue();
    }

    // Runs "R := expr" on a fresh variable table and answers R.
    TScriptValue eval(const std::string& expr) {
        engine_.Vars().Clear();
        EXPECT_TRUE(run("R := " + expr)) << expr << " -> " << engine_.ErrorMessage();
        return var("R");
    }
    std::string evalText(const std::string& expr) { return eval(expr).toString(); }

    // The error message of a script that is expected to fail.
    std::string failure(const std::string& source) {
        engine_.Vars().Clear();
        if (run(source)) return "(no error)";
        return engine_.ErrorMessage();
    }

    void expectValue(const std::string& expr, ValueKind kind, const std::string& text) {
        TScriptValue v = eval(expr);
        EXPECT_EQ(static_cast<int>(v.kind()), static_cast<int>(kind)) << expr;
        EXPECT_EQ(v.toString(), text) << expr;
    }
    void expectReal(const std::string& expr, double expected) {
        TScriptValue v = eval(expr);
        EXPECT_EQ(static_cast<int>(v.kind()), static_cast<int>(ValueKind::Real)) << expr;
        EXPECT_DOUBLE_EQ(v.toReal(), expected) << expr;
    }
    void expectDate(const std::string& expr, double expected) {
        TScriptValue v = eval(expr);
        EXPECT_EQ(static_cast<int>(v.kind()), static_cast<int>(ValueKind::DateTime)) << expr;
        EXPECT_DOUBLE_EQ(v.toReal(), expected) << expr;
    }

    FakeHost host_;
    TScriptEngine engine_{&host_};
    double now_ = 0;
};

constexpr const char* kParams = "Invalid parameters, function ";

}  // namespace

TEST_F(StdScript, AllFiftyNineAreRegisteredInTableOrderAndFoundInAnyCase) {
    const std::vector<std::string> expected = {
        "Val", "Char", "IntToStr", "StrToInt", "FloatToStr", "StrToFloat", "Copy", "Poss", "Length",
        "Insert", "Delete", "Trim", "TrimLeft", "TrimRight", "UpperCase", "LowerCase", "Format",
        "Now", "Date", "Time", "DateToStr", "StrToDate", "TimeToStr", "StrToTime", "FormatDateTime",
        "DayOfWeek", "IncMonth", "DecodeDate", "DecodeTime", "EncodeDate", "EncodeTime",
        "Abs", "Int", "Frac", "Round", "Ceil", "Floor", "Trunc", "Sin", "Cos", "Tan", "ArcSin",
        "ArcCos", "ArcTan", "Exp", "Ln", "IntPower", "Sqr", "Sqrt",
        "Inc", "Dec", "Min", "Max", "GetVar", "SetVar", "Decode", "YearDays", "YearFrac", "Mod"};
    std::vector<std::string> names;
    for (const TStdFunction& f : MakeStdFunctions([] { return 0.0; })) {
        names.emplace_back(f.name);
        EXPECT_TRUE(static_cast<bool>(f.routine)) << f.name;
    }
    EXPECT_EQ(names, expected);

    // Every one is reachable from a script, in lower case, and refuses a
    // wildly wrong argument count with its own upper-case name.
    for (const std::string& name : expected) {
        if (name == "Format" || name == "Min" || name == "Max" || name == "Decode") continue;
        std::string lower;
        for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string upper;
        for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(failure("x := " + lower + "(1, 2, 3, 4, 5, 6, 7)"), kParams + upper);
    }
}

TEST_F(StdScript, SubstringsAndVarArguments) {
    expectValue("Copy('abcdef', 2, 3)", ValueKind::String, "bcd");
    EXPECT_EQ(evalText("Copy('abc', 5, 2)"), "");
    EXPECT_EQ(evalText("Copy('abc', 0, 2)"), "ab");  // an index below 1 counts as 1
    EXPECT_EQ(evalText("Copy('abc', -5, 2)"), "ab");
    EXPECT_EQ(evalText("Copy('abc', 2, -1)"), "");
    EXPECT_EQ(evalText("Copy('abcdef', 2.9, 2.9)"), "bc");  // truncated, not rounded
    EXPECT_EQ(evalText("Copy('abcdef', 3, 10000000000.0)"), "cdef");

    engine_.Vars().Clear();
    ASSERT_TRUE(run("s := 'abc'; Insert('X', s, 2); a := s; r := Delete(s, 2, 1)"))
        << engine_.ErrorMessage();
    EXPECT_EQ(var("A").toString(), "aXbc");
    EXPECT_EQ(var("S").toString(), "abc");
    EXPECT_EQ(var("R").toString(), "abc");
    ASSERT_TRUE(run("s := 'abc'; r := Insert('XY', s, 10); t := 'abc'; Insert('-', t, 0)"));
    EXPECT_EQ(var("S").toString(), "abcXY");
    EXPECT_EQ(var("R").toString(), "abcXY");
    EXPECT_EQ(var("T").toString(), "-abc");
    ASSERT_TRUE(run("s := 'abcdef'; Delete(s, 0, 2); a := s; Delete(s, 7, 1); b := s; Delete(s, 5, 100)"));
    EXPECT_EQ(var("A").toString(), "abcdef");  // Delete, unlike Copy, ignores an index below 1
    EXPECT_EQ(var("B").toString(), "abcdef");
    EXPECT_EQ(var("S").toString(), "abcd");
    ASSERT_TRUE(run("n := 12; Insert('0', n, 1)"));  // a number held in the variable becomes text
    EXPECT_EQ(static_cast<int>(var("N").kind()), static_cast<int>(ValueKind::String));
    EXPECT_EQ(var("N").toString(), "012");

    // The text must be written as a variable name.
    EXPECT_EQ(failure("Insert('X', 'abc', 2)"), std::string(kParams) + "INSERT");
    EXPECT_EQ(failure("Delete('abc', 1, 1)"), std::string(kParams) + "DELETE");

    expectValue("Poss('b', 'abc')", ValueKind::Int32, "2");
    EXPECT_EQ(evalText("Poss('z', 'abc')"), "0");
    EXPECT_EQ(evalText("Poss('', 'abc')"), "0");
    EXPECT_EQ(evalText("Poss('bc', 'abcbc')"), "2");
    expectValue("Length('h\xE9llo')", ValueKind::Int32, "5");
}

TEST_F(StdScript, CaseTrimAndCharacterCodes) {
    // Cyrillic letters fold too (the table of the 8-bit code page).
    EXPECT_EQ(evalText("UpperCase('abc\xE0\xFF\xB8z')"), "ABC\xC0\xDF\xA8Z");
    EXPECT_EQ(evalText("LowerCase('ABC\xC0\xDF\xA8Z')"), "abc\xE0\xFF\xB8z");
    EXPECT_EQ(evalText("Trim(Char(9) + ' a b ' + Char(1))"), "a b");
    EXPECT_EQ(evalText("TrimLeft(Char(10) + ' a ')"), "a ");
    EXPECT_EQ(evalText("TrimRight(' a ' + Char(32))"), " a");
    EXPECT_EQ(evalText("Trim('" "\xA0" "a')"), "\xA0" "a");  // above 32 is not a blank
    EXPECT_EQ(evalText("Char(65) + Char(321) + Char(-191)"), "AAA");  // the low 8 bits
    EXPECT_EQ(eval("Char(0)").toString(), std::string(1, '\0'));
    expectValue("IntToStr(-5)", ValueKind::String, "-5");
    expectValue("IntToStr(2.5)", ValueKind::String, "2");  // integers are rounded, halves to even
}

TEST_F(StdScript, NumbersFromAndToText) {
    expectValue("StrToInt(' 42')", ValueKind::Int32, "42");
    EXPECT_EQ(failure("x := StrToInt('abc')"),
              std::string(kParams) + "STRTOINT : 'abc' is not a valid integer value");
    expectValue("FloatToStr(0.1)", ValueKind::String, "0.1");
    EXPECT_EQ(evalText("FloatToStr(100)"), "100");
    EXPECT_EQ(evalText("FloatToStr(1 / 3)"), "0.333333333333333");
    EXPECT_EQ(evalText("FloatToStr(10 / 3)"), "3.333333333333333");
    expectReal("StrToFloat(' 1.5e1 ')", 15.0);
    expectReal("StrToFloat('-2')", -2.0);
    // Leftovers are a plain failure, without an error text of their own.
    EXPECT_EQ(failure("x := StrToFloat('1.5x')"), std::string(kParams) + "STRTOFLOAT");
    EXPECT_EQ(failure("x := StrToFloat('1,5')"), std::string(kParams) + "STRTOFLOAT");

    engine_.Vars().Clear();
    ASSERT_TRUE(run("v := 'old'; c := -1; Val('12.5', v, c); v1 := v; c1 := c; Val('12.5x', v, c)"))
        << engine_.ErrorMessage();
    EXPECT_EQ(static_cast<int>(var("V1").kind()), static_cast<int>(ValueKind::Real));
    EXPECT_DOUBLE_EQ(var("V1").toReal(), 12.5);
    EXPECT_EQ(var("C1").toString(), "0");
    EXPECT_EQ(static_cast<int>(var("C").kind()), static_cast<int>(ValueKind::Int32));
    EXPECT_EQ(var("C").toString(), "5");
    EXPECT_EQ(failure("c := 0; Val('1', 2, c)"), std::string(kParams) + "VAL");
    EXPECT_EQ(failure("v := 0; Val('1', v, 0)"), std::string(kParams) + "VAL");
}

TEST_F(StdScript, FormatThroughScripts) {
    expectValue("Format('%d pts', 7)", ValueKind::String, "7 pts");
    EXPECT_EQ(evalText("Format('%s-%s', 'a')"), "a-");
    EXPECT_EQ(evalText("Format('%d', 7.9)"), "7");  // a real under %d: truncated
    EXPECT_EQ(evalText("Format('%.2f|%5s|%x', 2 / 3, 'ab', 255)"), "0.67|   ab|FF");
    EXPECT_EQ(evalText("Format('%s/%s/%s', 1.5, TRUE, 3)"), "1.5/True/3");
    EXPECT_EQ(evalText("Format('%d', Int(5000000000.5))"), "5000000000");
    EXPECT_EQ(evalText("Format('%u', DayOfWeek(0))"), "7");
    EXPECT_EQ(evalText("Format('%d%%', 50)"), "50%%");  // an open specifier stays as written
    EXPECT_EQ(failure("x := Format('%*d', 4, 7)"),
              std::string(kParams) + "FORMAT : Format '%*d' invalid or incompatible with argument");
    EXPECT_EQ(failure("x := Format('%d')"), std::string(kParams) + "FORMAT");
    EXPECT_EQ(failure("x := Format('%d', 'abc')"),
              std::string(kParams) + "FORMAT : Format '%d' invalid or incompatible with argument");
}

TEST_F(StdScript, RoundingAndWholeParts) {
    expectValue("Round(2.5)", ValueKind::Int32, "2");
    EXPECT_EQ(evalText("Round(3.5)"), "4");
    EXPECT_EQ(evalText("Round(-2.5)"), "-2");
    EXPECT_EQ(evalText("Round(-2.6)"), "-3");
    expectValue("Trunc(-2.7)", ValueKind::Int32, "-2");
    expectValue("Floor(-2.7)", ValueKind::Int32, "-3");
    expectValue("Ceil(-2.7)", ValueKind::Int32, "-2");
    EXPECT_EQ(evalText("Ceil(2.1)"), "3");
    EXPECT_EQ(evalText("Floor(2)"), "2");
    expectValue("Int(-3.7)", ValueKind::Int64, "-3");
    expectValue("Int(1000000000000000.5)", ValueKind::Int64, "1000000000000000");
    expectReal("Frac(-3.75)", -0.75);
    expectReal("Frac(2)", 0.0);
    expectReal("Abs(-3)", 3.0);  // a real even for an integer
    // Out of the 32-bit range is an error, never a wrapped number.
    EXPECT_NE(failure("x := Round(3000000000.0)").find(std::string(kParams) + "ROUND : "), std::string::npos);
    EXPECT_NE(failure("x := Trunc(-3000000000.0)").find(std::string(kParams) + "TRUNC : "), std::string::npos);
    EXPECT_EQ(failure("x := Int(IntPower(10, 300))"),
              std::string(kParams) + "INT : Invalid floating point operation");
}

TEST_F(StdScript, MathFunctionsAndTheirErrors) {
    expectReal("Sqr(3)", 9.0);
    expectReal("Sqrt(2)", std::sqrt(2.0));
    expectReal("IntPower(2, 10)", 1024.0);
    expectReal("IntPower(2, -2)", 0.25);
    expectReal("IntPower(1.5, 2.9)", 2.25);  // the exponent is truncated
    expectReal("IntPower(0, 0)", 1.0);
    expectReal("ArcTan(1) * 4", std::numbers::pi);
    expectReal("Sin(0) + Cos(0) + Tan(0)", 1.0);
    expectReal("ArcSin(1) + ArcCos(1)", std::numbers::pi / 2);
    expectReal("Ln(Exp(2))", 2.0);
    EXPECT_EQ(failure("x := Sqrt(-1)"), std::string(kParams) + "SQRT : Invalid floating point operation");
    EXPECT_EQ(failure("x := ArcSin(2)"), std::string(kParams) + "ARCSIN : Invalid floating point operation");
    EXPECT_EQ(failure("x := Ln(-1)"), std::string(kParams) + "LN : Invalid floating point operation");
    EXPECT_EQ(failure("x := Ln(0)"), std::string(kParams) + "LN : Floating point division by zero");
    EXPECT_EQ(failure("x := Exp(1000)"), std::string(kParams) + "EXP : Floating point overflow");
    EXPECT_EQ(failure("x := IntPower(0, -1)"),
              std::string(kParams) + "INTPOWER : Floating point division by zero");
    EXPECT_EQ(failure("x := Sqrt('abc')").rfind(std::string(kParams) + "SQRT : ", 0), 0u);

    expectValue("Mod(-7, 3)", ValueKind::Int32, "-1");
    EXPECT_EQ(evalText("Mod(7, -3)"), "1");
    EXPECT_EQ(evalText("Mod(7, 3)"), "1");
    EXPECT_EQ(evalText("Mod(StrToInt('-2147483648'), -1)"), "0");
    EXPECT_EQ(failure("x := Mod(7, 0)"), std::string(kParams) + "MOD : Division by zero");
}

TEST_F(StdScript, DatesAndTheirParts) {
    expectDate("EncodeDate(2000, 5, 1)", EncodeDate(2000, 5, 1));
    expectValue("YearDays(EncodeDate(2000, 5, 1))", ValueKind::UInt16, "366");
    EXPECT_EQ(evalText("YearDays(EncodeDate(1900, 5, 1))"), "365");
    expectValue("DayOfWeek(EncodeDate(2024, 6, 2))", ValueKind::UInt16, "1");
    expectDate("IncMonth(EncodeDate(2001, 1, 31), 1)", EncodeDate(2001, 2, 28));
    expectDate("IncMonth(EncodeDate(2001, 3, 31), -1.9)", EncodeDate(2001, 2, 28));
    expectDate("EncodeTime(18, 0, 0, 0)", 0.75);
    expectReal("YearFrac(EncodeDate(2001, 1, 1), EncodeDate(2001, 7, 1))", 181.0 / 365.0);
    EXPECT_EQ(evalText("YearFrac(1, 1)"), "0");
    EXPECT_EQ(failure("x := EncodeDate(2001, 2, 29)"),
              std::string(kParams) + "ENCODEDATE : Invalid argument to date encode");
    EXPECT_EQ(failure("x := EncodeTime(24, 0, 0, 0)"),
              std::string(kParams) + "ENCODETIME : Invalid argument to time encode");

    engine_.Vars().Clear();
    ASSERT_TRUE(run("y := 0; m := 0; d := 0; r := DecodeDate(EncodeDate(2024, 2, 29) + 0.5, y, m, d);"
                    "h := 0; n := 0; s := 0; z := 0; DecodeTime(EncodeTime(13, 14, 15, 16), h, n, s, z)"))
        << engine_.ErrorMessage();
    for (auto [name, text] : {std::pair{"Y", "2024"}, {"M", "2"}, {"D", "29"}, {"H", "13"}, {"N", "14"},
                              {"S", "15"}, {"Z", "16"}}) {
        EXPECT_EQ(static_cast<int>(var(name).kind()), static_cast<int>(ValueKind::UInt16)) << name;
        EXPECT_EQ(var(name).toString(), text) << name;
    }
    EXPECT_EQ(static_cast<int>(var("R").kind()), static_cast<int>(ValueKind::DateTime));
    EXPECT_DOUBLE_EQ(var("R").toReal(), EncodeDate(2024, 2, 29) + 0.5);
    EXPECT_EQ(failure("m := 0; d := 0; DecodeDate(1, 2000, m, d)"), std::string(kParams) + "DECODEDATE");
    EXPECT_EQ(failure("h := 0; DecodeTime(1, h, h, h, 4)"), std::string(kParams) + "DECODETIME");
}

TEST_F(StdScript, ClockAndDateTexts) {
    expectDate("Now", now_);
    expectDate("Date()", EncodeDate(2024, 6, 2));
    expectDate("Time", 0.75);
    EXPECT_EQ(failure("x := Now(1)"), std::string(kParams) + "NOW");
    now_ = EncodeDate(2030, 1, 1) + 0.25;
    expectDate("Date", EncodeDate(2030, 1, 1));

    expectValue("DateToStr(EncodeDate(1999, 12, 31) + 0.5)", ValueKind::String, "31.12.1999");
    expectValue("TimeToStr(EncodeTime(7, 8, 9, 0))", ValueKind::String, "07:08:09");
    expectDate("StrToDate('1.2.2003')", EncodeDate(2003, 2, 1));
    expectDate("StrToDate('5.6')", EncodeDate(2030, 6, 5));  // the year of the clock
    expectDate("StrToTime('13:30')", EncodeTime(13, 30, 0, 0));
    EXPECT_EQ(failure("x := StrToDate('x')"), std::string(kParams) + "STRTODATE : 'x' is not a valid date");
    EXPECT_EQ(failure("x := StrToTime('25:00')"),
              std::string(kParams) + "STRTOTIME : '25:00' is not a valid time");
    // Script strings cannot hold a quote, so the quoted literal is built with Char(34).
    EXPECT_EQ(evalText("FormatDateTime('dddd, d mmmm yyyy ' + Char(34) + 'at' + Char(34) + ' hh:nn',"
                       " EncodeDate(2024, 6, 2) + 0.75)"),
              "Sunday, 2 June 2024 at 18:00");
}

TEST_F(StdScript, IncAndDecWorkOnVariablesOnly) {
    engine_.Vars().Clear();
    ASSERT_TRUE(run("i := 1; Inc(i); a := i; Inc(i, 10); b := i; Dec(i); Dec(i, 2.5);"
                    "Inc(5); j := 4; Inc(j + 0)"))
        << engine_.ErrorMessage();
    EXPECT_EQ(var("A").toString(), "2");
    EXPECT_EQ(static_cast<int>(var("A").kind()), static_cast<int>(ValueKind::Int32));
    EXPECT_EQ(var("B").toString(), "12");
    EXPECT_DOUBLE_EQ(var("I").toReal(), 8.5);
    EXPECT_EQ(var("J").toString(), "4");
    ASSERT_TRUE(run("s := 'ab'; Inc(s, 'c')"));
    EXPECT_EQ(var("S").toString(), "abc");
    EXPECT_EQ(failure("Inc()"), std::string(kParams) + "INC");
    EXPECT_EQ(failure("i := 1; Inc(i, 1, 2)"), std::string(kParams) + "INC");
    EXPECT_EQ(failure("s := 'a'; Inc(s)").rfind(std::string(kParams) + "INC", 0), 0u);
}

TEST_F(StdScript, MinMaxAndDecodeSelect) {
    expectValue("Max(1, 5, 3)", ValueKind::Int32, "5");
    expectValue("Min(3, 1, 2)", ValueKind::Int32, "1");
    expectValue("Max(7)", ValueKind::Int32, "7");
    EXPECT_EQ(evalText("Min('b', 'a', 'c')"), "a");
    EXPECT_EQ(evalText("Max('b', 'abc')"), "b");
    expectReal("Max(1.5, -2.5)", 1.5);
    // All arguments must be of the first one's kind.
    EXPECT_EQ(failure("x := Max(1, 2.5)"), std::string(kParams) + "MAX");
    EXPECT_EQ(failure("x := Min('1', 2)"), std::string(kParams) + "MIN");

    expectValue("Decode(2, 1, 'a', 2, 'b')", ValueKind::String, "b");
    EXPECT_EQ(evalText("Decode(3, 1, 'a', 'z')"), "z");
    EXPECT_EQ(evalText("Decode(1, 1, 'a', 1, 'b')"), "a");  // the first match wins
    EXPECT_EQ(evalText("Decode('x', 'x', 5)"), "5");
    EXPECT_EQ(evalText("Decode(2, 1, 'a', 2)"), "2");  // even count: the last is the default
    EXPECT_EQ(failure("x := Decode(3, 1, 'a')"), std::string(kParams) + "DECODE");
    EXPECT_EQ(failure("x := Decode(1, 1)"), std::string(kParams) + "DECODE");
}

TEST_F(StdScript, GetVarAndSetVarByName) {
    host_.values["NBDB.SCREEN1.X"] = TScriptValue::int32(321);
    engine_.Vars().Clear();
    ASSERT_TRUE(run("x := 5; a := GetVar('x'); b := GetVar('  x '); c := GetVar('NBDB.SCREEN1.X');"
                    "d := GetVar('nbdb.screen1.x')"))
        << engine_.ErrorMessage();
    EXPECT_EQ(var("A").toString(), "5");
    EXPECT_EQ(var("B").toString(), "5");
    EXPECT_EQ(var("C").toString(), "321");
    EXPECT_EQ(var("D").toString(), "321");
    EXPECT_EQ(failure("x := GetVar('nosuch')"), std::string(kParams) + "GETVAR");

    // Source names keep Cyrillic case, GetVar folds it: a variable written
    // in lower-case Cyrillic is out of its reach, an upper-case one is found.
    engine_.Vars().Clear();
    ASSERT_TRUE(run("\xCF\xC5\xD0 := 7; r := GetVar('\xEF\xE5\xF0')")) << engine_.ErrorMessage();
    EXPECT_EQ(var("R").toString(), "7");
    EXPECT_EQ(failure("\xEF\xE5\xF0 := 7; r := GetVar('\xEF\xE5\xF0')"), std::string(kParams) + "GETVAR");

    engine_.Vars().Clear();
    ASSERT_TRUE(run("y := 1; SetVar(' y', 'two')")) << engine_.ErrorMessage();
    EXPECT_EQ(var("Y").toString(), "two");
    EXPECT_EQ(failure("SetVar('x', 1)"), std::string(kParams) + "SETVAR");
    EXPECT_FALSE(engine_.Vars().Exists("X"));
    // Element paths are not written through SetVar.
    EXPECT_EQ(failure("SetVar('NBDB.SCREEN1.X', 1)"), std::string(kParams) + "SETVAR");
    EXPECT_EQ(host_.values["NBDB.SCREEN1.X"].toString(), "321");
}
