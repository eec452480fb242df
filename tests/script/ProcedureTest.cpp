// Script procedures and functions run while a hook is compiled: the
// declaration pass evaluates USES and INCLUDE file names, which may call what
// the source declared before.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "script/ScriptLexer.h"
#include "tests/script/FakeHost.h"

namespace nb::test {
namespace {

namespace stdfs = std::filesystem;

class ProcedureTest : public ScriptFixture {
protected:
    ProcedureTest() {
        dir = stdfs::temp_directory_path() /
              ("nb_script_proc_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        stdfs::create_directories(dir);
    }
    ~ProcedureTest() override {
        std::error_code ec;
        stdfs::remove_all(dir, ec);
    }
    std::string writeFile(const std::string& name, const std::string& content) {
        stdfs::path p = dir / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    // Compiles and reports the recorded message ("" when none).
    std::string compileMessage(const std::string& source) {
        lastCompiled = engine.Compile(source);
        return engine.ErrorMessage();
    }

    stdfs::path dir;
    std::string lastCompiled;
};

// Compiled form of a few tokens, for messages that quote compiled text.
std::string compiled(const std::string& source) { return script::compileSource(source); }

TEST_F(ProcedureTest, ParametersWorkByReferenceOnlyForVariableArguments) {
    ASSERT_TRUE(run("a := 0; b := 7"));
    // The procedure's value is empty, so the file name is "" and cannot be opened.
    EXPECT_EQ(compileMessage("PROCEDURE P(X); BEGIN X := 5; B := 1 END; USES P(A)"),
              "Can't open file \"" + compiled("P(A)") + "\", error code 2");
    EXPECT_EQ(engine.ErrorCode(), 25);
    EXPECT_EQ(integer("A"), 5);  // copied out through the argument name
    EXPECT_EQ(integer("B"), 7);  // every other change is undone
    EXPECT_FALSE(has("X"));
    // An argument that is not a plain variable name gets nothing back.
    compileMessage("PROCEDURE P(X); X := 5; USES P(A + 0)");
    EXPECT_EQ(integer("A"), 5);
    ASSERT_TRUE(run("a := 1"));
    compileMessage("PROCEDURE P(X); X := 9; USES P((A))");
    EXPECT_EQ(integer("A"), 1);
}

TEST_F(ProcedureTest, FunctionsResultsAndArgumentOrder) {
    // Each parameter is bound before the next argument is evaluated.
    compileMessage("FUNCTION F(A, B); RESULT := A * 10 + B; USES Trace(F(1, A + 1))");
    EXPECT_EQ(trace, (std::vector<std::string>{"VALUE=12"}));
    EXPECT_FALSE(has("A"));
    EXPECT_FALSE(has("RESULT"));
    // RESULT left over from the caller does not count.
    trace.clear();
    ASSERT_TRUE(run("result := 5"));
    EXPECT_EQ(compileMessage("FUNCTION F(); x := 1; USES Trace(F())"), "Function must return result : F");
    EXPECT_EQ(engine.ErrorCode(), 26);
    EXPECT_FALSE(has("X"));  // restored all the same
    EXPECT_EQ(integer("RESULT"), 5);
    EXPECT_TRUE(trace.empty());
    // Recursion works within the nesting limit.
    trace.clear();
    compileMessage("FUNCTION FACT(N); IF N <= 1 THEN RESULT := 1 ELSE RESULT := N * FACT(N - 1);"
                   "USES Trace(FACT(10))");
    EXPECT_EQ(trace, (std::vector<std::string>{"VALUE=3628800"}));
    // EXIT ends the body; the caller goes on.
    trace.clear();
    compileMessage("PROCEDURE P(); BEGIN EXIT; Trace('late') END; USES Trace(P(), 5)");
    EXPECT_EQ(trace, (std::vector<std::string>{"VALUE=", "VALUE=5"}));
}

TEST_F(ProcedureTest, CallErrors) {
    EXPECT_EQ(compileMessage("PROCEDURE P(A); x := 1; USES P(1, 2)"), "Wrong parameters amount, procedure P");
    EXPECT_EQ(engine.ErrorCode(), 7);
    EXPECT_EQ(compileMessage("PROCEDURE P(); BREAK; USES P()"), "BREAK outside loop");
    EXPECT_EQ(compileMessage("PROCEDURE P(); IF TRUE THEN CONTINUE; USES P()"), "CONTINUE outside loop");
    EXPECT_EQ(compileMessage("PROCEDURE P(); GOTO L; USES P()"), "Label L not exist or unreacheble");
    EXPECT_EQ(compileMessage("PROCEDURE P(#A); x := 1; USES P(1)"), "Duplicate variable name: #A");
    EXPECT_EQ(engine.ErrorCode(), 24);
    EXPECT_EQ(compileMessage("PROCEDURE P(A); x := 1; USES P(1 2)"),
              "Invalid expression in function params: " + compiled("1 2"));
}

TEST_F(ProcedureTest, ParameterNamedLikeAnElementValue) {
    // Binding goes through Set: a parameter named like a value of the current
    // element writes the element, and copy-out reads it back from there.
    host.elements[3].values["X"] = TScriptValue::int32(1);
    ASSERT_TRUE(run("q := 0"));
    compileMessage("PROCEDURE P(X); X := X + 10; USES P(Q)");
    EXPECT_EQ(host.elements[3].values["X"].rawInt(), 10);
    EXPECT_EQ(integer("Q"), 10);
}

TEST_F(ProcedureTest, DeclarationErrors) {
    EXPECT_EQ(compileMessage("PROCEDURE 5(); x := 1"), "Invalid procedure name");
    EXPECT_EQ(engine.ErrorCode(), 4);
    EXPECT_EQ(compileMessage("PROCEDURE P(); x := 1; FUNCTION P(); y := 1"), "Duplicate procedure name");
    EXPECT_EQ(engine.ErrorCode(), 24);
    EXPECT_EQ(compileMessage("PROCEDURE P; x := 1"), "( expected");
    EXPECT_EQ(engine.ErrorCode(), 2);
    EXPECT_EQ(compileMessage("PROCEDURE P(A B); x := 1"), "Invalid function call");
    EXPECT_EQ(engine.ErrorCode(), 7);
    EXPECT_EQ(compileMessage("PROCEDURE P(A,); x := 1"), "Invalid function call");
    EXPECT_EQ(compileMessage("PROCEDURE P(A; x := 1"), "Invalid function call");
    // Each compile starts with an empty table: the same declaration again is fine.
    EXPECT_EQ(compileMessage("PROCEDURE P(); x := 1"), "");
    EXPECT_EQ(compileMessage("PROCEDURE P(); x := 1"), "");
    // Declarations leave the main program; the rest gets ";" after each statement.
    EXPECT_EQ(engine.Compile("PROCEDURE P(); x := 1; y := 2; z := 3"), compiled("Y := 2; Z := 3;"));
}

TEST_F(ProcedureTest, IncludeAndUsesFiles) {
    std::string inc = writeFile("part.inc", "y := 42; FUNCTION TWICE(N); RESULT := N * 2;");
    // INCLUDE appends the file's main program; USES takes only declarations.
    std::string main = engine.Compile("FUNCTION NAME(); RESULT := '" + inc + "'; INCLUDE NAME(); z := 1");
    ASSERT_EQ(engine.ErrorCode(), 0) << engine.ErrorMessage();
    ASSERT_TRUE(engine.Run(main));
    EXPECT_EQ(integer("Y"), 42);
    EXPECT_EQ(integer("Z"), 1);
    ASSERT_TRUE(engine.Run(engine.Compile("y := 0; z := 0")));
    main = engine.Compile("USES '" + inc + "'; USES Trace(TWICE(21)); z := 2");
    EXPECT_EQ(trace, (std::vector<std::string>{"VALUE=42"}));
    trace.clear();
    EXPECT_EQ(engine.ErrorCode(), 25);  // "1" names no file
    main = engine.Compile("USES '" + inc + "'; z := 2");
    ASSERT_TRUE(engine.Run(main));
    EXPECT_EQ(integer("Y"), 0);
    EXPECT_EQ(integer("Z"), 2);
}

TEST_F(ProcedureTest, IncludeFileErrors) {
    EXPECT_EQ(compileMessage("USES 1 2"), "Invalid filename \"" + compiled("1 2") + "\" in USES statement");
    EXPECT_EQ(engine.ErrorCode(), 1);
    EXPECT_EQ(compileMessage("INCLUDE nosuch"), "Variable not found: NOSUCH");
    EXPECT_EQ(compileMessage("INCLUDE 'no_such_file.inc'"),
              "Can't open file \"" + compiled("'no_such_file.inc'") + "\", error code 2");
    EXPECT_EQ(engine.ErrorCode(), 25);
    // A folder is not a readable file either.
    std::string folder = dir.string();
    std::string msg = compileMessage("USES '" + folder + "'");
    EXPECT_EQ(msg.rfind("Can't open file", 0), 0u) << msg;
    EXPECT_NE(msg.find("error code 21"), std::string::npos) << msg;
    // A file that includes itself stops with an error instead of recursing.
    std::string self = (dir / "self.inc").string();
    writeFile("self.inc", "a := 1; INCLUDE '" + self + "'");
    msg = compileMessage("INCLUDE '" + self + "'");
    EXPECT_EQ(msg.rfind("Too many nested files", 0), 0u) << msg;
    EXPECT_EQ(engine.ErrorCode(), 27);
    // An error inside an included file ends the whole compile.
    std::string bad = writeFile("bad.inc", "PROCEDURE 1()");
    EXPECT_EQ(compileMessage("INCLUDE '" + bad + "'; x := 1"), "Invalid procedure name");
}

TEST_F(ProcedureTest, IncludeNamesAreRelativeToTheCurrentFolderInAnyCase) {
    writeFile("rel.inc", "r := 5");
    stdfs::path old = stdfs::current_path();
    stdfs::current_path(dir);
    std::string main = engine.Compile("INCLUDE 'REL.INC'");
    stdfs::current_path(old);
    ASSERT_EQ(engine.ErrorCode(), 0) << engine.ErrorMessage();
    ASSERT_TRUE(engine.Run(main));
    EXPECT_EQ(integer("R"), 5);
}

TEST_F(ProcedureTest, CompiledSourcesAndReuse) {
    std::string first = engine.Compile("PROCEDURE P(); x := 1; y := 2");
    // Text holding the token marker is taken as compiled: only the
    // declaration pass runs, and the procedure is declared again.
    std::string again = engine.Compile(compiled("PROCEDURE P(); x := 1; y := 2"));
    EXPECT_EQ(first, again);
    EXPECT_EQ(engine.Compile("PROCEDURE P(); x := 1; y := 2"), first);
    EXPECT_EQ(engine.ErrorCode(), 0);
    // Damaged compiled text runs into ordinary errors.
    std::string junk = std::string("x\x7f") + "\x01\x7f\x7f\x7f" + "A" + std::string(1, '\0') + "\x7f" + "\xFF";
    EXPECT_FALSE(engine.Run(junk));
    EXPECT_EQ(engine.ErrorCode(), 9);
    EXPECT_EQ(engine.ErrorMessage(), "Invalid operator: ");
    engine.Compile(junk);
    EXPECT_EQ(engine.ErrorCode(), 0);
    EXPECT_TRUE(engine.Run(std::string("\x7f")));
}

}  // namespace
}  // namespace nb::test
