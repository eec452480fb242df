// The sound and music manager on the null backend: caches, the sounds
// folder and the archive, the OGG fall-back, volumes and music fades. These
// run everywhere; what is actually heard is checked in sound_mix_test.cpp.
#include <gtest/gtest.h>

#include "archive/ResArchive.h"
#include "media/Sound.h"
#include "tests/media/sound_support.h"

namespace nb {
namespace {

using namespace soundtest;

class SoundManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(null->Open());
        sm.SetGameFolder(dir.path());
        sm.OnTimerReset = [this] { ++timerResets; };
    }
    // Writes a tone into the game's sounds folder.
    void sound(const std::string& name, double seconds = 1.0, bool ogg = false) {
        Tone t;
        t.seconds = seconds;
        std::string p = dir.file("sounds/" + name);
        ASSERT_TRUE(ogg ? writeOggTone(p, t) : writeTone(p, t));
    }
    // One process tick as the shell runs it.
    void tick() {
        sm.MusicFadeStep();
        sm.Update();
    }
    const TSound* music(const std::string& upperName) {
        for (const TSound& m : sm.MusicCache())
            if (m.name == upperName) return &m;
        return nullptr;
    }

    TempDir dir;
    std::unique_ptr<AudioBackend> null = CreateNullAudio();
    RecordingAudio rec{*null};
    TSoundManager sm{rec};
    int timerResets = 0;
};

TEST_F(SoundManagerTest, EffectVolumeIsSoundVolumeTimesPercentDiv100) {
    sound("door.wav");
    EXPECT_EQ(sm.SoundVolume(), 100);
    EXPECT_EQ(sm.MusicVolume(), 50);
    sm.PlaySound("door.wav", 100);
    sm.SetSoundVolume(75);
    sm.PlaySound("door.wav", 40);  // 75 x 40 div 100 = 30
    sm.SetSoundVolume(33);
    sm.PlaySound("DOOR.WAV", 40);  // 1320 div 100 = 13, truncated
    sm.SetSoundVolume(99);
    sm.PlaySound("door.wav", 50);   // 49.5 truncated, not rounded: 49
    sm.PlaySound("Door.Wav", -50);  // -49: played silent, not refused
    ASSERT_EQ(rec.plays.size(), 5u);
    EXPECT_EQ(rec.plays[0].volume, 100);
    EXPECT_EQ(rec.plays[1].volume, 30);
    EXPECT_EQ(rec.plays[2].volume, 13);
    EXPECT_EQ(rec.plays[3].volume, 49);
    EXPECT_EQ(rec.plays[4].volume, -49);
    EXPECT_EQ(null->GetVolume(rec.plays[4].channel), 0);
    // One file, loaded once, under its upper-cased name; the timer was reset
    // after that one load only.
    ASSERT_EQ(sm.SoundCache().size(), 1u);
    EXPECT_EQ(sm.SoundCache()[0].name, "DOOR.WAV");
    EXPECT_EQ(rec.sampleFiles.size(), 1u);
    EXPECT_EQ(timerResets, 1);
    // Plays in one tick: the fourth reuses the first voice, the fifth the
    // second.
    EXPECT_EQ(rec.plays[3].channel, rec.plays[0].channel);
    EXPECT_EQ(rec.plays[4].channel, rec.plays[1].channel);
    EXPECT_NE(rec.plays[1].channel, rec.plays[2].channel);
}

