// Cost of the music work of one process tick: MusicFadeStep plus the stream
// refill (Update), with four musics playing and fading. The OpenAL loopback
// device stands in for the sound card; its mixing, which the real device does
// on a thread of its own, runs between ticks outside the timed part and is
// measured separately.
//
// Goal: under 0.2 ms per tick. The timed part is measured in CPU time of the
// calling thread, so that other processes on a busy machine do not count;
// the wall-clock time is reported beside it as wall_us_per_tick.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "media/Sound.h"
#include "platform/Audio.h"

namespace {

constexpr int kTickFrames = nb::kAudioMixRate / 30;

// Four stereo music files of 3 s each, different tones, in a scratch game
// folder removed at exit.
struct MusicFolder {
    std::string path;
    MusicFolder(int format, const char* ext) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "nbaudiobenchXXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        path = ::mkdtemp(buf.data()) ? buf.data() : "/tmp";
        std::filesystem::create_directories(path + "/sounds");
        for (int i = 0; i < 4; ++i) {
            SF_INFO info{};
            info.samplerate = nb::kAudioMixRate;
            info.channels = 2;
            info.format = format;
            std::string file = path + "/sounds/m" + std::to_string(i) + ext;
            SNDFILE* sf = sf_open(file.c_str(), SFM_WRITE, &info);
            if (!sf) continue;
            std::vector<float> data(size_t(3 * nb::kAudioMixRate) * 2);
            for (size_t f = 0; f < data.size() / 2; ++f) {
                double phase = 2 * 3.14159265358979 * (220.0 * (i + 1)) * double(f) / nb::kAudioMixRate;
                float v = float(0.2 * std::sin(phase));
                data[2 * f] = data[2 * f + 1] = v;
            }
            sf_writef_float(sf, data.data(), sf_count_t(data.size() / 2));
            sf_close(sf);
        }
    }
    ~MusicFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

// Keeps four musics playing, re-targeting their fades every second so that
// fade steps always have work to do.
void retarget(nb::TSoundManager& sm, const char* ext, int64_t tick) {
    if (tick % 30 != 0) return;
    for (int i = 0; i < 4; ++i)
        sm.PlayMusic("m" + std::to_string(i) + ext, int32_t(40 + 20 * ((tick / 30 + i) % 3)));
}

void musicTick(benchmark::State& state, int format, const char* ext, bool loopback) {
    MusicFolder folder(format, ext);
    std::unique_ptr<nb::AudioBackend> backend;
    nb::AudioLoopback* lb = nullptr;
    if (loopback) {
        auto l = nb::CreateLoopbackAudio();
        lb = l.get();
        backend = std::move(l);
    } else {
        backend = nb::CreateNullAudio();
    }
    if (!backend->Open()) {
        state.SkipWithError("audio backend cannot be opened");
        return;
    }
    nb::TSoundManager sm(*backend);
    sm.SetGameFolder(folder.path);
    std::vector<float> mix(size_t(kTickFrames) * 2);
    double renderSeconds = 0;
    double wallSeconds = 0;
    int64_t tick = 0;
    for (auto _ : state) {
        retarget(sm, ext, tick++);
        auto t0 = std::chrono::steady_clock::now();
        double c0 = threadCpuSeconds();
        sm.MusicFadeStep();
        sm.Update();
        double c1 = threadCpuSeconds();
        auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(c1 - c0);
        wallSeconds += std::chrono::duration<double>(t1 - t0).count();
        if (lb) {
            lb->Render(mix.data(), kTickFrames);
            renderSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
            benchmark::DoNotOptimize(mix.data());
        }
    }
    int playing = 0;
    for (const nb::TSound& m : sm.MusicCache()) playing += backend->IsActive(m.handle) ? 1 : 0;
    state.counters["musics_playing"] = playing;
    state.counters["wall_us_per_tick"] = 1e6 * wallSeconds / double(state.iterations());
    if (lb) state.counters["mix_us_per_tick"] = 1e6 * renderSeconds / double(state.iterations());
}

constexpr int kOgg = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
constexpr int kWav = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
void BM_MusicTick_Loopback_Ogg(benchmark::State& s) { musicTick(s, kOgg, ".ogg", true); }
void BM_MusicTick_Loopback_Wav(benchmark::State& s) { musicTick(s, kWav, ".wav", true); }
void BM_MusicTick_Null_Ogg(benchmark::State& s) { musicTick(s, kOgg, ".ogg", false); }

// 3000 ticks = 100 s of play per run: every buffer is refilled many times.
#define NB_MUSIC_TICK_BENCH(fn)                                                                 \
    BENCHMARK(fn)->UseManualTime()->Iterations(3000)->Repetitions(5)->ReportAggregatesOnly(true) \
        ->Unit(benchmark::kMicrosecond)
NB_MUSIC_TICK_BENCH(BM_MusicTick_Loopback_Ogg);
NB_MUSIC_TICK_BENCH(BM_MusicTick_Loopback_Wav);
NB_MUSIC_TICK_BENCH(BM_MusicTick_Null_Ogg);

}  // namespace

BENCHMARK_MAIN();
