#include <gtest/gtest.h>

#include <cmath>

#include "tools/GameJson.h"
#include "tools/Json.h"

using namespace nb;

namespace {

struct Outcome {
    bool ok;
    GameJsonIssue error;
    std::vector<GameJsonIssue> warnings;
    GameNode game;
};

Outcome fromJson(const std::string& text) {
    Outcome o;
    o.ok = GameFromJson(text, o.game, o.error, o.warnings);
    return o;
}

}  // namespace

TEST(GameJson, ErrorsNameLineAndColumn) {
    struct Case {
        std::string json;
        int line, column;
        std::string message;
    };
    const Case cases[] = {
        {"{\"class\": \"TNBDB\",\n  \"props\": {\"Key\": 1,\n    \"Nope\": 2}}", 3, 5, "unknown property \"Nope\" in TNBDB"},
        {"{\"class\": \"TNBDB\", \"children\": [\n {\"class\": \"TNBscreen\"}]}", 2, 12, "did you mean \"TNBScreen\""},
        {"{\"class\": \"TNBDB\", \"props\": {\"Key\": 1,\n\"Id\": \"a\", \"Key\": 2}}", 2, 12, "given twice (first on line 1)"},
        {"{\"class\": \"TNBDB\", \"props\": {\"Key\": \"1\"}}", 1, 37, "expected an integer"},
        {"{\"class\": \"TNBDB\", \"props\": {\"Key\": 1.0}}", 1, 37, "not a real number"},
        {"{\"class\": \"TNBDB\", \"props\": {\"Key\": 4294967296}}", 1, 37, "does not fit in 32 bits"},
        {"{\"class\": \"TNBDB\", \"props\": {\"Key\": 99999999999999999999}}", 1, 37, "out of range"},
        {"{\"class\": \"TNBDB\", \"props\": {\"Id\": 5}}", 1, 36, "expected a string"},
        {"{\"class\": \"TNBDB\", \"props\": {\"Vis\": null}}", 1, 37, "unexpected null"},
        {"{\"class\": \"TNBDB\", \"props\": {\"Id\": \"\xF0\x9F\x99\x82\"}}", 1, 36, "Windows-1251"},
        {"{\"class\": \"TNBScreen\", \"props\": {\"Id\": \"\xD0\x96\", \"Nope\": 1}}", 1, 45, "unknown property"},
        {"{\"class\": \"TNBText\", \"count\": 2, \"props\": {\"X\": 1}}", 1, 44, "beyond the record's count of 2"},
        {"{\"class\": \"TNBDB\", \"colour\": 1}", 1, 20, "unknown record key \"colour\""},
        {"{\"props\": {}}", 1, 1, "needs a \"class\""},
        {"{\"class\": \"TNBDB\", \"raw\": \"abc\"}", 1, 27, "even number"},
        {"{\"class\": \"TNBDB\", \"children\": [1]}", 1, 33, "must be an object"},
        {"{\"class\": \"TNBDB\"\n \"props\": {}}", 2, 2, "expected ',' or '}'"},
        {"{\"class\": \"TNBImage\", \"props\": {\"rX\": 01}}", 1, 40, "expected ',' or '}'"},
        {"{\"class\": \"TNBImage\", \"props\": {\"Scale\": 1e999}}", 1, 42, "out of range"},
        {"{\"class\": \"TNBImage\", \"props\": {\"PosHor\": \"center\"}}", 1, 43, "expected one of phLeft"},
        {"{\"class\": \"TNBDB\"} x", 1, 20, "after the end"},
        {"{\"class\": \"TNBDB\", \"props\": {\"Id\": \"a\\qb\"}}", 1, 39, "unknown escape"},
    };
    for (const Case& c : cases) {
        Outcome o = fromJson(c.json);
        ASSERT_FALSE(o.ok) << c.json;
        EXPECT_EQ(o.error.line, c.line) << c.json << "\n" << o.error.message;
        EXPECT_EQ(o.error.column, c.column) << c.json << "\n" << o.error.message;
        EXPECT_NE(o.error.message.find(c.message), std::string::npos) << o.error.message;
    }
}

TEST(GameJson, ValuesConvertAndSkippedRecordsWarn) {
    Outcome o = fromJson(
        "\xEF\xBB\xBF{\"class\": \"TNBDB\", \"props\": {\"Id\": \"\\u0416\\uD83D\\uDE42x\", \"Vis\": true,"
        " \"hxTransLev\": 200},\n"
        " \"children\": [{\"class\": \"TNBScreen\", \"props\": {\"Tag\": \"\xD0\x96\\n\", \"hxDrawFx\": 4294967295}},\n"
        "   {\"class\": \"TNBImage\", \"props\": {\"rX\": -0, \"Scale\": \"0x7FF0000000000000\", \"PosHor\": 1}}]}");
    // U+1F642 has no Windows-1251 byte, so the first document is refused...
    ASSERT_FALSE(o.ok);
    EXPECT_NE(o.error.message.find("Windows-1251"), std::string::npos);

    o = fromJson(
        "{\"class\": \"TNBDB\", \"props\": {\"Id\": \"\\u0416x\\/\", \"Vis\": true, \"hxTransLev\": 200},\n"
        " \"children\": [{\"class\": \"TNBScreen\", \"props\": {\"Tag\": \"\xD0\x96\\n\", \"hxDrawFx\": 4294967295}},\n"
        "   {\"class\": \"TNBImage\", \"props\": {\"rX\": -0, \"Scale\": \"0x7FF0000000000000\", \"PosHor\": 1}}]}");
    ASSERT_TRUE(o.ok) << o.error.line << ":" << o.error.column << " " << o.error.message;
    EXPECT_EQ(o.game.get("Id")->text, "\xC6x/");
    EXPECT_EQ(*o.game.get("Vis"), GameValue(true));
    EXPECT_EQ(o.game.children[0].get("Tag")->text, "\xC6\n");
    EXPECT_EQ(o.game.children[0].get("hxDrawFx")->integer, 4294967295ll);
    const GameNode& img = o.game.children[1];
    EXPECT_TRUE(std::signbit(img.get("rX")->real));
    EXPECT_TRUE(std::isinf(img.get("Scale")->real));
    // ...and the image directly under the root is one the player skips.
    ASSERT_EQ(o.warnings.size(), 1u);
    EXPECT_EQ(o.warnings[0].line, 3);
    EXPECT_NE(o.warnings[0].message.find("TNBImage under a TNBDB"), std::string::npos);

    // Written strings escape control characters and keep other text as is.
    std::string s;
    json::AppendString(s, std::string("a\"\\\x01\n\xC2\x98\xD0\x96", 9));
    EXPECT_EQ(s, "\"a\\\"\\\\\\u0001\\n\\u0098\xD0\x96\"");
    json::Value v;
    json::ParseError pe;
    ASSERT_TRUE(json::Parse(s, v, pe));
    EXPECT_EQ(v.text, std::string("a\"\\\x01\n\xC2\x98\xD0\x96", 9));

    // Nesting is bounded instead of exhausting the stack.
    std::string deep(100000, '[');
    EXPECT_FALSE(json::Parse(deep, v, pe));
    EXPECT_NE(pe.message.find("too deep"), std::string::npos);
}