TEST_F(SoundManagerTest, OggFallBackAndFailedNamesStayCached) {
    sound("door.ogg", 1.0, true);
    sm.PlaySound("door.mp3", 100);
    ASSERT_EQ(rec.plays.size(), 1u);
    ASSERT_EQ(sm.SoundCache().size(), 2u);
    EXPECT_EQ(sm.SoundCache()[0].name, "DOOR.MP3");
    EXPECT_EQ(sm.SoundCache()[0].handle, 0u);
    EXPECT_EQ(sm.SoundCache()[1].name, "DOOR.OGG");
    EXPECT_EQ(rec.plays[0].sample, sm.SoundCache()[1].handle);
    EXPECT_EQ(timerResets, 2);  // one per new cache entry, failed or not

    // door.mp3 appears later: the failed name is not looked for again.
    sound("door.mp3");
    sm.PlaySound("door.mp3", 100);
    ASSERT_EQ(rec.plays.size(), 2u);
    EXPECT_EQ(rec.plays[1].sample, sm.SoundCache()[1].handle);
    EXPECT_EQ(sm.SoundCache().size(), 2u);
    EXPECT_EQ(rec.sampleFiles.size(), 1u);

    // A name never asked for whose OGG variant is cached plays that sample:
    // the cache is searched for either name before any file is looked for,
    // so door.wav on disk is neither loaded nor cached.
    sound("door.wav");
    sm.PlaySound("door.wav", 100);
    ASSERT_EQ(rec.plays.size(), 3u);
    EXPECT_EQ(rec.plays[2].sample, sm.SoundCache()[1].handle);
    EXPECT_EQ(sm.SoundCache().size(), 2u);
    EXPECT_EQ(rec.sampleFiles.size(), 1u);
    EXPECT_EQ(timerResets, 2);

    // Music falls back the same way, through its own cache.
    sound("theme.ogg", 1.0, true);
    sm.PlayMusic("theme.wav", 100);
    ASSERT_NE(music("THEME.OGG"), nullptr);
    ASSERT_NE(music("THEME.WAV"), nullptr);
    EXPECT_EQ(music("THEME.WAV")->handle, 0u);
    EXPECT_TRUE(null->IsActive(music("THEME.OGG")->handle));
    sound("theme.wav");
    sm.PlayMusic("theme.wav", 100);
    EXPECT_EQ(sm.MusicCache().size(), 2u);
    EXPECT_EQ(rec.streamFiles.size(), 1u);
    // theme.aif exists but is never opened: its OGG variant is cached with a
    // stream, which is re-targeted without a restart.
    sound("theme.aif");
    sm.PlayMusic("theme.aif", 40);
    EXPECT_EQ(sm.MusicCache().size(), 2u);
    EXPECT_EQ(rec.streamFiles.size(), 1u);
    EXPECT_EQ(rec.playCalls.size(), 1u);
    EXPECT_DOUBLE_EQ(music("THEME.OGG")->target, 0.4);

    // Nothing at all: both names cached as failed, nothing plays, and a
    // second try costs no look-up.
    sm.PlaySound("ghost.wav", 100);
    sm.PlaySound("ghost.wav", 100);
    EXPECT_EQ(rec.plays.size(), 3u);
    EXPECT_EQ(sm.SoundCache().size(), 4u);
    EXPECT_EQ(sm.SoundCache()[3].name, "GHOST.OGG");
    // An empty name (no sound-table entry) plays nothing and caches nothing.
    sm.PlaySound("", 100);
    sm.PlayMusic("", 100);
    EXPECT_EQ(sm.SoundCache().size(), 4u);
    EXPECT_EQ(sm.MusicCache().size(), 2u);
    EXPECT_EQ(TSoundManager::OggVariant("AB"), "OGG");
    EXPECT_EQ(TSoundManager::OggVariant("MUSIC\\TRACK.MP3"), "MUSIC\\TRACK.OGG");
}

TEST_F(SoundManagerTest, FilesAreFoundInAnyCaseOnDiskThenInTheArchive) {
    // On disk in other letter cases, also in a subfolder named with a
    // backslash as the game writes it.
    sound("Sfx/Click.Wav");
    sm.PlaySound("sfx\\CLICK.wav", 100);
    ASSERT_EQ(rec.plays.size(), 1u);
    EXPECT_NE(rec.plays[0].sample, 0u);

    // Not on disk: the archive record "sounds\" + name, whatever its case.
    Tone t;
    std::vector<uint8_t> wav = toneBytes(dir, t);
    std::vector<uint8_t> ogg = toneBytes(dir, t, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    std::string arcPath = dir.file("data.arc");
    ASSERT_TRUE(writeArchive(arcPath, {{"sounds\\bell.wav", wav},
                                       {"Sounds\\Theme.OGG", ogg},
                                       {"sounds\\broken.wav", {'n', 'o', 'p', 'e'}},
                                       {"sounds\\shadow.wav", wav}}));
    TResArchive arc;
    arc.OpenMode = TOpenModes::opReadOnly;
    arc.SetFileName(arcPath);
    sm.SetArchive(&arc);
    sm.PlaySound("bell.wav", 100);
    ASSERT_EQ(rec.plays.size(), 2u);
    EXPECT_NE(rec.plays[1].sample, 0u);
    EXPECT_EQ(rec.memorySamples, 1);

    // A record that does not decode fails like a bad file (and its OGG
    // variant is tried next).
    sm.PlaySound("broken.wav", 100);
    EXPECT_EQ(rec.plays.size(), 2u);

    // The disk wins: a damaged file on disk is not replaced by the record.
    writeBytes(dir.file("sounds/shadow.wav"), {'b', 'a', 'd'});
    sm.PlaySound("shadow.wav", 100);
    EXPECT_EQ(rec.plays.size(), 2u);
    EXPECT_EQ(rec.memorySamples, 2);  // broken.wav only

    // Music from the archive keeps playing from the bytes it was made from.
    sm.PlayMusic("theme.ogg", 100);
    const TSound* m = music("THEME.OGG");
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->handle, 0u);
    EXPECT_EQ(rec.memoryStreams, 1);
    for (int i = 0; i < 90; ++i) tick();
    EXPECT_TRUE(null->IsActive(m->handle));
    EXPECT_EQ(null->GetVolume(m->handle), 50);
}

