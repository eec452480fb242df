#include <gtest/gtest.h>

#include "tests/script/FakeHost.h"

namespace nb::test {
namespace {

using ExpressionTest = ScriptFixture;

TEST_F(ExpressionTest, PrecedenceAndAssociativity) {
    ASSERT_TRUE(run("a := 1 + 2 * 3; b := (1 + 2) * 3; c := 10 - 2 - 3; d := 2 ^ 3 ^ 2"));
    EXPECT_EQ(integer("A"), 7);
    EXPECT_EQ(integer("B"), 9);
    EXPECT_EQ(integer("C"), 5);
    EXPECT_DOUBLE_EQ(value("D").rawReal(), 64);  // left-associative
    ASSERT_TRUE(run("e := 7 / 2; f := 2 ^ 10; g := -2 ^ 2; h := 5 SHL 2; k := 64 SHR 3"));
    EXPECT_DOUBLE_EQ(value("E").rawReal(), 3.5);
    EXPECT_EQ(value("F").kind(), ValueKind::Real);
    EXPECT_DOUBLE_EQ(value("F").rawReal(), 1024);
    EXPECT_DOUBLE_EQ(value("G").rawReal(), 4);  // the prefix binds tighter than "^"
    EXPECT_EQ(integer("H"), 20);
    EXPECT_EQ(integer("K"), 8);
    // Comparisons bind tighter than AND/OR, and looser than arithmetic.
    ASSERT_TRUE(run("a := 3; b := 1; c := a > 1 AND b < 2; d := 2 + 3 = 5; e := 1 OR 2 AND 3"));
    EXPECT_TRUE(value("C").rawBool());
    EXPECT_TRUE(value("D").rawBool());
    EXPECT_EQ(integer("E"), 3);  // 1 OR (2 AND 3)
    // NOT a = b is (NOT a) = b.
    ASSERT_TRUE(run("a := FALSE; r := NOT a = TRUE; s := NOT (1 = 2); t := NOT 5 XOR 1"));
    EXPECT_TRUE(value("R").rawBool());
    EXPECT_TRUE(value("S").rawBool());
    EXPECT_EQ(integer("T"), -5);
    ASSERT_TRUE(run("u := - 3 + 1; v := + 'abc'; w := 1 - -1"));
    EXPECT_EQ(integer("U"), -2);
    EXPECT_EQ(text("V"), "abc");
    EXPECT_EQ(integer("W"), 2);
    // Only one prefix.
    EXPECT_EQ(failure("x := - -1"), "Unknown or invalid operator in expression: -");
    EXPECT_EQ(failure("x := NOT NOT TRUE"), "Unknown or invalid operator in expression: NOT");
    EXPECT_EQ(failure("x := (1 + 2"), "')' expected");
    EXPECT_EQ(engine.ErrorCode(), 2);
    EXPECT_EQ(failure("x := 1 +"), "Unknown or invalid operator in expression: ");
    EXPECT_EQ(failure("x := )"), "Unknown or invalid operator in expression: )");
}

TEST_F(ExpressionTest, ConstantsAndTheirKinds) {
    ASSERT_TRUE(run("a := 2147483646; b := 2147483647; c := 1.0; d := 5; e := 0.25; t := TRUE"));
    EXPECT_EQ(value("A").kind(), ValueKind::Int32);
    EXPECT_EQ(value("B").kind(), ValueKind::Real);
    EXPECT_EQ(value("C").kind(), ValueKind::Real);
    EXPECT_EQ(value("D").kind(), ValueKind::Int32);
    EXPECT_DOUBLE_EQ(value("E").rawReal(), 0.25);
    EXPECT_EQ(value("T").kind(), ValueKind::Boolean);
    EXPECT_EQ(failure("x := 1.2.3"), "Invalid number: 1.2.3");
    EXPECT_EQ(failure("x := 1E5"), "Invalid number: 1E5");
    EXPECT_EQ(failure("x := 'abc"), "Unterminated string: 'abc");
    EXPECT_EQ(engine.ErrorCode(), 6);
    // ".5" is a name: the value "5" of the parent element.
    EXPECT_EQ(failure("x := .5"), "Variable not found: .5");
    host.elements[2].values["5"] = TScriptValue::int32(77);
    ASSERT_TRUE(run("x := .5"));
    EXPECT_EQ(integer("X"), 77);
    // Strings: apostrophes are dropped, double quotes kept.
    ASSERT_TRUE(run("s := 'a b'; q := \"MENU.START\""));
    EXPECT_EQ(text("S"), "a b");
    EXPECT_EQ(text("Q"), "\"MENU.START\"");
    EXPECT_EQ(text("Q").size(), 12u);
}

TEST_F(ExpressionTest, OperandKindsAndTextIds) {
    ASSERT_TRUE(run("s := 'ab' + 'cd'; n := '5' + 1; m := 2 * 1.5"));
    EXPECT_EQ(text("S"), "abcd");
    EXPECT_EQ(integer("N"), 6);
    EXPECT_DOUBLE_EQ(value("M").rawReal(), 3.0);
    EXPECT_EQ(failure("x := 'ab' + 1"), "Invalid operand types for \"+\"");
    EXPECT_EQ(engine.ErrorCode(), 5);
    EXPECT_EQ(failure("x := 1 / 0"), "Invalid operand types for \"/\"");
    EXPECT_EQ(failure("x := 'a' < 1"), "Invalid operand types for \"<\"");
    EXPECT_EQ(failure("x := -'a'"), "Invalid operand types for \"-\"");
    EXPECT_EQ(failure("x := NOT 'a'"), "Invalid operand types for \"NOT\"");
    // A double-quoted text id resolves when it meets an operator.
    host.texts["TITLE"] = "Hello";
    ASSERT_TRUE(run("a := \"TITLE\" + ''; b := \"TITLE\"; c := \"NONE\" + ''; d := \"TITLE\" = 'Hello'"));
    EXPECT_EQ(text("A"), "Hello");
    EXPECT_EQ(text("B"), "\"TITLE\"");  // assignment alone keeps the id
    EXPECT_EQ(text("C"), "\"NONE\"");
    EXPECT_EQ(text("C").size(), 6u);
    EXPECT_TRUE(value("D").rawBool());
    // Built-ins apply operators with the same rule.
    EXPECT_EQ(engine.ApplyOperator("+", TScriptValue::string("\"TITLE\""), TScriptValue::string("!"))
                  .rawString(),
              "Hello!");
    EXPECT_TRUE(engine.ApplyOperator("<", TScriptValue::int32(1), TScriptValue::int32(2)).rawBool());
    EXPECT_THROW(engine.ApplyOperator("+", TScriptValue::string("a"), TScriptValue::int32(1)), ScriptError);
    EXPECT_THROW(engine.ApplyOperator("??", TScriptValue::int32(1), TScriptValue::int32(1)), ScriptError);
}

TEST_F(ExpressionTest, ArraysAndCharacterIndices) {
    ASSERT_TRUE(run("s := 'hello'; c := s[2]; a[1] := 5; x := a[1]"));
    EXPECT_EQ(text("C"), "e");
    EXPECT_EQ(integer("X"), 5);
    EXPECT_EQ(failure("s := 'hello'; c := s[9]"), "String index out of range: 9");
    EXPECT_EQ(engine.ErrorCode(), 19);
    EXPECT_EQ(failure("s := 'hello'; c := s[0]"), "String index out of range: 0");
    EXPECT_EQ(failure("s := 'hello'; c := s[1, 2]"), "Invalid string index");
    EXPECT_EQ(failure("s := 'hello'; c := s[]"), "Empty string index");
    EXPECT_EQ(failure("n := 5; c := n[1]"), "Invalid variable type: N");
    EXPECT_EQ(failure("x := a"), "Array with same name exist : A");
    EXPECT_EQ(engine.ErrorCode(), 24);
    EXPECT_EQ(failure("a := 1"), "Array with same name exist : A");
    EXPECT_EQ(failure("p := 'abc'; p[1, 2] := 'x'"), "Invalid string index");
    EXPECT_EQ(failure("p := 1; p[1] := 'x'"), "Invalid variable type: P");
    EXPECT_EQ(failure("p[1][1] := 'x'"), "Variable with same name exist : P");
    EXPECT_EQ(failure("x := p[1][1]"), "Variable with same name exist : P");
    // Index expressions are evaluated and joined without blanks.
    ASSERT_TRUE(run("i := 7; b[1 + 1, 3] := 4; b[i] := 'seven'; z := b[2, 3]"));
    EXPECT_EQ(integer("B[2,3]"), 4);
    EXPECT_EQ(text("B[7]"), "seven");
    EXPECT_EQ(integer("Z"), 4);
    EXPECT_EQ(failure("x := b[5]"), "Variable not found: B[5]");
    EXPECT_EQ(failure("x := b[1 2]"), "Error in expression: 1 2  ");
    EXPECT_EQ(failure("x := b['x']"), "Invalid index: 'x'  ");
    EXPECT_EQ(engine.ErrorCode(), 5);
    EXPECT_EQ(failure("x := b[1"), "] expected");
    EXPECT_EQ(engine.ErrorCode(), 21);
    // Character assignment into a plain variable or an array element.
    ASSERT_TRUE(run("s := 'hello'; s[1] := 'J'; t := 'abc'; t[3] := 90; e[1] := 'xyz'; e[1][2] := 'Q';"
                    "c := e[1][3]"));
    EXPECT_EQ(text("S"), "Jello");
    EXPECT_EQ(text("T"), "abZ");
    EXPECT_EQ(text("E[1]"), "xQz");
    EXPECT_EQ(text("C"), "z");
    EXPECT_EQ(failure("s[1] := 'ab'"), "Character expected: 'ab'");
    EXPECT_EQ(engine.ErrorCode(), 20);
    EXPECT_EQ(failure("s[1] := 300"), "Character value out of range: 300");
    EXPECT_EQ(failure("s[1] := TRUE AND 'x'"), "Invalid operand types for \"AND\"");
    EXPECT_EQ(failure("s[1] := 3000000000"), "Invalid variable type: S");
    EXPECT_EQ(failure("s[1] := TRUE"), "Character value out of range: -1");
    EXPECT_EQ(failure("s[9] := 'a'"), "String index out of range: 9");
    EXPECT_EQ(failure("n := 5; n[1] := 'a'"), "Invalid variable type: N");
    EXPECT_EQ(failure("f[1][1] := 'a'"), "Variable not found :F[1]");
    EXPECT_EQ(engine.ErrorCode(), 3);
    EXPECT_EQ(failure("e[1][1] := 'a' + 1"), "Invalid operand types for \"+\"");
    EXPECT_EQ(failure("s[1] := 1.5E"), "Invalid number: 1.5E");
}

TEST_F(ExpressionTest, BuiltinCallsAndVarCopyBack) {
    ASSERT_TRUE(run("n := 1; Incr(n); m := n; Incr(n + 0); k := Incr(5)"));
    EXPECT_EQ(integer("M"), 2);
    EXPECT_EQ(integer("N"), 2);  // n + 0 is not a variable name
    EXPECT_EQ(integer("K"), 6);
    EXPECT_EQ(value("N").kind(), ValueKind::Int32);
    // Arguments are named VAR only when written as an existing variable.
    ASSERT_TRUE(run("v := 1; w[2] := 3; Trace(v, 1, w[2], (v), 'v')"));
    EXPECT_EQ(trace, (std::vector<std::string>{"VAR=1", "VALUE=1", "VAR=3", "VALUE=1", "VALUE=v"}));
    // Brackets do not protect commas: A[1,2] passes two arguments.
    trace.clear();
    EXPECT_EQ(failure("Trace(A[1,2])"), "] expected");
    // Bare names call functions; a function hides a variable of its name.
    ticks = 0;
    ASSERT_TRUE(run("Tick; Tick(); tick := 100; x := Tick"));
    EXPECT_EQ(integer("X"), 3);
    EXPECT_EQ(failure("x := Nope(1)"), "Unknown function: NOPE");
    EXPECT_EQ(engine.ErrorCode(), 8);
    EXPECT_EQ(failure("Failing()"), "Invalid parameters, function FAILING");
    EXPECT_EQ(engine.ErrorCode(), 7);
    EXPECT_EQ(failure("x := Throwing"), "Invalid parameters, function THROWING : boom");
    EXPECT_EQ(failure("x := Trace(1"), "Invalid function params: 1  ");
    EXPECT_EQ(failure("x := Trace(1 2)"), std::string("Invalid expression in function params: \x7f") + "B1\x7f" + "B2");
    EXPECT_EQ(failure("x := Trace(1,)"), "Empty string - not expression");
    // A failed built-in leaves its VAR arguments untouched.
    engine.SetFunction("SetAndFail", [](TScriptEngine&, TVarList& args, TVar&) {
        args[0].value = TScriptValue::int32(99);
        return false;
    });
    EXPECT_FALSE(run("q := 1; SetAndFail(q)"));
    EXPECT_EQ(integer("Q"), 1);
}

TEST_F(ExpressionTest, FunctionRegistration) {
    auto answer = [](TScriptEngine&, TVarList&, TVar& r) {
        r.value = TScriptValue::int32(42);
        return true;
    };
    EXPECT_TRUE(engine.SetFunction("  val ", answer));
    ASSERT_TRUE(run("x := VAL + Val"));
    EXPECT_EQ(integer("X"), 84);
    EXPECT_TRUE(engine.SetFunction("val", nullptr));
    EXPECT_EQ(failure("x := Val()"), "Unknown function: VAL");
    EXPECT_FALSE(engine.SetFunction("1abc", answer));
    EXPECT_FALSE(engine.SetFunction("a b", answer));
    // A name that was a variable read becomes a call once it is registered,
    // even in text compiled and run before.
    std::string compiled = engine.Compile("y := Later");
    EXPECT_FALSE(engine.Run(compiled));
    EXPECT_EQ(message(), "Variable not found: LATER");
    engine.SetFunction("Later", answer);
    EXPECT_TRUE(engine.Run(compiled));
    EXPECT_EQ(integer("Y"), 42);
    // A routine that removes itself while running is safe.
    engine.SetFunction("Once", [](TScriptEngine& e, TVarList&, TVar& r) {
        e.SetFunction("Once", nullptr);
        r.value = TScriptValue::int32(1);
        return true;
    });
    ASSERT_TRUE(run("o := Once"));
    EXPECT_EQ(integer("O"), 1);
}

TEST_F(ExpressionTest, ElementValuesThroughTheHost) {
    // X names a value of the current element: assignment writes the element.
    host.elements[3].values["X"] = TScriptValue::int32(1);
    ASSERT_TRUE(run("X := 5; y := X"));
    EXPECT_FALSE(has("X"));
    EXPECT_EQ(host.elements[3].values["X"].rawInt(), 5);
    EXPECT_EQ(integer("Y"), 5);
    // Dotted paths, and variables holding element references.
    host.elements[2].values["Z"] = TScriptValue::int32(9);
    host.elements[3].values["SELF"] = TScriptValue::element(3);
    ASSERT_TRUE(run("a := NBDB.SCREEN1.Z; b := SELF; c := b.X; .Z := 10"));
    EXPECT_EQ(integer("A"), 9);
    EXPECT_EQ(integer("C"), 5);
    EXPECT_EQ(host.elements[2].values["Z"].rawInt(), 10);
    // A plain integer is never an element.
    EXPECT_EQ(failure("v := 3; w := v.X"), "Variable not found: V.X");
}

}  // namespace
}  // namespace nb::test
