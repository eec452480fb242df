#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include "archive/ResArchive.h"
#include "media/UnitNBIm.h"
#include "platform/Text.h"
#include "render/RenderImages.h"
#include "tests/media/PictureFiles.h"

namespace nb {
namespace {

using namespace testpics;

// A 24-bit bitmap whose pixel (x, y) is colour(x, y).
template <class F>
std::vector<uint8_t> ColourBmp(int w, int h, F colour) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) px[size_t(y) * size_t(w) + size_t(x)] = colour(x, y);
    BmpLayout l;
    l.bpp = 24;
    return Bmp(w, h, l, px);
}
std::vector<uint8_t> PlainBmp(int w, int h) {
    return ColourBmp(w, h, [](int, int) { return 0xFF336699u; });
}

// An "ASDb" archive holding `records` (key, bytes) as kind-0 records.
std::vector<uint8_t> ArchiveBytes(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& records) {
    ByteWriter body;
    std::vector<uint32_t> offsets;
    for (const auto& [key, bytes] : records) {
        offsets.push_back(uint32_t(12 + body.size()));
        uLongf packed = compressBound(uLong(bytes.size()));
        std::vector<uint8_t> z(packed);
        EXPECT_EQ(compress2(z.data(), &packed, bytes.data(), uLong(bytes.size()), 6), Z_OK);
        z.resize(packed);
        body.u16(0);
        body.i32(int32_t(bytes.size()));
        body.i32(int32_t(z.size()));
        body.f64(45000.5);
        for (int i = 0; i < 16; ++i) body.u8(0);
        body.u16(0);
        body.u64(0);
        body.bytes(z.data(), z.size());
    }
    ByteWriter file;
    file.bytes("ASDb", 4);
    file.u32(uint32_t(records.size()));
    file.u32(uint32_t(12 + body.size()));
    file.bytes(body.buffer().data(), body.size());
    for (size_t i = 0; i < records.size(); ++i) {
        file.str32(records[i].first);
        file.i32(int32_t(offsets[i]));
    }
    return file.buffer();
}

int Alpha(uint32_t argb) { return int(argb >> 24); }
// Colour channels within `tol` of the expected 0xRRGGBB (JPEG is lossy).
::testing::AssertionResult ColourNear(uint32_t got, uint32_t want, int tol = 4) {
    for (int s = 0; s < 24; s += 8) {
        int a = int((got >> s) & 0xFF), b = int((want >> s) & 0xFF);
        if (std::abs(a - b) > tol)
            return ::testing::AssertionFailure() << std::hex << got << " is not near " << want;
    }
    return ::testing::AssertionSuccess();
}

class ImageRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        archive.OpenMode = TOpenModes::opReadOnly;
        registry.SetGameFolder(game.dir(), cp1251Upper(game.dir()));
        registry.OnProgress = [this] {
            ++progress;
            if (onProgress) onProgress();
        };
    }

    TempFolder game;
    TRenderImages images{nullptr};
    TResArchive archive;
    TImageLoadState state;
    TImageRegistry registry{images, archive, state};
    int progress = 0;
    std::function<void()> onProgress;
};

