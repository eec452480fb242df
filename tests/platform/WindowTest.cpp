// The window service's pure parts (letterbox, mouse mapping, key codes) and
// its headless behaviour.
#include <gtest/gtest.h>
#include <SDL.h>

#include "platform/Graphics.h"
#include "platform/Window.h"

// The GL driver keeps a few allocations until process exit.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace nb {
namespace {

TEST(Letterbox, KeepsTheAspectRatioAndCentres) {
    auto lb = ComputeLetterbox(1024, 768);
    EXPECT_EQ(lb.x, 0);
    EXPECT_EQ(lb.y, 0);
    EXPECT_EQ(lb.width, 1024);
    EXPECT_EQ(lb.height, 768);

    lb = ComputeLetterbox(1920, 1080);  // wide: bars left and right
    EXPECT_EQ(lb.width, 1440);
    EXPECT_EQ(lb.height, 1080);
    EXPECT_EQ(lb.x, 240);
    EXPECT_EQ(lb.y, 0);

    lb = ComputeLetterbox(800, 1000);  // tall: bars above and below
    EXPECT_EQ(lb.width, 800);
    EXPECT_EQ(lb.height, 600);
    EXPECT_EQ(lb.x, 0);
    EXPECT_EQ(lb.y, 200);

    lb = ComputeLetterbox(0, 0);  // a window of no size draws nowhere sensible
    EXPECT_GT(lb.width, 0);
    EXPECT_GT(lb.height, 0);
}

TEST(Letterbox, MouseMapsToLogicalPixelsAndClamps) {
    int x = -1, y = -1;
    PlatformWindow::WindowToLogical(1024, 768, 500, 300, x, y);
    EXPECT_EQ(x, 500);
    EXPECT_EQ(y, 300);
    // 1920 x 1080: picture 1440 x 1080 from x = 240, scale 1.40625.
    PlatformWindow::WindowToLogical(1920, 1080, 240, 0, x, y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    PlatformWindow::WindowToLogical(1920, 1080, 1679, 1079, x, y);
    EXPECT_EQ(x, 1023);
    EXPECT_EQ(y, 767);
    PlatformWindow::WindowToLogical(1920, 1080, 960, 540, x, y);
    EXPECT_EQ(x, 512);
    EXPECT_EQ(y, 384);
    // On the bars and outside the window: clamped to the picture's edge.
    PlatformWindow::WindowToLogical(1920, 1080, 100, 500, x, y);
    EXPECT_EQ(x, 0);
    PlatformWindow::WindowToLogical(1920, 1080, 1900, -40, x, y);
    EXPECT_EQ(x, 1023);
    EXPECT_EQ(y, 0);
    PlatformWindow::WindowToLogical(512, 384, 511, 383, x, y);  // half size
    EXPECT_EQ(x, 1022);
    EXPECT_EQ(y, 766);
}

TEST(Keys, SdlKeysMapToWindowsVirtualKeyCodes) {
    const std::pair<SDL_Keycode, int> cases[] = {
        {SDLK_a, 65},        {SDLK_z, 90},        {SDLK_0, 48},       {SDLK_9, 57},        {SDLK_RETURN, 13},
        {SDLK_KP_ENTER, 13}, {SDLK_ESCAPE, 27},   {SDLK_SPACE, 32},   {SDLK_BACKSPACE, 8}, {SDLK_TAB, 9},
        {SDLK_LEFT, 37},     {SDLK_UP, 38},       {SDLK_RIGHT, 39},   {SDLK_DOWN, 40},     {SDLK_F1, 112},
        {SDLK_F12, 123},     {SDLK_LSHIFT, 16},   {SDLK_RSHIFT, 16},  {SDLK_LCTRL, 17},    {SDLK_RALT, 18},
        {SDLK_DELETE, 46},   {SDLK_INSERT, 45},   {SDLK_HOME, 36},    {SDLK_END, 35},      {SDLK_PAGEUP, 33},
        {SDLK_PAGEDOWN, 34}, {SDLK_KP_0, 96},     {SDLK_KP_1, 97},    {SDLK_KP_9, 105},    {SDLK_KP_PLUS, 107},
        {SDLK_MINUS, 189},   {SDLK_PERIOD, 190},  {SDLK_SEMICOLON, 186},
    };
    for (auto [sdl, vk] : cases) EXPECT_EQ(PlatformWindow::VirtualKeyFromSdl(sdl), vk) << SDL_GetKeyName(sdl);
    EXPECT_EQ(PlatformWindow::VirtualKeyFromSdl(SDLK_UNKNOWN), 0);
}

TEST(HeadlessWindow, NeedsNoDisplayAndNeverBlocks) {
    // Even with a display named in the environment, headless stays offscreen.
    setenv("SDL_VIDEODRIVER", "x11", 1);
    std::string error;
    WindowOptions options;
    options.headless = true;
    options.windowed = false;
    auto window = PlatformWindow::Create(options, error);
    unsetenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(window) << error;
    EXPECT_TRUE(window->Headless());
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        EXPECT_STREQ(SDL_GetCurrentVideoDriver(), "offscreen");
    }

    // None of these may wait for a display or a user.
    WindowEvent e;
    int polled = 0;
    while (window->PollEvent(e) && polled < 100) ++polled;
    window->Present();
    window->SetFullscreen(true);
    EXPECT_TRUE(window->Fullscreen());
    window->SetFullscreen(false);
    window->SetTitle("T\xC3\xA9st");
    window->ShowMessage("Title", "headless: printed only");
    EXPECT_LT(polled, 100);

    // The backend answers, real or null.
    GraphicsBackend& g = window->Graphics();
    const uint32_t px[4] = {1, 2, 3, 4};
    GfxTexture t = g.CreateTexture(2, 2, px);
    EXPECT_NE(t, 0u);
    EXPECT_TRUE(g.UpdateTexture(t, 2, 2, px));
    EXPECT_FALSE(g.UpdateTexture(t, 3, 2, px));  // size differs
    g.DeleteTexture(t);
    EXPECT_FALSE(g.UpdateTexture(t, 2, 2, px));  // gone
    EXPECT_EQ(g.CreateTexture(0, 2, px), 0u);
    if (!g.IsNull()) {
        // A batch whose indices point past its vertices is refused whole.
        GfxVertex v[2] = {{0, 0, 0, 0, 0xFFFFFFFF}, {100, 0, 0, 0, 0xFFFFFFFF}};
        const uint32_t idx[3] = {0, 1, 7};
        g.BeginFrame(true, 0xFF000000);
        const uint64_t before = g.BatchCount();
        g.DrawBatch(GfxDrawState{}, v, 2, idx, 3);
        // So is a batch naming a texture that does not exist (no white box).
        GfxVertex quad[3] = {{0, 0, 0, 0, 0xFFFFFFFF}, {100, 0, 0, 0, 0xFFFFFFFF}, {0, 100, 0, 0, 0xFFFFFFFF}};
        const uint32_t tri[3] = {0, 1, 2};
        GfxDrawState gone;
        gone.texture = 0xDEAD;
        g.DrawBatch(gone, quad, 3, tri, 3);
        g.EndFrame();
        EXPECT_EQ(g.BatchCount(), before);
        std::vector<uint32_t> frame;
        ASSERT_TRUE(g.ReadFrame(frame));
        ASSERT_EQ(frame.size(), size_t(1024 * 768));
        EXPECT_EQ(frame[5], 0xFF000000u);
    }
}

TEST(HeadlessWindow, NullGraphicsOnRequest) {
    std::string error;
    WindowOptions options;
    options.headless = true;
    options.nullGraphics = true;
    auto window = PlatformWindow::Create(options, error);
    ASSERT_TRUE(window) << error;
    GraphicsBackend& g = window->Graphics();
    ASSERT_TRUE(g.IsNull());
    EXPECT_FALSE(window->GraphicsFallbackReason().empty());
    std::vector<uint32_t> frame = {1, 2};
    EXPECT_FALSE(g.ReadFrame(frame));  // no picture is kept: no screenshot
    EXPECT_TRUE(frame.empty());
}

TEST(DrawEffect, OpaqueWordIgnoresTheModulationBit) {
    EXPECT_TRUE(gfxfx::IsOpaque(1));
    EXPECT_TRUE(gfxfx::IsOpaque(1 | gfxfx::kModulate));
    EXPECT_FALSE(gfxfx::IsOpaque(1284));
    EXPECT_FALSE(gfxfx::IsOpaque(0x101));
    EXPECT_FALSE(gfxfx::IsOpaque(0));
}

}  // namespace
}  // namespace nb
