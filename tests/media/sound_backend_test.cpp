// The audio backend contract, checked on the null driver (always) and on
// OpenAL's loopback device (when the installed OpenAL has one): both must
// keep the same books, so a headless player behaves like one with sound.
#include <gtest/gtest.h>

#include <memory>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "platform/Audio.h"
#include "tests/media/sound_support.h"

// libsndfile leaks its Vorbis state when it refuses a damaged OGG file (a
// few kilobytes, once per file: the player never retries a failed name).
// That leak is not ours to fix; keep it out of the leak report.
extern "C" const char* __lsan_default_suppressions() { return "leak:vorbis_info_init\n"; }

namespace nb {
namespace {

using namespace soundtest;

constexpr int kTickFrames = kAudioMixRate / 30;

// One backend under test plus the way it moves time forward by one tick.
struct Driver {
    std::unique_ptr<AudioBackend> backend;
    AudioLoopback* loopback = nullptr;
    std::vector<float> mix = std::vector<float>(size_t(kTickFrames) * 2);

    void tick() {
        backend->Update();
        if (loopback) loopback->Render(mix.data(), kTickFrames);
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }
};

class AudioBackendContract : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) {
            auto lb = CreateLoopbackAudio();
            if (!lb->Open()) GTEST_SKIP() << "OpenAL has no loopback device (ALC_SOFT_loopback) here";
            d.loopback = lb.get();
            d.backend = std::move(lb);
        } else {
            d.backend = CreateNullAudio();
            ASSERT_TRUE(d.backend->Open());
        }
        Tone half;
        half.seconds = 0.5;
        ASSERT_TRUE(writeTone(shortWav, half));
        Tone two;
        two.seconds = 2.0;
        ASSERT_TRUE(writeTone(longWav, two));
    }

    TempDir dir;
    std::string shortWav = dir.file("short.wav");
    std::string longWav = dir.file("long.wav");
    Driver d;
};

TEST_P(AudioBackendContract, UnreadableDataFailsWithoutHarm) {
    AudioBackend& a = *d.backend;
    // Missing, empty, garbage and truncated files all answer 0.
    std::string garbage = dir.file("garbage.wav");
    std::vector<uint8_t> noise(4096);
    std::mt19937 rng(7);
    for (auto& b : noise) b = uint8_t(rng());
    writeBytes(garbage, noise);
    std::string empty = dir.file("empty.ogg");
    writeBytes(empty, {});
    std::vector<uint8_t> wav = readBytes(shortWav);
    std::vector<uint8_t> header(wav.begin(), wav.begin() + 30);

    for (const std::string& p : {dir.file("missing.wav"), garbage, empty}) {
        EXPECT_EQ(a.LoadSampleFile(p, 3), 0u) << p;
        EXPECT_EQ(a.CreateStreamFile(p, true), 0u) << p;
    }
    for (const auto& bytes : {noise, std::vector<uint8_t>{}, header}) {
        EXPECT_EQ(a.LoadSampleMemory(bytes, 3), 0u);
        EXPECT_EQ(a.CreateStreamMemory(bytes, true), 0u);
    }

    // A file cut short in its data still gives the part that is there.
    std::vector<uint8_t> cut(wav.begin(), wav.begin() + wav.size() / 2);
    EXPECT_NE(a.LoadSampleMemory(cut, 3), 0u);

    // Handles that name nothing playable are refused, not crashed on.
    AudioHandle sample = a.LoadSampleFile(shortWav, 3);
    ASSERT_NE(sample, 0u);
    for (AudioHandle h : {AudioHandle(0), AudioHandle(987654), sample}) {
        EXPECT_FALSE(a.Play(h, true));
        EXPECT_FALSE(a.IsActive(h));
        EXPECT_EQ(a.GetVolume(h), -1);
        EXPECT_EQ(a.GetPosition(h), -1);
    }
    EXPECT_EQ(a.PlaySample(0, 100), 0u);
    EXPECT_EQ(a.PlaySample(987654, 100), 0u);
}

TEST_P(AudioBackendContract, DamagedFilesNeverCrash) {
    AudioBackend& a = *d.backend;
    Tone t;
    t.seconds = 0.3;
    t.channels = 2;
    std::vector<std::vector<uint8_t>> originals = {toneBytes(dir, t, SF_FORMAT_WAV | SF_FORMAT_PCM_16),
                                                   toneBytes(dir, t, SF_FORMAT_OGG | SF_FORMAT_VORBIS)};
    std::mt19937 rng(1234);
    int loaded = 0;
    for (const auto& original : originals) {
        ASSERT_FALSE(original.empty());
        for (int round = 0; round < 40; ++round) {
            std::vector<uint8_t> bytes = original;
            // Cut it somewhere, or scribble over a few bytes of its first
            // kilobyte (where the headers are), or both.
            if (round % 3 != 1) bytes.resize(rng() % bytes.size());
            if (round % 3 != 0 && !bytes.empty())
                for (int i = 0; i < 8; ++i) bytes[rng() % std::min<size_t>(bytes.size(), 1024)] = uint8_t(rng());
            if (a.LoadSampleMemory(bytes, 3)) ++loaded;
            AudioHandle st = a.CreateStreamMemory(bytes, round % 2 == 0);
            if (st) {
                ++loaded;
                a.Play(st, true);
                d.ticks(12);
                a.Stop(st);
            }
        }
    }
    // Some damage leaves a playable file; no damage may crash the player.
    EXPECT_GT(loaded, 0);
}

