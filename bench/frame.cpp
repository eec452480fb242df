// Frame cost of a busy screen of 500 images, in the real shell with the
// headless OpenGL device (llvmpipe where there is no GPU). Two screens:
//  - "shared": every image shows frame 0 of one sheet, unturned and
//    unscaled, spread over three layers: they share one texture and one
//    sampler state, so a layer should batch into one draw call;
//  - "mixed": the four frames of the sheet (one texture each), every fifth
//    image turned and every seventh scaled (filtered): a worst case for
//    batching, as consecutive images change texture.
//
// Reported, as medians over the measured frames:
//  - scene walk and submission: processor time of the main thread inside the
//    device's Render (the element tree, the canvas batching and the GL calls
//    the driver takes on this thread; llvmpipe rasterises on its own threads);
//  - draw calls per frame;
//  - wall time of a whole frame including the present (rasterising included);
//  - one process tick (every element's Process) in processor time.
//
//   bench_frame [frames]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "bench/Timing.h"
#include "platform/FileSystem.h"
#include "platform/Graphics.h"
#include "platform/Memory.h"
#include "platform/Png.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderTimers.h"
#include "tools/GameFile.h"

namespace {

using nb::bench::median;
using nb::bench::threadCpuMs;
using nb::bench::wallMs;

constexpr int kImages = 500;

// A 256 x 64 sheet of four 64 x 64 frames with soft alpha edges.
bool writeSheet(const std::string& folder) {
    std::vector<uint32_t> px(256 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            const int f = x / 64, lx = x % 64 - 32, ly = y - 32;
            const int d = lx * lx + ly * ly;
            const uint32_t a = d < 28 * 28 ? 255u : d < 32 * 32 ? 128u : 0u;
            px[size_t(y) * 256 + size_t(x)] = a << 24 | uint32_t(60 * f + 40) << 16 | uint32_t(4 * y) << 8 | uint32_t(x);
        }
    return nb::WritePng(folder + "sprites.png", 256, 64, px) && nb::fs::writeFile(folder + "sprites.an", "4\r\n1\r\n", 6);
}

nb::GameNode makeGame(bool mixed) {
    nb::GameNode screen = nb::GameNode("TNBScreen").set("Key", 2).set("Id", "Busy");
    for (int i = 0; i < kImages; ++i) {
        nb::GameNode img("TNBImage");
        img.set("Key", 100 + i)
            .set("Id", "S" + std::to_string(i))
            .set("imImage", "sprites.png")
            .set("rX", double((i % 25) * 40 + 8))
            .set("rY", double((i / 25) * 37 + 8))
            .set("Order", i % 3);
        if (mixed) {
            img.set("Anim", i % 4);
            if (i % 5 == 0) img.set("Angle", 30.0);
            if (i % 7 == 0) img.set("Scale", 1.5);
        }
        screen.add(std::move(img));
    }
    return nb::GameNode("TNBDB").set("Key", 1).set("InitScreen", 2).add(std::move(screen));
}

// Runs one screen; false when the shell did not start.
bool measure(const std::string& folder, const char* name, bool mixed, int frames) {
    const std::vector<uint8_t> game = nb::WriteGame(makeGame(mixed));
    const std::string path = folder + name + ".nbf";
    if (!nb::fs::writeFile(path, game.data(), game.size())) return false;
    nb::PlayerOptions o;
    o.headless = true;
    o.fast = true;
    o.seed = 1;
    o.gamePath = path;
    nb::TFormMain form(o);
    if (!form.FormCreate()) return false;
    // Past the logo phase: the screen is shown from tick 102 without logos.
    while (!form.FirstScreenShown() && form.Ticks() < 1000) form.Timer()->Idle();
    nb::GraphicsBackend* backend = form.Device()->Backend();
    const bool realGl = backend && !backend->IsNull();
    for (int i = 0; i < 30; ++i) form.Timer()->Idle();  // warm caches and the driver

    std::vector<double> submit, whole, tick;
    int drawCalls = 0;
    for (int i = 0; i < frames; ++i) {
        form.Canvas()->ResetDrawCalls();
        const double w0 = wallMs();
        const double c0 = threadCpuMs();
        form.Device()->Render(0, true);
        submit.push_back(threadCpuMs() - c0);
        drawCalls = form.Canvas()->DrawCalls();
        form.Device()->Flip();
        whole.push_back(wallMs() - w0);
        const double t0 = threadCpuMs();
        form.TimerProcess();
        tick.push_back(threadCpuMs() - t0);
    }
    std::printf("%-7s %d images, %s, %d frames\n", name, kImages,
                realGl ? "OpenGL (headless)" : "null device (no OpenGL here)", frames);
    std::printf("        scene walk + submission (main thread CPU): median %.3f ms\n", median(submit));
    std::printf("        draw calls per frame: %d\n", drawCalls);
    std::printf("        whole frame incl. present (wall): median %.3f ms\n", median(whole));
    std::printf("        process tick (CPU): median %.3f ms\n", median(tick));
    form.FormClose();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    nb::TuneProcessHeap();  // as the player runs
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    char tmpl[] = "/tmp/nb-bench-frame-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    if (!made) return 1;
    const std::string folder = std::string(made) + "/";
    if (!writeSheet(folder)) return 1;
    const bool ok = measure(folder, "shared", false, frames) && measure(folder, "mixed", true, frames);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return ok ? 0 : 1;
}