TEST_F(ImageRegistryTest, OneEntryPerNameAndDeferredCounting) {
    game.write("Images/Tree.jpg", Jpeg(16, 8, Flat(16, 8, 0x208040)));
    game.write("Images/Rock.png", Png(4, 4, Flat(4, 4, 0xFF102030u)));

    state.ready = false;
    TNBIm* tree = registry.LoadImage("Images\\Tree.jpg", false);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->name, "IMAGES\\TREE.JPG");
    EXPECT_EQ(tree->image, nullptr);
    EXPECT_EQ(state.forLoadCount, 1);
    // Letter case, and the game folder in front (in any case), name the same entry.
    EXPECT_EQ(registry.LoadImage("IMAGES\\TREE.JPG", false), tree);
    EXPECT_EQ(registry.LoadImage(game.dir() + "Images\\Tree.jpg", false), tree);
    EXPECT_EQ(registry.LoadImage(asciiUpper(game.dir()) + "images\\tree.jpg", false), tree);
    EXPECT_EQ(registry.Count(), 1u);
    EXPECT_EQ(tree->useCount, 4);
    EXPECT_EQ(state.forLoadCount, 1);  // counted once
    EXPECT_EQ(state.forLoadPos, 0);
    EXPECT_EQ(images.Count(), 0u);

    state.ready = true;
    EXPECT_EQ(registry.LoadImage("images\\tree.jpg", false), tree);
    ASSERT_NE(tree->image, nullptr);
    EXPECT_EQ(tree->image->Name, "IMAGES\\TREE.JPG");
    EXPECT_EQ(tree->image->Quality, TImageQuality::aqHigh);
    EXPECT_EQ(tree->image->AlphaLevel, TAlphaLevel::alFull);
    EXPECT_FALSE(tree->image->MipMapping);
    EXPECT_EQ(state.forLoadPos, 1);
    EXPECT_EQ(images.Count(), 1u);
    registry.LoadImage("Images\\Tree.jpg", false);  // loaded: no new attempt
    EXPECT_EQ(state.forLoadPos, 1);

    // Deferred again: a loaded picture adds nothing, a new one adds one.
    state.ready = false;
    registry.LoadImage("Images\\Tree.jpg", false);
    TNBIm* rock = registry.LoadImage("Images\\Rock.png", false);
    registry.LoadImage("Images\\Rock.png", false);
    EXPECT_EQ(state.forLoadCount, 2);
    // After a reset of the use counts the first request counts again.
    registry.ResetImageUse();
    EXPECT_EQ(rock->useCount, 0);
    EXPECT_EQ(tree->useCount, 0);
    registry.LoadImage("Images\\Rock.png", false);
    EXPECT_EQ(state.forLoadCount, 3);
    EXPECT_EQ(registry.Find("IMAGES\\ROCK.PNG"), rock);
    EXPECT_EQ(registry.Find("Images\\Pebble.png"), nullptr);
    EXPECT_EQ(registry.Entry(1), rock);
    EXPECT_EQ(registry.Entry(2), nullptr);
}

TEST_F(ImageRegistryTest, WindowsNamesReachUtf8Files) {
    // Game text is Windows-1251 bytes; the file on disk has the same
    // Cyrillic name in UTF-8. The lower-case spelling finds it too.
    game.write("\xD0\x9B\xD0\xB5\xD1\x81/\xD0\x94\xD0\xB5\xD1\x80\xD0\xB5\xD0\xB2\xD0\xBE.bmp", PlainBmp(3, 3));
    TNBIm* tree = registry.LoadImage("\xCB\xE5\xF1\\\xC4\xE5\xF0\xE5\xE2\xEE.bmp", false);
    ASSERT_NE(tree->image, nullptr);
    EXPECT_EQ(tree->name, "\xCB\xE5\xF1\\\xC4\xE5\xF0\xE5\xE2\xEE.BMP");  // only ASCII letters fold
    TNBIm* lower = registry.LoadImage("\xEB\xE5\xF1\\\xE4\xE5\xF0\xE5\xE2\xEE.bmp", false);
    EXPECT_NE(lower->image, nullptr);

    // The game folder prefix is recognised whichever way its letters were folded.
    TImageRegistry other(images, archive, state);
    other.SetGameFolder("/games/\xD0\xB8\xD0\xB3\xD1\x80\xD0\xB0/", "/GAMES/\xC8\xC3\xD0\xC0/");
    EXPECT_EQ(other.KeyOf("/games/\xE8\xE3\xF0\xE0/Images\\a.bmp"), "IMAGES\\A.BMP");
    EXPECT_EQ(other.KeyOf("/GAMES/\xC8\xC3\xD0\xC0/a.bmp"), "A.BMP");
    EXPECT_EQ(other.KeyOf("/games/other/a.bmp"), "/GAMES/OTHER/A.BMP");
    other.SetGameFolder("/games/x/", "/GAMES/X/");
    EXPECT_EQ(other.KeyOf("/GAMES/x/Pic.png"), "PIC.PNG");
}

