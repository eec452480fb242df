// Draws through the real OpenGL backend on a headless (offscreen) window and
// checks exact pixels of the frame read back, and of its PNG.

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>

#include "platform/Bitmap.h"
#include "platform/FileSystem.h"
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

TEST(GLRendering, ScreenshotHasExactPixels) {
    std::string error;
    WindowOptions options;
    options.headless = true;
    auto window = PlatformWindow::Create(options, error);
    ASSERT_TRUE(window) << error;
    if (window->Graphics().IsNull())
        GTEST_SKIP() << "no OpenGL context in this environment: " << window->GraphicsFallbackReason();

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

}  // namespace
}  // namespace nb
