#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>

#include "platform/ByteIO.h"
#include "platform/Text.h"
#include "tools/GameFile.h"
#include "tools/GameJson.h"

using namespace nb;

namespace {

std::vector<uint8_t> tail(const std::vector<uint8_t>& v, size_t n) { return {v.end() - long(n), v.end()}; }

// ReadGame, then JSON, then back: the bytes must come out unchanged.
void expectJsonRoundTrip(const std::vector<uint8_t>& bytes, const std::string& what) {
    std::string text = GameToJson(ReadGame(bytes));
    GameNode back;
    GameJsonIssue error;
    std::vector<GameJsonIssue> warnings;
    ASSERT_TRUE(GameFromJson(text, back, error, warnings))
        << what << ": " << error.line << ":" << error.column << " " << error.message;
    std::vector<uint8_t> again;
    std::string why;
    ASSERT_TRUE(WriteGame(back, again, why)) << what << ": " << why;
    EXPECT_EQ(again, bytes) << what;
}

// Random games that use every corner of the format.
class GameGenerator {
public:
    explicit GameGenerator(uint32_t seed) : rng_(seed) {}

    GameNode node(const TClassInfo& cls, int depth) {
        GameNode n(cls.name);
        const int p = int(cls.props.size());
        int limit = p;
        switch (pick(6)) {
            case 0: n.count = limit = int32_t(pick(p)); break;  // C < P
            case 1: n.count = -int32_t(pick(3)) - 1; limit = 0; break;
            case 2: n.count = p + 2; break;  // values beyond P are never written
            default: break;
        }
        for (int k = 0; k < limit; ++k)
            if (pick(4)) n.props.emplace_back(cls.props[size_t(k)].name, value(cls.props[size_t(k)]));
        if (depth < 3) {
            for (int c = pick(4); c > 0; --c) {
                switch (pick(10)) {
                    case 0: n.children.push_back(raw("TNBWidget")); break;
                    case 1: n.children.push_back(damaged()); break;
                    default: n.children.push_back(node(ClassTable()[size_t(1 + pick(kClassCount - 1))], depth + 1));
                }
            }
        }
        return n;
    }

private:
    int pick(int n) { return n <= 0 ? 0 : int(rng_() % uint32_t(n)); }

    GameValue value(const TPropInfo& p) {
        switch (p.kind) {
            case TPropKind::Integer:
            case TPropKind::Enumeration: {
                const int64_t odd[] = {0, 1, 2, 7, -1, INT32_MIN, INT32_MAX, int64_t(UINT32_MAX), int64_t(rng_())};
                if (p.type == TPropType::Boolean && pick(2)) return GameValue(bool(pick(2)));
                if (p.kind == TPropKind::Enumeration && pick(2))
                    return GameValue(p.type == TPropType::PosHor ? "phRight" : "pvCenter");
                return GameValue(static_cast<long long>(odd[pick(9)]));
            }
            case TPropKind::Real: {
                uint64_t nanBits = 0x7FF0000000000123ull;
                double nan;
                std::memcpy(&nan, &nanBits, 8);
                const double odd[] = {0.1, -0.0, 1e308, 5e-324, std::numeric_limits<double>::infinity(), nan,
                                      double(int64_t(rng_()) << 20), 123456789012345678901.0, 3};
                return GameValue(odd[pick(9)]);
            }
            case TPropKind::String: {
                std::string s;
                switch (pick(3)) {
                    case 0: s = "\xCF\xF0\xE8\xE2\xE5\xF2, \"world\"\n\t\\"; break;  // Cyrillic and escapes
                    case 1:
                        for (int b = 0; b < 256; ++b) s += char(b);
                        break;
                    default:
                        for (int i = pick(12); i > 0; --i) s += char(pick(256));
                }
                return GameValue(s);
            }
        }
        return GameValue();
    }