TEST_F(ImageRegistryTest, ForcedPicturesLoadAtOnceAndAreNeverReleased) {
    for (const char* n : {"particles.bmp", "a.bmp", "b.bmp", "c.bmp"}) game.write(n, PlainBmp(4, 4));

    state.ready = false;
    TNBIm* particles = registry.LoadImage("particles.bmp", true);
    EXPECT_TRUE(particles->forced);
    EXPECT_NE(particles->image, nullptr);
    EXPECT_EQ(state.forLoadPos, 1);
    EXPECT_EQ(state.forLoadCount, 0);

    state.ready = true;
    EXPECT_EQ(registry.LoadImage("PARTICLES.BMP", false), particles);
    EXPECT_TRUE(particles->forced);
    TNBIm* a = registry.LoadImage("a.bmp", false);
    TNBIm* b = registry.LoadImage("b.bmp", false);
    // A non-forced first request fixes the flag; a forced one later does not change it.
    TNBIm* c = registry.LoadImage("c.bmp", false);
    registry.LoadImage("c.bmp", true);
    EXPECT_FALSE(c->forced);
    ASSERT_EQ(images.Count(), 4u);

    // A screen change: counts reset, the marked screens request "a" again.
    registry.ResetImageUse();
    registry.LoadImage("a.bmp", false);
    registry.ReleaseIdleImages();
    EXPECT_NE(particles->image, nullptr);
    EXPECT_NE(a->image, nullptr);
    EXPECT_EQ(b->image, nullptr);
    EXPECT_EQ(c->image, nullptr);
    EXPECT_FALSE(b->failed);
    EXPECT_EQ(b->name, "B.BMP");
    EXPECT_EQ(images.Count(), 2u);
    // A second release with nothing requested keeps the forced picture only.
    registry.ResetImageUse();
    registry.ReleaseIdleImages();
    EXPECT_NE(particles->image, nullptr);
    EXPECT_EQ(a->image, nullptr);
    EXPECT_EQ(images.Count(), 1u);

    // A released picture loads again on request.
    const int pos = state.forLoadPos;
    EXPECT_NE(registry.LoadImage("b.bmp", false)->image, nullptr);
    EXPECT_EQ(state.forLoadPos, pos + 1);
}

TEST_F(ImageRegistryTest, MissingAndBrokenPicturesAndTheProgressHook) {
    state.loading = true;
    TNBIm* missing = nullptr;
    for (int i = 0; i < 3; ++i) missing = registry.LoadImage("nowhere.png", false);
    EXPECT_EQ(state.forLoadPos, 3);  // every attempt counts
    EXPECT_EQ(missing->image, nullptr);
    EXPECT_FALSE(missing->failed);
    EXPECT_EQ(progress, 0);  // nothing found: no progress
    EXPECT_EQ(images.Count(), 0u);

    game.write("nowhere.png", Png(3, 3, Flat(3, 3, 0xFFFFFFFFu)));
    EXPECT_NE(registry.LoadImage("nowhere.png", false)->image, nullptr);
    EXPECT_EQ(state.forLoadPos, 4);
    EXPECT_EQ(progress, 1);

    // Found but not decodable: failed for good, the hook still runs once.
    game.write("broken.jpg", std::string("this is no picture"));
    TNBIm* broken = registry.LoadImage("broken.jpg", false);
    EXPECT_TRUE(broken->failed);
    EXPECT_EQ(broken->image, nullptr);
    EXPECT_EQ(progress, 2);
    EXPECT_EQ(images.Count(), 1u);
    game.write("broken.jpg", Jpeg(4, 4, Flat(4, 4, 0)));
    registry.LoadImage("broken.jpg", false);
    EXPECT_EQ(broken->image, nullptr);
    EXPECT_EQ(state.forLoadPos, 5);
    EXPECT_EQ(progress, 2);

    // Without loading set the hook stays quiet.
    state.loading = false;
    game.write("quiet.bmp", PlainBmp(2, 2));
    EXPECT_NE(registry.LoadImage("quiet.bmp", false)->image, nullptr);
    EXPECT_EQ(progress, 2);

    // The hook may request pictures itself; entries stay where they are.
    state.loading = true;
    game.write("first.bmp", PlainBmp(2, 2));
    game.write("second.bmp", PlainBmp(2, 2));
    TNBIm* second = nullptr;
    bool requested = false;
    onProgress = [&] {
        if (requested) return;
        requested = true;
        second = registry.LoadImage("second.bmp", false);
    };
    TNBIm* first = registry.LoadImage("first.bmp", false);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first->image, nullptr);
    EXPECT_NE(second->image, nullptr);
    EXPECT_EQ(first->name, "FIRST.BMP");
    EXPECT_EQ(progress, 4);
}

