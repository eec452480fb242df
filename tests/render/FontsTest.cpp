#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <stdexcept>

#include "archive/ResArchive.h"
#include "platform/ByteIO.h"
#include "platform/FileSystem.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderFonts.h"
#include "tests/render/RecordingBackend.h"

namespace nb {
namespace {

using test::RecordingBackend;

constexpr uint32_t kWhite = 0xFFFFFFFFu;

// A font payload: glyphs of the given sizes, each pattern 8 x 10 pixels in
// one texture (format A8R8G8B8, all white).
std::vector<uint8_t> FontPayload(int32_t first, int32_t spacing, const std::vector<std::pair<int, int>>& glyphs) {
    ByteWriter w;
    w.i32(first);
    w.i32(spacing);
    w.i32(0);
    w.i32(int32_t(glyphs.size()));
    for (auto [gw, gh] : glyphs) {
        w.i32(gw);
        w.i32(gh);
    }
    const int n = int(glyphs.size());
    w.u8(5);
    for (int v : {8, 10, 8, 10, n, 8 * n, 10, 1}) w.i32(v);
    for (int i = 0; i < 8 * n * 10; ++i) w.u32(0xFFFFFFFF);
    return w.buffer();
}

// 'A', 'B', 'C' of widths 5, 6, 7 and heights 8, 9, 10, glyph spacing 1.
std::vector<uint8_t> Abc() { return FontPayload(65, 1, {{5, 8}, {6, 9}, {7, 10}}); }

struct Rig {
    RecordingBackend backend;
    TRenderDevice device{&backend};
    TRenderCanvas canvas{&device};
    TRenderFonts fonts{&device, &canvas};
    TRenderFont* font = nullptr;

    Rig() {
        EXPECT_TRUE(device.Initialize());
        font = fonts.Add("Main");
        auto p = Abc();
        EXPECT_TRUE(font->LoadFromPayload(p.data(), p.size()));
    }
    // Draws the text and answers the quads drawn: per glyph its four vertices.
    std::vector<std::vector<GfxVertex>> draw(std::string_view text, double x = 0, double y = 0,
                                             uint32_t top = kWhite, uint32_t bottom = kWhite) {
        backend.batches.clear();
        fonts.TextOut(font, text, x, y, top, bottom, 1284);
        canvas.Flush();
        std::vector<std::vector<GfxVertex>> quads;
        for (const auto& b : backend.batches)
            for (size_t i = 0; i + 4 <= b.vertices.size(); i += 4)
                quads.emplace_back(b.vertices.begin() + long(i), b.vertices.begin() + long(i + 4));
        return quads;
    }
};

TEST(RenderFonts, WidthsHeightsAndMissingGlyphs) {
    Rig r;
    EXPECT_EQ(r.font->FirstChar, 65);
    EXPECT_EQ(r.font->GlyphSpacing, 1);
    EXPECT_DOUBLE_EQ(r.fonts.TextWidth(r.font, "ABC"), 6 + 7 + 8);
    EXPECT_DOUBLE_EQ(r.fonts.TextHeight(r.font, "ABC"), 10);
    EXPECT_DOUBLE_EQ(r.fonts.TextHeight(r.font, "AB"), 9);
    // Below the first code and past the last glyph: visible width x 0.3.
    EXPECT_DOUBLE_EQ(r.fonts.TextWidth(r.font, " "), 8 * 0.3);
    EXPECT_DOUBLE_EQ(r.fonts.TextWidth(r.font, "D"), 8 * 0.3);
    EXPECT_DOUBLE_EQ(r.fonts.TextHeight(r.font, " D"), 0);

    r.font->Scale = 2;
    r.font->ExtraSpacing = 0.5;
    EXPECT_DOUBLE_EQ(r.fonts.TextWidth(r.font, "A B"), (6.5 + (2.4 + 0.5) + 7.5) * 2);
    double w = 0, h = 0;
    r.fonts.TextExtent(r.font, "C", w, h);
    EXPECT_DOUBLE_EQ(w, 8.5 * 2);
    EXPECT_DOUBLE_EQ(h, 20);
    EXPECT_EQ(r.draw(" ").size(), 0u);  // a missing glyph draws nothing

    EXPECT_EQ(r.fonts.Find("main"), r.font);
    EXPECT_EQ(r.fonts.Find("MAIN"), r.font);
    EXPECT_EQ(r.fonts.Find("other"), nullptr);
}

TEST(RenderFonts, InlineColourCodes) {
    Rig r;
    const uint32_t red = 0xFFFF0000, green = 0xFF00FF00, blue = 0xFF0000FF;

    // '#$' sets the top colour; the ten code characters take no room.
    auto q = r.draw("A#$FFFF0000BC");
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0][0].color, kWhite);
    EXPECT_EQ(q[1][0].color, red);  // top-left
    EXPECT_EQ(q[1][1].color, red);  // top-right
    EXPECT_EQ(q[1][2].color, kWhite);  // bottom corners keep theirs
    EXPECT_EQ(q[1][3].color, kWhite);
    EXPECT_FLOAT_EQ(q[1][0].x, 6 - 0.5f);  // B follows A directly
    EXPECT_DOUBLE_EQ(r.fonts.TextWidth(r.font, "A#$FFFF0000BC"), 21);

