// Draws through the real OpenGL backend on a headless (offscreen) window and
// checks exact pixels of the frame read back, and of its PNG.

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/Bitmap.h"
#include "platform/FileSystem.h"
#include "platform/Graphics.h"
#include "platform/Png.h"
#include "platform/Window.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderImages.h"

// The GL driver keeps a few allocations until process exit; they are not
// ours and would drown the leak report of a direct run.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace nb {
namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;

TRenderImage* MakeImage(TRenderImages& images, int w, int h, const std::vector<uint32_t>& px) {
    Bitmap b;
    b.allocate(w, h, 32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.setArgb(x, y, px[size_t(y * w + x)]);
    TRenderImage* im = images.Add("test");
    im->PatternWidth = im->VisibleWidth = im->TextureWidth = w;
    im->PatternHeight = im->VisibleHeight = im->TextureHeight = h;
    EXPECT_TRUE(im->Fill(b));
    return im;
}

// Every test draws on a headless window with a real OpenGL context; where
// the machine offers none, the tests are skipped.
class GLRendering : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        WindowOptions options;
        options.headless = true;
        window = PlatformWindow::Create(options, error);
        ASSERT_TRUE(window) << error;
        if (window->Graphics().IsNull())
            GTEST_SKIP() << "no OpenGL context in this environment: " << window->GraphicsFallbackReason();
    }
    std::unique_ptr<PlatformWindow> window;
};

TEST_F(GLRendering, ScreenshotHasExactPixels) {

    TRenderDevice device(&window->Graphics());
    TRenderCanvas canvas(&device);
    TRenderImages images(&device);
    ASSERT_TRUE(device.Initialize());

    // Red, green / blue, transparent white.
    TRenderImage* quad = MakeImage(images, 2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x00FFFFFF});
    TRenderImage* dot = MakeImage(images, 1, 1, {kWhite});

    device.OnRender = [&] {
        canvas.Draw(quad, 10, 10, 0, kWhite, 1);     // opaque: alpha ignored
        canvas.Draw(quad, 20, 10, 0, kWhite, 1284);  // alpha blend, alpha test
        canvas.FillRect(30, 10, 4, 4, kWhite, 1);
        canvas.FillRect(30, 10, 8, 4, 0x80FF0000, 1284);  // half over white, half over black
        canvas.FillRect(50, 10, 4, 4, 0xFF404040, 1);
        canvas.FillRect(50, 10, 4, 4, 0xFF202020, 0x101);  // one, one, add
        canvas.FillRect(60, 10, 4, 4, 0xFF606060, 1);
        canvas.FillRect(60, 10, 4, 4, 0xFF202020, 0x10101);  // reverse subtract: dst - src
        canvas.Draw(dot, 70, 10, 0, 0xFF00FF80, 1);  // modulated by the colour
        canvas.Draw(quad, 80, 10, 0, 0xFF00FF00, 1);  // red x green = black
        canvas.FrameRect(100, 100, 10, 10, 0xFFFF0000, 1);
        canvas.DrawRot(quad, 201, 201, 0, 2.0, kWhite, 0, 1);  // 4 x 4, nearest texel
    };
    device.Render(0xFF000000, true);
    EXPECT_GE(canvas.DrawCalls(), 5);

    std::vector<uint32_t> frame;
    ASSERT_TRUE(window->Graphics().ReadFrame(frame));
    ASSERT_EQ(frame.size(), size_t(1024 * 768));
    auto at = [&](int x, int y) { return frame[size_t(y) * 1024 + size_t(x)]; };

    EXPECT_EQ(at(0, 0), 0xFF000000u);
    // Opaque: every texel lands on exactly one pixel.
    EXPECT_EQ(at(10, 10), 0xFFFF0000u);
    EXPECT_EQ(at(11, 10), 0xFF00FF00u);
    EXPECT_EQ(at(10, 11), 0xFF0000FFu);
    EXPECT_EQ(at(11, 11), 0xFFFFFFFFu);
    EXPECT_EQ(at(12, 10), 0xFF000000u);
    EXPECT_EQ(at(10, 12), 0xFF000000u);
    EXPECT_EQ(at(9, 9), 0xFF000000u);
    // Alpha blending: the transparent texel is discarded.
    EXPECT_EQ(at(20, 10), 0xFFFF0000u);
    EXPECT_EQ(at(21, 11), 0xFF000000u);
    // Half red over white and over black.
    EXPECT_EQ(at(31, 11), 0xFFFF7F7Fu);
    EXPECT_EQ(at(35, 11), 0xFF800000u);
    // Additive and reverse subtract.
    EXPECT_EQ(at(51, 11), 0xFF606060u);
    EXPECT_EQ(at(61, 11), 0xFF404040u);
    // Modulation.
    EXPECT_EQ(at(70, 10), 0xFF00FF80u);
    EXPECT_EQ(at(80, 10), 0xFF000000u);
    EXPECT_EQ(at(81, 10), 0xFF00FF00u);
    // The outline's right and bottom edges lie one pixel inside.
    for (auto [x, y] : {std::pair{100, 100}, {109, 100}, {109, 109}, {100, 109}, {105, 100}, {109, 105}, {105, 109},
                        {100, 105}})
        EXPECT_EQ(at(x, y), 0xFFFF0000u) << x << "," << y;
    EXPECT_EQ(at(105, 105), 0xFF000000u);
    EXPECT_EQ(at(110, 100), 0xFF000000u);
    EXPECT_EQ(at(100, 110), 0xFF000000u);
    // Doubled about its centre (201, 201): pixels 199 to 202.
    EXPECT_EQ(at(199, 199), 0xFFFF0000u);
    EXPECT_EQ(at(200, 200), 0xFFFF0000u);
    EXPECT_EQ(at(201, 199), 0xFF00FF00u);
    EXPECT_EQ(at(202, 200), 0xFF00FF00u);
    EXPECT_EQ(at(199, 202), 0xFF0000FFu);
    EXPECT_EQ(at(203, 199), 0xFF000000u);
    EXPECT_EQ(at(198, 199), 0xFF000000u);

    // The screenshot file holds the same pixels.
    const std::string path = testing::TempDir() + "gl_screenshot_test.png";
    ASSERT_TRUE(WritePng(path, 1024, 768, frame));
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&img, path.c_str()));
    img.format = PNG_FORMAT_BGRA;
    std::vector<uint32_t> back(size_t(img.width) * img.height);
    ASSERT_TRUE(png_image_finish_read(&img, nullptr, back.data(), 0, nullptr));
    EXPECT_EQ(back, frame);
    std::remove(path.c_str());

    window->Present();  // headless: nothing to show, must not fail or block
}