TEST_F(ImageRegistryTest, FrameGridsAndTextureSizes) {
    // 4 x 2 frames of 128 x 128, each frame a colour of its own.
    auto cellColour = [](int col, int row) { return 0xFF000000u | uint32_t(col * 60 + 10) << 16 | uint32_t(row * 200 + 20) << 8; };
    game.write("Sheet.bmp", ColourBmp(512, 256, [&](int x, int y) { return cellColour(x / 128, y / 128); }));
    game.write("Sheet.an", std::string("4\r\n2\r\n"));
    TNBIm* sheet = registry.LoadImage("Sheet.bmp", false);
    ASSERT_NE(sheet->image, nullptr);
    const TRenderImage& im = *sheet->image;
    EXPECT_EQ(im.PatternWidth, 128);
    EXPECT_EQ(im.PatternHeight, 128);
    EXPECT_EQ(im.VisibleWidth, 128);
    EXPECT_EQ(im.VisibleHeight, 128);
    EXPECT_EQ(im.TextureWidth, 130);
    EXPECT_EQ(im.TextureHeight, 130);
    EXPECT_EQ(im.PatternCount, 8);
    EXPECT_EQ(im.TextureCount, 8);
    EXPECT_EQ(im.Pixel(64, 64, 5), cellColour(1, 1));  // frame 5: second of the second row
    EXPECT_EQ(im.Pixel(64, 64, 3), cellColour(3, 0));
    EXPECT_EQ(im.Pixel(127, 127, 7), cellColour(3, 1));

    game.write("Plain.bmp", PlainBmp(100, 75));
    TNBIm* plain = registry.LoadImage("Plain.bmp", false);
    ASSERT_NE(plain->image, nullptr);
    EXPECT_EQ(plain->image->PatternWidth, 100);
    EXPECT_EQ(plain->image->PatternHeight, 75);
    EXPECT_EQ(plain->image->TextureWidth, 102);
    EXPECT_EQ(plain->image->TextureHeight, 78);
    EXPECT_EQ(plain->image->PatternCount, 1);

    // 10 x 20 pixels in 4 x 2 frames of 2 x 10: the two columns left over
    // belong to no frame, so frame 4 starts the second row. (Two such
    // patterns share one 4 x 12 texture.)
    game.write("Odd.bmp", ColourBmp(10, 20, [](int x, int y) { return 0xFF000000u | uint32_t(y / 10) << 8 | uint32_t(x * 20); }));
    game.write("Odd.an", std::string("4\n2\n"));
    TNBIm* odd = registry.LoadImage("Odd.bmp", false);
    ASSERT_NE(odd->image, nullptr);
    EXPECT_EQ(odd->image->PatternWidth, 2);
    EXPECT_EQ(odd->image->PatternHeight, 10);
    EXPECT_EQ(odd->image->TextureWidth, 4);
    EXPECT_EQ(odd->image->TextureHeight, 12);
    EXPECT_EQ(odd->image->PatternCount, 8);
    EXPECT_EQ(odd->image->TextureCount, 4);
    EXPECT_EQ(odd->image->Pixel(0, 0, 2), 0xFF000100u);                // frame 4: first of row 2
    EXPECT_EQ(odd->image->Pixel(3, 5, 3), 0xFF000100u | (7 * 20));     // frame 7, right column

    // The grid file replaces the name's last four characters: for ".jpeg"
    // that leaves the point, so "Wide.jpeg" reads "Wide..an", not "Wide.an".
    game.write("Wide.jpeg", Jpeg(40, 10, Flat(40, 10, 0x808080)));
    game.write("Wide.an", std::string("4\n"));
    game.write("Wide..an", std::string("2\n"));
    TNBIm* wide = registry.LoadImage("Wide.jpeg", false);
    ASSERT_NE(wide->image, nullptr);
    EXPECT_EQ(wide->image->PatternWidth, 20);
    EXPECT_EQ(wide->image->PatternCount, 2);

    // Damaged grids still give a consistent picture.
    game.write("Bad.bmp", PlainBmp(30, 20));
    game.write("Bad.an", std::string("three\n2\n"));
    TNBIm* bad = registry.LoadImage("Bad.bmp", false);
    ASSERT_NE(bad->image, nullptr);
    EXPECT_FALSE(bad->failed);
    EXPECT_EQ(bad->image->PatternWidth, 30);
    EXPECT_EQ(bad->image->PatternHeight, 10);
    EXPECT_EQ(bad->image->PatternCount, 2);
    game.write("Fine.bmp", PlainBmp(20, 20));
    game.write("Fine.an", std::string("1000\n0\n"));
    TNBIm* fine = registry.LoadImage("Fine.bmp", false);
    ASSERT_NE(fine->image, nullptr);
    EXPECT_EQ(fine->image->PatternWidth, 20);
    EXPECT_EQ(fine->image->PatternCount, 1);
}

