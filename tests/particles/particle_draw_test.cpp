#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "particles/ParticleSystems.h"
#include "platform/Bitmap.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderImages.h"
#include "tests/render/RecordingBackend.h"

namespace nb {
namespace {

// One drawn sprite as the backend received it: centre (the canvas's
// half-texel shift taken back out), width, smallest u, colour, effect word.
struct Sprite {
    double cx, cy, width;
    float u0;
    uint32_t color, effect;
    uint32_t texture;
};

struct DrawWorld {
    test::RecordingBackend backend;
    TRenderDevice device{&backend};
    TRenderCanvas canvas{&device};
    TRenderImages images{&device};
    TRenderImage* texture = nullptr;

    DrawWorld() {
        EXPECT_TRUE(device.Initialize());
        // Four 8 x 8 patterns side by side in one texture.
        texture = images.Add("particles.bmp");
        texture->PatternWidth = texture->VisibleWidth = 8;
        texture->PatternHeight = texture->VisibleHeight = 8;
        texture->TextureWidth = 32;
        texture->TextureHeight = 8;
        texture->PatternCount = 4;
        Bitmap b;
        b.allocate(32, 8, 32);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 32; ++x) b.setArgb(x, y, 0xFFFFFFFFu);
        EXPECT_TRUE(texture->Fill(b));
    }

    std::vector<Sprite> Draw(TParticleSystem& sys, double ox, double oy, uint32_t mask) {
        backend.batches.clear();
        device.OnRender = [&] { sys.DrawParticles(canvas, ox, oy, mask); };
        device.Render(0, true);
        device.OnRender = nullptr;
        std::vector<Sprite> out;
        for (const auto& b : backend.batches) {
            for (size_t q = 0; q + 4 <= b.vertices.size(); q += 4) {
                Sprite s{};
                double minX = 1e9, maxX = -1e9;
                s.u0 = 1e9f;
                for (size_t i = q; i < q + 4; ++i) {
                    s.cx += (b.vertices[i].x + 0.5) / 4;
                    s.cy += (b.vertices[i].y + 0.5) / 4;
                    minX = std::min(minX, double(b.vertices[i].x));
                    maxX = std::max(maxX, double(b.vertices[i].x));
                    s.u0 = std::min(s.u0, b.vertices[i].u);
                }
                s.width = maxX - minX;
                s.color = b.vertices[q].color;
                s.effect = b.state.effect;
                s.texture = b.state.texture;
                out.push_back(s);
            }
        }
        return out;
    }
};

TEST(ParticleDrawing, SpritesCarryPlaceSizeColourPatternAndCulling) {
    DrawWorld w;
    uint32_t seed = 5;
    TParticleSystem sys(50, TParticleRandom(seed));
    TParticleParams p;
    p.emissionRate = 1;
    p.emissionTime = 100;
    p.life1 = p.life2 = 50;
    p.midLife = 0.5f;
    p.sizeBirth = p.sizeMid = p.sizeDeath = 2;
    p.colorBirth = p.colorMid = p.colorDeath = 0x80FF4020;
    p.firstFrame = 2;
    p.lastFrame = -1;
    p.drawFx = 1284;
    sys.SetParams(p);
    sys.SetTexture(w.texture);

    // Nothing live: nothing drawn.
    EXPECT_TRUE(w.Draw(sys, 0, 0, 0xFFFFFFFFu).empty());

    // One motionless particle per update, each where the emitter restarted.
    const TSpawnPoint at[5] = {{100, 100}, {-27, 50}, {-25, 50}, {200, 765}, {200, 763}};
    for (const TSpawnPoint& a : at) {
        sys.RestartAt(a);
        sys.Advance(1);
    }
    ASSERT_EQ(sys.LiveCount(), 5);

    // Offset (10, 20); a sprite reaches 8 * 2 = 16 pixels each way, so the
    // second (x -17) and fourth (y 785) lie wholly off the display.
    auto s = w.Draw(sys, 10, 20, 0xFF00FFFFu);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_NEAR(s[0].cx, 110, 1e-3);
    EXPECT_NEAR(s[0].cy, 120, 1e-3);
    EXPECT_NEAR(s[1].cx, -15, 1e-3);
    EXPECT_NEAR(s[1].cy, 70, 1e-3);
    EXPECT_NEAR(s[2].cx, 210, 1e-3);
    EXPECT_NEAR(s[2].cy, 783, 1e-3);
    for (const Sprite& q : s) {
        EXPECT_NEAR(q.width, 16, 1e-3);
        EXPECT_EQ(q.color, 0x80004020u);  // the mask removes red
        EXPECT_EQ(q.effect & ~(1u << 28), 1284u);
        EXPECT_FLOAT_EQ(q.u0, 0.5f);  // pattern 2 of 4
        EXPECT_NE(q.texture, 0u);
    }

    // Reverse order draws the newest first.
    p.reverseOrder = 1;
    sys.SetParams(p);
    s = w.Draw(sys, 10, 20, 0xFFFFFFFFu);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_NEAR(s[0].cx, 210, 1e-3);
    EXPECT_NEAR(s[2].cx, 110, 1e-3);
    EXPECT_EQ(s[0].color, 0x80FF4020u);

    // Without a texture there is nothing to draw.
    sys.SetTexture(nullptr);
    EXPECT_TRUE(w.Draw(sys, 0, 0, 0xFFFFFFFFu).empty());
}

TEST(ParticleDrawing, ColoursRoundHalvesToEvenAndFramesAnimate) {
    DrawWorld w;
    uint32_t seed = 5;
    TParticleSystem sys(10, TParticleRandom(seed));
    TParticleParams p;
    p.emissionRate = 1;
    p.emissionTime = 1.5f;
    p.life1 = p.life2 = 4;
    p.midLife = 0.5f;
    p.sizeBirth = p.sizeMid = p.sizeDeath = 1;
    p.colorBirth = 0x00000000;
    p.colorMid = 0x05050505;  // +2.5 per second in each channel
    p.colorDeath = 0x05050505;
    p.firstFrame = 0;
    p.lastFrame = 3;  // 0.75 patterns per second over a 4 s life
    sys.SetParams(p);
    sys.SetTexture(w.texture);
    sys.PlaceAt({50, 50}, false);
    sys.StartEmission();
    sys.Advance(1);
    sys.Advance(1);  // age 1: channels 2.5 -> 2, frame 0.75 -> pattern 0
    auto s = w.Draw(sys, 0, 0, 0xFFFFFFFFu);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].color, 0x02020202u);
    EXPECT_FLOAT_EQ(s[0].u0, 0.0f);
    // Age 2 is mid-life: the rates turn toward death from 2.5 (1.25 per
    // second) before they are added, 3.75 -> 4; frame 1.5 -> pattern 1.
    sys.Advance(1);
    s = w.Draw(sys, 0, 0, 0xFFFFFFFFu);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].color, 0x04040404u);
    EXPECT_FLOAT_EQ(s[0].u0, 0.25f);
}

}  // namespace
}  // namespace nb
