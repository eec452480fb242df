#include <gtest/gtest.h>

#include "tests/script/FakeHost.h"

namespace nb::test {
namespace {

using StatementTest = ScriptFixture;

TEST_F(StatementTest, SequencesAndEmptyStatements) {
    ASSERT_TRUE(run("x := 1; y := x + 1"));
    EXPECT_EQ(integer("Y"), 2);
    EXPECT_EQ(value("Y").kind(), ValueKind::Int32);
    ASSERT_TRUE(run(";; z := 3;;; w := 4;"));
    EXPECT_EQ(integer("Z"), 3);
    EXPECT_EQ(integer("W"), 4);
    EXPECT_TRUE(run(""));
    EXPECT_TRUE(run("// only a comment"));
    // A bare variable name as a statement evaluates and drops it.
    EXPECT_TRUE(run("y"));
    // Variables live across runs until the caller clears them.
    ASSERT_TRUE(run("y := y + 1"));
    EXPECT_EQ(integer("Y"), 3);
}

TEST_F(StatementTest, ForLoops) {
    // The control variable must already exist as a script variable.
    EXPECT_EQ(failure("FOR i := 1 TO 3 DO x := i"), "Invalid variable name: I");
    EXPECT_EQ(engine.ErrorCode(), 1);
    ASSERT_TRUE(run("i := 0; x := 0; FOR i := 1 TO 3 DO x := i"));
    EXPECT_EQ(integer("I"), 3);
    EXPECT_EQ(integer("X"), 3);
    // No pass when the range is empty; the variable keeps its value.
    ASSERT_TRUE(run("i := 7; n := 0; FOR i := 3 TO 1 DO n := n + 1"));
    EXPECT_EQ(integer("I"), 7);
    EXPECT_EQ(integer("N"), 0);
    ASSERT_TRUE(run("i := 0; n := 0; FOR i := 3 DOWNTO 1 DO n := n * 10 + i"));
    EXPECT_EQ(integer("N"), 321);
    // The bounds are evaluated once; the body cannot change the pass count.
    ASSERT_TRUE(run("i := 0; m := 3; c := 0; FOR i := 1 TO m DO BEGIN m := 10; i := 50; c := c + 1 END"));
    EXPECT_EQ(integer("C"), 3);
    // BREAK ends the loop, CONTINUE skips the rest of the pass.
    ASSERT_TRUE(run("i := 0; s := 0; FOR i := 1 TO 10 DO BEGIN IF i = 4 THEN BREAK; s := s + i END"));
    EXPECT_EQ(integer("S"), 6);
    EXPECT_EQ(integer("I"), 4);
    ASSERT_TRUE(run("i := 0; s := 0; FOR i := 1 TO 5 DO BEGIN IF i = 2 THEN CONTINUE; s := s + i END"));
    EXPECT_EQ(integer("S"), 13);
    // Reals round half to even for the bounds.
    ASSERT_TRUE(run("i := 0; c := 0; FOR i := 0.5 TO 2.5 DO c := c + 1"));
    EXPECT_EQ(integer("C"), 3);
    // The counter does not overflow at the top of the 32-bit range.
    ASSERT_TRUE(run("i := 0; c := 0; FOR i := 2147483646 TO 2147483646 + 1 DO c := c + 1"));
    EXPECT_EQ(integer("C"), 2);
}

TEST_F(StatementTest, ForLoopErrors) {
    EXPECT_EQ(failure("i := 0; FOR i := 'a' TO 3 DO x := 1"), "Invalid loop variable value ");
    EXPECT_EQ(engine.ErrorCode(), 5);
    EXPECT_EQ(failure("i := 0; FOR i := 1 TO 'b' DO x := 1"), "Invalid loop variable value ");
    EXPECT_EQ(failure("FOR 1 := 1 TO 3 DO x := 1"), "FOR control variable expected");
    EXPECT_EQ(engine.ErrorCode(), 13);
    EXPECT_EQ(failure("FOR i = 1 TO 3 DO x := 1"), "Invalid \xEE\xF0" "erator: = (':=' expected ");
    EXPECT_EQ(engine.ErrorCode(), 9);
    EXPECT_EQ(failure("FOR i := 1 UPTO 3 DO x := 1"), "TO or DOWNTO expected");
    EXPECT_EQ(engine.ErrorCode(), 12);
    EXPECT_EQ(failure("i := 0; FOR i := 1 TO 3 x := 1"), "DO expected");
    EXPECT_EQ(engine.ErrorCode(), 14);
    EXPECT_EQ(failure("i := 0; FOR i := 1 + TO 3 DO x := 1"),
              "Unknown or invalid operator in expression: ");
}

TEST_F(StatementTest, WhileLoops) {
    ASSERT_TRUE(run("i := 0; WHILE i < 5 DO i := i + 1"));
    EXPECT_EQ(integer("I"), 5);
    // BREAK inside IF inside WHILE ends the WHILE, and the run goes on.
    ASSERT_TRUE(run("i := 0; WHILE TRUE DO BEGIN i := i + 1; IF i = 3 THEN BREAK END; y := 1"));
    EXPECT_EQ(integer("I"), 3);
    EXPECT_EQ(integer("Y"), 1);
    ASSERT_TRUE(run("i := 0; s := 0; WHILE i < 4 DO BEGIN i := i + 1; IF i = 2 THEN CONTINUE; s := s + i END"));
    EXPECT_EQ(integer("S"), 8);
    EXPECT_EQ(failure("WHILE 'maybe' DO x := 1"), "Invalid condition type");
    EXPECT_EQ(engine.ErrorCode(), 5);
    EXPECT_EQ(failure("WHILE TRUE x := 1"), "DO expected");
    EXPECT_EQ(failure("WHILE 1 2 DO x := 1"), "Error in expression");
}

TEST_F(StatementTest, RepeatLoops) {
    // A BREAK before a true condition leaves no signal behind.
    ASSERT_TRUE(run("i := 0; REPEAT i := i + 1; IF i = 2 THEN BREAK UNTIL i >= 2; y := 1"));
    EXPECT_EQ(integer("I"), 2);
    EXPECT_EQ(integer("Y"), 1);
    // BREAK ends the loop even while the condition is false.
    ASSERT_TRUE(run("i := 0; REPEAT i := i + 1; IF i = 2 THEN BREAK UNTIL i >= 5"));
    EXPECT_EQ(integer("I"), 2);
    // The condition is still evaluated after a pass that left EXIT or BREAK
    // pending; a pending EXIT then ends the whole run.
    ASSERT_TRUE(run("y := 0; REPEAT EXIT UNTIL Tick() > 5; y := 2"));
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(integer("Y"), 0);
    ASSERT_TRUE(run("REPEAT BREAK UNTIL Tick() > 5; y := 3"));
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(integer("Y"), 3);
    ASSERT_TRUE(run("i := 0; REPEAT i := i + 1 UNTIL i = 4"));
    EXPECT_EQ(integer("I"), 4);
    // The body runs at least once.
    ASSERT_TRUE(run("n := 0; REPEAT n := n + 1 UNTIL TRUE"));
    EXPECT_EQ(integer("N"), 1);
    // The body ends at the first UNTIL: a REPEAT cannot hold another one.
    EXPECT_EQ(failure("REPEAT REPEAT x := 1 UNTIL TRUE UNTIL TRUE"), "UNTIL expected");
    EXPECT_EQ(failure("x := 1 UNTIL TRUE"), "Too many UNTIL");
    EXPECT_EQ(engine.ErrorCode(), 17);
    EXPECT_EQ(failure("REPEAT x := 1; y := 2"), "UNTIL expected");
    EXPECT_EQ(engine.ErrorCode(), 16);
}

TEST_F(StatementTest, IfElseBindsToTheFirstElse) {
    // IF does not nest in statement reading: the first ELSE ends the then-part.
    const char* src = "x := 0; y := 0; IF a THEN IF b THEN x := 1 ELSE y := 1";
    ASSERT_TRUE(run(std::string("a := FALSE; b := FALSE; ") + src));
    EXPECT_EQ(integer("X"), 0);
    EXPECT_EQ(integer("Y"), 1);
    ASSERT_TRUE(run(std::string("a := TRUE; b := FALSE; ") + src));
    EXPECT_EQ(integer("X"), 0);
    EXPECT_EQ(integer("Y"), 0);
    ASSERT_TRUE(run(std::string("a := TRUE; b := TRUE; ") + src));
    EXPECT_EQ(integer("X"), 1);
    // Conditions convert to Booleans: numbers and "TRUE"/"FALSE" texts.
    ASSERT_TRUE(run("x := 0; IF 2 THEN x := 1; IF 'false' THEN x := 2"));
    EXPECT_EQ(integer("X"), 1);
    ASSERT_TRUE(run("IF 1 > 2 THEN x := 'a' ELSE BEGIN x := 'b'; y := 'c' END"));
    EXPECT_EQ(text("X"), "b");
    EXPECT_EQ(text("Y"), "c");
    EXPECT_EQ(failure("IF 'abc' THEN x := 1"), "Invalid condition type");
    EXPECT_EQ(failure("IF THEN x := 1"), "Empty string - not expression");
    EXPECT_EQ(failure("ELSE x := 1"), "ELSE without IF");
    EXPECT_EQ(engine.ErrorCode(), 9);
}

TEST_F(StatementTest, BlocksMustEndWithEnd) {
    ASSERT_TRUE(run("BEGIN x := 1; BEGIN y := 2 END; z := 3 END"));
    EXPECT_EQ(integer("Z"), 3);
    ASSERT_TRUE(run("BEGIN END"));
    EXPECT_EQ(failure("BEGIN x := 1 END y := 2"), "END expected");
    EXPECT_EQ(engine.ErrorCode(), 10);
    EXPECT_EQ(failure("BEGIN x := 1; y := 2"), "END expected");
    EXPECT_EQ(failure("x := 1; END; y := 2"), "Too many END");
    EXPECT_EQ(engine.ErrorCode(), 11);
    // The statements before an unbalanced one have already run.
    EXPECT_EQ(integer("X"), 1);
}

TEST_F(StatementTest, CaseStatements) {
    const char* ranges = "x := 0; CASE n OF 1 .. 5: x := 1; 6, 7: x := 2; ELSE x := 9; END";
    ASSERT_TRUE(run(std::string("n := 3; ") + ranges));
    EXPECT_EQ(integer("X"), 1);
    ASSERT_TRUE(run(std::string("n := 7; ") + ranges));
    EXPECT_EQ(integer("X"), 2);
    ASSERT_TRUE(run(std::string("n := 70; ") + ranges));
    EXPECT_EQ(integer("X"), 9);
    // Ranges may be written backwards.
    ASSERT_TRUE(run("x := 0; CASE 4 OF 5 .. 3: x := 1; END"));
    EXPECT_EQ(integer("X"), 1);
    // "1..5" lexes as 1 and the name "..5".
    EXPECT_EQ(failure("n := 3; CASE n OF 1..5: x := 1; END"), "Error in expression");
    ASSERT_TRUE(run("x := 0; CASE 'b' OF 'a'..'c': x := 1; END"));
    EXPECT_EQ(integer("X"), 1);
    // A string label never matches a number, without error.
    ASSERT_TRUE(run("x := 0; CASE 2 OF 'a': x := 1; END"));
    EXPECT_EQ(integer("X"), 0);
    EXPECT_EQ(failure("CASE 2 OF 'a' .. 3: x := 1; END"), "Invalid typecast in CASE range");
    // Right behind a string ".." is the range symbol even before a digit.
    EXPECT_EQ(failure("CASE 2 OF 'a'..3: x := 1; END"), "Invalid typecast in CASE range");
    ASSERT_TRUE(run("x := 0; c := 'c'; CASE 'b' OF 'a'..c: x := 1; END"));
    EXPECT_EQ(integer("X"), 1);
    // An ELSE part waits for END: branches written after it are still tried.
    ASSERT_TRUE(run("x := 0; CASE 2 OF 1: x := 1; ELSE x := 9; 2: x := 2; END"));
    EXPECT_EQ(integer("X"), 2);
    ASSERT_TRUE(run("x := 0; CASE 3 OF 1: x := 1; ELSE x := 9; 2: x := 2; END"));
    EXPECT_EQ(integer("X"), 9);
    // Only the first matching branch runs; labels are any expressions.
    ASSERT_TRUE(run("x := 0; k := 2; CASE 4 OF k * 2: x := x + 1; 4: x := x + 10; END"));
    EXPECT_EQ(integer("X"), 1);
    // A branch needs its ";" before END, else the reader runs past the END.
    EXPECT_EQ(failure("CASE 1 OF 1: x := 1 END"), "Too many END");
    EXPECT_EQ(failure("CASE 1 OF 2: x := 1; ELSE x := 2; ELSE x := 3; END"),
              "Too many ELSEin CASE statement");
    EXPECT_EQ(engine.ErrorCode(), 28);
    EXPECT_EQ(failure("CASE 1 2: x := 1; END"), "OF expected");
    EXPECT_EQ(failure("CASE 1 OF 1 x := 1; END"), ": expected");
    EXPECT_EQ(engine.ErrorCode(), 29);
    EXPECT_EQ(failure("CASE 1 OF : x := 1; END"), "Range defininition expected");
    // An unbalanced branch is reported even when it does not match.
    EXPECT_EQ(failure("x := 0; CASE 2 OF 1: x := 1 END; y := 2"), "Too many END");
    EXPECT_FALSE(has("Y"));
    // Branches after the matching one are never read.
    ASSERT_TRUE(run("x := 0; CASE 1 OF 1: x := 1; 2: y := 1 END"));
    EXPECT_EQ(integer("X"), 1);
}

TEST_F(StatementTest, BreakContinueExit) {
    EXPECT_EQ(failure("x := 1; BREAK; y := 2"), "BREAK outside loop");
    EXPECT_EQ(engine.ErrorCode(), 15);
    EXPECT_FALSE(has("Y"));
    EXPECT_EQ(failure("IF TRUE THEN CONTINUE"), "CONTINUE outside loop");
    EXPECT_EQ(failure("i := 0; WHILE i < 3 DO BEGIN i := i + 1; CONTINUE 1 END"), "Invalid CONTINUE operator");
    EXPECT_EQ(failure("BREAK x"), "Invalid BREAK operator");
    EXPECT_EQ(failure("EXIT 1"), "Invalid EXIT operator");
    // EXIT ends the whole run from any depth, without error.
    ASSERT_TRUE(run("a := 1; WHILE TRUE DO BEGIN IF a = 1 THEN EXIT END; b := 2"));
    EXPECT_FALSE(has("B"));
}

TEST_F(StatementTest, GotoAndLabels) {
    ASSERT_TRUE(run("GOTO L1; x := 1; L1: y := 2"));
    EXPECT_FALSE(has("X"));
    EXPECT_EQ(integer("Y"), 2);
    // Backward jumps, and jumps out of nested lists to an enclosing one.
    ASSERT_TRUE(run("i := 0; L: i := i + 1; IF i < 3 THEN GOTO L; y := i"));
    EXPECT_EQ(integer("Y"), 3);
    ASSERT_TRUE(run("n := 0; WHILE TRUE DO BEGIN n := n + 1; IF n = 5 THEN GOTO OUT END; OUT: z := n"));
    EXPECT_EQ(integer("Z"), 5);
    ASSERT_TRUE(run("GOTO 10; x := 1; 10: w := 1"));
    EXPECT_EQ(integer("W"), 1);
    // Never into a nested block.
    EXPECT_EQ(failure("GOTO L1; BEGIN L1: y := 2 END"), "Label L1 not exist or unreacheble");
    EXPECT_EQ(engine.ErrorCode(), 18);
    EXPECT_EQ(failure("GOTO 'a'"), "Invalid label in GOTO");
    EXPECT_EQ(failure("GOTO"), "Invalid label in GOTO");
    EXPECT_EQ(failure("GOTO L1 L2"), "Error in GOTO statement");
    // A label on an empty statement is an invalid operator when reached.
    EXPECT_EQ(failure("GOTO L1; x := 1; L1:"), "Invalid operator: ");
}

TEST_F(StatementTest, StatementKindErrors) {
    EXPECT_EQ(failure("5 := 1"), "Invalid operator: 5");
    EXPECT_EQ(engine.ErrorCode(), 9);
    EXPECT_EQ(failure("BEGIN PROCEDURE P(); END"), "Invalid operator: PROCEDURE");
    EXPECT_EQ(failure("x = 1"), "Found =, expected :=, (, [ or ;");
    EXPECT_EQ(engine.ErrorCode(), 1);
    EXPECT_EQ(failure("x := 1 2"), "Error in expression");
    EXPECT_EQ(failure("x :="), "Empty string - not expression");
    EXPECT_EQ(failure("#a := 1"), "Invalid variable name: #A");
    EXPECT_EQ(engine.ErrorCode(), 4);
    // The first failing statement ends the run; later ones never run.
    EXPECT_FALSE(run("a := 1; b := nosuch; c := 3"));
    EXPECT_TRUE(has("A"));
    EXPECT_FALSE(has("C"));
}

TEST_F(StatementTest, RunEmptiesProceduresAndResetsErrors) {
    // Declared procedures exist only while compiling; a later run cannot call them.
    std::string compiled = engine.Compile("PROCEDURE P(); x := 1; P()");
    EXPECT_EQ(engine.ErrorCode(), 0);
    EXPECT_FALSE(engine.Run(compiled));
    EXPECT_EQ(message(), "Unknown function: P");
    // Each run starts without an error.
    EXPECT_TRUE(engine.Run(engine.Compile("x := 2")));
    EXPECT_EQ(engine.ErrorCode(), 0);
    EXPECT_EQ(message(), "");
}

TEST_F(StatementTest, CachedRunsBehaveLikeFreshOnes) {
    // The same compiled text run many times gives the same results, and a
    // statement list that fails halfway runs its first part every time.
    std::string compiled = engine.Compile("n := n + 1; IF n > 2 THEN q := nosuch; m := n");
    ASSERT_TRUE(engine.Run(engine.Compile("n := 0")));
    EXPECT_TRUE(engine.Run(compiled));
    EXPECT_TRUE(engine.Run(compiled));
    EXPECT_FALSE(engine.Run(compiled));
    EXPECT_EQ(message(), "Variable not found: NOSUCH");
    EXPECT_EQ(integer("N"), 3);
    EXPECT_EQ(integer("M"), 2);
    // A name read as a variable becomes a call as soon as a function of that
    // name exists, even in the middle of a loop that already read it.
    engine.SetFunction("MakeProbe", [](TScriptEngine& e, TVarList&, TVar&) {
        return e.SetFunction("Probe", [](TScriptEngine&, TVarList&, TVar& r) {
            r.value = TScriptValue::int32(42);
            return true;
        });
    });
    ASSERT_TRUE(run("probe := 5; i := 0; WHILE i < 2 DO BEGIN i := i + 1; v[i] := probe; MakeProbe() END"));
    EXPECT_EQ(integer("V[1]"), 5);
    EXPECT_EQ(integer("V[2]"), 42);
    // Index groups of a call statement are evaluated while the statement is
    // read and again when it is evaluated as an expression.
    ASSERT_TRUE(run("a[1] := 0; a[2] := 0; a[Tick()]"));
    EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace nb::test