TEST(FrameGridFile, LinesNumbersAndDamage) {
    auto grid = [](std::string_view t) {
        TFrameGrid g = ParseFrameGrid(t);
        return std::make_pair(g.columns, g.rows);
    };
    EXPECT_EQ(grid("4\r\n2\r\n"), std::make_pair(4, 2));
    EXPECT_EQ(grid("  6 frames across\n\t3 down"), std::make_pair(6, 3));
    EXPECT_EQ(grid("5\r7\r"), std::make_pair(5, 7));  // lone CR ends a line too
    EXPECT_EQ(grid("+3\n2"), std::make_pair(3, 2));
    EXPECT_EQ(grid(""), std::make_pair(1, 1));
    EXPECT_EQ(grid("8"), std::make_pair(8, 1));
    EXPECT_EQ(grid("0\n0\n"), std::make_pair(1, 1));
    EXPECT_EQ(grid("x\n3"), std::make_pair(1, 3));
    EXPECT_EQ(grid("-3\n2"), std::make_pair(1, 2));
    EXPECT_EQ(grid("\n5"), std::make_pair(1, 5));  // an empty first line is no number
    EXPECT_EQ(grid("99999999999\n2"), std::make_pair(1, 2));
    EXPECT_EQ(grid("2147483647\n2"), std::make_pair(2147483647, 2));
}

TEST_F(ImageRegistryTest, MasksPairByFileName) {
    auto maskValue = [](int x, int y) { return x * 16 + y * 2; };
    auto expectMerged = [&](TNBIm* e, uint32_t colour, const char* what) {
        ASSERT_NE(e->image, nullptr) << what;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x) {
                uint32_t p = e->image->Pixel(x, y, 0);
                ASSERT_EQ(Alpha(p), maskValue(x, y)) << what << " " << x << "," << y;
                ASSERT_TRUE(ColourNear(p, colour)) << what << " " << x << "," << y;
            }
    };
    // (a) the mask is requested; its colours come from the name before "_".
    game.write("door_mask.bmp", MaskBmp(16, 8, maskValue));
    game.write("door.jpg", Jpeg(16, 8, Flat(16, 8, 0x2060A0)));
    expectMerged(registry.LoadImage("door_mask.bmp", false), 0x2060A0, "rule a");
    // (b) NAME.bmp takes its colours from NAME_.jpg.
    game.write("lamp.bmp", MaskBmp(16, 8, maskValue));
    game.write("lamp_.jpg", Jpeg(16, 8, Flat(16, 8, 0xC04020)));
    expectMerged(registry.LoadImage("lamp.bmp", false), 0xC04020, "rule b");
    // (c) NAME_x.jpg takes its alpha from NAME.bmp.
    game.write("gate_1.jpg", Jpeg(16, 8, Flat(16, 8, 0x40C080)));
    game.write("gate.bmp", MaskBmp(16, 8, maskValue));
    expectMerged(registry.LoadImage("GATE_1.JPG", false), 0x40C080, "rule c");

    auto alphaAt = [&](const char* name) {
        TNBIm* e = registry.LoadImage(name, false);
        EXPECT_NE(e->image, nullptr) << name;
        return e->image ? Alpha(e->image->Pixel(5, 3, 0)) : -1;
    };
    // Never merged: PNG, ".jpeg", ".jpg" without "_".
    std::vector<uint32_t> half = Flat(16, 8, 0x80FFFFFFu);
    game.write("gate_2.png", Png(16, 8, half));
    EXPECT_EQ(alphaAt("gate_2.png"), 0x80);
    game.write("gate_3.jpeg", Jpeg(16, 8, Flat(16, 8, 0x123456)));
    EXPECT_EQ(alphaAt("gate_3.jpeg"), 255);
    game.write("gate.jpg", Jpeg(16, 8, Flat(16, 8, 0x123456)));
    EXPECT_EQ(alphaAt("gate.jpg"), 255);
    // A mask alone is an ordinary picture: palette colours, opaque.
    game.write("solo_m.bmp", MaskBmp(16, 8, maskValue));
    TNBIm* solo = registry.LoadImage("solo_m.bmp", false);
    ASSERT_NE(solo->image, nullptr);
    EXPECT_EQ(solo->image->Pixel(5, 3, 0), 0xFF000000u | 0x010101u * uint32_t(maskValue(5, 3)));

    // Companions of another size, or not decodable, are left alone.
    game.write("wall_1.jpg", Jpeg(16, 8, Flat(16, 8, 0x404040)));
    game.write("wall.bmp", MaskBmp(8, 8, maskValue));
    EXPECT_EQ(alphaAt("wall_1.jpg"), 255);
    game.write("pipe_1.jpg", Jpeg(16, 8, Flat(16, 8, 0x404040)));
    game.write("pipe.bmp", std::string("BM but not really"));
    EXPECT_EQ(alphaAt("pipe_1.jpg"), 255);
    game.write("rope_x.bmp", MaskBmp(16, 8, maskValue));
    game.write("rope.jpg", std::string("no jpeg"));
    EXPECT_EQ(alphaAt("rope_x.bmp"), 255);
}

