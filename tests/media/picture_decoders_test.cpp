#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <utility>

#include <zlib.h>

#include "media/Decoders.h"
#include "tests/media/PictureFiles.h"

namespace nb {
namespace {

using namespace testpics;

using DecodeFn = bool (*)(const uint8_t*, size_t, Bitmap&);

// A successful decode must describe its own pixel buffer.
void ExpectConsistent(const Bitmap& b) {
    ASSERT_TRUE(b.bitsPerPixel == 8 || b.bitsPerPixel == 24 || b.bitsPerPixel == 32);
    ASSERT_GT(b.width, 0);
    ASSERT_GT(b.height, 0);
    ASSERT_EQ(b.pixels.size(), b.stride() * size_t(b.height));
    if (b.bitsPerPixel == 8) {
        ASSERT_FALSE(b.palette.empty());
    }
}

// Decodes every prefix of `file` from an exact-size heap copy, so that the
// address sanitizer sees any read past the end.
void DecodeEveryPrefix(DecodeFn decode, const std::vector<uint8_t>& file, size_t* successes = nullptr) {
    for (size_t n = 0; n <= file.size(); ++n) {
        std::vector<uint8_t> part(file.begin(), file.begin() + std::ptrdiff_t(n));
        Bitmap b;
        if (decode(part.data(), part.size(), b)) {
            ExpectConsistent(b);
            if (successes) ++*successes;
        }
    }
}

// Random byte changes, seeded for repeatability.
void DecodeCorrupted(DecodeFn decode, const std::vector<uint8_t>& file, int rounds, size_t headerBias) {
    std::mt19937 rng(12345);
    for (int i = 0; i < rounds; ++i) {
        std::vector<uint8_t> bad = file;
        int changes = 1 + int(rng() % 4);
        for (int k = 0; k < changes; ++k) {
            size_t limit = (i % 2 == 0) ? std::min(headerBias, bad.size()) : bad.size();
            bad[rng() % limit] = uint8_t(rng());
        }
        Bitmap b;
        if (decode(bad.data(), bad.size(), b)) ExpectConsistent(b);
    }
}

std::vector<uint32_t> Ramp(int w, int h, uint32_t modulo) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) px[size_t(y) * size_t(w) + size_t(x)] = uint32_t(x * 7 + y * 3) % modulo;
    return px;
}

std::vector<uint32_t> Colours(int w, int h) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[size_t(y) * size_t(w) + size_t(x)] = 0xFF000000u | uint32_t(x * 40) << 16 | uint32_t(y * 50) << 8 |
                                                    uint32_t((x + y) * 20);
    return px;
}

std::vector<uint32_t> Palette(size_t n) {
    std::vector<uint32_t> p(n);
    for (size_t i = 0; i < n; ++i) p[i] = uint32_t(i * 0x010203 + 0x102030) & 0xFFFFFF;
    return p;
}

void ExpectIndices(const Bitmap& b, const std::vector<uint32_t>& px, const std::vector<uint32_t>& pal) {
    ASSERT_EQ(b.bitsPerPixel, 8);
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            uint32_t want = px[size_t(y) * size_t(b.width) + size_t(x)];
            ASSERT_EQ(b.value8(x, y), want) << x << "," << y;
            ASSERT_EQ(b.argb(x, y), 0xFF000000u | pal[want]) << x << "," << y;
        }
}