    // At position length - 10 or later a code is ordinary text.
    q = r.draw("A#$FFFF0000B");
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[1][0].color, kWhite);
    EXPECT_DOUBLE_EQ(r.fonts.TextWidth(r.font, "A#$FFFF0000B"), 6 + 10 * 2.4 + 7);

    // '&$' the bottom colour, '0x' both, lower-case digits too.
    q = r.draw("&$ff00ff00ABC");
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0][0].color, kWhite);
    EXPECT_EQ(q[0][2].color, green);
    q = r.draw("0x11223344ABC");
    EXPECT_EQ(q[2][1].color, 0x11223344u);
    EXPECT_EQ(q[2][3].color, 0x11223344u);

    // Codes may follow one another.
    q = r.draw("#$FF0000FF&$FF00FF00ABCDEFGHIJK");
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0][0].color, blue);
    EXPECT_EQ(q[0][3].color, green);

    // Digits that are no number: colour unchanged, characters still skipped.
    q = r.draw("#$FFFFZZ00ABC", 0, 0, red, green);
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0][0].color, red);
    EXPECT_EQ(q[0][2].color, green);
    EXPECT_DOUBLE_EQ(r.fonts.TextWidth(r.font, "#$FFFFZZ00ABC"), 21);

    // With codes switched off they are ordinary characters.
    r.font->InlineCodes = false;
    EXPECT_DOUBLE_EQ(r.fonts.TextWidth(r.font, "A#$FFFF0000BC"), 6 + 10 * 2.4 + 7 + 8);
}

TEST(RenderFonts, GlyphsSitOnWholePixelsAtScaledSize) {
    Rig r;
    auto q = r.draw("AB", 10.5, 3.5);
    ASSERT_EQ(q.size(), 2u);
    // Pen 10.5 rounds to 10 (halves to even), 3.5 to 4; then the texel shift.
    EXPECT_FLOAT_EQ(q[0][0].x, 9.5f);
    EXPECT_FLOAT_EQ(q[0][0].y, 3.5f);
    EXPECT_FLOAT_EQ(q[0][2].x, 17.5f);  // the full visible width, 8
    EXPECT_FLOAT_EQ(q[0][2].y, 13.5f);
    EXPECT_FLOAT_EQ(q[1][0].x, 15.5f);  // pen 16.5 rounds to 16
    // The glyph's pattern: B is pattern 1 of 8-pixel cells in a 24-wide texture.
    EXPECT_FLOAT_EQ(q[1][0].u, 8.0f / 24);
    EXPECT_FLOAT_EQ(q[1][1].u, 16.0f / 24);

    r.font->Scale = 1.5;
    q = r.draw("AB", 10.5, 0);
    ASSERT_EQ(q.size(), 2u);
    EXPECT_FLOAT_EQ(q[0][2].x - q[0][0].x, 12.0f);
    EXPECT_FLOAT_EQ(q[0][2].y - q[0][0].y, 15.0f);
    EXPECT_FLOAT_EQ(q[1][0].x, 19.5f);  // pen 10.5 + 9 = 19.5 rounds to 20
}

TEST(RenderFonts, UnassignedOwnerOrCanvasRaise) {
    TRenderFont orphan(nullptr);
    auto p = Abc();
    ASSERT_TRUE(orphan.LoadFromPayload(p.data(), p.size()));
    RecordingBackend backend;
    TRenderDevice device(&backend);
    TRenderFonts noCanvas(&device, nullptr);
    try {
        noCanvas.TextOut(&orphan, "A", 0, 0, kWhite, kWhite, 1);
        FAIL() << "no error raised";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "TRenderFont: Unassigned Owner property.");
    }
    TRenderFont* f = noCanvas.Add("f");
    try {
        noCanvas.TextOut(f, "A", 0, 0, kWhite, kWhite, 1);
        FAIL() << "no error raised";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "TRenderFont: Unassigned Owner.Canvas property.");
    }
}