// A picture with a mask companion goes through a whole bitmap; one without
// streams its rows from the decoder into the textures. When the companion
// cannot be merged the two must give the very same image.
TEST_F(ImageRegistryTest, StreamedAndWholeBitmapFillsAgree) {
    auto sameImage = [](const TNBIm* streamed, const TNBIm* whole, const char* what) {
        ASSERT_NE(streamed->image, nullptr) << what;
        ASSERT_NE(whole->image, nullptr) << what;
        const TRenderImage& a = *streamed->image;
        const TRenderImage& b = *whole->image;
        EXPECT_EQ(a.PatternWidth, b.PatternWidth) << what;
        EXPECT_EQ(a.PatternHeight, b.PatternHeight) << what;
        EXPECT_EQ(a.VisibleWidth, b.VisibleWidth) << what;
        EXPECT_EQ(a.VisibleHeight, b.VisibleHeight) << what;
        EXPECT_EQ(a.TextureWidth, b.TextureWidth) << what;
        EXPECT_EQ(a.TextureHeight, b.TextureHeight) << what;
        EXPECT_EQ(a.PatternCount, b.PatternCount) << what;
        EXPECT_EQ(a.TextureCount, b.TextureCount) << what;
        EXPECT_EQ(a.PixelFormat, b.PixelFormat) << what;
        ASSERT_EQ(a.Texels().size(), b.Texels().size()) << what;
        for (size_t t = 0; t < a.Texels().size(); ++t) {
            ASSERT_EQ(a.Texels()[t].size(), b.Texels()[t].size()) << what;
            for (size_t i = 0; i < a.Texels()[t].size(); ++i)
                ASSERT_EQ(a.Texels()[t][i], b.Texels()[t][i]) << what << ": texture " << t << " texel " << i;
        }
    };
    auto pattern = [](int x, int y) { return uint32_t(x * 7 + y * 13) & 0xFF; };
    const std::string junk = "not a picture at all";

    // 8-bit palette bitmap, 3 x 2 frames with pixels left over on both
    // sides; the whole-bitmap twin has a colour companion (rule b) that
    // cannot be decoded.
    BmpLayout indexed;
    indexed.bpp = 8;
    indexed.palette.resize(256);
    for (uint32_t i = 0; i < 256; ++i) indexed.palette[i] = (i * 0x010203u) & 0xFFFFFFu;
    std::vector<uint32_t> idx(50 * 21);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 50; ++x) idx[size_t(y) * 50 + size_t(x)] = pattern(x, y);
    const auto indexedBmp = Bmp(50, 21, indexed, idx);
    game.write("cells.bmp", indexedBmp);
    game.write("cells.an", std::string("3\n2\n"));
    game.write("twin.bmp", indexedBmp);
    game.write("twin.an", std::string("3\n2\n"));
    game.write("twin_.jpg", junk);
    sameImage(registry.LoadImage("cells.bmp", false), registry.LoadImage("twin.bmp", false), "8-bit bitmap");

    // JPEG in 2 x 3 frames; the twin's mask (rule c) is of another size.
    std::vector<uint32_t> rgb(41 * 31);
    for (int y = 0; y < 31; ++y)
        for (int x = 0; x < 41; ++x) rgb[size_t(y) * 41 + size_t(x)] = pattern(x, y) << 16 | pattern(y, x) << 8 | 0x40;
    const auto jpeg = Jpeg(41, 31, rgb, 90);
    game.write("sky.jpg", jpeg);
    game.write("sky.an", std::string("2\n3\n"));
    game.write("sky_1.jpg", jpeg);
    game.write("sky_1.an", std::string("2\n3\n"));
    game.write("sky.bmp", MaskBmp(8, 8, pattern));
    sameImage(registry.LoadImage("sky.jpg", false), registry.LoadImage("sky_1.jpg", false), "JPEG");
    // One frame: the streamed one is decoded straight into its texture.
    game.write("sea.jpg", jpeg);
    game.write("sea_1.jpg", jpeg);
    game.write("sea.bmp", MaskBmp(8, 8, pattern));
    sameImage(registry.LoadImage("sea.jpg", false), registry.LoadImage("sea_1.jpg", false), "one-frame JPEG");

    // 32-bit bitmap with its own alpha, a frame grid finer than the picture
    // (read as one column); the twin's colour picture (rule a) is damaged.
    BmpLayout argb;
    argb.bpp = 32;
    std::vector<uint32_t> px(9 * 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) px[size_t(y) * 9 + size_t(x)] = pattern(x, y) << 24 | 0x123456u * uint32_t(x + 1);
    const auto argbBmp = Bmp(9, 6, argb, px);
    game.write("glass.bmp", argbBmp);
    game.write("glass.an", std::string("20\n2\n"));
    game.write("glass_m.bmp", argbBmp);
    game.write("glass_m.an", std::string("20\n2\n"));
    game.write("glass.jpg", junk);
    TNBIm* glass = registry.LoadImage("glass.bmp", false);
    sameImage(glass, registry.LoadImage("glass_m.bmp", false), "32-bit bitmap");
    EXPECT_EQ(glass->image->PatternWidth, 9);
    EXPECT_EQ(glass->image->PatternHeight, 3);
    // 12 x 6 texels hold both 9 x 3 frames: frame 1 is the second cell.
    EXPECT_EQ(glass->image->TextureCount, 1);
    EXPECT_EQ(glass->image->Pixel(4, 3 + 1, 0), px[4 * 9 + 4]);

    // A picture whose data breaks off after some rows fails the same way on
    // both paths, and neither leaves an image behind.
    state.loading = true;
    const size_t before = images.Count();
    auto cut = indexedBmp;
    cut.resize(cut.size() - 300);
    game.write("short.bmp", cut);
    game.write("short2.bmp", cut);
    game.write("short2_.jpg", junk);
    auto png = Png(40, 40, std::vector<uint32_t>(1600, 0xFF808080u));
    png.resize(png.size() / 2);
    game.write("short.png", png);
    for (const char* name : {"short.bmp", "short2.bmp", "short.png"}) {
        TNBIm* e = registry.LoadImage(name, false);
        EXPECT_TRUE(e->failed) << name;
        EXPECT_EQ(e->image, nullptr) << name;
    }
    EXPECT_EQ(images.Count(), before);
    EXPECT_EQ(progress, 3);
}

