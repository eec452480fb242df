#include <gtest/gtest.h>

#include <string>

#include "script/ScriptLimits.h"
#include "tests/script/FakeHost.h"

namespace nb::test {
namespace {

using ErrorLogTest = ScriptFixture;

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST_F(ErrorLogTest, LogLineNamesMessageTextElementAndHook) {
    EXPECT_FALSE(run("x := y"));
    ASSERT_EQ(host.log.size(), 1u);
    EXPECT_EQ(host.log[0], "Variable not found: Y (Y  in BTN1 <TNBImage>) ms_Down");
    EXPECT_EQ(engine.ErrorText(), "Y  ");
    EXPECT_EQ(engine.ErrorCode(), 3);
    // Statement errors quote the statement.
    host.hook = "Init";
    EXPECT_FALSE(run("5 := 1"));
    EXPECT_EQ(host.log.back(), "Invalid operator: 5 (5 := 1  in BTN1 <TNBImage>) Init");
    EXPECT_FALSE(run("FOR i = 1 TO 3 DO x := 1"));
    EXPECT_EQ(host.log.back(),
              "Invalid \xEE\xF0" "erator: = (':=' expected  (FOR I = 1 TO 3 DO X := 1  in BTN1 <TNBImage>) Init");
    // With no current element the element text is empty.
    host.current = 0;
    EXPECT_FALSE(run("x := y"));
    EXPECT_EQ(host.log.back(), "Variable not found: Y (Y  in ) Init");
    // An empty expression decodes to a single blank, plus the closing one.
    EXPECT_FALSE(run("x :="));
    EXPECT_EQ(engine.ErrorText(), " ");
    EXPECT_EQ(host.log.back(), "Empty string - not expression ( in ) Init");
}

TEST_F(ErrorLogTest, OnlyTheFirstErrorOfARunCounts) {
    // The unknown function is reported inside the expression; the assignment's
    // own "Error in expression" comes second and is dropped.
    EXPECT_FALSE(run("x := Nope(y)"));
    ASSERT_EQ(host.log.size(), 1u);
    EXPECT_EQ(host.log[0], "Unknown function: NOPE (NOPE ( Y )  in BTN1 <TNBImage>) ms_Down");
    // A built-in may report its own error; the failure that follows is dropped.
    engine.SetFunction("Complain", [](TScriptEngine& e, TVarList&, TVar&) {
        e.ReportError("Custom trouble", "detail", 0);
        return false;
    });
    EXPECT_FALSE(run("Complain()"));
    EXPECT_EQ(message(), "Custom trouble");
    EXPECT_NE(engine.ErrorCode(), 0);  // code 0 still stops the run
    EXPECT_EQ(engine.ErrorText(), "detail  ");
    EXPECT_EQ(host.log.size(), 2u);
    // The next run starts clean and logs again.
    EXPECT_TRUE(run("x := 1"));
    EXPECT_FALSE(run("x := q"));
    EXPECT_EQ(host.log.size(), 3u);
}

TEST_F(ErrorLogTest, AddVarWarningForDottedNames) {
    ASSERT_TRUE(run("NBDB.NOSUCH.Y := 1"));
    EXPECT_EQ(integer("NBDB.NOSUCH.Y"), 1);
    ASSERT_EQ(host.log.size(), 1u);
    EXPECT_EQ(host.log[0], "Add var NBDB.NOSUCH.Y (in BTN1 <TNBImage> ms_Down");
    // Existing variables and plain names warn nothing.
    ASSERT_TRUE(run("NBDB.NOSUCH.Y := 2; plain := 1"));
    EXPECT_EQ(host.log.size(), 1u);
    // A list without an interpreter never warns; CopyInto warns for the owner.
    TVarList loose;
    EXPECT_TRUE(loose.Add(TVar{"A.B", TScriptValue::int32(1)}));
    EXPECT_EQ(host.log.size(), 1u);
    loose.CopyInto(engine.Vars());
    EXPECT_EQ(host.log.size(), 2u);
    // Without a host nothing is logged, and nothing breaks.
    TScriptEngine bare;
    EXPECT_TRUE(compileAndRun(bare, "A.B := 1; c := A.B"));
    EXPECT_FALSE(compileAndRun(bare, "c := nope"));
    EXPECT_EQ(bare.ErrorMessage(), "Variable not found: NOPE");
}

TEST_F(ErrorLogTest, VariableTableRules) {
    EXPECT_TRUE(IsValidVarName("X"));
    EXPECT_TRUE(IsValidVarName("NBDB.SCREEN1.IMG.X"));
    EXPECT_TRUE(IsValidVarName("A[1,-2]"));
    EXPECT_TRUE(IsValidVarName("_\xC0\xB8"));
    EXPECT_FALSE(IsValidVarName("1X"));
    EXPECT_FALSE(IsValidVarName("A[I]"));
    EXPECT_FALSE(IsValidVarName("A[1]B"));
    EXPECT_FALSE(IsValidVarName(""));
    EXPECT_FALSE(IsValidVarName("A B"));
    TVarList& vars = engine.Vars();
    EXPECT_TRUE(vars.Add(TVar{"K", TScriptValue::int32(1)}));
    EXPECT_TRUE(vars.Add(TVar{"K", TScriptValue::int32(2)}));  // exists: unchanged
    EXPECT_EQ(vars.Find("K")->value.rawInt(), 1);
    EXPECT_FALSE(vars.Add(TVar{"1K", TScriptValue::int32(2)}));
    EXPECT_FALSE(vars.Set(TVar{"#K", TScriptValue::int32(2)}));
    EXPECT_TRUE(vars.Add(TVar{"ARR[3]", TScriptValue::int32(2)}));
    EXPECT_TRUE(vars.HasArray("ARR"));
    EXPECT_FALSE(vars.HasArray("AR"));
    EXPECT_FALSE(vars.SetExisting("NONE", TScriptValue::int32(1)));
    // SetVar/GetVar trim and upper-case the name; SetVar needs a variable.
    EXPECT_TRUE(engine.SetVar("  k ", TScriptValue::int32(9)));
    TVar out;
    EXPECT_TRUE(engine.GetVar(" k", out));
    EXPECT_EQ(out.value.rawInt(), 9);
    EXPECT_FALSE(engine.SetVar("none", TScriptValue::int32(1)));
    host.elements[3].values["TAG"] = TScriptValue::string("t");
    EXPECT_TRUE(engine.GetVar("tag", out));  // element values through the host
    EXPECT_EQ(out.value.rawString(), "t");
    EXPECT_EQ(out.name, "TAG");
    vars.Remove("K");
    EXPECT_FALSE(vars.Exists("K"));
    // Renaming a record through writable access is seen by HasArray.
    EXPECT_FALSE(vars.HasArray("Q"));
    vars[0].name = "Q[1]";
    EXPECT_TRUE(vars.HasArray("Q"));
    EXPECT_EQ(failure("x := q"), "Array with same name exist : Q");
    vars.Clear();
    EXPECT_FALSE(vars.HasArray("Q"));
}

TEST_F(ErrorLogTest, RunawayNestingEndsWithAnError) {
    const std::string kDepthMessage = "Stack overflow: nesting too deep";
    // Deep but reasonable nesting works.
    ASSERT_TRUE(run("x := " + repeat("(", 60) + "1" + repeat(")", 60)));
    EXPECT_EQ(integer("X"), 1);
    // Ten thousand parentheses.
    EXPECT_EQ(failure("x := " + repeat("(", 10000) + "1" + repeat(")", 10000)), kDepthMessage);
    EXPECT_EQ(engine.ErrorCode(), scriptlimits::kDepthErrorCode);
    // Nested blocks, conditions, calls and indices.
    EXPECT_EQ(failure(repeat("BEGIN ", 5000) + "x := 1" + repeat(" END", 5000)), kDepthMessage);
    EXPECT_EQ(failure(repeat("IF TRUE THEN ", 5000) + "x := 1"), kDepthMessage);
    EXPECT_EQ(failure("x := " + repeat("Trace(", 5000) + "1" + repeat(")", 5000)), kDepthMessage);
    EXPECT_EQ(failure("a[1] := 1; x := " + repeat("a[", 5000) + "1" + repeat("]", 5000)), kDepthMessage);
    // A script procedure that calls itself forever (procedures run while compiling).
    engine.Compile("PROCEDURE P(); P(); USES P()");
    EXPECT_EQ(message(), kDepthMessage);
    engine.Compile("FUNCTION F(N); RESULT := F(N + 1) + 1; USES F(1)");
    EXPECT_EQ(message(), kDepthMessage);
    // The interpreter is usable afterwards.
    EXPECT_TRUE(run("y := 2"));
}

}  // namespace
}  // namespace nb::test
