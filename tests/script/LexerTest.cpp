#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/ScriptLexer.h"

namespace nb::script {
namespace {

// "code:text" of every token of a compiled text.
std::vector<std::string> tokensOf(const std::string& source) {
    std::vector<std::string> out;
    for (const Token& t : decodeCompiled(compileSource(source)))
        out.push_back(std::to_string(t.code) + ":" + t.text);
    return out;
}

using Toks = std::vector<std::string>;

TEST(ScriptLexer, CompiledFormUsesMarkerAndCodePlus64) {
    const std::string expected = std::string("\x7f") + "A" + "X" + "\x7f" + "^" + ":=" + "\x7f" + "B" + "1" +
                                 "\x7f" + "Z" + ";";
    EXPECT_EQ(compileSource("x := 1;"), expected);
    EXPECT_EQ(compileSource(""), "");
    EXPECT_EQ(compileSource("  \t\r\n "), "");
}

TEST(ScriptLexer, PreprocessingFoldsCodeButNotStringsAndDropsComments) {
    EXPECT_EQ(preprocessSource("a := 'Hello'; b"), "A := 'Hello'; B");
    EXPECT_EQ(preprocessSource("x := 1; // note\ny := 2"), "X := 1; \nY := 2");
    EXPECT_EQ(preprocessSource("x { note } := 1"), "X  := 1");
    // A "{" comment without "}" ends at the end of its line.
    EXPECT_EQ(preprocessSource("x := 1 { open\ny := 2"), "X := 1 \nY := 2");
    // Braces inside strings stay; a "}" outside a string is always dropped.
    EXPECT_EQ(preprocessSource("s := '{a}'"), "S := '{a}'");
    EXPECT_EQ(preprocessSource("x := 1 } y"), "X := 1  Y");
    // "}" ends even a "//" comment: the rest of the line is code again.
    EXPECT_EQ(preprocessSource("// c } x := 2"), " X := 2");
    // Quotes inside comments do not open strings.
    EXPECT_EQ(preprocessSource("// it's\nx := 'a'"), "\nX := 'a'");
    // Either quote character toggles the string state.
    EXPECT_EQ(preprocessSource("a := 'it\"s'"), "A := 'it\"S'");
    // Only ASCII letters are folded; Windows-1251 Cyrillic keeps its case.
    EXPECT_EQ(preprocessSource("\xE0\xE1z"), "\xE0\xE1Z");
    // "//" inside a string is not a comment.
    EXPECT_EQ(preprocessSource("s := 'a//b'"), "S := 'a//b'");
}

TEST(ScriptLexer, LongestMatchAndIdentifierRule) {
    EXPECT_EQ(tokensOf("ORX := 1"), (Toks{"1:ORX", "30::=", "2:1"}));
    EXPECT_EQ(tokensOf("IF a>1 THEN"), (Toks{"33:IF", "1:A", "13:>", "2:1", "34:THEN"}));
    EXPECT_EQ(tokensOf("a>=b<>c<=d"), (Toks{"1:A", "15:>=", "1:B", "12:<>", "1:C", "16:<=", "1:D"}));
    EXPECT_EQ(tokensOf("ORDER DOWNTO DO"), (Toks{"1:ORDER", "38:DOWNTO", "39:DO"}));
    EXPECT_EQ(tokensOf("x:y"), (Toks{"1:X", "11::", "1:Y"}));
    EXPECT_EQ(tokensOf("NBDB.Screen1.Img.X"), (Toks{"1:NBDB.SCREEN1.IMG.X"}));
    // Reals must start with a digit: ".5" is a name.
    EXPECT_EQ(tokensOf("x := .5"), (Toks{"1:X", "30::=", "1:.5"}));
    EXPECT_EQ(tokensOf("1.25 1E5"), (Toks{"2:1.25", "2:1E5"}));
    // Ranges: ".." only stands alone when no identifier character follows.
    EXPECT_EQ(tokensOf("1 .. 5"), (Toks{"2:1", "55:..", "2:5"}));
    EXPECT_EQ(tokensOf("1..5"), (Toks{"2:1", "1:..5"}));
    EXPECT_EQ(tokensOf("'a'..'c'"), (Toks{"2:'a'", "55:..", "2:'c'"}));
    EXPECT_EQ(tokensOf("'a'..3"), (Toks{"2:'a'", "55:..", "2:3"}));
    EXPECT_EQ(tokensOf("'a' ..3"), (Toks{"2:'a'", "1:..3"}));
    // Characters outside every class still start a name.
    EXPECT_EQ(tokensOf("#a $ff"), (Toks{"1:#A", "1:$FF"}));
}

TEST(ScriptLexer, QuotedConstants) {
    EXPECT_EQ(tokensOf("s := 'a b'"), (Toks{"1:S", "30::=", "2:'a b'"}));
    EXPECT_EQ(tokensOf("s := \"TITLE\""), (Toks{"1:S", "30::=", "2:\"TITLE\""}));
    // A string ends at the next quote of either kind; the rest is code.
    EXPECT_EQ(tokensOf("a := 'it\"s'"), (Toks{"1:A", "30::=", "2:'it\"", "1:S", "2:'"}));
    // Without a closing quote the constant runs to the end, trimmed.
    EXPECT_EQ(tokensOf("x := 'abc  "), (Toks{"1:X", "30::=", "2:'abc"}));
}

TEST(ScriptLexer, DecodingDamagedCompiledText) {
    // Bytes before the first marker are ignored; a bare marker at the end and
    // a code-0 token end the text.
    std::vector<Token> t = decodeCompiled(std::string("junk\x7f" "AX\x7f"));
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].code, tkIdent);
    EXPECT_EQ(t[0].text, "X");
    t = decodeCompiled(std::string("\x7f" "AX\x7f" "@Y\x7f" "AZ"));
    ASSERT_EQ(t.size(), 1u);
    // A code byte that is itself the marker still reads as a code.
    t = decodeCompiled(std::string("\x7f\x7f"));
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].code, 63);
    EXPECT_TRUE(decodeCompiled("").empty());
    EXPECT_TRUE(decodeCompiled("\x7f").empty());
}

}  // namespace
}  // namespace nb::script