TEST_F(ImageRegistryTest, PicturesFromTheArchive) {
    auto maskValue = [](int x, int y) { return (x + y) * 9; };
    game.write("res.dat",
               ArchiveBytes({
                   {"IMAGES\\SPRITE.BMP", ColourBmp(64, 32, [](int x, int) { return x < 32 ? 0xFFFF0000u : 0xFF0000FFu; })},
                   {"images\\sprite.an", std::vector<uint8_t>{'2', '\n', '1', '\n'}},
                   {"IMAGES\\DOOR_M.BMP", MaskBmp(16, 8, maskValue)},
                   {"Images\\Door.jpg", Jpeg(16, 8, Flat(16, 8, 0x80A0C0))},
                   {"IMAGES\\TWICE.BMP", PlainBmp(20, 20)},
                   {"IMAGES\\JUNK.PNG", std::vector<uint8_t>(100, 7)},
               }));
    archive.SetFileName(game.path("res.dat"));

    TNBIm* sprite = registry.LoadImage("Images\\Sprite.bmp", false);
    ASSERT_NE(sprite->image, nullptr);
    EXPECT_EQ(sprite->image->PatternWidth, 32);
    EXPECT_EQ(sprite->image->PatternCount, 2);
    EXPECT_EQ(sprite->image->Pixel(10, 10, 1), 0xFF0000FFu);
    // The archived grid passed through "temp.an", which stays.
    ASSERT_TRUE(game.exists("temp.an"));
    EXPECT_EQ(game.read("temp.an"), "2\n1\n");

    // Mask and colour both in the archive.
    TNBIm* door = registry.LoadImage("images\\door_m.bmp", false);
    ASSERT_NE(door->image, nullptr);
    EXPECT_EQ(Alpha(door->image->Pixel(3, 5, 0)), maskValue(3, 5));
    EXPECT_TRUE(ColourNear(door->image->Pixel(3, 5, 0), 0x80A0C0));

    // A loose file wins over the archive.
    game.write("Images/Twice.bmp", PlainBmp(10, 10));
    TNBIm* twice = registry.LoadImage("images\\twice.bmp", false);
    ASSERT_NE(twice->image, nullptr);
    EXPECT_EQ(twice->image->PatternWidth, 10);

    EXPECT_TRUE(registry.LoadImage("Images\\Junk.png", false)->failed);
    TNBIm* none = registry.LoadImage("Images\\None.png", false);
    EXPECT_EQ(none->image, nullptr);
    EXPECT_FALSE(none->failed);
}