// Edges that fall exactly on pixel centres, filtering and the remaining
// blend words: what decides screenshot pixels beyond plain sprites.
TEST_F(GLRendering, FillRuleFilteringAlphaTestAndBlendFactors) {

    TRenderDevice device(&window->Graphics());
    TRenderCanvas canvas(&device);
    TRenderImages images(&device);
    ASSERT_TRUE(device.Initialize());

    TRenderImage* quad = MakeImage(images, 2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF});
    TRenderImage* pair = MakeImage(images, 2, 1, {0xFFFF0000, 0xFF0000FF});
    TRenderImage* glow = MakeImage(images, 1, 1, {0x00404040});
    TRenderImage* dot = MakeImage(images, 1, 1, {kWhite});

    bool alphaTesting = true;
    device.OnRender = [&] {
        canvas.AlphaTesting = alphaTesting;
        // Untextured edges on pixel centres: left and top edges are in,
        // right and bottom edges out.
        canvas.FillRect(300, 300, 3, 2, kWhite, 1);
        canvas.FillTriangle({400, 400}, {404, 400}, {400, 404}, kWhite, 1);
        // Bilinear filtering at an integer position without scaling keeps
        // every texel; doubled, the outer pixels clamp to the edge texels.
        canvas.SetAntialias(true);
        canvas.Draw(quad, 500, 500, 0, kWhite, 1);
        canvas.DrawRot(pair, 602, 600, 0, 2.0, kWhite, 0, 1);
        canvas.SetAntialias(false);
        // Additive: a texel of alpha 0 adds nothing while the alpha test is on.
        canvas.Draw(glow, 700, 700, 0, kWhite, 0x101);
        // The vertex alpha modulates the texel alpha.
        canvas.FillRect(720, 700, 2, 2, kWhite, 1);
        canvas.Draw(dot, 720, 700, 0, 0x80FF0000, 1284);
        // Destination colour x source (multiply), inverse destination alpha
        // (the frame has no alpha: destination alpha reads 1), saturated
        // source alpha as destination factor (min(As, 1 - Ad) = 0).
        canvas.FillRect(740, 700, 2, 2, 0xFF808080, 1);
        canvas.FillRect(740, 700, 2, 2, 0xFF808080, 0x8);
        canvas.FillRect(750, 700, 2, 2, 0xFF808080, 1);
        canvas.FillRect(750, 700, 2, 2, 0xFF404040, 0x107);
        canvas.FillRect(760, 700, 2, 2, 0xFF808080, 1);
        canvas.FillRect(760, 700, 2, 2, 0xFF101010, 0xA01);
        // Minimum and maximum ignore the factors.
        canvas.FillRect(770, 700, 2, 2, 0xFF20A020, 1);
        canvas.FillRect(770, 700, 2, 2, 0xFF804040, 0x30000);
        canvas.FillRect(780, 700, 2, 2, 0xFF20A020, 1);
        canvas.FillRect(780, 700, 2, 2, 0xFF804040, 0x40000);
    };
    device.Render(0x00123456, true);  // the clear colour's alpha is ignored

    std::vector<uint32_t> frame;
    ASSERT_TRUE(window->Graphics().ReadFrame(frame));
    auto at = [&](int x, int y) { return frame[size_t(y) * 1024 + size_t(x)]; };
    const uint32_t bg = 0xFF123456u;
    EXPECT_EQ(at(0, 0), bg);

    for (int y = 299; y <= 302; ++y)
        for (int x = 299; x <= 303; ++x) {
            const bool in = x >= 300 && x <= 302 && y >= 300 && y <= 301;
            EXPECT_EQ(at(x, y), in ? kWhite : bg) << x << "," << y;
        }
    for (int y = 399; y <= 404; ++y)
        for (int x = 399; x <= 404; ++x) {
            const bool in = x >= 400 && y >= 400 && x + y < 804;
            EXPECT_EQ(at(x, y), in ? kWhite : bg) << x << "," << y;
        }

    EXPECT_EQ(at(500, 500), 0xFFFF0000u);
    EXPECT_EQ(at(501, 500), 0xFF00FF00u);
    EXPECT_EQ(at(500, 501), 0xFF0000FFu);
    EXPECT_EQ(at(501, 501), 0xFFFFFFFFu);
    EXPECT_EQ(at(502, 500), bg);
    // Doubled about (602, 600): pixels 600 to 603 on rows 599 and 600.
    EXPECT_EQ(at(600, 599), 0xFFFF0000u);
    EXPECT_EQ(at(603, 600), 0xFF0000FFu);
    auto near = [](uint32_t a, uint32_t b) {
        for (int s = 0; s < 32; s += 8)
            if (std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)) > 1) return false;
        return true;
    };
    EXPECT_PRED2(near, at(601, 599), 0xFFBF0040u) << std::hex << at(601, 599);
    EXPECT_PRED2(near, at(602, 599), 0xFF4000BFu) << std::hex << at(602, 599);
    EXPECT_EQ(at(599, 599), bg);
    EXPECT_EQ(at(604, 599), bg);
    EXPECT_EQ(at(600, 598), bg);
    EXPECT_EQ(at(600, 601), bg);

    EXPECT_EQ(at(700, 700), bg);
    EXPECT_EQ(at(720, 700), 0xFFFF7F7Fu);
    EXPECT_EQ(at(721, 700), kWhite);
    EXPECT_EQ(at(740, 700), 0xFF404040u);
    EXPECT_EQ(at(750, 700), 0xFF808080u);
    EXPECT_EQ(at(760, 700), 0xFF101010u);
    EXPECT_EQ(at(770, 700), 0xFF204020u);
    EXPECT_EQ(at(780, 700), 0xFF80A040u);

    // Without the alpha test the transparent texel's colour is added.
    alphaTesting = false;
    device.Render(0xFF000000, true);
    ASSERT_TRUE(window->Graphics().ReadFrame(frame));
    EXPECT_EQ(at(700, 700), 0xFF404040u);
}

