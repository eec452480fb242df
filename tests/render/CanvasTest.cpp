#include <gtest/gtest.h>

#include "platform/Bitmap.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderImages.h"
#include "tests/render/RecordingBackend.h"

namespace nb {
namespace {

using test::RecordingBackend;

constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kAlpha = 1284;
constexpr uint32_t kBit28 = 1u << 28;

Bitmap Solid(int w, int h, uint32_t argb) {
    Bitmap b;
    b.allocate(w, h, 32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.setArgb(x, y, argb);
    return b;
}

// Device, canvas and image list on a recording backend, device initialised.
struct Scene {
    RecordingBackend backend;
    TRenderDevice device{&backend};
    TRenderCanvas canvas{&device};
    TRenderImages images{&device};

    Scene() { EXPECT_TRUE(device.Initialize()); }

    // An image of `count` patterns of w x h, each texture holding `perTexture`
    // patterns side by side.
    TRenderImage* image(int w, int h, int count, int perTexture) {
        TRenderImage* im = images.Add("img");
        im->PatternWidth = im->VisibleWidth = w;
        im->PatternHeight = im->VisibleHeight = h;
        im->TextureWidth = w * perTexture;
        im->TextureHeight = h;
        im->PatternCount = count;
        EXPECT_TRUE(im->Fill(Solid(w * count, h, 0xFF336699)));
        return im;
    }
    // Runs one scene with `draw` as the render handler.
    template <class F>
    void frame(F&& draw) {
        device.OnRender = std::forward<F>(draw);
        device.Render(0, true);
    }
};

TEST(RenderCanvas, SpritesOfOneTextureShareOneDrawCall) {
    Scene s;
    TRenderImage* im = s.image(16, 8, 1, 1);
    s.frame([&] {
        for (int i = 0; i < 500; ++i) s.canvas.Draw(im, i % 100, i / 100, 0, kWhite, kAlpha);
    });
    ASSERT_EQ(s.canvas.DrawCalls(), 1);
    ASSERT_EQ(s.backend.batches.size(), 1u);
    const auto& b = s.backend.batches[0];
    EXPECT_EQ(b.vertices.size(), 2000u);
    EXPECT_EQ(b.indices.size(), 3000u);
    EXPECT_EQ(b.state.texture, im->Handle(0));
    EXPECT_EQ(b.state.effect, kAlpha);  // white: no modulation bit
    EXPECT_FALSE(b.state.modulate);
    EXPECT_TRUE(b.state.alphaTest);
    EXPECT_FALSE(b.state.linearFilter);

    // Second sprite: indices 0-1-3 and 1-2-3 of its own four corners.
    const std::vector<uint32_t> second(b.indices.begin() + 6, b.indices.begin() + 12);
    EXPECT_EQ(second, (std::vector<uint32_t>{4, 5, 7, 5, 6, 7}));
    // Corners top-left, top-right, bottom-right, bottom-left, shifted by -0.5.
    const GfxVertex* v = &b.vertices[4];  // sprite 1 at (1, 0)
    EXPECT_FLOAT_EQ(v[0].x, 0.5f);
    EXPECT_FLOAT_EQ(v[0].y, -0.5f);
    EXPECT_FLOAT_EQ(v[1].x, 16.5f);
    EXPECT_FLOAT_EQ(v[2].y, 7.5f);
    EXPECT_FLOAT_EQ(v[3].x, 0.5f);
    EXPECT_FLOAT_EQ(v[1].u, 1.0f);
    EXPECT_FLOAT_EQ(v[2].v, 1.0f);
    EXPECT_FLOAT_EQ(v[3].u, 0.0f);
}

TEST(RenderCanvas, FlushesWhenEffectTextureOrPrimitiveChanges) {
    Scene s;
    TRenderImage* two = s.image(8, 8, 2, 1);  // two textures of one pattern
    TRenderImage* other = s.image(8, 8, 1, 1);
    s.frame([&] {
        s.canvas.Draw(two, 0, 0, 0, kWhite, kAlpha);
        s.canvas.Draw(two, 0, 0, 0, kWhite, kAlpha);  // same batch
        s.canvas.Draw(two, 0, 0, 0, kWhite, 1);       // effect word differs
        s.canvas.Draw(two, 0, 0, 1, kWhite, 1);       // texture index differs
        s.canvas.Draw(other, 0, 0, 0, kWhite, 1);     // texture differs
        s.canvas.FillRect(0, 0, 4, 4, kWhite, 1);     // untextured
        s.canvas.FillTriangle({0, 0}, {4, 0}, {0, 4}, kWhite, 1);  // same kind: joins
        s.canvas.Line({0, 0}, {4, 4}, kWhite, 1);     // lines
        s.canvas.FillRect(0, 0, 4, 4, kWhite, 1);     // back to triangles
    });
    const auto& bs = s.backend.batches;
    ASSERT_EQ(bs.size(), 7u);
    EXPECT_EQ(s.canvas.DrawCalls(), 7);
    EXPECT_EQ(bs[0].vertices.size(), 8u);
    EXPECT_EQ(bs[1].state.texture, two->Handle(0));
    EXPECT_EQ(bs[2].state.texture, two->Handle(1));
    EXPECT_NE(two->Handle(0), two->Handle(1));
    EXPECT_EQ(bs[3].state.texture, other->Handle(0));
    EXPECT_EQ(bs[4].state.texture, 0u);
    EXPECT_EQ(bs[4].vertices.size(), 7u);  // rectangle and triangle
    EXPECT_EQ(bs[5].state.primitive, GfxPrimitive::Lines);
    EXPECT_EQ(bs[5].indices, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(bs[6].state.primitive, GfxPrimitive::Triangles);
    // Untextured shapes are not shifted.
    EXPECT_FLOAT_EQ(bs[4].vertices[0].x, 0.0f);
    EXPECT_FLOAT_EQ(bs[4].vertices[2].y, 4.0f);
    // The opaque word switches the alpha test off.
    EXPECT_FALSE(bs[1].state.alphaTest);
}

TEST(RenderCanvas, ModulationBitFollowsTheColours) {
    Scene s;
    TRenderImage* im = s.image(8, 8, 1, 1);
    s.frame([&] {
        s.canvas.Draw(im, 0, 0, 0, kWhite, kAlpha);
        s.canvas.Draw(im, 0, 0, 0, 0x80FFFFFF, kAlpha);  // tinted: bit 28, new batch
        s.canvas.Draw(im, 0, 0, 0, 0xFF00FF00, kAlpha);  // same word: joins
        s.canvas.Draw(im, 0, 0, 0, kWhite, kAlpha | kBit28);  // caller's bit 28
        const TPoint2 c[4] = {{0, 0}, {8, 0}, {8, 8}, {0, 8}};
        const uint32_t one[4] = {kWhite, kWhite, 0xFFFF0000, kWhite};  // one corner differs
        s.canvas.DrawMap(im, c, one, TDrawSource{}, kAlpha);
    });
    const auto& bs = s.backend.batches;
    ASSERT_EQ(bs.size(), 2u);
    EXPECT_EQ(bs[0].state.effect, kAlpha);
    EXPECT_FALSE(bs[0].state.modulate);
    EXPECT_EQ(bs[1].state.effect, kAlpha | kBit28);
    EXPECT_TRUE(bs[1].state.modulate);
    EXPECT_EQ(bs[1].vertices.size(), 16u);
    EXPECT_EQ(bs[1].vertices[4].color, 0xFF00FF00u);
    EXPECT_EQ(bs[1].vertices[14].color, 0xFFFF0000u);
}

TEST(RenderCanvas, AntialiasChangeFlushesAndSetsFiltering) {
    Scene s;
    TRenderImage* im = s.image(8, 8, 1, 1);
    s.frame([&] {
        s.canvas.Draw(im, 0, 0, 0, kWhite, kAlpha);
        s.canvas.SetAntialias(false);  // unchanged: no flush
        s.canvas.Draw(im, 0, 0, 0, kWhite, kAlpha);
        s.canvas.SetAntialias(true);
        EXPECT_EQ(s.canvas.PendingVertices(), 0);
        s.canvas.Draw(im, 0, 0, 0, kWhite, kAlpha);
        s.canvas.SetAntialias(false);
    });
    ASSERT_EQ(s.backend.batches.size(), 2u);
    EXPECT_EQ(s.backend.batches[0].vertices.size(), 8u);
    EXPECT_FALSE(s.backend.batches[0].state.linearFilter);
    EXPECT_TRUE(s.backend.batches[1].state.linearFilter);
}

TEST(RenderCanvas, VertexCacheOverflowStartsANewBatch) {
    Scene s;
    TRenderImage* im = s.image(8, 8, 1, 1);
    // 4096 indices hold 682 quads (6 indices each); the 683rd needs a new batch.
    s.frame([&] {
        for (int i = 0; i < 683; ++i) s.canvas.Draw(im, 0, 0, 0, kWhite, kAlpha);
    });
    ASSERT_EQ(s.backend.batches.size(), 2u);
    EXPECT_EQ(s.backend.batches[0].indices.size(), 4092u);
    EXPECT_EQ(s.backend.batches[1].indices.size(), 6u);
    EXPECT_EQ(s.backend.batches[1].indices[0], 0u);  // indices restart with the batch

    // Lines are bounded by vertices and indices alike: 2048 per batch.
    s.backend.batches.clear();
    s.frame([&] {
        for (int i = 0; i < 2049; ++i) s.canvas.Line({0, 0}, {1, 1}, kWhite, 1);
    });
    ASSERT_EQ(s.backend.batches.size(), 2u);
    EXPECT_EQ(s.backend.batches[0].vertices.size(), 4096u);
}

TEST(RenderCanvas, FrameRectDrawsRightAndBottomEdgesOnePixelInside) {
    Scene s;
    s.frame([&] { s.canvas.Rectangle(10, 20, 5, 4, 0xFF0000FF, 0xFFFF0000, 1); });
    ASSERT_EQ(s.backend.batches.size(), 2u);
    const auto& fill = s.backend.batches[0];
    EXPECT_FLOAT_EQ(fill.vertices[2].x, 15.0f);
    EXPECT_FLOAT_EQ(fill.vertices[2].y, 24.0f);
    const auto& lines = s.backend.batches[1];
    ASSERT_EQ(lines.vertices.size(), 8u);
    EXPECT_EQ(lines.state.primitive, GfxPrimitive::Lines);
    // Four lines around the corners (10,20) (14,20) (14,23) (10,23).
    const float want[8][2] = {{10, 20}, {14, 20}, {14, 20}, {14, 23}, {14, 23}, {10, 23}, {10, 23}, {10, 20}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_FLOAT_EQ(lines.vertices[size_t(i)].x, want[i][0]) << i;
        EXPECT_FLOAT_EQ(lines.vertices[size_t(i)].y, want[i][1]) << i;
    }
}

TEST(RenderCanvas, DrawRotAndSubRectanglesMapCornersAndTexels) {
    Scene s;
    TRenderImage* im = s.images.Add("cells");
    im->PatternWidth = 20;
    im->PatternHeight = 10;
    im->VisibleWidth = 16;
    im->VisibleHeight = 8;
    im->TextureWidth = 40;
    im->TextureHeight = 20;
    ASSERT_TRUE(im->Fill(Solid(40, 20, 0xFF000000)));
    s.frame([&] {
        // Scale 2, quarter turn: 32 x 16 becomes 16 wide and 32 tall.
        s.canvas.DrawRot(im, 100, 50, 3.14159265358979 / 2, 2.0, kWhite, 0, kAlpha);
        const TPoint2 c[4] = {{0, 0}, {4, 0}, {4, 3}, {0, 3}};
        const uint32_t w[4] = {kWhite, kWhite, kWhite, kWhite};
        TDrawSource src;
        src.pattern = 3;
        src.x = 1;
        src.y = 2;
        src.width = 4;
        src.height = 3;
        src.mirror = true;
        s.canvas.DrawMap(im, c, w, src, kAlpha);
    });
    ASSERT_EQ(s.backend.batches.size(), 1u);
    const auto& v = s.backend.batches[0].vertices;
    // Top-left corner (-16, -8) turned a quarter: (8, -16) from the centre.
    EXPECT_NEAR(v[0].x, 100 + 8 - 0.5, 1e-4);
    EXPECT_NEAR(v[0].y, 50 - 16 - 0.5, 1e-4);
    EXPECT_NEAR(v[2].x, 100 - 8 - 0.5, 1e-4);
    EXPECT_NEAR(v[2].y, 50 + 16 - 0.5, 1e-4);
    // Pattern 3: column 1, row 1; visible part centred: origin (22, 11);
    // sub-rectangle from (23, 13) to (27, 16); mirrored left to right.
    EXPECT_FLOAT_EQ(v[4].u, 27.0f / 40);
    EXPECT_FLOAT_EQ(v[5].u, 23.0f / 40);
    EXPECT_FLOAT_EQ(v[4].v, 13.0f / 20);
    EXPECT_FLOAT_EQ(v[6].v, 16.0f / 20);
}

TEST(RenderCanvas, DrawingOutsideALiveDeviceIsDiscarded) {
    RecordingBackend backend;
    TRenderDevice device(&backend);
    TRenderCanvas canvas(&device);
    canvas.FillRect(0, 0, 10, 10, kWhite, 1);
    canvas.Flush();
    EXPECT_EQ(canvas.DrawCalls(), 0);
    EXPECT_FALSE(canvas.Ready());

    ASSERT_TRUE(device.Initialize());
    EXPECT_TRUE(canvas.Ready());
    canvas.FillRect(0, 0, 10, 10, kWhite, 1);
    EXPECT_EQ(canvas.PendingVertices(), 4);

    // A lost device drops the batch and everything drawn until the reset.
    backend.presentResult = GfxPresentResult::DeviceLost;
    backend.canReset = false;
    device.Flip();
    EXPECT_TRUE(device.Lost());
    EXPECT_EQ(canvas.PendingVertices(), 0);
    canvas.FillRect(0, 0, 10, 10, kWhite, 1);
    canvas.Flush();
    EXPECT_EQ(canvas.DrawCalls(), 0);

    backend.canReset = true;
    device.Flip();
    EXPECT_FALSE(device.Lost());
    canvas.FillRect(0, 0, 10, 10, kWhite, 1);
    canvas.Flush();
    EXPECT_EQ(canvas.DrawCalls(), 1);

    device.Finalize();
    canvas.FillRect(0, 0, 10, 10, kWhite, 1);
    EXPECT_EQ(canvas.PendingVertices(), 0);
}

TEST(RenderDevice, PublishesLifeCycleInSubscriptionOrder) {
    RecordingBackend backend;
    TRenderDevice device(&backend);
    std::vector<std::pair<char, int>> seen;
    device.Subscribe([&](TDeviceEvent e) { seen.push_back({'a', int(e)}); });
    const int b = device.Subscribe([&](TDeviceEvent e) { seen.push_back({'b', int(e)}); });
    bool handlerRan = false;
    device.OnInitialize = [&] {
        handlerRan = true;
        EXPECT_EQ(seen.size(), 2u);  // the handler runs after the subscribers
        return true;
    };
    ASSERT_TRUE(device.Initialize());
    EXPECT_TRUE(handlerRan);
    device.OnRender = [&] { seen.push_back({'r', 0}); };
    device.Render(0xFF123456, true);
    EXPECT_EQ(backend.lastClear, 0xFF123456);
    device.Render(0, false);
    EXPECT_EQ(backend.lastClear, -1);
    device.Unsubscribe(b);
    device.SetWindowed(false);
    EXPECT_FALSE(device.Windowed());
    device.Finalize();
    const std::vector<std::pair<char, int>> want = {
        {'a', 256}, {'b', 256}, {'a', 260}, {'b', 260}, {'r', 0},   {'a', 261}, {'b', 261}, {'a', 260},
        {'b', 260}, {'r', 0},   {'a', 261}, {'b', 261}, {'a', 258}, {'a', 259}, {'a', 257}};
    EXPECT_EQ(seen, want);

    // Render without a handler, or on a finalised device, does nothing.
    const int frames = backend.frames;
    device.Render(0, true);
    EXPECT_EQ(backend.frames, frames);
}

TEST(RenderDevice, VetoedInitialisationFinalisesAndFails) {
    RecordingBackend backend;
    TRenderDevice device(&backend);
    std::vector<int> seen;
    device.Subscribe([&](TDeviceEvent e) { seen.push_back(int(e)); });
    device.OnInitialize = [] { return false; };
    EXPECT_FALSE(device.Initialize());
    EXPECT_FALSE(device.Live());
    EXPECT_EQ(seen, (std::vector<int>{256, 257}));

    TRenderDevice none(nullptr);
    EXPECT_FALSE(none.Initialize());
}

TEST(RenderDevice, LossIsPublishedOnceAndTexturesComeBackAfterReset) {
    Scene s;
    TRenderImage* im = s.image(4, 4, 1, 1);
    const auto texels = s.backend.textures.at(im->Handle(0)).texels;
    std::vector<int> seen;
    s.device.Subscribe([&](TDeviceEvent e) { seen.push_back(int(e)); });
    int presented = 0;
    s.device.OnPresent = [&] { ++presented; };

    s.device.Flip();
    EXPECT_EQ(presented, 1);

    s.backend.presentResult = GfxPresentResult::DeviceLost;
    s.backend.canReset = false;
    s.device.Flip();
    s.device.Flip();
    EXPECT_EQ(seen, (std::vector<int>{258}));  // once, however often present fails
    EXPECT_EQ(im->Handle(0), 0u);
    EXPECT_TRUE(s.backend.textures.empty());
    EXPECT_EQ(im->Pixel(1, 1, 0), 0xFF336699u);  // the CPU copy stays
    EXPECT_EQ(presented, 1);
    int rendered = 0;
    s.frame([&] { ++rendered; });
    EXPECT_EQ(rendered, 0);  // no scene while lost

    s.backend.canReset = true;
    s.device.Flip();
    EXPECT_EQ(seen, (std::vector<int>{258, 259}));
    ASSERT_NE(im->Handle(0), 0u);
    EXPECT_EQ(s.backend.textures.at(im->Handle(0)).texels, texels);

    // A driver error resets at once; a failed reset finalises the device.
    s.backend.presentResult = GfxPresentResult::DriverError;
    s.device.Flip();
    EXPECT_EQ(seen, (std::vector<int>{258, 259, 258, 259}));
    EXPECT_TRUE(s.device.Live());
    s.backend.resetSucceeds = false;
    s.device.Flip();
    EXPECT_EQ(seen, (std::vector<int>{258, 259, 258, 259, 258, 257}));
    EXPECT_FALSE(s.device.Live());
}

}  // namespace
}  // namespace nb