TEST(RenderFonts, DamagedPayloadLeavesAFontThatDrawsNothing) {
    Rig r;
    const auto good = Abc();
    for (size_t cut = 0; cut < good.size(); cut += (cut < 200 ? 1 : 37)) {
        EXPECT_FALSE(r.font->LoadFromPayload(good.data(), cut)) << cut;
        EXPECT_FALSE(r.font->Loaded);
        EXPECT_TRUE(r.font->Glyphs.empty());
    }
    EXPECT_DOUBLE_EQ(r.fonts.TextWidth(r.font, "ABC"), 0);
    EXPECT_DOUBLE_EQ(r.fonts.TextHeight(r.font, "ABC"), 0);
    EXPECT_TRUE(r.draw("ABC").empty());
    EXPECT_TRUE(r.backend.textures.empty());

    auto negative = FontPayload(65, 0, {});
    negative[12] = 0xFF;  // glyph count 0xFF0000FF: negative
    negative[15] = 0xFF;
    EXPECT_FALSE(r.font->LoadFromPayload(negative.data(), negative.size()));
    auto many = FontPayload(65, 0, {});
    many[14] = 0x7F;  // millions of glyphs announced, none present
    EXPECT_FALSE(r.font->LoadFromPayload(many.data(), many.size()));
    EXPECT_FALSE(r.font->LoadFromPayload(nullptr, 100));

    // Only the low byte of the first character code counts.
    auto wide = FontPayload(0x100 + 65, 0, {{3, 3}});
    ASSERT_TRUE(r.font->LoadFromPayload(wide.data(), wide.size()));
    EXPECT_EQ(r.font->FirstChar, 65);
}

// An archive file with the given records (key, kind, bytes).
void WriteArchive(const std::string& path, const std::vector<std::tuple<std::string, uint16_t, std::vector<uint8_t>>>& recs) {
    ByteWriter w;
    w.bytes("ASDb", 4);
    w.u32(uint32_t(recs.size()));
    const size_t tablePatch = w.size();
    w.u32(0);
    std::vector<int32_t> offsets;
    for (const auto& [key, kind, bytes] : recs) {
        uLongf packedSize = compressBound(uLong(bytes.size()));
        std::vector<uint8_t> packed(packedSize);
        ASSERT_EQ(compress2(packed.data(), &packedSize, bytes.data(), uLong(bytes.size()), 6), Z_OK);
        packed.resize(packedSize);
        offsets.push_back(int32_t(w.size()));
        w.u16(kind);
        w.i32(int32_t(bytes.size()));
        w.i32(int32_t(packed.size()));
        w.f64(0);
        for (int i = 0; i < 16; ++i) w.u8(0);
        w.u16(0);
        for (int i = 0; i < 8; ++i) w.u8(0);
        w.bytes(packed.data(), packed.size());
    }
    w.patchI32(tablePatch, int32_t(w.size()));
    for (size_t i = 0; i < recs.size(); ++i) {
        w.str32(std::get<0>(recs[i]));
        w.i32(offsets[i]);
    }
    ASSERT_TRUE(fs::writeFile(path, w.buffer().data(), w.size()));
}

TEST(RenderFonts, LoadFromArchiveTakesFontRecordsUntilOneFails) {
    Rig r;
    r.fonts.RemoveAll();
    const std::string path = testing::TempDir() + "render_fonts_test.res";
    auto broken = Abc();
    broken.resize(broken.size() - 1);
    WriteArchive(path, {{"Arial", 3, Abc()},
                        {"pic.bmp", 0, {1, 2, 3}},
                        {"Big", 3, FontPayload(48, 2, {{4, 4}})},
                        {"Broken", 3, broken},
                        {"After", 3, Abc()}});
    TResArchive archive;
    archive.OpenMode = TOpenModes::opReadOnly;
    archive.SetFileName(path);
    EXPECT_FALSE(r.fonts.LoadFromArchive(archive));
    ASSERT_EQ(r.fonts.Count(), 3u);
    TRenderFont* arial = r.fonts.Find("ARIAL");
    ASSERT_NE(arial, nullptr);
    EXPECT_TRUE(arial->Loaded);
    EXPECT_NE(arial->Image.Handle(0), 0u);  // uploaded: the device is live
    ASSERT_NE(r.fonts.Find("big"), nullptr);
    EXPECT_EQ(r.fonts.Find("big")->FirstChar, 48);
    ASSERT_NE(r.fonts.Find("Broken"), nullptr);
    EXPECT_FALSE(r.fonts.Find("Broken")->Loaded);
    EXPECT_EQ(r.fonts.Find("After"), nullptr);

    // The glyph textures follow the device through loss and reset.
    r.backend.presentResult = GfxPresentResult::DeviceLost;
    r.backend.canReset = false;
    r.device.Flip();
    EXPECT_EQ(arial->Image.Handle(0), 0u);
    r.backend.canReset = true;
    r.device.Flip();
    EXPECT_NE(arial->Image.Handle(0), 0u);

    TResArchive missing;
    missing.OpenMode = TOpenModes::opReadOnly;
    missing.SetFileName(testing::TempDir() + "no_such_archive.res");
    EXPECT_FALSE(r.fonts.LoadFromArchive(missing));
    std::remove(path.c_str());
}

}  // namespace
}  // namespace nb
