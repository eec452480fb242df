#include <gtest/gtest.h>

#include "platform/Bitmap.h"
#include "platform/ByteIO.h"
#include "render/RenderDevices.h"
#include "render/RenderImages.h"
#include "tests/render/RecordingBackend.h"

namespace nb {
namespace {

using test::RecordingBackend;

TEST(PixelFormats, EveryFormatWidensToArgb) {
    struct Case {
        int format;
        std::vector<uint8_t> bytes;
        uint32_t want;
    };
    // Channels of n bits scale by 255 / (2^n - 1) to the nearest integer;
    // absent channels read 255.
    const Case cases[] = {
        {pfR3G3B2, {0xAE}, 0xFFB66DAA},              // r5 g3 b2
        {pfR5G6B5, {0x01, 0x84}, 0xFF848208},        // r16 g32 b1
        {pfX8R8G8B8, {0x11, 0x22, 0x33, 0x44}, 0xFF332211},
        {pfX1R5G5B5, {0x0F, 0xFC}, 0xFFFF007B},      // x1 r31 g0 b15
        {pfX4R4G4B4, {0xA5, 0xF1}, 0xFF11AA55},
        {pfA8R8G8B8, {0x11, 0x22, 0x33, 0x44}, 0x44332211},
        {pfA1R5G5B5, {0x21, 0x04}, 0x00080808},      // a0 r1 g1 b1
        {pfA1R5G5B5, {0x00, 0x80}, 0xFF000000},
        {pfA4R4G4B4, {0x21, 0x84}, 0x88442211},
        {pfA8R3G3B2, {0xAE, 0x7F}, 0x7FB66DAA},
        {pfA2R2G2B2, {0x6C}, 0x55AAFF00},            // a1 r2 g3 b0
        {pfA8, {0x5A}, 0x5AFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PixelFormatBytes(c.format), int(c.bytes.size())) << c.format;
        EXPECT_EQ(PixelToArgb(c.format, c.bytes.data()), c.want) << "format " << c.format;
    }
    const uint8_t full[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    for (int f = 0; f <= pfA8; ++f) EXPECT_EQ(PixelToArgb(f, full), 0xFFFFFFFFu) << f;
    EXPECT_EQ(PixelFormatBytes(11), 0);
    EXPECT_EQ(PixelFormatBytes(-1), 0);
    EXPECT_EQ(PixelToArgb(11, full), 0u);
}

TEST(RenderImage, PreparationDefaultsAndValidity) {
    TRenderImage a;
    a.TextureWidth = 64;
    a.TextureHeight = 32;
    a.TextureCount = 2;
    ASSERT_TRUE(a.Prepare());
    EXPECT_EQ(a.PatternWidth, 64);
    EXPECT_EQ(a.VisibleHeight, 32);
    EXPECT_EQ(a.PatternCount, 2);

    TRenderImage b;
    b.TextureWidth = 64;
    b.TextureHeight = 32;
    b.PatternWidth = 16;
    b.PatternHeight = 16;
    b.TextureCount = 3;
    // An unset visible size becomes the texture size, which is larger than
    // the pattern: such an image is not valid.
    EXPECT_FALSE(b.Prepare());
    b.VisibleWidth = 10;
    b.VisibleHeight = 16;
    ASSERT_TRUE(b.Prepare());
    EXPECT_EQ(b.PatternsPerRow(), 4);
    EXPECT_EQ(b.PatternRows(), 2);
    EXPECT_EQ(b.PatternCount, 24);

    TRenderImage c;  // no texture size
    EXPECT_FALSE(c.Prepare());
    TRenderImage d;  // pattern larger than the texture
    d.TextureWidth = d.TextureHeight = 8;
    d.PatternWidth = 9;
    EXPECT_FALSE(d.Prepare());
}

// Frame i holds 0xFF000000 | i << 16 | y << 8 | x at its pixel (x, y).
Bitmap Frames(int across, int down, int pw, int ph) {
    Bitmap b;
    b.allocate(across * pw, down * ph, 32);
    for (int fy = 0; fy < down; ++fy)
        for (int fx = 0; fx < across; ++fx)
            for (int y = 0; y < ph; ++y)
                for (int x = 0; x < pw; ++x)
                    b.setArgb(fx * pw + x, fy * ph + y,
                              0xFF000000u | uint32_t(fy * across + fx) << 16 | uint32_t(y) << 8 | uint32_t(x));
    return b;
}

uint32_t FrameTexel(int frame, int x, int y) { return 0xFF000000u | uint32_t(frame) << 16 | uint32_t(y) << 8 | uint32_t(x); }

TEST(RenderImage, FillCutsFramesIntoCellsRowByRow) {
    TRenderImage im;
    im.PatternWidth = im.VisibleWidth = 4;
    im.PatternHeight = im.VisibleHeight = 4;
    im.TextureWidth = 10;  // 2 x 2 cells and padding
    im.TextureHeight = 9;
    ASSERT_TRUE(im.Fill(Frames(3, 2, 4, 4)));
    EXPECT_EQ(im.TextureCount, 2);  // 6 frames, 4 per texture, rounded up
    EXPECT_EQ(im.PatternCount, 8);
    EXPECT_EQ(im.PixelFormat, pfA8R8G8B8);
    ASSERT_EQ(im.Texels().size(), 2u);

    for (int f = 0; f < 6; ++f) {
        const int tex = f / 4, cell = f % 4;
        const int cx = (cell % 2) * 4, cy = (cell / 2) * 4;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                ASSERT_EQ(im.Pixel(cx + x, cy + y, tex), FrameTexel(f, x, y)) << f << " " << x << "," << y;
    }
    // Cells without a frame stay transparent black.
    EXPECT_EQ(im.Pixel(1, 5, 1), 0u);
    EXPECT_EQ(im.Pixel(7, 7, 1), 0u);
    // Padding outside the cell grid repeats the nearest edge texel.
    EXPECT_EQ(im.Pixel(9, 2, 0), FrameTexel(1, 3, 2));
    EXPECT_EQ(im.Pixel(8, 6, 0), FrameTexel(3, 3, 2));
    EXPECT_EQ(im.Pixel(3, 8, 0), FrameTexel(2, 3, 3));
    EXPECT_EQ(im.Pixel(9, 8, 0), FrameTexel(3, 3, 3));
    EXPECT_EQ(im.Pixel(9, 1, 1), FrameTexel(5, 3, 1));
    EXPECT_EQ(im.Pixel(9, 5, 1), 0u);
    // Out of range asks answer 0.
    EXPECT_EQ(im.Pixel(10, 0, 0), 0u);
    EXPECT_EQ(im.Pixel(0, -1, 0), 0u);
    EXPECT_EQ(im.Pixel(0, 0, 2), 0u);
}

TEST(RenderImage, FillAlphaRulesAndFailures) {
    auto fresh = [](TRenderImage& im) {
        im.PatternWidth = im.VisibleWidth = 2;
        im.PatternHeight = im.VisibleHeight = 2;
        im.TextureWidth = im.TextureHeight = 4;
    };
    Bitmap rgb;
    rgb.allocate(2, 2, 24);  // all black, no alpha channel
    TRenderImage a;
    fresh(a);
    ASSERT_TRUE(a.Fill(rgb));
    EXPECT_EQ(a.Pixel(1, 1, 0), 0xFF000000u);

    Bitmap argb;
    argb.allocate(2, 2, 32);
    argb.setArgb(0, 0, 0x12345678);
    TRenderImage b;
    fresh(b);
    ASSERT_TRUE(b.Fill(argb));
    EXPECT_EQ(b.Pixel(0, 0, 0), 0x12345678u);  // alpha kept
    EXPECT_EQ(b.Pixel(1, 0, 0), 0u);

    TRenderImage c;  // no alpha channel: textures are opaque
    fresh(c);
    c.AlphaLevel = TAlphaLevel::alNone;
    ASSERT_TRUE(c.Fill(argb));
    EXPECT_EQ(c.Pixel(0, 0, 0), 0xFF345678u);
    EXPECT_EQ(c.PixelFormat, pfX8R8G8B8);

    TRenderImage d;  // picture smaller than a pattern
    fresh(d);
    d.PatternWidth = d.VisibleWidth = 3;
    EXPECT_FALSE(d.Fill(argb));

    Bitmap damaged = argb;  // fewer pixel bytes than the size claims
    damaged.pixels.resize(7);
    TRenderImage e;
    fresh(e);
    EXPECT_FALSE(e.Fill(damaged));

    TRenderImage f;  // absurd texture sizes are refused before allocating
    fresh(f);
    f.TextureWidth = f.TextureHeight = 1 << 20;
    EXPECT_FALSE(f.Fill(argb));
}

// Textures hold exactly what the bitmap reads, whatever its layout: 24-bit
// rows are converted several pixels at a time (widths that are not a
// multiple of that, frames that start mid-row), 8-bit ones through the
// palette (an index past its end reads black). Pictures without an alpha
// channel make opaque textures, even where the palette has alpha.
TEST(RenderImage, FillConvertsEveryBitmapLayoutAsTheBitmapReadsIt) {
    Bitmap rgb;
    rgb.allocate(14, 3, 24);  // two frames of 7 x 3 side by side
    for (size_t i = 0; i < rgb.pixels.size(); ++i) rgb.pixels[i] = uint8_t(i * 37 + 11);
    Bitmap pal;
    pal.allocate(5, 2, 8);
    pal.palette = {0x80102030u, 0xFF405060u, 0x00708090u};
    for (size_t i = 0; i < pal.pixels.size(); ++i) pal.pixels[i] = uint8_t(i % 5);

    for (const Bitmap* b : {&rgb, &pal}) {
        const int pw = b->bitsPerPixel == 24 ? 7 : 5;
        TRenderImage im;
        im.PatternWidth = im.VisibleWidth = pw;
        im.PatternHeight = im.VisibleHeight = b->height;
        im.TextureWidth = pw + 2;
        im.TextureHeight = b->height + 1;
        ASSERT_TRUE(im.Fill(*b));
        const int frames = b->width / pw;
        ASSERT_EQ(im.TextureCount, frames);
        for (int f = 0; f < frames; ++f)
            for (int y = 0; y < b->height; ++y)
                for (int x = 0; x < pw; ++x)
                    ASSERT_EQ(im.Pixel(x, y, f), b->argb(f * pw + x, y) | 0xFF000000u) << b->bitsPerPixel << " " << f << " " << x
                                                                        << "," << y;
    }
}

// Rows handed over one at a time, as a decoder produces them: rows below
// the last whole frame row are ignored; rows that stop early or come out
// of order leave texels unwritten, so the picture is refused and the image
// holds nothing (never uninitialised memory).
TEST(RenderImage, RowByRowFillNeedsEveryRowInOrder) {
    const Bitmap b = Frames(2, 1, 3, 3);
    auto fresh = [](TRenderImage& im) {
        im.PatternWidth = im.VisibleWidth = im.PatternHeight = im.VisibleHeight = 3;
        im.TextureWidth = im.TextureHeight = 4;
    };
    auto row = [&](int y) { return b.pixels.data() + size_t(y) * b.stride(); };

    TRenderImage whole;  // one spare row below the frames, longer rows than the frames use
    fresh(whole);
    ASSERT_TRUE(whole.BeginFill(b.width, b.height, 32, b.palette));
    for (int y = 0; y < 3; ++y) whole.FillRow(y, row(y));
    whole.FillRow(3, row(2));
    ASSERT_TRUE(whole.EndFill());
    EXPECT_EQ(whole.TextureCount, 2);
    EXPECT_EQ(whole.Pixel(2, 1, 1), FrameTexel(1, 2, 1));

    TRenderImage shortOf;
    fresh(shortOf);
    ASSERT_TRUE(shortOf.BeginFill(b.width, b.height, 32, b.palette));
    shortOf.FillRow(0, row(0));
    shortOf.FillRow(1, row(1));
    EXPECT_FALSE(shortOf.EndFill());
    EXPECT_TRUE(shortOf.Texels().empty());
    EXPECT_EQ(shortOf.TextureCount, 0);

    TRenderImage skipped;
    fresh(skipped);
    ASSERT_TRUE(skipped.BeginFill(b.width, b.height, 32, b.palette));
    skipped.FillRow(0, row(0));
    skipped.FillRow(2, row(2));
    skipped.FillRow(3, row(2));
    EXPECT_FALSE(skipped.EndFill());
    EXPECT_TRUE(skipped.Texels().empty());

    TRenderImage never;  // EndFill without BeginFill
    fresh(never);
    EXPECT_FALSE(never.EndFill());
    EXPECT_FALSE(never.BeginFill(b.width, b.height, 16, b.palette));  // no such row layout
}

// Released texel buffers serve the next images of about their size, and
// the memory kept never makes the list hold more than its images alone
// once needed: a request nothing fits frees kept buffers first.
TEST(RenderImages, ReleasedTexelsServeTheNextImagesWithoutGrowingTheMemoryHeld) {
    TRenderImages images(nullptr);
    auto filled = [&](int side) {
        TRenderImage* im = images.Add("x");
        im->PatternWidth = im->VisibleWidth = im->PatternHeight = im->VisibleHeight = side;
        im->TextureWidth = im->TextureHeight = side;
        EXPECT_TRUE(im->Fill(Frames(1, 1, side, side)));
        return im;
    };
    TRenderImage* a = filled(64);
    TRenderImage* b = filled(64);
    const uint32_t* bufferOfA = a->Texels()[0].data();
    images.Remove(a);
    EXPECT_EQ(images.PooledBytes(), 64u * 64u * 4u);
    TRenderImage* c = filled(60);  // fits: reuses A's buffer
    EXPECT_EQ(c->Texels()[0].data(), bufferOfA);
    EXPECT_EQ(images.PooledBytes(), 0u);
    EXPECT_EQ(c->Pixel(59, 59, 0), FrameTexel(0, 59, 59));

    images.Remove(b);
    images.Remove(c);
    EXPECT_EQ(images.PooledBytes(), 2u * 64u * 64u * 4u);
    filled(16);  // far smaller than any kept buffer: one is freed, none reused
    EXPECT_EQ(images.PooledBytes(), 64u * 64u * 4u);
    filled(128);  // larger than all that is kept: the rest is freed
    EXPECT_EQ(images.PooledBytes(), 0u);
    images.DropPooledTexels();
}

TEST(RenderImage, FillUploadsThroughTheDeviceAndReportsFailure) {
    RecordingBackend backend;
    TRenderDevice device(&backend);
    TRenderImages images(&device);
    TRenderImage* im = images.Add("x");
    im->PatternWidth = im->VisibleWidth = im->PatternHeight = im->VisibleHeight = 2;
    im->TextureWidth = im->TextureHeight = 2;
    // Before the device is live only the CPU copy is made.
    ASSERT_TRUE(im->Fill(Frames(2, 1, 2, 2)));
    EXPECT_EQ(im->Handle(0), 0u);
    EXPECT_EQ(im->Pixel(1, 1, 1), FrameTexel(1, 1, 1));
    ASSERT_TRUE(device.Initialize());
    ASSERT_NE(im->Handle(1), 0u);
    EXPECT_EQ(backend.textures.at(im->Handle(1)).texels[3], FrameTexel(1, 1, 1));

    backend.failTextures = true;
    EXPECT_FALSE(im->Fill(Frames(1, 1, 2, 2)));
    EXPECT_TRUE(im->Texels().empty());
    EXPECT_TRUE(backend.textures.empty());  // nothing half made is left behind

    images.Remove(im);
    EXPECT_EQ(images.Count(), 0u);
}

TEST(RenderImage, PatternMappingClampsIndicesAndCentresVisibleCells) {
    TRenderImage im;
    im.PatternWidth = 10;
    im.PatternHeight = 10;
    im.VisibleWidth = 7;  // (10 - 7) div 2 = 1
    im.VisibleHeight = 4;
    im.TextureWidth = im.TextureHeight = 32;  // 3 x 3 cells
    im.PatternCount = 12;
    Bitmap b;
    b.allocate(120, 10, 32);
    ASSERT_TRUE(im.Fill(b));
    ASSERT_EQ(im.TextureCount, 2);

    int tex = -1;
    float u0, v0, u1, v1;
    auto check = [&](int pattern, int wantTex, int x0, int y0, int x1, int y1) {
        ASSERT_TRUE(im.PatternUV(pattern, 0, 0, 0, 0, tex, u0, v0, u1, v1)) << pattern;
        EXPECT_EQ(tex, wantTex) << pattern;
        EXPECT_FLOAT_EQ(u0, x0 / 32.0f) << pattern;
        EXPECT_FLOAT_EQ(v0, y0 / 32.0f) << pattern;
        EXPECT_FLOAT_EQ(u1, x1 / 32.0f) << pattern;
        EXPECT_FLOAT_EQ(v1, y1 / 32.0f) << pattern;
    };
    check(-5, 0, 1, 3, 8, 7);     // below 0: pattern 0
    check(4, 0, 11, 13, 18, 17);  // column 1, row 1
    check(11, 1, 21, 3, 28, 7);   // the last pattern: texture 1, cell 2
    check(100, 1, 21, 3, 28, 7);  // above the last: the last

    // Sub-rectangle: origin added, width below 1 means the visible width.
    ASSERT_TRUE(im.PatternUV(4, 2, 1, 3, 0, tex, u0, v0, u1, v1));
    EXPECT_FLOAT_EQ(u0, 13 / 32.0f);
    EXPECT_FLOAT_EQ(u1, 16 / 32.0f);
    EXPECT_FLOAT_EQ(v0, 14 / 32.0f);
    EXPECT_FLOAT_EQ(v1, 18 / 32.0f);

    // More patterns declared than the textures hold: nothing to draw.
    im.PatternCount = 30;
    EXPECT_FALSE(im.PatternUV(29, 0, 0, 0, 0, tex, u0, v0, u1, v1));
    TRenderImage empty;
    EXPECT_FALSE(empty.PatternUV(0, 0, 0, 0, 0, tex, u0, v0, u1, v1));
}

std::vector<uint8_t> Payload(uint8_t format, int pw, int ph, int vw, int vh, int count, int tw, int th, int tc,
                             const std::vector<uint8_t>& pixels) {
    ByteWriter w;
    w.u8(format);
    for (int v : {pw, ph, vw, vh, count, tw, th, tc}) w.i32(v);
    w.bytes(pixels.data(), pixels.size());
    return w.buffer();
}

TEST(RenderImage, PayloadRowsAreReadTopFirstAndConverted) {
    RecordingBackend backend;
    TRenderDevice device(&backend);
    TRenderImages images(&device);
    ASSERT_TRUE(device.Initialize());
    TRenderImage* im = images.Add("glyphs");
    // A4R4G4B4, 3 x 2, pattern count 0: becomes patterns per texture x textures.
    const std::vector<uint8_t> px = {0x21, 0x84, 0xFF, 0xFF, 0x00, 0x00,  // top row
                                     0x0F, 0xF0, 0xF0, 0x0F, 0x00, 0xF0};
    auto data = Payload(pfA4R4G4B4, 1, 2, 1, 2, 0, 3, 2, 1, px);
    ByteReader in(data);
    ASSERT_TRUE(im->LoadFromPayload(in));
    EXPECT_TRUE(in.atEnd());
    EXPECT_EQ(im->PatternCount, 3);
    EXPECT_EQ(im->PixelFormat, pfA8R8G8B8);
    EXPECT_EQ(im->Pixel(0, 0, 0), 0x88442211u);
    EXPECT_EQ(im->Pixel(1, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(im->Pixel(2, 0, 0), 0x00000000u);
    EXPECT_EQ(im->Pixel(0, 1, 0), 0xFF0000FFu);
    EXPECT_EQ(im->Pixel(1, 1, 0), 0x00FFFF00u);
    EXPECT_EQ(im->Pixel(2, 1, 0), 0xFF000000u);
    ASSERT_NE(im->Handle(0), 0u);

    // Truncated anywhere: the whole image fails and its textures go.
    for (size_t cut = 0; cut < data.size(); ++cut) {
        ByteReader shortIn(data.data(), cut);
        EXPECT_FALSE(im->LoadFromPayload(shortIn)) << cut;
        EXPECT_TRUE(im->Texels().empty());
        EXPECT_EQ(im->Handle(0), 0u);
    }
    EXPECT_TRUE(backend.textures.empty());

    // Damaged headers.
    auto huge = Payload(pfA8R8G8B8, 0, 0, 0, 0, 0, 16384, 16384, 1000000, px);
    ByteReader hugeIn(huge);
    EXPECT_FALSE(im->LoadFromPayload(hugeIn));
    auto badFormat = Payload(11, 1, 1, 1, 1, 1, 1, 1, 1, {0, 0, 0, 0});
    ByteReader badIn(badFormat);
    EXPECT_FALSE(im->LoadFromPayload(badIn));
    auto visibleTooBig = Payload(pfA8, 1, 1, 2, 1, 1, 2, 1, 1, {0, 0});
    ByteReader visIn(visibleTooBig);
    EXPECT_FALSE(im->LoadFromPayload(visIn));
}

}  // namespace
}  // namespace nb