    GameNode raw(const std::string& cls) {
        ByteWriter w;
        w.str32(cls);
        w.i32(2);
        w.i32(42);
        w.str32("x");
        GameNode n(cls);
        n.raw = w.buffer();
        return n;
    }
    GameNode damaged() {
        ByteWriter w;
        w.str32("TNBImage");
        w.i32(38);
        w.i32(5);
        w.i32(1000);  // a string length running past the record
        GameNode n("TNBImage");
        n.raw = w.buffer();
        return n;
    }

    std::mt19937 rng_;
};

}  // namespace

TEST(GameFile, WritesOneValuePerPropertyInClassOrderWithDefaults) {
    GameNode game = GameNode("TNBDB").set("InitScreen", 9).add(
        GameNode("TNBAnim").set("Key", 9).add(GameNode("TNBAnKey").set("Count", 5).set("Id", "k").set("NotSave", true)));
    const std::vector<uint8_t> bytes = WriteGame(game);

    ByteWriter key;  // the innermost record, by hand
    key.str32("TNBAnKey");
    key.i32(8);
    for (int32_t v : {0}) key.i32(v);
    key.str32("k");
    for (int32_t v : {0, 0, 1, 5, 0, 1}) key.i32(v);  // X, Y, Vis (on by default), Count, Morph, NotSave
    EXPECT_EQ(tail(bytes, key.size()), key.buffer());
    ByteWriter len;
    len.i32(int32_t(key.size()));
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - long(key.size()) - 4, bytes.end() - long(key.size())),
              len.buffer());

    // Every class written empty reads back as its construction defaults.
    for (const TClassInfo& cls : ClassTable()) {
        GameNode read = ReadGame(WriteGame(GameNode(cls.name)));
        ASSERT_FALSE(read.raw) << cls.name;
        EXPECT_FALSE(read.count) << cls.name;
        ASSERT_EQ(read.props.size(), cls.props.size()) << cls.name;
        for (size_t k = 0; k < cls.props.size(); ++k) {
            const TPropInfo& p = cls.props[k];
            const GameValue& v = read.props[k].second;
            EXPECT_EQ(read.props[k].first, p.name);
            const std::string where = cls.name + "." + p.name;
            switch (p.kind) {
                case TPropKind::Real: EXPECT_EQ(v.real, p.realDefault) << where; break;
                case TPropKind::String: EXPECT_EQ(v.text, p.strDefault) << where; break;
                case TPropKind::Integer: EXPECT_EQ(v.integer, p.intDefault) << where; break;
                case TPropKind::Enumeration:
                    EXPECT_EQ(v.text, p.type == TPropType::PosHor ? "phLeft" : "pvTop") << where;
                    break;
            }
        }
    }

    // Values convert by property: integers to reals, names to ordinals,
    // colour words read back unsigned.
    GameNode img = ReadGame(WriteGame(
        GameNode("TNBImage").set("rX", 3).set("PosVert", "pvBottom").set("hxColor", 0xFF00FF00u).set("PosHor", 2)));
    EXPECT_EQ(*img.get("rX"), GameValue(3.0));
    EXPECT_EQ(*img.get("PosVert"), GameValue("pvBottom"));
    EXPECT_EQ(*img.get("PosHor"), GameValue("phRight"));
    EXPECT_EQ(img.get("hxColor")->integer, 0xFF00FF00ll);
}

