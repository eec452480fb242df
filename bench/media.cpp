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

#include "archive/ResArchive.h"
#include "media/Decoders.h"
#include "media/UnitNBIm.h"
#include "platform/FileSystem.h"
#include "platform/Memory.h"
#include "platform/Text.h"
#include "render/RenderImages.h"
#include "tests/media/PictureFiles.h"

namespace {

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
    return 0;
}
