// What the player is heard to play: the manager drives OpenAL's loopback
// device and the mix is measured tick by tick. Every tone is a sine of
// amplitude 0.5 at a frequency whose period fits the measuring window, so
// each sound can be measured on its own in the mix.
#include <gtest/gtest.h>

#include "archive/ResArchive.h"
#include "media/Sound.h"
#include "tests/media/sound_support.h"

namespace nb {
namespace {

using namespace soundtest;

constexpr int kTickFrames = kAudioMixRate / 30;  // 1470
// A tick is rendered in two parts: OpenAL glides a changed gain across the
// first part, the second part plays at the new gain and is measured.
constexpr int kGlideFrames = 70;
constexpr int kMeasureFrames = kTickFrames - kGlideFrames;  // 1400: whole periods of every tone
constexpr double kLow = 441, kMid = 882, kHigh = 1323;

class SoundMixTest : public ::testing::Test {
protected:
    void SetUp() override {
        lb = CreateLoopbackAudio();
        if (!lb->Open()) GTEST_SKIP() << "OpenAL has no loopback device (ALC_SOFT_loopback) here";
        sm = std::make_unique<TSoundManager>(*lb);
        sm->SetGameFolder(dir.path());
        // What a tone of amplitude 0.5 at full volume measures in the mix
        // (OpenAL pans a mono sound to both sides with a gain of its own).
        Tone t;
        std::string ref = dir.file("reference.wav");
        ASSERT_TRUE(writeTone(ref, t));
        AudioHandle s = lb->LoadSampleFile(ref, 1);
        AudioHandle ch = lb->PlaySample(s, 100);
        render();
        unit = amp(kLow);
        lb->Stop(ch);
        render();
        ASSERT_GT(unit, 0.2);
        ASSERT_LT(amp(kLow), 1e-6);
    }

    void tone(const std::string& name, double freq, double seconds, bool ogg = false) {
        Tone t;
        t.freq = freq;
        t.seconds = seconds;
        std::string p = dir.file("sounds/" + name);
        ASSERT_TRUE(ogg ? writeOggTone(p, t) : writeTone(p, t));
    }
    void render() {
        lb->Render(mix.data(), kGlideFrames);
        lb->Render(mix.data() + 2 * kGlideFrames, kMeasureFrames);
    }
    // One process tick as the shell runs it, and its share of the output.
    void tick() {
        sm->MusicFadeStep();
        sm->Update();
        render();
    }
    // The amplitude of a tone in the last tick, on the 0..100 volume scale.
    double heard(double freq) { return 100.0 * amp(freq) / unit; }
    double amp(double freq) { return toneAmplitude(mix, kGlideFrames, kMeasureFrames, freq); }
    AudioHandle musicHandle(const std::string& upperName) {
        for (const TSound& m : sm->MusicCache())
            if (m.name == upperName) return m.handle;
        return 0;
    }