TEST_F(SoundManagerTest, MusicFadesInOverSixtyTicksWithHalvesToEven) {
    sound("theme.wav", 2.0);
    sm.PlayMusic("theme.wav", 100);
    const TSound* m = music("THEME.WAV");
    ASSERT_NE(m, nullptr);
    AudioHandle h = m->handle;
    ASSERT_TRUE(null->IsActive(h));
    EXPECT_EQ(null->GetVolume(h), 0);
    ASSERT_EQ(rec.playCalls.size(), 1u);
    EXPECT_TRUE(rec.playCalls[0].second);  // from its beginning

    // Music volume 50 x k/60: 0.83 -> 1; 2.5 -> 2 and 7.5 -> 8 (halves to
    // the even neighbour); 50 after 60 ticks, and there it stays.
    std::vector<int> vol;
    for (int k = 1; k <= 62; ++k) {
        tick();
        vol.push_back(null->GetVolume(h));
    }
    EXPECT_EQ(vol[0], 1);
    EXPECT_EQ(vol[2], 2);
    EXPECT_EQ(vol[8], 8);
    EXPECT_EQ(vol[29], 25);
    EXPECT_EQ(vol[58], 49);
    EXPECT_EQ(vol[59], 50);
    EXPECT_EQ(vol[61], 50);
    for (size_t i = 1; i < vol.size(); ++i) EXPECT_GE(vol[i], vol[i - 1]);
    EXPECT_DOUBLE_EQ(m->level, 1.0);
    EXPECT_EQ(m->step, 0.0);

    // 50 per cent of a music at level 1: down to 0.5 in 60 ticks, without a
    // restart (its position runs on).
    int64_t before = null->GetPosition(h);
    sm.PlayMusic("THEME.WAV", 50);
    EXPECT_EQ(rec.playCalls.size(), 1u);
    for (int k = 0; k < 30; ++k) tick();
    EXPECT_NEAR(m->level, 0.75, 1e-9);
    for (int k = 0; k < 30; ++k) tick();
    EXPECT_NEAR(m->level, 0.5, 1e-9);
    EXPECT_EQ(null->GetVolume(h), 25);
    EXPECT_EQ(null->GetPosition(h), (before + 60 * 1470) % 88200);
    tick();
    EXPECT_EQ(m->level, 0.5);  // the fade has ended exactly on its target
    EXPECT_EQ(m->step, 0.0);

    // The music volume: stored only, until applied or the next fade step.
    sm.SetMusicVolume(80);
    EXPECT_EQ(null->GetVolume(h), 25);
    sm.ApplyMusicVolume();
    EXPECT_EQ(null->GetVolume(h), 40);

    // A music fading out (as at a screen change) that is asked for again
    // plays on and turns back from where it stands: 0.5 - 10 x 0.5/30 = 1/3,
    // then up to 1 in 60 ticks, without a restart.
    sm.StopMusic();
    for (int k = 0; k < 10; ++k) tick();
    EXPECT_NEAR(m->level, 1.0 / 3.0, 1e-9);
    sm.PlayMusic("theme.wav", 100);
    EXPECT_EQ(rec.playCalls.size(), 1u);
    EXPECT_NEAR(m->step, (1.0 - 1.0 / 3.0) / 60.0, 1e-12);
    for (int k = 0; k < 59; ++k) tick();
    EXPECT_LT(m->level, 1.0);
    EXPECT_EQ(null->GetVolume(h), 79);
    tick();
    tick();
    EXPECT_EQ(m->level, 1.0);
    EXPECT_EQ(null->GetVolume(h), 80);
    EXPECT_TRUE(null->IsActive(h));
}