TEST(BmpDecoder, IndexedBitmapsKeepIndicesAndOpaquePalette) {
    for (int bpp : {1, 4, 8}) {
        const int w = 13, h = 5;  // odd width: rows are padded differently per depth
        auto px = Ramp(w, h, 1u << bpp);
        auto pal = Palette(size_t(1) << bpp);
        for (bool topDown : {false, true}) {
            BmpLayout l;
            l.bpp = bpp;
            l.topDown = topDown;
            l.palette = pal;
            auto file = Bmp(w, h, l, px);
            Bitmap b;
            ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b)) << bpp << topDown;
            ASSERT_EQ(b.width, w);
            ASSERT_EQ(b.height, h);
            ExpectIndices(b, px, pal);
        }
    }
    // The old 12-byte header with three-byte palette entries.
    {
        BmpLayout l;
        l.bpp = 8;
        l.headerSize = 12;
        l.palette = Palette(256);
        auto px = Ramp(7, 3, 256);
        auto file = Bmp(7, 3, l, px);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        ExpectIndices(b, px, l.palette);
    }
    // A short palette (colours used = 4): pixel data follows it directly.
    {
        BmpLayout l;
        l.bpp = 8;
        l.colorsUsed = 4;
        l.palette = Palette(4);
        auto px = Ramp(6, 4, 4);
        auto file = Bmp(6, 4, l, px);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        ExpectIndices(b, px, l.palette);
    }
}

TEST(BmpDecoder, TrueColourDepths) {
    const int w = 3, h = 2;  // 3 x 24 bits = 9 bytes a row: padded to 12
    auto px = Colours(w, h);
    {
        BmpLayout l;
        l.bpp = 24;
        auto file = Bmp(w, h, l, px);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        ASSERT_EQ(b.bitsPerPixel, 24);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) EXPECT_EQ(b.argb(x, y), px[size_t(y * w + x)]);
    }
    // 32 bits with every fourth byte zero: the byte is not alpha.
    {
        std::vector<uint32_t> noAlpha = px;
        for (auto& c : noAlpha) c &= 0xFFFFFF;
        BmpLayout l;
        l.bpp = 32;
        auto file = Bmp(w, h, l, noAlpha);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        ASSERT_EQ(b.bitsPerPixel, 32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) EXPECT_EQ(b.argb(x, y), noAlpha[size_t(y * w + x)] | 0xFF000000u);
    }
    // One pixel with alpha: every alpha byte is kept as stored, zeros too.
    {
        std::vector<uint32_t> some = px;
        for (auto& c : some) c &= 0xFFFFFF;
        some[4] |= 0x80000000u;
        BmpLayout l;
        l.bpp = 32;
        l.topDown = true;
        auto file = Bmp(w, h, l, some);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) EXPECT_EQ(b.argb(x, y), some[size_t(y * w + x)]);
    }
    // 16 bits: 5-5-5 by default, widened with rounding (16/31 -> 132).
    {
        BmpLayout l;
        l.bpp = 16;
        std::vector<uint32_t> v = {0x7FFF, 0x7C00, 0x0010, 0x0000};
        auto file = Bmp(4, 1, l, v);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        ASSERT_EQ(b.bitsPerPixel, 24);
        EXPECT_EQ(b.argb(0, 0), 0xFFFFFFFFu);
        EXPECT_EQ(b.argb(1, 0), 0xFFFF0000u);
        EXPECT_EQ(b.argb(2, 0), 0xFF000084u);
        EXPECT_EQ(b.argb(3, 0), 0xFF000000u);
    }
    // 16-bit bit fields 5-6-5 after a 40-byte header (32/63 -> 130).
    {
        BmpLayout l;
        l.bpp = 16;
        l.compression = 3;
        l.masks[0] = 0xF800;
        l.masks[1] = 0x07E0;
        l.masks[2] = 0x001F;
        std::vector<uint32_t> v = {0xF800, 0x07E0, 0x0400, 0x001F};
        auto file = Bmp(4, 1, l, v);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        EXPECT_EQ(b.argb(0, 0), 0xFFFF0000u);
        EXPECT_EQ(b.argb(1, 0), 0xFF00FF00u);
        EXPECT_EQ(b.argb(2, 0), 0xFF008200u);
        EXPECT_EQ(b.argb(3, 0), 0xFF0000FFu);
    }
    // V5 header, 32-bit bit fields in an unusual order, with an alpha mask.
    {
        BmpLayout l;
        l.bpp = 32;
        l.headerSize = 124;
        l.compression = 3;
        l.masks[0] = 0x000000FF;  // red in the lowest byte
        l.masks[1] = 0x0000FF00;
        l.masks[2] = 0x00FF0000;
        l.masks[3] = 0xFF000000;
        std::vector<uint32_t> v = {0x40332211u, 0x00000000u};
        auto file = Bmp(2, 1, l, v);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        ASSERT_EQ(b.bitsPerPixel, 32);
        EXPECT_EQ(b.argb(0, 0), 0x40112233u);
        EXPECT_EQ(b.argb(1, 0), 0x00000000u);
    }
}

