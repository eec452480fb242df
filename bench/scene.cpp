// Scene database timings: reading a generated game of 5,000 elements with
// hooks (record parsing, setters, hook compiling), and saving and restoring
// its state. Prints medians of several runs and the memory the tree takes.
//
//   bench_scene [runs]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ByteIO.h"
#include "platform/FileSystem.h"
#include "platform/Memory.h"
#include "scene/UnitNBDB.h"

namespace {

using nb::ByteWriter;
using nb::TClassInfo;
using nb::TPropKind;

// Writes one element record with its class's defaults except the given values.
struct RecordWriter {
    ByteWriter w;
    void Begin(const std::string& cls, const std::vector<std::pair<std::string, std::string>>& strings,
               const std::vector<std::pair<std::string, int32_t>>& ints) {
        const TClassInfo* info = nb::FindClass(cls);
        w.str32(cls);
        w.i32(int32_t(info->props.size()));
        for (const nb::TPropInfo& p : info->props) {
            auto s = std::find_if(strings.begin(), strings.end(), [&](auto& kv) { return kv.first == p.name; });
            auto i = std::find_if(ints.begin(), ints.end(), [&](auto& kv) { return kv.first == p.name; });
            switch (p.kind) {
                case TPropKind::Real: w.f64(p.realDefault); break;
                case TPropKind::String: w.str32(s != strings.end() ? s->second : std::string(p.strDefault)); break;
                default: w.i32(i != ints.end() ? i->second : int32_t(p.intDefault)); break;
            }
        }
    }
    std::string Bytes() const { return std::string(reinterpret_cast<const char*>(w.buffer().data()), w.size()); }
};

void AppendChild(ByteWriter& parent, const std::string& child) {
    parent.i32(int32_t(child.size()));
    parent.bytes(child.data(), child.size());
}

// 50 screens of 99 elements each (images, some with a text child, shapes),
// every element with two hooks: 5,000 elements in all, with the root.
std::string MakeGame() {
    RecordWriter root;
    root.Begin("TNBDB", {{"Id", "Bench"}, {"FileRS", "bench.sav"}}, {{"InitScreen", 1}});
    int key = 1;
    for (int s = 0; s < 50; ++s) {
        RecordWriter screen;
        screen.Begin("TNBScreen",
                     {{"Id", "SCR" + std::to_string(s)},
                      {"exInit", "N := 0; NAME := 'screen'; SCORE := 1.5"},
                      {"exProcess", "N := N + 1; IF N > 10 THEN N := 0"}},
                     {{"Key", key++}, {"SizeX", 1024}, {"SizeY", 768}});
        int made = 1;
        while (made < 100) {
            const int k = key++;
            if (made % 10 == 9) {
                RecordWriter shape;
                shape.Begin("TNBShape", {{"Id", "SH" + std::to_string(k)}, {"exMouseDown", "VIS := FALSE"},
                                         {"exMouseUp", "VIS := TRUE"}},
                            {{"Key", k}, {"Order", made % 3}});
                AppendChild(screen.w, shape.Bytes());
                ++made;
            } else {
                RecordWriter img;
                img.Begin("TNBImage",
                          {{"Id", "IMG" + std::to_string(k)},
                           {"exMouseDown", "X := X + 1; NBDB.SCR0.TAG := 'clicked'"},
                           {"exMouseIn", "IF MOUSEDOWN THEN Y := Y + 1 ELSE Y := Y - 1"}},
                          {{"Key", k}, {"X", made * 7}, {"Y", made * 3}, {"Order", made % 3}});
                ++made;
                if (made % 5 == 0 && made < 100) {
                    RecordWriter text;
                    text.Begin("TNBText", {{"Id", "T" + std::to_string(key)}, {"Text", "Label"},
                                           {"exMouseIn", "TEXT := 'over'"}, {"exMouseOut", "TEXT := 'out'"}},
                               {{"Key", key}});
                    ++key;
                    ++made;
                    AppendChild(img.w, text.Bytes());
                }
                AppendChild(screen.w, img.Bytes());
            }
        }
        AppendChild(root.w, screen.Bytes());
    }
    return root.Bytes();
}

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

long RssKb() {
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

size_t CountTree(nb::TNBElement* e) {
    size_t n = 1;
    for (size_t i = 0; i < e->ChildCount(); ++i) n += CountTree(e->Child(i));
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    nb::TuneProcessHeap();  // as the player runs
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    char tmpl[] = "/tmp/nb-bench-scene-XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (!made) return 1;
    const std::string folder = std::string(made) + "/";
    const std::string game = MakeGame();
    nb::fs::writeFile(folder + "bench.nbf", game.data(), game.size());

    std::vector<double> loads, builds, saves, restores;
    long rssGrowthKb = 0;
    size_t elements = 0, stateBytes = 0;
    for (int r = 0; r < runs; ++r) {
        nb::TSceneContext ctx;
        nb::TNBDB& root = ctx.CreateRoot();
        const long before = RssKb();
        double t0 = NowMs();
        root.LoadGame(folder + "bench.nbf");
        loads.push_back(NowMs() - t0);
        rssGrowthKb = std::max(rssGrowthKb, RssKb() - before);
        elements = CountTree(&root);
        root.Init();

        t0 = NowMs();
        const std::string state = root.BuildState();
        builds.push_back(NowMs() - t0);
        if (state.empty()) return 1;
        t0 = NowMs();
        root.SaveState();
        saves.push_back(NowMs() - t0);
        stateBytes = nb::fs::readFile(folder + "bench.sav").value_or(std::vector<uint8_t>{}).size();
        t0 = NowMs();
        root.LoadState();
        restores.push_back(NowMs() - t0);
    }
    std::printf("game file: %zu bytes, %zu elements, %d runs\n", game.size(), elements, runs);
    std::printf("load (parse, setters, hook compiling): median %.2f ms, memory growth %.1f MB\n", Median(loads),
                double(rssGrowthKb) / 1024.0);
    std::printf("SaveState: median %.2f ms (of which building the records %.2f ms; the rest is the\n"
                "           atomic write with its flushes), state file %zu bytes\n",
                Median(saves), Median(builds), stateBytes);
    std::printf("LoadState: median %.2f ms\n", Median(restores));
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