    TempDir dir;
    std::unique_ptr<AudioLoopback> lb;
    std::unique_ptr<TSoundManager> sm;
    std::vector<float> mix = std::vector<float>(size_t(kTickFrames) * 2);
    double unit = 0;
};

TEST_F(SoundMixTest, EffectsSoundAtSoundVolumeTimesPercent) {
    tone("full.wav", kLow, 1.0);
    tone("door.wav", kMid, 1.0);
    tone("bell.wav", kHigh, 1.0);
    sm->PlaySound("full.wav", 100);
    sm->SetSoundVolume(75);
    sm->PlaySound("door.wav", 40);  // 30
    sm->SetSoundVolume(33);
    sm->PlaySound("bell.wav", 40);  // 13
    tick();
    EXPECT_NEAR(heard(kLow), 100.0, 0.2);
    EXPECT_NEAR(heard(kMid), 30.0, 0.2);
    EXPECT_NEAR(heard(kHigh), 13.0, 0.2);
    // Sound effects play to their end (1 s = 30 ticks) and then fall silent.
    for (int i = 0; i < 29; ++i) tick();
    EXPECT_NEAR(heard(kMid), 30.0, 0.2);
    tick();
    EXPECT_LT(heard(kLow) + heard(kMid) + heard(kHigh), 0.01);
}

TEST_F(SoundMixTest, AFourthPlayInOneTickTakesOverTheFirst) {
    tone("knock.wav", kLow, 2.0);
    tone("ref.wav", kMid, 2.0);
    sm->PlaySound("ref.wav", 100);
    // Four plays of one sound in the same tick, at 10, 20, 30 and 40: three
    // voices at most, the fourth restarts the first. All start together and
    // add up in phase: 20 + 30 + 40 = 90 is heard (not 100, nor 70 had the
    // newest voice been taken).
    for (int v : {10, 20, 30, 40}) {
        sm->SetSoundVolume(v);
        sm->PlaySound("knock.wav", 100);
    }
    tick();
    EXPECT_NEAR(heard(kMid), 100.0, 0.2);
    EXPECT_NEAR(heard(kLow), 90.0, 0.3);
    // A fifth play ten ticks later (14700 frames: whole periods, so still in
    // phase) takes over the oldest voice, the one at 20: 40 + 30 + 50 = 120
    // (taking the one at 40 would give 100, the one at 30 110).
    for (int i = 0; i < 9; ++i) tick();
    sm->SetSoundVolume(50);
    sm->PlaySound("knock.wav", 100);
    tick();
    EXPECT_NEAR(heard(kLow), 120.0, 0.3);
    // When the first ones have played out (2 s), the fifth is heard alone.
    for (int i = 0; i < 50; ++i) tick();
    EXPECT_NEAR(heard(kLow), 50.0, 0.3);
}

TEST_F(SoundMixTest, MusicFadesInOverSixtyTicksAndOutOverThirty) {
    tone("theme.wav", kLow, 2.0);
    sm->PlayMusic("theme.wav", 100);
    AudioHandle h = musicHandle("THEME.WAV");
    ASSERT_NE(h, 0u);
    std::vector<double> in;
    for (int k = 1; k <= 60; ++k) {
        tick();
        in.push_back(heard(kLow));
        // What is heard is the channel volume the fade set, to the unit.
        EXPECT_NEAR(in.back(), lb->GetVolume(h), 0.2) << "tick " << k;
    }
    EXPECT_NEAR(in[0], 1.0, 0.2);    // 50 x 1/60 = 0.83, rounded
    EXPECT_NEAR(in[2], 2.0, 0.2);    // 2.5 rounds to even
    EXPECT_NEAR(in[29], 25.0, 0.2);  // half way
    EXPECT_NEAR(in[58], 49.0, 0.2);
    EXPECT_NEAR(in[59], 50.0, 0.2);  // the music volume, reached on tick 60
    for (size_t k = 1; k < in.size(); ++k) EXPECT_GE(in[k], in[k - 1] - 0.2);
    tick();
    EXPECT_NEAR(heard(kLow), 50.0, 0.2);

    sm->StopMusic();
    std::vector<double> out;
    for (int k = 1; k <= 30; ++k) {
        tick();
        out.push_back(heard(kLow));
    }
    EXPECT_NEAR(out[0], 48.0, 0.2);   // 50 x 29/30 = 48.3
    EXPECT_NEAR(out[14], 25.0, 0.2);  // half way out
    EXPECT_NEAR(out[28], 2.0, 0.2);   // 50 x 1/30 = 1.7
    EXPECT_LT(out[29], 0.01);         // silent after 30 ticks
    tick();
    EXPECT_FALSE(lb->IsActive(h));
    for (int k = 0; k < 5; ++k) {
        tick();
        EXPECT_LT(heard(kLow), 0.01);
    }
}

TEST_F(SoundMixTest, CrossFadingMusicsOverlap) {
    tone("day.wav", kLow, 2.0);
    tone("night.wav", kMid, 3.0);
    sm->SetMusicVolume(100);
    sm->PlayMusic("day.wav", 100);
    for (int k = 0; k < 60; ++k) tick();
    EXPECT_NEAR(heard(kLow), 100.0, 0.3);
    // A screen change: every music fades out, the new screen starts its own.
    sm->StopMusic();
    sm->PlayMusic("night.wav", 80);
    for (int k = 0; k < 15; ++k) tick();
    EXPECT_NEAR(heard(kLow), 50.0, 0.3);  // half way out
    EXPECT_NEAR(heard(kMid), 20.0, 0.3);  // 80 x 15/60
    for (int k = 0; k < 16; ++k) tick();
    EXPECT_LT(heard(kLow), 0.01);
    EXPECT_NEAR(heard(kMid), 41.0, 0.3);  // 80 x 31/60 = 41.3
    // Called back while fading out, a music turns round without restarting.
    sm->StopMusic();
    for (int k = 0; k < 10; ++k) tick();
    int64_t pos = lb->GetPosition(musicHandle("NIGHT.WAV"));
    sm->PlayMusic("night.wav", 100);
    tick();
    EXPECT_EQ(lb->GetPosition(musicHandle("NIGHT.WAV")), (pos + kTickFrames) % (3 * kAudioMixRate));
    EXPECT_GT(heard(kMid), 20.0);
}

TEST_F(SoundMixTest, OggVariantIsHeardAndTheFailedNameIsNotLookedForAgain) {
    tone("door.ogg", kMid, 1.0, true);
    sm->PlaySound("door.mp3", 100);
    tick();
    EXPECT_NEAR(heard(kMid), 100.0, 5.0);  // lossy, but clearly the OGG file
    for (int i = 0; i < 30; ++i) tick();
    // Now door.mp3 exists (a readable file of another tone): still the OGG
    // file plays, the failed name stays failed.
    tone("door.mp3", kLow, 1.0);
    sm->PlaySound("door.mp3", 100);
    tick();
    EXPECT_NEAR(heard(kMid), 100.0, 5.0);
    EXPECT_LT(heard(kLow), 0.5);

    tone("theme.ogg", kHigh, 2.0, true);
    sm->PlayMusic("theme.mp3", 100);
    for (int k = 0; k < 61; ++k) tick();
    EXPECT_NEAR(heard(kHigh), 50.0, 3.0);
}

TEST_F(SoundMixTest, Mp3SoundsAndMusicPlay) {
    Tone t;
    t.seconds = 2.0;
    if (!writeTone(dir.file("sounds/logo1.mp3"), t, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III))
        GTEST_SKIP() << "the installed libsndfile cannot write MP3";
    t.freq = kMid;
    ASSERT_TRUE(writeTone(dir.file("sounds/menu.mp3"), t, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III));
    sm->PlaySound("logo1.mp3", 100);
    sm->PlayMusic("menu.mp3", 100);
    // Past the encoder's lead-in; then past the music's fade-in.
    for (int k = 0; k < 3; ++k) tick();
    EXPECT_NEAR(heard(kLow), 100.0, 5.0);
    for (int k = 0; k < 58; ++k) tick();
    EXPECT_NEAR(heard(kMid), 50.0, 3.0);
}

TEST_F(SoundMixTest, ArchiveSoundsAndMusicAreHeard) {
    Tone bell;
    bell.freq = kMid;
    bell.seconds = 1.0;
    Tone theme;
    theme.freq = kLow;
    theme.seconds = 1.0;
    std::string arcPath = dir.file("game.arc");
    ASSERT_TRUE(writeArchive(arcPath, {{"sounds\\bell.wav", toneBytes(dir, bell)},
                                       {"sounds\\theme.wav", toneBytes(dir, theme)}}));
    TResArchive arc;
    arc.OpenMode = TOpenModes::opReadOnly;
    arc.SetFileName(arcPath);
    TSoundManager withArchive(*lb, arc);
    withArchive.SetGameFolder(dir.path());
    withArchive.SetMusicVolume(100);
    withArchive.PlaySound("BELL.WAV", 60);
    withArchive.PlayMusic("theme.wav", 100);
    auto step = [&] {
        withArchive.MusicFadeStep();
        withArchive.Update();
        render();
    };
    step();
    EXPECT_NEAR(heard(kMid), 60.0, 0.3);
    // The music plays from the archive's bytes through several loops.
    for (int k = 0; k < 150; ++k) step();
    EXPECT_NEAR(heard(kLow), 100.0, 0.3);
    EXPECT_LT(heard(kMid), 0.01);
}

TEST_F(SoundMixTest, PauseSilencesEverythingAndResumeContinuesInPlace) {
    tone("chime.wav", kMid, 0.5);
    tone("theme.wav", kLow, 2.0);
    sm->SetMusicVolume(100);
    sm->PlayMusic("theme.wav", 100);
    for (int k = 0; k < 60; ++k) tick();
    sm->PlaySound("chime.wav", 100);
    for (int k = 0; k < 6; ++k) tick();  // 0.2 s of the 0.5 s chime
    EXPECT_NEAR(heard(kMid), 100.0, 0.3);
    int64_t musicPos = lb->GetPosition(musicHandle("THEME.WAV"));

    // Window deactivated: no ticks run, the device goes on asking for sound.
    sm->Pause();
    for (int k = 0; k < 30; ++k) {
        render();
        EXPECT_LT(heard(kMid) + heard(kLow), 0.01);
    }
    sm->Resume();
    // Both continue where they were: 0.3 s of chime remain (9 ticks).
    for (int k = 0; k < 9; ++k) {
        tick();
        EXPECT_NEAR(heard(kMid), 100.0, 0.3) << "tick " << k;
        EXPECT_NEAR(heard(kLow), 100.0, 0.3);
    }
    EXPECT_EQ(lb->GetPosition(musicHandle("THEME.WAV")), musicPos + 9 * kTickFrames);
    tick();
    EXPECT_LT(heard(kMid), 0.01);
}

}  // namespace
}  // namespace nb