TEST(BmpDecoder, RunLengthData) {
    // RLE8, 6 x 3, stored bottom-up: a run and an absolute run on the bottom
    // row, a delta that skips to the top row, a run there, end of bitmap.
    {
        BmpLayout l;
        l.bpp = 8;
        l.compression = 1;
        l.palette = Palette(256);
        std::vector<uint8_t> codes = {3, 5, 0, 3, 1, 2, 3, 0, 0, 0,  // row: 5 5 5 1 2 3, end of line
                                      0, 2, 2, 1,                    // delta (+2, +1)
                                      2, 7, 0, 1};                   // two 7s, end of bitmap
        auto file = BmpFile(6, 3, l, codes);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        ASSERT_EQ(b.bitsPerPixel, 8);
        const uint8_t want[3][6] = {{0, 0, 7, 7, 0, 0}, {0, 0, 0, 0, 0, 0}, {5, 5, 5, 1, 2, 3}};
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 6; ++x) EXPECT_EQ(b.value8(x, y), want[y][x]) << x << "," << y;
    }
    // RLE4: a run alternates the two nibbles; an absolute run of 3 nibbles
    // takes 2 bytes (no pad).
    {
        BmpLayout l;
        l.bpp = 4;
        l.compression = 2;
        l.palette = Palette(16);
        std::vector<uint8_t> codes = {5, 0x12, 0, 3, 0x34, 0x50, 0, 1};
        auto file = BmpFile(8, 1, l, codes);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        const uint8_t want[8] = {1, 2, 1, 2, 1, 3, 4, 5};
        for (int x = 0; x < 8; ++x) EXPECT_EQ(b.value8(x, 0), want[x]) << x;
    }
    // Runs, deltas and absolute runs that overshoot the picture stay inside it.
    {
        BmpLayout l;
        l.bpp = 8;
        l.compression = 1;
        l.palette = Palette(256);
        std::vector<uint8_t> codes = {255, 9, 0, 0, 0, 2, 255, 255, 0, 5, 1, 2, 3, 4, 5, 0};
        auto file = BmpFile(6, 2, l, codes);
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), b));
        for (int x = 0; x < 6; ++x) EXPECT_EQ(b.value8(x, 1), 9);
    }
}

TEST(BmpDecoder, DamagedHeadersAreRefusedOrReadSafely) {
    BmpLayout l;
    l.bpp = 8;
    l.palette = Palette(256);
    const auto good = Bmp(4, 4, l, Ramp(4, 4, 256));
    auto le32 = [](int64_t v) {
        uint32_t u = uint32_t(v);
        return std::vector<uint8_t>{uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
    };
    using Patch = std::vector<std::pair<size_t, std::vector<uint8_t>>>;
    auto patched = [&](const Patch& patch) {
        auto f = good;
        for (const auto& [at, bytes] : patch) std::memcpy(f.data() + at, bytes.data(), bytes.size());
        return f;
    };
    // Offsets: 10 pixel data, 14 header size, 18 width, 22 height, 28 depth,
    // 30 compression, 46 colours used.
    const std::vector<Patch> refused = {
        {{0, {'B', 'A'}}},
        {{18, le32(0)}},
        {{18, le32(-4)}},
        {{22, le32(0)}},
        {{22, le32(INT_MIN)}},
        {{28, {7, 0}}},
        {{30, le32(2)}},                       // RLE4 on an 8-bit picture
        {{30, le32(9)}},                       // unknown compression
        {{14, le32(1000000)}},                 // header larger than the file
        {{14, le32(20)}},                      // no such header
        {{18, le32(20000)}},                   // wider than any picture we accept
        {{18, le32(10000)}, {22, le32(10000)}},  // too many pixels
        {{10, le32(int64_t(good.size()))}},    // pixel data past the end
        {{10, le32(20)}},                      // pixel data inside the header
    };
    for (size_t i = 0; i < refused.size(); ++i) {
        auto f = patched(refused[i]);
        Bitmap b;
        EXPECT_FALSE(DecodeBmp(f.data(), f.size(), b)) << "case " << i;
        EXPECT_TRUE(b.empty());
    }
    // An absurd colours-used count is held to the depth's palette size.
    {
        auto f = patched({{46, le32(100000)}});
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(f.data(), f.size(), b));
        EXPECT_EQ(b.palette.size(), 256u);
        EXPECT_EQ(b.value8(1, 0), 7);
    }
    // A pixel-data offset of zero means "right after the palette".
    {
        auto f = patched({{10, le32(0)}});
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(f.data(), f.size(), b));
        EXPECT_EQ(b.value8(1, 0), 7);
    }
}