TEST(GameFile, WriterRefusesValuesTheLoaderWouldMisread) {
    auto error = [](const GameNode& n) {
        std::vector<uint8_t> out;
        std::string why;
        return WriteGame(n, out, why) ? std::string("<accepted>") : why;
    };
    GameNode twice("TNBScreen");
    twice.props = {{"Key", 1}, {"Key", 2}};
    GameNode rawAndProps("TNBScreen");
    rawAndProps.raw = std::vector<uint8_t>{1, 2};
    rawAndProps.set("Key", 1);
    GameNode beyond = GameNode("TNBText").set("Text", "x");
    beyond.count = 30;

    const std::pair<GameNode, const char*> cases[] = {
        {GameNode("TNBWidget"), "unknown class \"TNBWidget\""},
        {GameNode("TNBScreen").set("key", 1), "did you mean \"Key\""},
        {twice, "given twice"},
        {GameNode("TNBScreen").set("Key", "1"), "expected an integer"},
        {GameNode("TNBScreen").set("Key", true), "not a Boolean"},
        {GameNode("TNBScreen").set("Key", 1.5), "expected an integer"},
        {GameNode("TNBScreen").set("Key", 1ll << 32), "does not fit in 32 bits"},
        {GameNode("TNBScreen").set("Id", 3), "expected a string"},
        {GameNode("TNBImage").set("rX", "1"), "expected a number"},
        {GameNode("TNBImage").set("PosHor", "phMiddle"), "phLeft, phCenter, phRight"},
        {beyond, "beyond the record's count of 30"},
        {rawAndProps, "raw record"},
        {GameNode("TNBDB").add(GameNode("TNBScreen").add(GameNode("TNBImage").set("Nope", 1))), "root/0/0 (TNBImage)"},
    };
    for (const auto& [node, message] : cases) EXPECT_NE(error(node).find(message), std::string::npos) << error(node);
    EXPECT_THROW(WriteGame(GameNode("TNBWidget")), std::invalid_argument);

    // Limits that are fine: the full unsigned and signed ranges, Booleans as
    // integers, C = 0.
    GameNode fine("TNBImage");
    fine.count = 0;
    EXPECT_EQ(error(GameNode("TNBImage").set("hxColor", 4294967295ll).set("Key", INT32_MIN).set("Vis", 2)),
              "<accepted>");
    EXPECT_EQ(error(fine), "<accepted>");
}

TEST(GameFile, DumpThenBuildIsByteIdentical) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        GameGenerator gen(seed);
        GameNode game = gen.node(ClassTable()[0], 0);
        std::vector<uint8_t> bytes;
        std::string why;
        ASSERT_TRUE(WriteGame(game, bytes, why)) << why;
        expectJsonRoundTrip(bytes, "seed " + std::to_string(seed));
    }

    // Cyrillic text is UTF-8 in the JSON and Windows-1251 in the file.
    const std::string hello = "\xCF\xF0\xE8\xE2\xE5\xF2";  // "Привет"
    std::vector<uint8_t> bytes = WriteGame(GameNode("TNBDB").set("exInit", hello));
    std::string text = GameToJson(ReadGame(bytes));
    EXPECT_NE(text.find("\"exInit\": \"" + cp1251ToUtf8(hello) + "\""), std::string::npos);
    EXPECT_EQ(ReadGame(bytes).get("exInit")->text, hello);

    // A C < P record: only C values, the rest default in the player.
    GameNode shortText = GameNode("TNBText").set("Key", 4);
    shortText.count = 30;
    bytes = WriteGame(GameNode("TNBDB").add(GameNode("TNBScreen").add(shortText)));
    GameNode read = ReadGame(bytes);
    ASSERT_EQ(read.children.at(0).children.size(), 1u);
    EXPECT_EQ(read.children[0].children[0].count, 30);
    EXPECT_EQ(read.children[0].children[0].props.size(), 30u);
    EXPECT_NE(GameToJson(read).find("\"count\": 30"), std::string::npos);

    // Any bytes at all survive: every prefix of a game, and noise.
    for (size_t n = 0; n < bytes.size(); ++n)
        expectJsonRoundTrip(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)), "prefix " + std::to_string(n));
    std::mt19937 rng(5);
    for (int i = 0; i < 50; ++i) {
        std::vector<uint8_t> noise(size_t(rng() % 64));
        for (auto& b : noise) b = uint8_t(rng());
        expectJsonRoundTrip(noise, "noise " + std::to_string(i));
    }
}