// A mode switch loses and resets the device: the canvas and the images
// come back and draw the same pixels, mirrored and flipped cells included.
TEST_F(GLRendering, DrawingResumesAfterResetWithExactMirroredCells) {

    TRenderDevice device(&window->Graphics());
    TRenderCanvas canvas(&device);
    TRenderImages images(&device);
    ASSERT_TRUE(device.Initialize());
    TRenderImage* quad = MakeImage(images, 2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00});

    device.OnRender = [&] {
        const TPoint2 c[4] = {{40, 40}, {42, 40}, {42, 42}, {40, 42}};
        const uint32_t white[4] = {kWhite, kWhite, kWhite, kWhite};
        TDrawSource src;
        src.mirror = true;
        src.flip = true;
        canvas.DrawMap(quad, c, white, src, 1);
        canvas.Draw(quad, 50, 40, 0, kWhite, 1284);
    };
    std::vector<uint32_t> frame;
    auto at = [&](int x, int y) { return frame[size_t(y) * 1024 + size_t(x)]; };
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        device.Render(0xFF000000, true);
        ASSERT_TRUE(window->Graphics().ReadFrame(frame));
        EXPECT_EQ(at(40, 40), 0xFFFFFF00u);
        EXPECT_EQ(at(41, 40), 0xFF0000FFu);
        EXPECT_EQ(at(40, 41), 0xFF00FF00u);
        EXPECT_EQ(at(41, 41), 0xFFFF0000u);
        EXPECT_EQ(at(50, 40), 0xFFFF0000u);
        EXPECT_EQ(at(51, 41), 0xFFFFFF00u);
        device.SetWindowed(!device.Windowed());  // lost, then reset
        ASSERT_TRUE(device.Live());
        ASSERT_TRUE(canvas.Ready());
        ASSERT_NE(quad->Handle(0), 0u);
    }
}

