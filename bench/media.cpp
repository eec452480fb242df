// Picture loading: reading and decoding 40 generated pictures (20 JPEG
// screens of 1024 x 768 and 20 PNG sprite sheets of 512 x 256 in 4 x 2
// frames) on their own, against loading the same files through the picture
// registry (name keys, location, ".an" and mask look-ups, frame cutting and
// texture filling on the null device). The ratio registry / decode is the
// cost of loading over decoding; registry / decode-and-fill is what the
// registry's own bookkeeping adds to the work it has to do anyway.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/ResArchive.h"
#include "media/Decoders.h"
#include "media/UnitNBIm.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "render/RenderImages.h"

namespace {

constexpr int kJpegs = 20;
constexpr int kPngs = 20;

std::vector<uint8_t> EncodeJpeg(int w, int h, int seed) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(w) * 3);
    uint32_t noise = uint32_t(seed) * 2654435761u;
    while (c.next_scanline < c.image_height) {
        int y = int(c.next_scanline);
        for (int x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            row[3 * size_t(x)] = uint8_t((x + seed * 13) / 4 + (noise >> 28));
            row[3 * size_t(x) + 1] = uint8_t((y + x / 3) / 3 + (noise >> 29));
            row[3 * size_t(x) + 2] = uint8_t(((x ^ y) & 0x7F) + seed);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> out(buf, buf + size);
    jpeg_destroy_compress(&c);
    std::free(buf);
    return out;
}

std::vector<uint8_t> EncodePng(int w, int h, int seed) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(h), std::vector<uint8_t>(size_t(w) * 4));
    std::vector<png_bytep> ptrs;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep d, png_size_t n) {
            auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            v->insert(v->end(), d, d + n);
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Round sprites on transparent ground, one per 128 x 128 frame.
            int dx = x % 128 - 64, dy = y % 128 - 64;
            bool inside = dx * dx + dy * dy < 50 * 50;
            uint8_t* p = rows[size_t(y)].data() + 4 * size_t(x);
            p[0] = uint8_t(x + seed);
            p[1] = uint8_t(y * 2);
            p[2] = uint8_t(seed * 9);
            p[3] = inside ? 255 : 0;
        }
        ptrs.push_back(rows[size_t(y)].data());
    }
    png_set_rows(png, info, ptrs.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// The generated game folder, made once for the whole run and removed at its end.
struct Pictures {
    std::string folder;
    std::vector<std::string> names;  // as a game would name them
    size_t bytes = 0;

    Pictures() {
        folder = (std::filesystem::temp_directory_path() / "nbbench-media").string() + "/";
        std::filesystem::create_directories(folder + "Images");
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
    }
    ~Pictures() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

std::string NativeName(const std::string& name) {
    std::string n = name;
    for (char& c : n)
        if (c == '\\') c = '/';
    return n;
}

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

}  // namespace

int main(int argc, char** argv) {
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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