TEST_P(AudioBackendContract, ThreeVoicesAndTheOldestIsTakenOver) {
    AudioBackend& a = *d.backend;
    AudioHandle s = a.LoadSampleFile(longWav, 3);
    ASSERT_NE(s, 0u);
    AudioHandle c1 = a.PlaySample(s, 10);
    d.ticks(2);
    AudioHandle c2 = a.PlaySample(s, 20);
    d.ticks(2);
    AudioHandle c3 = a.PlaySample(s, 30);
    d.ticks(2);
    ASSERT_NE(c1, 0u);
    EXPECT_NE(c1, c2);
    EXPECT_NE(c2, c3);
    EXPECT_NE(c1, c3);
    EXPECT_TRUE(a.IsActive(c1) && a.IsActive(c2) && a.IsActive(c3));
    EXPECT_EQ(a.GetPosition(c1), 6 * kTickFrames);
    EXPECT_EQ(a.GetPosition(c3), 2 * kTickFrames);

    // All three busy: the fourth play restarts the one that started first.
    AudioHandle c4 = a.PlaySample(s, 40);
    EXPECT_EQ(c4, c1);
    EXPECT_EQ(a.GetVolume(c1), 40);
    EXPECT_EQ(a.GetVolume(c2), 20);
    // Volumes off the scale play at its ends.
    EXPECT_TRUE(a.SetVolume(c3, 250));
    EXPECT_EQ(a.GetVolume(c3), 100);
    EXPECT_TRUE(a.SetVolume(c3, -7));
    EXPECT_EQ(a.GetVolume(c3), 0);
    d.tick();
    EXPECT_EQ(a.GetPosition(c1), kTickFrames);
    EXPECT_EQ(a.GetPosition(c2), 5 * kTickFrames);
    // The next takes over the second, now the oldest.
    EXPECT_EQ(a.PlaySample(s, 50), c2);
}

TEST_P(AudioBackendContract, SoundEffectsPlayToTheirEndAndFreeTheirVoice) {
    AudioBackend& a = *d.backend;
    AudioHandle s = a.LoadSampleFile(shortWav, 3);
    AudioHandle c1 = a.PlaySample(s, 100);
    d.tick();
    AudioHandle c2 = a.PlaySample(s, 100);
    d.ticks(14);  // 15 ticks = 0.5 s: the first voice is just done
    EXPECT_FALSE(a.IsActive(c1));
    EXPECT_TRUE(a.IsActive(c2));
    // A free voice is preferred over taking over a busy one.
    EXPECT_EQ(a.PlaySample(s, 100), c1);
    d.ticks(16);
    EXPECT_FALSE(a.IsActive(c1));
    EXPECT_FALSE(a.IsActive(c2));
}

TEST_P(AudioBackendContract, StreamsLoopStopResumeAndRestart) {
    AudioBackend& a = *d.backend;
    std::vector<uint8_t> bytes = readBytes(longWav);
    AudioHandle loop = a.CreateStreamMemory(std::move(bytes), true);
    AudioHandle once = a.CreateStreamFile(shortWav, false);
    ASSERT_NE(loop, 0u);
    ASSERT_NE(once, 0u);
    EXPECT_FALSE(a.IsActive(loop));  // created stopped
    EXPECT_EQ(a.GetVolume(loop), 100);

    ASSERT_TRUE(a.Play(loop, true));
    ASSERT_TRUE(a.Play(once, true));
    d.ticks(10);
    EXPECT_EQ(a.GetPosition(loop), 10 * kTickFrames);
    // 2 s = 60 ticks: after 65 ticks the looping stream is 5 ticks into its
    // second round; the one without loop has ended after 0.5 s.
    d.ticks(55);
    EXPECT_TRUE(a.IsActive(loop));
    EXPECT_EQ(a.GetPosition(loop), 5 * kTickFrames);
    EXPECT_FALSE(a.IsActive(once));

    // Stop keeps the place, Play without restart continues from it.
    ASSERT_TRUE(a.Stop(loop));
    EXPECT_FALSE(a.IsActive(loop));
    d.ticks(3);
    EXPECT_EQ(a.GetPosition(loop), 5 * kTickFrames);
    ASSERT_TRUE(a.Play(loop, false));
    d.ticks(2);
    EXPECT_EQ(a.GetPosition(loop), 7 * kTickFrames);
    // Play without restart of a playing stream changes nothing; with restart
    // it begins again.
    ASSERT_TRUE(a.Play(loop, false));
    d.tick();
    EXPECT_EQ(a.GetPosition(loop), 8 * kTickFrames);
    ASSERT_TRUE(a.Play(loop, true));
    d.tick();
    EXPECT_EQ(a.GetPosition(loop), kTickFrames);
    // A stream that played out starts again from its beginning.
    ASSERT_TRUE(a.Play(once, false));
    EXPECT_TRUE(a.IsActive(once));
    d.tick();
    EXPECT_EQ(a.GetPosition(once), kTickFrames);
}