// Images released and made again at the same size (as screen changes do)
// reuse the backend's textures: the new picture must replace the old one in
// full, and a texture of another size must not take a kept one.
TEST_F(GLRendering, ReleasedTexturesTakeTheNextPictureInFull) {
    TRenderDevice device(&window->Graphics());
    TRenderCanvas canvas(&device);
    TRenderImages images(&device);
    ASSERT_TRUE(device.Initialize());

    images.Remove(MakeImage(images, 2, 2, {0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000}));
    images.Remove(MakeImage(images, 3, 1, {0xFF0000FF, 0xFF0000FF, 0xFF0000FF}));
    TRenderImage* green = MakeImage(images, 2, 2, {0xFF00FF00, 0xFF00FF00, 0xFF00FF00, 0xFF008000});
    TRenderImage* wide = MakeImage(images, 1, 3, {kWhite, 0xFF808080, kWhite});
    ASSERT_NE(green->Handle(0), 0u);
    device.OnRender = [&] {
        canvas.Draw(green, 10, 10, 0, kWhite, 1);
        canvas.Draw(wide, 20, 10, 0, kWhite, 1);
    };
    device.Render(0xFF000000, true);
    std::vector<uint32_t> frame;
    ASSERT_TRUE(window->Graphics().ReadFrame(frame));
    auto at = [&](int x, int y) { return frame[size_t(y) * 1024 + size_t(x)]; };
    EXPECT_EQ(at(10, 10), 0xFF00FF00u);
    EXPECT_EQ(at(11, 11), 0xFF008000u);
    EXPECT_EQ(at(20, 10), kWhite);
    EXPECT_EQ(at(20, 11), 0xFF808080u);
    EXPECT_EQ(at(21, 10), 0xFF000000u);
}

// Batches drawn in a frame show each texture as it was when they were drawn,
// even when the texture is refilled, released or handed to a new picture
// before the frame ends.
TEST_F(GLRendering, BatchesKeepTheTexturesTheyWereDrawnWith) {
    GraphicsBackend& gfx = window->Graphics();
    auto solid = [](uint32_t c) { return std::vector<uint32_t>(4, c); };
    auto quad = [&](GfxTexture t, float x) {
        // A 2 x 2 texture one to one on the pixels (x, 10) to (x + 1, 11).
        const GfxVertex v[4] = {{x - 0.5f, 9.5f, 0, 0, kWhite},
                                {x + 1.5f, 9.5f, 1, 0, kWhite},
                                {x + 1.5f, 11.5f, 1, 1, kWhite},
                                {x - 0.5f, 11.5f, 0, 1, kWhite}};
        const uint32_t idx[6] = {0, 1, 2, 0, 2, 3};
        GfxDrawState st;
        st.texture = t;
        gfx.DrawBatch(st, v, 4, idx, 6);
    };
    const GfxTexture red = gfx.CreateTexture(2, 2, solid(0xFFFF0000).data());
    ASSERT_NE(red, 0u);
    gfx.BeginFrame(true, 0xFF000000);
    quad(red, 10);
    ASSERT_TRUE(gfx.UpdateTexture(red, 2, 2, solid(0xFF00FF00).data()));
    quad(red, 20);
    gfx.DeleteTexture(red);  // kept for the next texture of its size
    const GfxTexture blue = gfx.CreateTexture(2, 2, solid(0xFF0000FF).data());
    quad(blue, 30);
    gfx.EndFrame();
    std::vector<uint32_t> frame;
    ASSERT_TRUE(gfx.ReadFrame(frame));
    auto at = [&](int x, int y) { return frame[size_t(y) * 1024 + size_t(x)]; };
    EXPECT_EQ(at(11, 11), 0xFFFF0000u);
    EXPECT_EQ(at(21, 11), 0xFF00FF00u);
    EXPECT_EQ(at(31, 11), 0xFF0000FFu);
    EXPECT_EQ(at(12, 11), 0xFF000000u);
    gfx.DeleteTexture(blue);
}

}  // namespace
}  // namespace nb
