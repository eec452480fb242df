// Particle simulation and submission cost per process tick: one effect-sized
// system (5,000-particle pool) kept full by a steady emitter, with forces,
// growth, rotation and colour change, advanced by 1/30 s per tick and drawn
// through the canvas on the null device (batching included, no GPU). Draw
// animates the particles through the four frames of the sheet (each frame
// is a texture of its own, so neighbours in the pool switch textures);
// DrawOneFrame keeps them on frame 0 and shows the batching alone.
#include <benchmark/benchmark.h>

#include <memory>

#include "particles/ParticleSystems.h"
#include "platform/Bitmap.h"
#include "platform/Graphics.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderImages.h"

namespace {

nb::TParticleParams Fountain() {
    nb::TParticleParams p;
    p.firstFrame = 0;
    p.lastFrame = 3;
    p.drawFx = 1284;
    p.emissionRate = 2000;  // 2.5 s of life: the pool stays full
    p.emissionTime = 1e6f;
    p.life1 = 2.0f;
    p.life2 = 3.0f;
    p.direction = 3.14159f;
    p.spread = 1.0f;
    p.speed1 = 80;
    p.speed2 = 160;
    p.weight1 = 0.5f;
    p.weight2 = 1.0f;
    p.radial1 = -10;
    p.radial2 = 10;
    p.tangential1 = 5;
    p.tangential2 = 20;
    p.sizeBirth = 0.2f;
    p.sizeMid = 1.0f;
    p.sizeDeath = 0.4f;
    p.rotationBirth = 0;
    p.rotationMid = 3;
    p.rotationDeath = 6;
    p.colorBirth = 0xFFFFE080u;
    p.colorMid = 0xC0FF8040u;
    p.colorDeath = 0x00802010u;
    p.colorVariation = 0.1f;
    p.midLife = 0.4f;
    return p;
}

struct World {
    std::unique_ptr<nb::GraphicsBackend> gfx = nb::CreateNullGraphics();
    nb::TRenderDevice device{gfx.get()};
    std::unique_ptr<nb::TRenderImages> images;
    std::unique_ptr<nb::TRenderCanvas> canvas;
    nb::TRenderImage* texture = nullptr;
    uint32_t seed = 12345;
    std::unique_ptr<nb::TParticleSystem> system;

    explicit World(bool animated = true) {
        device.Initialize();
        images = std::make_unique<nb::TRenderImages>(&device);
        canvas = std::make_unique<nb::TRenderCanvas>(&device);
        nb::Bitmap sheet;
        sheet.allocate(64, 16, 32);
        texture = images->Add("particles.bmp");
        texture->PatternWidth = texture->VisibleWidth = 16;
        texture->PatternHeight = texture->VisibleHeight = 16;
        texture->TextureWidth = texture->TextureHeight = 18;
        texture->Fill(sheet);
        system = std::make_unique<nb::TParticleSystem>(nb::TParticleSystem::kEffectCapacity, nb::TParticleRandom(seed));
        system->SetTexture(texture);
        nb::TParticleParams p = Fountain();
        if (!animated) p.lastFrame = -1;
        system->SetParams(p);
        system->PlaceAt({512, 600}, false);
        system->StartEmission();
        for (int i = 0; i < 120; ++i) system->Advance(1.0f / 30.0f);  // fill the pool
    }
};

void Advance(benchmark::State& st) {
    World w;
    for (auto _ : st) w.system->Advance(1.0f / 30.0f);
    st.counters["live"] = double(w.system->LiveCount());
}

void DrawWith(benchmark::State& st, bool animated) {
    World w(animated);
    w.device.OnRender = [&w] { w.system->DrawParticles(*w.canvas, 0, 0, 0xFFFFFFFFu); };
    for (auto _ : st) {
        w.canvas->ResetDrawCalls();
        w.device.Render(0, true);  // one frame: the canvas flushes at its end
    }
    st.counters["live"] = double(w.system->LiveCount());
    st.counters["draw_calls"] = double(w.canvas->DrawCalls());
}

void Draw(benchmark::State& st) { DrawWith(st, true); }
void DrawOneFrame(benchmark::State& st) { DrawWith(st, false); }

}  // namespace

BENCHMARK(Advance)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(Draw)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(DrawOneFrame)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
