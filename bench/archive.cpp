// Archive record reads against plain zlib on the same bytes.
//
// BM_ArchiveRead reads one record through TResArchive (file open, range read
// of the stored bytes, inflate to exactly the unpacked size); BM_ZlibUncompress
// inflates the same stored bytes, already in memory, with zlib's uncompress
// into a buffer allocated once. Both report bytes_per_second of unpacked
// data; the archive's overhead is the ratio of the two.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/ResArchive.h"
#include "tools/ArchiveWriter.h"

namespace {

// Picture-like data: smooth gradients with a little noise, which compresses
// about as well as the bitmaps games pack.
std::vector<uint8_t> pictureLike(size_t size) {
    std::vector<uint8_t> v(size);
    uint32_t seed = 12345;
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        size_t x = (i / 4) % 1024, y = (i / 4) / 1024;
        v[i] = uint8_t((i % 4 == 3) ? 255 : (x + y * (i % 4 + 1)) / 4 + ((seed >> 29) & 3));
    }
    return v;
}

struct BenchArchive {
    std::string folder, path;
    std::vector<uint8_t> data, stored;

    explicit BenchArchive(size_t size) : data(pictureLike(size)) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "nbbenchXXXXXX").string();
        folder = ::mkdtemp(tmpl.data()) ? tmpl : ".";
        path = folder + "/bench.res";
        nb::ArchiveWriter w;
        w.date = 45000.0;
        // A few neighbours so that the table is not trivially small.
        for (int i = 0; i < 50; ++i) w.add("other" + std::to_string(i) + ".png", 0, pictureLike(4096));
        w.add("picture.bmp", 0, data);
        w.save(path);
        nb::TResArchive a;
        a.OpenMode = nb::TOpenModes::opReadOnly;
        a.SetFileName(path);
        a.Open();
        a.ReadStored("picture.bmp", stored);
    }
    ~BenchArchive() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

void BM_ArchiveRead(benchmark::State& state) {
    BenchArchive b(size_t(state.range(0)));
    nb::TResArchive a;
    a.OpenMode = nb::TOpenModes::opReadOnly;
    a.SetFileName(b.path);
    if (!a.Open()) {
        state.SkipWithError("archive did not open");
        return;
    }
    std::vector<uint8_t> out;
    for (auto _ : state) {
        if (!a.ReadRecord("PICTURE.BMP", out)) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_ZlibUncompress(benchmark::State& state) {
    BenchArchive b(size_t(state.range(0)));
    std::vector<uint8_t> out(b.data.size());
    for (auto _ : state) {
        uLongf n = uLongf(out.size());
        if (uncompress(out.data(), &n, b.stored.data(), uLong(b.stored.size())) != Z_OK || n != out.size()) {
            state.SkipWithError("uncompress failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_ArchiveRead)->Arg(64 << 10)->Arg(4 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ZlibUncompress)->Arg(64 << 10)->Arg(4 << 20)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