TEST_F(ImageRegistryTest, ReloadAfterWindowModeSwitch) {
    game.write("a.bmp", PlainBmp(4, 4));
    game.write("b.bmp", PlainBmp(6, 6));
    game.write("d.bmp", PlainBmp(2, 2));
    TNBIm* a = registry.LoadImage("a.bmp", false);
    TNBIm* b = registry.LoadImage("b.bmp", false);
    registry.LoadImage("b.bmp", false);
    TNBIm* missing = registry.LoadImage("c.bmp", false);
    state.ready = false;
    TNBIm* deferred = registry.LoadImage("d.bmp", false);
    state.ready = true;
    ASSERT_EQ(images.Count(), 2u);
    const int pos = state.forLoadPos;

    std::remove(game.path("a.bmp").c_str());  // gone since: the reload finds nothing
    registry.ReloadAll();
    EXPECT_EQ(a->image, nullptr);
    EXPECT_FALSE(a->failed);
    ASSERT_NE(b->image, nullptr);
    EXPECT_EQ(b->image->PatternWidth, 6);
    EXPECT_EQ(a->useCount, 2);
    EXPECT_EQ(b->useCount, 3);
    EXPECT_EQ(missing->useCount, 1);  // entries without a picture are not touched
    EXPECT_EQ(deferred->useCount, 1);
    EXPECT_EQ(deferred->image, nullptr);
    EXPECT_EQ(state.forLoadPos, pos + 2);
    EXPECT_EQ(images.Count(), 1u);
}

TEST_F(ImageRegistryTest, NameAsGivenComesBeforeTheGameFolder) {
    TempFolder cwd;
    cwd.write("pics/a.bmp", PlainBmp(4, 4));
    game.write("pics/a.bmp", PlainBmp(8, 8));
    game.write("pics/b.bmp", PlainBmp(8, 8));
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(cwd.dir().c_str()), 0);
    TNBIm* a = registry.LoadImage("PICS\\A.BMP", false);
    TNBIm* b = registry.LoadImage("pics\\b.bmp", false);
    ASSERT_EQ(chdir(old), 0);
    ASSERT_NE(a->image, nullptr);
    ASSERT_NE(b->image, nullptr);
    EXPECT_EQ(a->image->PatternWidth, 4);
    EXPECT_EQ(b->image->PatternWidth, 8);
    // A full path outside the game folder keeps its folder in the key.
    TNBIm* outside = registry.LoadImage(cwd.path("pics/a.bmp"), false);
    ASSERT_NE(outside->image, nullptr);
    EXPECT_EQ(outside->name, asciiUpper(cwd.path("pics/a.bmp")));
}

}  // namespace
}  // namespace nb