TEST_P(AudioBackendContract, PauseHoldsEverythingInPlace) {
    AudioBackend& a = *d.backend;
    AudioHandle s = a.LoadSampleFile(shortWav, 3);
    AudioHandle st = a.CreateStreamFile(longWav, true);
    AudioHandle ch = a.PlaySample(s, 100);
    a.Play(st, true);
    d.ticks(3);
    a.Pause();
    EXPECT_TRUE(a.IsPaused());
    d.ticks(40);  // longer than the sound effect
    EXPECT_TRUE(a.IsActive(ch));
    EXPECT_TRUE(a.IsActive(st));
    EXPECT_EQ(a.GetPosition(ch), 3 * kTickFrames);
    EXPECT_EQ(a.GetPosition(st), 3 * kTickFrames);
    a.Resume();
    EXPECT_FALSE(a.IsPaused());
    d.ticks(2);
    EXPECT_EQ(a.GetPosition(ch), 5 * kTickFrames);
    EXPECT_EQ(a.GetPosition(st), 5 * kTickFrames);
}

INSTANTIATE_TEST_SUITE_P(Drivers, AudioBackendContract, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Loopback") : std::string("Null");
                         });

TEST(AudioNull, OpensWithoutADeviceAndCountsTicksAtItsRate) {
    // 22050 Hz at 30 ticks per second: 735 frames per tick; at 11025 Hz the
    // half frames add up instead of being lost.
    TempDir dir;
    Tone t;
    t.rate = 11025;
    t.seconds = 1.0;
    std::string p = dir.file("slow.wav");
    ASSERT_TRUE(writeTone(p, t));
    auto a = CreateNullAudio();
    EXPECT_EQ(a->LoadSampleFile(p, 3), 0u);  // not open yet
    ASSERT_TRUE(a->Open());
    AudioHandle st = a->CreateStreamFile(p, false);
    ASSERT_TRUE(a->Play(st, true));
    for (int i = 0; i < 3; ++i) a->Update();
    EXPECT_EQ(a->GetPosition(st), 1102);  // 3 x 367.5, rounded down
    for (int i = 0; i < 26; ++i) a->Update();
    EXPECT_TRUE(a->IsActive(st));
    a->Update();  // 30 ticks = the whole second
    EXPECT_FALSE(a->IsActive(st));
}

// The driver of the real player: OpenAL on an output device, refilled by its
// own thread. OpenAL's silent "null" driver stands in for a sound card; it
// can only be chosen before OpenAL first starts in this process (ctest runs
// each test in a process of its own).
TEST(AudioOpenALDevice, RefillThreadKeepsMusicGoingAndPauseHoldsIt) {
    ::setenv("ALSOFT_DRIVERS", "null", 0);
    auto a = CreateOpenALAudio();
    if (!a->Open()) GTEST_SKIP() << "no OpenAL output device could be opened in this process";
    TempDir dir;
    Tone t;
    t.seconds = 3.0;
    std::string p = dir.file("theme.wav");
    ASSERT_TRUE(writeTone(p, t));
    AudioHandle st = a->CreateStreamFile(p, true);
    ASSERT_TRUE(a->Play(st, true));
    // No Update() calls: the queue holds well under half a second, so only
    // the refill thread can keep the stream going for 1.2 s.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_TRUE(a->IsActive(st));
    int64_t pos = a->GetPosition(st);
    EXPECT_GT(pos, kAudioMixRate / 2);
    a->Pause();
    int64_t held = a->GetPosition(st);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(a->GetPosition(st), held);
    EXPECT_TRUE(a->IsActive(st));
    a->Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_NE(a->GetPosition(st), held);
    EXPECT_TRUE(a->Stop(st));
    EXPECT_FALSE(a->IsActive(st));
}

}  // namespace
}  // namespace nb
