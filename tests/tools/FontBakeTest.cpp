#include <gtest/gtest.h>

#include "platform/ByteIO.h"
#include "tests/archive/ArchiveBytes.h"
#include "tools/FontBake.h"

using namespace nb;

namespace {

const char* const kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// The payload read field by field, independently of the tool's own parser.
struct Baked {
    int32_t first = 0, spacing = 0, reserved = -1, count = 0;
    std::vector<std::pair<int32_t, int32_t>> glyphs;
    uint8_t format = 0;
    int32_t pw = 0, ph = 0, vw = 0, vh = 0, patterns = 0, tw = 0, th = 0, tc = 0;
    std::vector<uint32_t> texels;

    explicit Baked(const std::vector<uint8_t>& b) {
        ByteReader in(b);
        in.i32(first);
        in.i32(spacing);
        in.i32(reserved);
        in.i32(count);
        for (int i = 0; i < count && in.ok(); ++i) {
            int32_t w = 0, h = 0;
            in.i32(w);
            in.i32(h);
            glyphs.emplace_back(w, h);
        }
        in.u8(format);
        for (int32_t* v : {&pw, &ph, &vw, &vh, &patterns, &tw, &th, &tc}) in.i32(*v);
        uint32_t t;
        while (in.u32(t)) texels.push_back(t);
    }
    int perRow() const { return tw / pw; }
    int perTexture() const { return perRow() * (th / ph); }
    uint32_t texel(int glyph, int x, int y) const {
        int tex = glyph / perTexture(), cell = glyph % perTexture();
        size_t at = size_t(tex) * size_t(tw) * size_t(th) + size_t((cell / perRow()) * ph + y) * size_t(tw) +
                    size_t((cell % perRow()) * pw + x);
        return texels[at];
    }
    // Rows of the glyph's cell that hold ink: first and last, -1 when none.
    std::pair<int, int> inkRows(int glyph) const {
        int top = -1, bottom = -1;
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x)
                if (texel(glyph, x, y) >> 24) {
                    if (top < 0) top = y;
                    bottom = y;
                }
        return {top, bottom};
    }
};

bool powerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

}  // namespace

TEST(FontBake, PayloadHeaderGlyphsAndBaseline) {
    FontBakeOptions o;
    o.ttfPath = kFont;
    o.pixelSize = 16;
    o.spacing = 1;
    std::string error;
    std::optional<std::vector<uint8_t>> payload = BakeFont(o, error);
    ASSERT_TRUE(payload) << error;
    const Baked f(*payload);

    EXPECT_EQ(f.first, 32);
    EXPECT_EQ(f.spacing, 1);
    EXPECT_EQ(f.reserved, 0);
    ASSERT_EQ(f.count, 224);
    EXPECT_EQ(f.format, 5);
    EXPECT_EQ(f.vw, f.pw);
    EXPECT_EQ(f.vh, f.ph);
    EXPECT_EQ(f.patterns, 224);
    EXPECT_TRUE(powerOfTwo(f.tw) && powerOfTwo(f.th)) << f.tw << "x" << f.th;
    EXPECT_GE(f.perTexture() * f.tc, 224);
    EXPECT_EQ(f.texels.size(), size_t(f.tw) * size_t(f.th) * size_t(f.tc));  // nothing short, nothing extra
    EXPECT_EQ(payload->size(), 16 + 8 * 224 + 33 + f.texels.size() * 4);
    for (const auto& [w, h] : f.glyphs) {
        EXPECT_EQ(h, f.ph);
        EXPECT_LE(w, f.pw);
    }
    bool allWhite = true;
    for (uint32_t t : f.texels) allWhite = allWhite && (t & 0xFFFFFF) == 0xFFFFFF;
    EXPECT_TRUE(allWhite);

    auto glyph = [&](unsigned char c) { return int(c) - 32; };
    EXPECT_GT(f.inkRows(glyph('A')).first, -1);
    EXPECT_GT(f.inkRows(glyph(0xC6)).first, -1);  // Cyrillic Zhe
    EXPECT_EQ(f.inkRows(glyph(' ')).first, -1);
    EXPECT_GT(f.glyphs[size_t(glyph(' '))].first, 0);
    EXPECT_GT(f.glyphs[size_t(glyph('W'))].first, f.glyphs[size_t(glyph('i'))].first);
    // One baseline: A, H and x end on the same row, g descends below it,
    // A rises above x.
    const int base = f.inkRows(glyph('A')).second;
    EXPECT_EQ(f.inkRows(glyph('H')).second, base);
    EXPECT_EQ(f.inkRows(glyph('x')).second, base);
    EXPECT_GT(f.inkRows(glyph('g')).second, base);
    EXPECT_LT(f.inkRows(glyph('A')).first, f.inkRows(glyph('x')).first);

    FontPayloadInfo info;
    EXPECT_TRUE(ParseFontPayload(*payload, info, error));
    EXPECT_EQ(info.textureWidth, f.tw);
    std::vector<uint8_t> cut(payload->begin(), payload->end() - 1);
    EXPECT_FALSE(ParseFontPayload(cut, info, error));
}

TEST(FontBake, LargeGlyphsSpreadOverTexturesAndBadInputIsReported) {
    FontBakeOptions o;
    o.ttfPath = kFont;
    o.pixelSize = 256;
    o.first = 'A';
    o.last = 'A' + 79;
    std::string error;
    std::optional<std::vector<uint8_t>> payload = BakeFont(o, error);
    ASSERT_TRUE(payload) << error;
    const Baked f(*payload);
    EXPECT_EQ(f.first, 'A');
    ASSERT_EQ(f.count, 80);
    ASSERT_GT(f.tc, 1);
    EXPECT_LE(f.tw, 2048);
    EXPECT_LE(f.th, 2048);
    EXPECT_EQ(f.texels.size(), size_t(f.tw) * size_t(f.th) * size_t(f.tc));
    for (int g : {0, f.perTexture() - 1, f.perTexture(), 'Z' - 'A'}) EXPECT_GT(f.inkRows(g).first, -1) << g;

    nbtest::ScratchDir dir;
    const std::string junk = dir.file("junk.ttf");
    nbtest::writeBytes(junk, nbtest::bytesOf("not a font at all"));
    auto fails = [&](FontBakeOptions bad) {
        std::string why;
        bool failed = !BakeFont(bad, why);
        return failed && !why.empty();
    };
    FontBakeOptions ok;
    ok.ttfPath = kFont;
    EXPECT_TRUE(fails([&] { auto b = ok; b.ttfPath = dir.file("missing.ttf"); return b; }()));
    EXPECT_TRUE(fails([&] { auto b = ok; b.ttfPath = junk; return b; }()));
    EXPECT_TRUE(fails([&] { auto b = ok; b.first = 100; b.last = 99; return b; }()));
    EXPECT_TRUE(fails([&] { auto b = ok; b.last = 256; return b; }()));
    EXPECT_TRUE(fails([&] { auto b = ok; b.pixelSize = 0; return b; }()));
    EXPECT_TRUE(fails([&] { auto b = ok; b.codepage = "utf-8"; return b; }()));
}