TEST_F(SoundManagerTest, StopMusicFadesOutOverThirtyTicksAndStops) {
    sound("a.wav", 2.0);
    sound("b.wav", 2.0);
    sm.PlayMusic("a.wav", 100);
    for (int k = 0; k < 30; ++k) tick();  // half way in: level 0.5
    AudioHandle a = music("A.WAV")->handle;
    EXPECT_EQ(null->GetVolume(a), 25);

    // Stopping during the fade-in reverses it: 0.5 down to 0 in 30 ticks.
    sm.StopMusic();
    for (int k = 0; k < 15; ++k) tick();
    EXPECT_NEAR(music("A.WAV")->level, 0.25, 1e-9);
    EXPECT_EQ(null->GetVolume(a), 12);  // 12.5 -> 12
    for (int k = 0; k < 14; ++k) tick();
    EXPECT_TRUE(null->IsActive(a));
    EXPECT_EQ(null->GetVolume(a), 1);
    // Silent after 30 ticks; stopped at the latest on the next one (the sum
    // of thirty steps may miss 0 by a rounding error).
    tick();
    EXPECT_EQ(null->GetVolume(a), 0);
    tick();
    EXPECT_FALSE(null->IsActive(a));
    EXPECT_EQ(null->GetVolume(a), 0);

    // A stopped music starts again from its beginning, fading in.
    sm.PlayMusic("a.wav", 100);
    EXPECT_EQ(null->GetPosition(a), 0);
    ASSERT_EQ(rec.playCalls.size(), 2u);
    EXPECT_TRUE(rec.playCalls[1].second);

    // A music stopped in the very tick it was started does not play on
    // silently: it is stopped at once and a later start begins afresh.
    sm.StopMusic();
    EXPECT_FALSE(null->IsActive(a));
    sm.PlayMusic("b.wav", 100);
    tick();
    sm.PlayMusic("a.wav", 100);
    sm.StopMusic();
    EXPECT_FALSE(null->IsActive(a));
    EXPECT_TRUE(null->IsActive(music("B.WAV")->handle));  // audible: fades out

    // Pause and resume reach the backend.
    sm.Pause();
    EXPECT_TRUE(null->IsPaused());
    sm.Resume();
    EXPECT_FALSE(null->IsPaused());
}

TEST_F(SoundManagerTest, ApplyMusicVolumeTouchesOnlyTheFirstPlayingMusic) {
    sound("a.wav", 2.0);
    sound("b.wav", 2.0);
    sound("c.wav", 2.0);
    sm.PlayMusic("a.wav", 100);
    sm.PlayMusic("b.wav", 100);
    sm.PlayMusic("c.wav", 100);
    for (int k = 0; k < 60; ++k) tick();
    sm.StopMusic();
    for (int k = 0; k < 30; ++k) tick();
    sm.PlayMusic("b.wav", 100);
    sm.PlayMusic("c.wav", 100);
    for (int k = 0; k < 60; ++k) tick();
    AudioHandle a = music("A.WAV")->handle, b = music("B.WAV")->handle, c = music("C.WAV")->handle;
    ASSERT_FALSE(null->IsActive(a));
    sm.SetMusicVolume(90);
    sm.ApplyMusicVolume();
    EXPECT_EQ(null->GetVolume(b), 90);  // the first entry that plays
    EXPECT_EQ(null->GetVolume(c), 50);  // the others wait for the next step
    tick();
    EXPECT_EQ(null->GetVolume(c), 90);
    // With no music playing it changes nothing and does no harm.
    sm.StopMusic();
    for (int k = 0; k < 31; ++k) tick();
    ASSERT_FALSE(null->IsActive(b) || null->IsActive(c));
    sm.SetMusicVolume(10);
    sm.ApplyMusicVolume();
    EXPECT_EQ(null->GetVolume(b), 0);
}

}  // namespace
}  // namespace nb