TEST(BmpDecoder, TruncatedAndCorruptedFilesNeverReadOutside) {
    std::vector<std::vector<uint8_t>> files;
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
        BmpLayout l;
        l.bpp = bpp;
        if (bpp <= 8) l.palette = Palette(size_t(1) << bpp);
        files.push_back(Bmp(9, 5, l, bpp <= 8 ? Ramp(9, 5, 1u << bpp) : Colours(9, 5)));
    }
    {
        BmpLayout l;
        l.bpp = 8;
        l.compression = 1;
        l.palette = Palette(256);
        files.push_back(BmpFile(6, 3, l, {3, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 1, 2, 7, 0, 1}));
        l.bpp = 4;
        l.compression = 2;
        l.palette = Palette(16);
        files.push_back(BmpFile(8, 2, l, {5, 0x12, 0, 3, 0x34, 0x50, 0, 0, 8, 0x77, 0, 1}));
    }
    for (const auto& f : files) {
        size_t ok = 0;
        DecodeEveryPrefix(DecodeBmp, f, &ok);
        EXPECT_GE(ok, 1u);  // at least the whole file decodes
        DecodeCorrupted(DecodeBmp, f, 400, 60);
    }
}

TEST(PngDecoder, ColourTypesBecome32BitWithAlpha) {
    const int w = 7, h = 5;
    std::vector<uint32_t> px(size_t(w * h));
    for (int i = 0; i < w * h; ++i) px[size_t(i)] = uint32_t(i * 37 % 256) << 24 | uint32_t(i * 0x030507);
    for (bool interlaced : {false, true}) {
        auto file = Png(w, h, px, PngKind::Rgba, interlaced);
        Bitmap b;
        ASSERT_TRUE(DecodePng(file.data(), file.size(), b));
        ASSERT_EQ(b.bitsPerPixel, 32);
        ASSERT_EQ(b.width, w);
        ASSERT_EQ(b.height, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) EXPECT_EQ(b.argb(x, y), px[size_t(y * w + x)]) << interlaced;
    }
    {
        auto file = Png(w, h, px, PngKind::Rgb);
        Bitmap b;
        ASSERT_TRUE(DecodePng(file.data(), file.size(), b));
        EXPECT_EQ(b.argb(3, 2), px[size_t(2 * w + 3)] | 0xFF000000u);
    }
    {
        // Palette with transparency.
        std::vector<uint32_t> few = {0x00FF0000u, 0x8000FF00u, 0xFF0000FFu, 0x00FF0000u};
        auto file = Png(2, 2, few, PngKind::Palette);
        Bitmap b;
        ASSERT_TRUE(DecodePng(file.data(), file.size(), b));
        ASSERT_EQ(b.bitsPerPixel, 32);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(b.argb(i % 2, i / 2), few[size_t(i)]);
    }
    {
        // 16-bit grey is reduced to 8 bits and spread to the three colours.
        std::vector<uint32_t> g = {0x00000000u, 0x00008000u, 0x0000FF00u};
        auto file = Png(3, 1, g, PngKind::Grey16);
        Bitmap b;
        ASSERT_TRUE(DecodePng(file.data(), file.size(), b));
        EXPECT_EQ(b.argb(0, 0), 0xFF000000u);
        EXPECT_EQ(b.argb(1, 0), 0xFF808080u);
        EXPECT_EQ(b.argb(2, 0), 0xFFFFFFFFu);
    }
    {
        std::vector<uint32_t> ga = {0x40002000u, 0xC000F000u};
        auto file = Png(2, 1, ga, PngKind::GreyAlpha);
        Bitmap b;
        ASSERT_TRUE(DecodePng(file.data(), file.size(), b));
        EXPECT_EQ(b.argb(0, 0), 0x40202020u);
        EXPECT_EQ(b.argb(1, 0), 0xC0F0F0F0u);
    }
}

