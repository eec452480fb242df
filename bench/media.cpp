// Picture loading: reading and decoding 40 generated pictures (20 JPEG
// screens of 1024 x 768 and 20 PNG sprite sheets of 512 x 256 in 4 x 2
// frames) on their own, against loading the same files through the picture
// registry (name keys, location, ".an" and mask look-ups, frame cutting and
// texture filling on the null device). The ratio registry / decode is the
// cost of loading over decoding; registry / decode-and-fill is what the
// registry's own bookkeeping adds to the work it has to do anyway.
// RegistryLoad starts every round with a fresh registry (a game's first
// screen); RegistryScreenChange keeps one and changes screens, as a game
// does from then on.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "app/MainForm.h"
#include "platform/Graphics.h"
#include "archive/ResArchive.h"
#include "bench/Timing.h"
#include "media/Decoders.h"
#include "media/UnitNBIm.h"
#include "platform/FileSystem.h"
#include "platform/Memory.h"
#include "platform/Text.h"
#include "render/RenderDevices.h"
#include "render/RenderImages.h"
#include "render/RenderTimers.h"
#include "scene/Context.h"
#include "tools/GameFile.h"
#include "tests/media/PictureFiles.h"

namespace {

using nb::bench::median;
using nb::bench::threadCpuMs;
using nb::bench::wallMs;

constexpr int kJpegs = 20;
constexpr int kPngs = 20;

// Noisy screen-like content (compresses like a photograph, not a flat fill).
std::vector<uint8_t> EncodeJpeg(int w, int h, int seed) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    uint32_t noise = uint32_t(seed) * 2654435761u;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const uint32_t r = uint8_t((x + seed * 13) / 4 + (noise >> 28));
            const uint32_t g = uint8_t((y + x / 3) / 3 + (noise >> 29));
            const uint32_t b = uint8_t(((x ^ y) & 0x7F) + seed);
            px[size_t(y) * size_t(w) + size_t(x)] = r << 16 | g << 8 | b;
        }
    return nb::testpics::Jpeg(w, h, px, 85);
}

// Round sprites on transparent ground, one per 128 x 128 frame.
std::vector<uint8_t> EncodePng(int w, int h, int seed) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int dx = x % 128 - 64, dy = y % 128 - 64;
            const uint32_t a = dx * dx + dy * dy < 50 * 50 ? 255u : 0u;
            px[size_t(y) * size_t(w) + size_t(x)] =
                a << 24 | uint32_t(uint8_t(x + seed)) << 16 | uint32_t(uint8_t(y * 2)) << 8 | uint8_t(seed * 9);
        }
    return nb::testpics::Png(w, h, px);
}

std::string NativeName(const std::string& name) {
    std::string n = name;
    for (char& c : n)
        if (c == '\\') c = '/';
    return n;
}

// The generated game folder, made once for the whole run and removed at its end.
struct Pictures {
    std::string folder;
    std::vector<std::string> names;  // as a game would name them
    std::vector<std::string> others;  // the same pictures in a second folder
    size_t bytes = 0;

