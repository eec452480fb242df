// Canvas submission cost: 1,000 textured sprites from 4 textures per frame,
// grouped by texture as a screen's layers usually are, through the device's
// Render (begin scene, the sprites, end scene flushing the batches).
//
//   BM_CanvasFrame/gl    headless OpenGL (offscreen driver, llvmpipe here)
//   BM_CanvasFrame/null  the null backend: the canvas's own cost alone
//
// "CPU" is the benchmark thread's CPU time for the whole frame (clear,
// submission, flush), not the rasteriser's worker threads. submit_cpu_us is
// the same thread's CPU time from begin-scene to the end-scene flush only:
// the sprites going through the canvas into the backend's draw calls. The
// draw_calls counter is per frame.

#include <benchmark/benchmark.h>

#include <time.h>

#include <cmath>
#include <memory>

#include "platform/Bitmap.h"
#include "platform/Graphics.h"
#include "platform/Window.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderImages.h"

namespace {

using namespace nb;

constexpr int kSprites = 1000;
constexpr int kTextures = 4;

void RunFrames(benchmark::State& state, GraphicsBackend& backend) {
    TRenderDevice device(&backend);
    TRenderCanvas canvas(&device);
    TRenderImages images(&device);
    if (!device.Initialize()) {
        state.SkipWithError("device initialisation failed");
        return;
    }
    TRenderImage* tex[kTextures];
    for (int t = 0; t < kTextures; ++t) {
        Bitmap b;
        b.allocate(64, 64, 32);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) b.setArgb(x, y, 0x80000000u | uint32_t(t * 60) << 16 | uint32_t(x * 4) << 8 | uint32_t(y * 4));
        tex[t] = images.Add("sprite");
        tex[t]->PatternWidth = tex[t]->VisibleWidth = tex[t]->PatternHeight = tex[t]->VisibleHeight = 64;
        tex[t]->TextureWidth = tex[t]->TextureHeight = 66;
        if (!tex[t]->Fill(b)) {
            state.SkipWithError("texture fill failed");
            return;
        }
    }
    auto threadCpuUs = [] {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) * 1e6 + double(ts.tv_nsec) / 1e3;
    };
    double sceneStart = 0, submitUs = 0;
    // Subscribed after the canvas: at end-scene the canvas has flushed.
    device.Subscribe([&](TDeviceEvent e) {
        if (e == devBeginScene) sceneStart = threadCpuUs();
        if (e == devEndScene) submitUs += threadCpuUs() - sceneStart;
    });
    int frame = 0;
    device.OnRender = [&] {
        for (int i = 0; i < kSprites; ++i) {
            const int t = i * kTextures / kSprites;  // grouped by texture
            const double x = std::fmod(i * 37.0 + frame, 960.0), y = std::fmod(i * 53.0, 704.0);
            canvas.Draw(tex[t], x, y, 0, 0xFFFFFFFF, 1284);
        }
    };
    // Warm up: the driver compiles its shader variants on first use.
    for (int i = 0; i < 10; ++i) device.Render(0xFF000000, true);
    submitUs = 0;
    canvas.ResetDrawCalls();
    for (auto _ : state) {
        device.Render(0xFF000000, true);
        ++frame;
    }
    state.counters["draw_calls"] = benchmark::Counter(double(canvas.DrawCalls()), benchmark::Counter::kAvgIterations);
    state.counters["sprites"] = kSprites;
    state.counters["submit_cpu_us"] = benchmark::Counter(submitUs, benchmark::Counter::kAvgIterations);
}

void BM_CanvasFrameGL(benchmark::State& state) {
    std::string error;
    WindowOptions options;
    options.headless = true;
    auto window = PlatformWindow::Create(options, error);
    if (!window || window->Graphics().IsNull()) {
        state.SkipWithError(("no OpenGL: " + (window ? window->GraphicsFallbackReason() : error)).c_str());
        return;
    }
    RunFrames(state, window->Graphics());
    // Make sure the rasteriser has finished before the context goes.
    std::vector<uint32_t> frame;
    window->Graphics().ReadFrame(frame);
}

void BM_CanvasFrameNull(benchmark::State& state) {
    auto backend = CreateNullGraphics();
    RunFrames(state, *backend);
}

BENCHMARK(BM_CanvasFrameGL)->Name("BM_CanvasFrame/gl")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CanvasFrameNull)->Name("BM_CanvasFrame/null")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