TEST(PngDecoder, DamagedFilesFailCleanly) {
    std::vector<uint32_t> px = Colours(9, 6);
    for (auto& c : px) c = (c & 0xFFFFFF) | 0x7F000000u;
    const auto file = Png(9, 6, px, PngKind::Rgba, true);
    size_t ok = 0;
    DecodeEveryPrefix(DecodePng, file, &ok);
    // Only files that still hold every image row decode.
    EXPECT_GE(ok, 1u);
    EXPECT_LT(ok, 40u);
    DecodeCorrupted(DecodePng, file, 400, 40);
    DecodeCorrupted(DecodePng, Png(9, 6, px, PngKind::Palette), 400, 60);

    // Header CRC wrong: refused.
    {
        auto bad = file;
        bad[29] ^= 0xFF;
        Bitmap b;
        EXPECT_FALSE(DecodePng(bad.data(), bad.size(), b));
    }
    // A header that claims 20000 x 20000 with a correct CRC: refused before
    // any pixel memory is taken.
    {
        auto big = file;
        const uint8_t dims[8] = {0, 0, 0x4E, 0x20, 0, 0, 0x4E, 0x20};
        std::memcpy(big.data() + 16, dims, 8);
        uint32_t crc = uint32_t(::crc32(0, big.data() + 12, 17));
        for (int i = 0; i < 4; ++i) big[29 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
        Bitmap b;
        EXPECT_FALSE(DecodePng(big.data(), big.size(), b));
    }
}

TEST(JpegDecoder, DecodesTo24BitsCloseToTheSource) {
    const int w = 40, h = 24;
    {
        auto file = Jpeg(w, h, Flat(w, h, 0x3080C0));
        Bitmap b;
        ASSERT_TRUE(DecodeJpeg(file.data(), file.size(), b));
        ASSERT_EQ(b.bitsPerPixel, 24);
        ASSERT_EQ(b.width, w);
        ASSERT_EQ(b.height, h);
        uint32_t c = b.argb(17, 11);
        EXPECT_NEAR(int((c >> 16) & 0xFF), 0x30, 3);
        EXPECT_NEAR(int((c >> 8) & 0xFF), 0x80, 3);
        EXPECT_NEAR(int(c & 0xFF), 0xC0, 3);
    }
    // A smooth gradient, baseline and progressive, stays close everywhere.
    std::vector<uint32_t> grad(size_t(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) grad[size_t(y * w + x)] = uint32_t(x * 6) << 16 | uint32_t(y * 10) << 8 | 0x40;
    for (bool progressive : {false, true}) {
        auto file = Jpeg(w, h, grad, 95, false, progressive);
        Bitmap b;
        ASSERT_TRUE(DecodeJpeg(file.data(), file.size(), b));
        long err = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint32_t got = b.argb(x, y), want = grad[size_t(y * w + x)];
                for (int s = 0; s < 24; s += 8) err += std::abs(int((got >> s) & 0xFF) - int((want >> s) & 0xFF));
            }
        EXPECT_LT(double(err) / (w * h * 3), 3.0) << progressive;
    }
    // Grey files come out with equal colour channels.
    {
        auto file = Jpeg(8, 8, Flat(8, 8, 0x005A00), 95, true);
        Bitmap b;
        ASSERT_TRUE(DecodeJpeg(file.data(), file.size(), b));
        ASSERT_EQ(b.bitsPerPixel, 24);
        uint32_t c = b.argb(3, 3);
        EXPECT_EQ((c >> 16) & 0xFF, c & 0xFF);
        EXPECT_EQ((c >> 8) & 0xFF, c & 0xFF);
        EXPECT_NEAR(int(c & 0xFF), 0x5A, 2);
    }
}

TEST(JpegDecoder, DamagedFilesNeverReadOutside) {
    std::vector<uint32_t> px = Colours(24, 16);
    const auto base = Jpeg(24, 16, px, 80);
    const auto prog = Jpeg(24, 16, px, 80, false, true);
    DecodeEveryPrefix(DecodeJpeg, base);
    DecodeEveryPrefix(DecodeJpeg, prog);
    DecodeCorrupted(DecodeJpeg, base, 400, 200);
    DecodeCorrupted(DecodeJpeg, prog, 400, 200);
    // A frame header claiming 20000 x 20000 is refused.
    auto big = base;
    for (size_t i = 0; i + 8 < big.size(); ++i)
        if (big[i] == 0xFF && big[i + 1] == 0xC0) {
            big[i + 5] = 0x4E, big[i + 6] = 0x20, big[i + 7] = 0x4E, big[i + 8] = 0x20;
            break;
        }
    Bitmap b;
    EXPECT_FALSE(DecodeJpeg(big.data(), big.size(), b));
    std::vector<uint8_t> junk(300, 0xFF);
    EXPECT_FALSE(DecodeJpeg(junk.data(), junk.size(), b));
    EXPECT_TRUE(b.empty());
}

TEST(PictureDispatch, ExtensionChoosesTheDecoderWithoutRegardToCase) {
    EXPECT_EQ(PictureKindOf("Images\\Tree.JPG"), PictureKind::Jpeg);
    EXPECT_EQ(PictureKindOf("tree.JpEg"), PictureKind::Jpeg);
    EXPECT_EQ(PictureKindOf("a/b.Png"), PictureKind::Png);
    EXPECT_EQ(PictureKindOf("X.TGA"), PictureKind::Tga);
    EXPECT_EQ(PictureKindOf("x.bmp"), PictureKind::Bmp);
    EXPECT_EQ(PictureKindOf("x.jpe"), PictureKind::Bmp);
    EXPECT_EQ(PictureKindOf("noext"), PictureKind::Bmp);
    EXPECT_EQ(PictureKindOf("dir.png\\file"), PictureKind::Bmp);  // the folder's dot is no extension
    EXPECT_EQ(PictureKindOf("dir.png/file"), PictureKind::Bmp);

    const auto png = Png(2, 2, Flat(2, 2, 0xFF123456u));
    Bitmap b;
    EXPECT_FALSE(DecodePicture("as.bmp", png.data(), png.size(), b));
    ASSERT_TRUE(DecodePicture("AS.PNG", png.data(), png.size(), b));
    EXPECT_EQ(b.argb(1, 1), 0xFF123456u);

    // A 2 x 2 uncompressed 24-bit TGA, bottom-up.
    std::vector<uint8_t> tga(18, 0);
    tga[2] = 2;
    tga[12] = 2;
    tga[14] = 2;
    tga[16] = 24;
    for (int i = 0; i < 4; ++i) tga.insert(tga.end(), {uint8_t(i), 0x20, 0x30});
    Bitmap t;
    ASSERT_TRUE(DecodePicture("t.Tga", tga.data(), tga.size(), t));
    EXPECT_EQ(t.width, 2);
    EXPECT_EQ(t.height, 2);
    EXPECT_EQ(t.argb(0, 1) & 0xFFFFFF, 0x302000u);  // first stored pixel: bottom-left
    // A TGA header claiming 65535 x 65535 is refused before decoding.
    tga[12] = tga[13] = tga[14] = tga[15] = 0xFF;
    EXPECT_FALSE(DecodePicture("t.tga", tga.data(), tga.size(), t));
    EXPECT_FALSE(DecodePicture("t.tga", nullptr, 0, t));
}

// Checks how a decoder hands out rows: the size once before any row, every
// row in order from the top, each into a buffer of exactly one row (the
// address sanitizer sees any write past it), and all of them when the
// decoder answers true.
class StrictRows final : public PictureRows {
public:
    int begins = 0, width = 0, height = 0, bpp = 0, next = 0;
    bool Begin(int w, int h, int bitsPerPixel, const std::vector<uint32_t>& palette) override {
        ++begins;
        EXPECT_EQ(begins, 1);
        EXPECT_TRUE(PictureSizeAcceptable(w, h));
        EXPECT_TRUE(bitsPerPixel == 8 || bitsPerPixel == 24 || bitsPerPixel == 32);
        if (bitsPerPixel == 8) {
            EXPECT_FALSE(palette.empty());
        }
        width = w, height = h, bpp = bitsPerPixel;
        row_.assign(size_t(w) * size_t(bitsPerPixel / 8), 0);
        return true;
    }
    uint8_t* Row(int y) override {
        EXPECT_EQ(y, next);
        EXPECT_LT(y, height);
        return row_.data();
    }
    void RowDone(int y) override {
        EXPECT_EQ(y, next);
        ++next;
    }

private:
    std::vector<uint8_t> row_;
};

TEST(PictureDispatch, RowsArriveInOrderEvenFromDamagedFiles) {
    const std::vector<uint32_t> px = Colours(13, 9);
    std::vector<uint32_t> idx(13 * 9);
    for (size_t i = 0; i < idx.size(); ++i) idx[i] = uint32_t(i % 7);
    BmpLayout pal;
    pal.bpp = 8;
    pal.palette = Palette(7);
    std::vector<uint8_t> tga(18, 0);
    tga[2] = 2, tga[12] = 13, tga[14] = 9, tga[16] = 32;
    for (uint32_t c : px) tga.insert(tga.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(c >> 24)});
    const std::pair<const char*, std::vector<uint8_t>> files[] = {
        {"a.png", Png(13, 9, px)},
        {"b.PNG", Png(13, 9, px, PngKind::Palette, true)},
        {"c.jpg", Jpeg(13, 9, px, 80)},
        {"d.jpeg", Jpeg(13, 9, px, 80, false, true)},
        {"e.bmp", Bmp(13, 9, pal, idx)},
        {"f.tga", tga},
    };
    std::mt19937 rng(777);
    for (const auto& [name, file] : files) {
        auto attempt = [&, name = name](const std::vector<uint8_t>& bytes) {
            StrictRows rows;
            const std::vector<uint8_t> exact(bytes);  // heap copy of the exact size
            if (DecodePicture(name, exact.data(), exact.size(), rows)) {
                EXPECT_EQ(rows.begins, 1) << name;
                EXPECT_EQ(rows.next, rows.height) << name;
                return true;
            }
            return false;
        };
        EXPECT_TRUE(attempt(file)) << name;
        StrictRows whole;
        ASSERT_TRUE(DecodePicture(name, file.data(), file.size(), whole)) << name;
        EXPECT_EQ(whole.width, 13) << name;
        EXPECT_EQ(whole.height, 9) << name;
        for (size_t n = 0; n < file.size(); ++n) attempt(std::vector<uint8_t>(file.begin(), file.begin() + std::ptrdiff_t(n)));
        for (int i = 0; i < 300; ++i) {
            std::vector<uint8_t> bad = file;
            for (int k = 1 + int(rng() % 3); k > 0; --k) bad[rng() % bad.size()] = uint8_t(rng());
            attempt(bad);
        }
    }
}

}  // namespace
}  // namespace nb