    Pictures() {
        folder = (std::filesystem::temp_directory_path() / "nbbench-media").string() + "/";
        std::filesystem::create_directories(folder + "Images");
        std::filesystem::create_directories(folder + "Others");
        auto put = [&](const std::string& rel, const std::vector<uint8_t>& data) {
            std::ofstream(folder + rel, std::ios::binary)
                .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
            bytes += data.size();
        };
        for (int i = 0; i < kJpegs; ++i) {
            std::string n = "Images/Screen" + std::to_string(i) + ".jpg";
            put(n, EncodeJpeg(1024, 768, i));
            names.push_back("Images\\Screen" + std::to_string(i) + ".jpg");
        }
        for (int i = 0; i < kPngs; ++i) {
            std::string n = "Images/Sprite" + std::to_string(i);
            put(n + ".png", EncodePng(512, 256, i));
            std::ofstream(folder + n + ".an") << "4\r\n2\r\n";
            names.push_back("Images\\Sprite" + std::to_string(i) + ".png");
        }
        for (const std::string& name : names) {
            std::string other = "Others" + name.substr(name.find('\\'));
            std::filesystem::copy_file(folder + NativeName(name), folder + NativeName(other));
            if (name.ends_with(".png")) {
                const std::string an = name.substr(0, name.size() - 4) + ".an";
                const std::string otherAn = other.substr(0, other.size() - 4) + ".an";
                std::filesystem::copy_file(folder + NativeName(an), folder + NativeName(otherAn));
            }
            others.push_back(other);
        }
    }
    ~Pictures() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

// Reference: read each file and decode it, nothing else.
void ReadAndDecode(benchmark::State& st, const Pictures& p) {
    for (auto _ : st) {
        for (const std::string& name : p.names) {
            auto bytes = nb::fs::readFile(p.folder + NativeName(name));
            nb::Bitmap bmp;
            bool ok = bytes && nb::DecodePicture(name, bytes->data(), bytes->size(), bmp);
            benchmark::DoNotOptimize(ok);
        }
    }
    st.counters["pictures"] = double(p.names.size());
}

// Decoding alone, from bytes already in memory.
void DecodeFromMemory(benchmark::State& st, const Pictures& p) {
    std::vector<std::vector<uint8_t>> data;
    for (const std::string& name : p.names) data.push_back(*nb::fs::readFile(p.folder + NativeName(name)));
    for (auto _ : st) {
        for (size_t i = 0; i < data.size(); ++i) {
            nb::Bitmap bmp;
            bool ok = nb::DecodePicture(p.names[i], data[i].data(), data[i].size(), bmp);
            benchmark::DoNotOptimize(ok);
        }
    }
}

// Reading, decoding and filling an image of the image list by hand, cut
// into the same frames: what the registry does, without the registry. The
// images stay in the list until the round ends, as registry images do.
void DecodeAndFill(benchmark::State& st, const Pictures& p) {
    for (auto _ : st) {
        nb::TRenderImages images(nullptr);
        for (const std::string& name : p.names) {
            auto bytes = nb::fs::readFile(p.folder + NativeName(name));
            nb::Bitmap bmp;
            if (!bytes || !nb::DecodePicture(name, bytes->data(), bytes->size(), bmp)) continue;
            const bool sheet = nb::PictureKindOf(name) == nb::PictureKind::Png;
            nb::TRenderImage* img = images.Add(name);
            img->PatternWidth = img->VisibleWidth = sheet ? bmp.width / 4 : bmp.width;
            img->PatternHeight = img->VisibleHeight = sheet ? bmp.height / 2 : bmp.height;
            img->TextureWidth = (img->PatternWidth + 3) & ~1;
            img->TextureHeight = (img->PatternHeight + 3) & ~1;
            img->PatternCount = img->TextureCount = sheet ? 8 : 1;
            benchmark::DoNotOptimize(img->Fill(bmp));
        }
    }
}

// The same 40 pictures through a fresh registry each round, requested as a
// loading screen would: relative to the game folder.
void RegistryLoad(benchmark::State& st, const Pictures& p) {
    for (auto _ : st) {
        nb::TRenderImages images(nullptr);
        nb::TResArchive archive;
        archive.OpenMode = nb::TOpenModes::opReadOnly;
        nb::TImageLoadState state;
        nb::TImageRegistry registry(images, archive, state);
        registry.SetGameFolder(p.folder, nb::cp1251Upper(p.folder));
        int loaded = 0;
        for (const std::string& name : p.names) loaded += registry.LoadImage(name, false)->image != nullptr;
        if (loaded != int(p.names.size())) st.SkipWithError("a picture did not load");
    }
}

// Screen changes as a running game makes them: one registry for the whole
// run, and every round a new screen of 40 pictures (the two folders in
// turn) while the previous screen's pictures are still held; they are
// released once the new screen is loaded.
void RegistryScreenChange(benchmark::State& st, const Pictures& p) {
    nb::TRenderImages images(nullptr);
    nb::TResArchive archive;
    archive.OpenMode = nb::TOpenModes::opReadOnly;
    nb::TImageLoadState state;
    nb::TImageRegistry registry(images, archive, state);
    registry.SetGameFolder(p.folder, nb::cp1251Upper(p.folder));
    bool second = false;
    for (auto _ : st) {
        registry.ResetImageUse();
        int loaded = 0;
        for (const std::string& name : second ? p.others : p.names)
            loaded += registry.LoadImage(name, false)->image != nullptr;
        registry.ReleaseIdleImages();
        second = !second;
        if (loaded != int(p.names.size())) st.SkipWithError("a picture did not load");
    }
    st.counters["pooledMB"] = double(images.PooledBytes()) / double(1 << 20);
}

// A screen of the 40 pictures of one folder, drawn side by side.
nb::GameNode screenOf(int key, const char* id, const std::vector<std::string>& names) {
    nb::GameNode screen = nb::GameNode("TNBScreen").set("Key", key).set("Id", id);
    for (size_t i = 0; i < names.size(); ++i)
        screen.add(nb::GameNode("TNBImage")
                       .set("Key", key * 100 + int(i))
                       .set("Id", "P" + std::to_string(i))
                       .set("imImage", names[i])
                       .set("rX", double(int(i % 8) * 120))
                       .set("rY", double(int(i / 8) * 150))
                       .set("Scale", 0.1));
    return screen;
}

// The whole screen change in the real player (headless OpenGL device where
// there is one): a key press makes the root's key hook call SetScreen; the
// loading screen's script calls LoadIm, which loads the 40 pictures with a
// progress frame after each, then EndLoadIm; timed until the new screen is
// current and loading has ended. Screens A and B (the two folders) take
// turns, so every change loads 40 pictures and releases 40.
void ShellScreenChange(const Pictures& p, int changes) {
    nb::GameNode root = nb::GameNode("TNBDB")
                            .set("Key", 1)
                            .set("InitScreen", 10)
                            .set("LoadingScreen", 30)
                            .set("exKeyDown",
                                 "IF KEYDOWNED = 65 THEN SetScreen(NBDB.A); IF KEYDOWNED = 66 THEN SetScreen(NBDB.B);");
    root.add(screenOf(10, "A", p.names));
    root.add(screenOf(20, "B", p.others));
    root.add(nb::GameNode("TNBScreen")
                 .set("Key", 30)
                 .set("Id", "Loading")
                 .set("exInit", "Step := 0;")
                 .set("exProcess", "IF Step = 0 THEN BEGIN Step := 1; LoadIm; END ELSE EndLoadIm;"));
    const std::vector<uint8_t> game = nb::WriteGame(root);
    const std::string path = p.folder + "change.nbf";
    if (!nb::fs::writeFile(path, game.data(), game.size())) return;

    nb::PlayerOptions o;
    o.headless = true;
    o.fast = true;
    o.seed = 1;
    o.gamePath = path;
    nb::TFormMain form(o);
    if (!form.FormCreate()) {
        std::printf("ShellScreenChange: the player did not start\n");
        return;
    }
    while (!form.FirstScreenShown() && form.Ticks() < 1000) form.Timer()->Idle();
    nb::GraphicsBackend* backend = form.Device()->Backend();
    const bool realGl = backend && !backend->IsNull();
    nb::TSceneContext& ctx = form.Ctx();
    nb::TNBElement* const first = ctx.ui.currentScreen;

    std::vector<double> wall, cpu, decodeWall, decodeCpu;
    for (int i = 0; i < changes; ++i) {
        // The reference: reading and decoding the 40 pictures about to load.
        const std::vector<std::string>& next = i % 2 == 0 ? p.others : p.names;
        double w0 = wallMs(), c0 = threadCpuMs();
        for (const std::string& name : next) {
            auto bytes = nb::fs::readFile(p.folder + NativeName(name));
            nb::Bitmap bmp;
            if (!bytes || !nb::DecodePicture(name, bytes->data(), bytes->size(), bmp)) return;
        }
        decodeWall.push_back(wallMs() - w0);
        decodeCpu.push_back(threadCpuMs() - c0);

        w0 = wallMs();
        c0 = threadCpuMs();
        nb::TNBElement* const before = ctx.ui.currentScreen;
        form.FormKeyDown(i % 2 == 0 ? 66 : 65, 0);
        int frames = 0;
        while ((ctx.imageLoad.loading || ctx.ui.currentScreen == before) && frames < 100) {
            form.Timer()->Idle();
            ++frames;
        }
        wall.push_back(wallMs() - w0);
        cpu.push_back(threadCpuMs() - c0);
        if (frames >= 100 || ctx.ui.currentScreen == before) {
            std::printf("ShellScreenChange: the screen did not change\n");
            return;
        }
    }
    if (std::getenv("NB_BENCH_VERBOSE"))
        for (size_t k = 0; k < wall.size(); ++k) std::printf("  change %zu: %.1f ms wall, %.1f ms CPU\n", k + 1, wall[k], cpu[k]);
    const bool backToFirst = ctx.ui.currentScreen == first;
    form.FormClose();
    std::printf("\nScreen change in the player (%s), %d changes of 40 pictures, medians:\n",
                realGl ? "OpenGL, headless" : "null device", changes);
    std::printf("  SetScreen to the new screen shown: %.1f ms wall, %.1f ms main-thread CPU\n", median(wall),
                median(cpu));
    std::printf("  reading and decoding the same 40 files: %.1f ms wall, %.1f ms CPU\n", median(decodeWall),
                median(decodeCpu));
    std::printf("  ratio (wall): %.2f%s\n", median(wall) / median(decodeWall),
                backToFirst || changes % 2 ? "" : " (warning: unexpected final screen)");
}

}  // namespace

int main(int argc, char** argv) {
    nb::TuneProcessHeap();  // as the player runs
    const Pictures pictures;
    auto add = [&](const char* name, void (*fn)(benchmark::State&, const Pictures&)) {
        benchmark::RegisterBenchmark(name, [fn, &pictures](benchmark::State& st) { fn(st, pictures); })
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    };
    add("ReadAndDecode", ReadAndDecode);
    add("DecodeFromMemory", DecodeFromMemory);
    add("DecodeAndFill", DecodeAndFill);
    add("RegistryLoad", RegistryLoad);
    add("RegistryScreenChange", RegistryScreenChange);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const char* changes = std::getenv("NB_BENCH_CHANGES");
    ShellScreenChange(pictures, changes ? std::max(1, std::atoi(changes)) : 9);
    return 0;
}
