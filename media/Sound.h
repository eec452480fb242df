// Sound effects and music by file name.
//
// Two caches, one of sound effects (decoded samples, three voices each) and
// one of music (looping streams), hold every name ever asked for, including
// the names that failed to load (handle 0): a name that failed is never
// looked for again while the program runs. Files are found in the game's
// "sounds" folder on disk and then in the resource archive as the record
// "sounds\" + name; a name that cannot be had falls back to the same name
// with the extension OGG.
//
// Music never starts or stops abruptly: starting, re-targeting and stopping
// are linear fades of a level 0..1 stepped once per process tick by
// MusicFadeStep(). The channel volume of a music is the music volume times
// its level; that of a sound effect the sound volume times the requested
// percentage.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Audio.h"

namespace nb {

class TResArchive;

// One cache entry (sound effects and music alike).
struct TSound {
    std::string name;     // as requested, upper-cased: the cache key
    AudioHandle handle = 0;  // sample (effects) or stream (music); 0 = failed
    double level = 0;     // music: the current volume factor, 0..1
    double step = 0;      // music: change of level per tick, 0 when no fade runs
    double target = 0;    // music: the level the fade heads for
};

class TSoundManager {
public:
    // The backend (and the archive) must outlive the manager.
    explicit TSoundManager(AudioBackend& audio);
    TSoundManager(AudioBackend& audio, TResArchive& archive);

    // The game's folder as a native path ("" = the current folder); sound
    // files are looked for in its "sounds" subfolder, in any letter case.
    void SetGameFolder(std::string nativeFolder);
    // The resource archive searched after the folder; nullptr for none.
    void SetArchive(TResArchive* archive) { archive_ = archive; }

    // Called after a sample was loaded (successfully or not), so that the
    // frame timer can forget the time spent loading instead of making it up
    // with a burst of ticks.
    std::function<void()> OnTimerReset;

    // The player's global volumes, 0..100 on the settings' scale (values
    // outside play at the nearest end). Setting a volume stores it only: new
    // sound effects use it, and music picks it up at its next fade step.
    int32_t SoundVolume() const { return soundVolume_; }
    void SetSoundVolume(int32_t v) { soundVolume_ = v; }
    int32_t MusicVolume() const { return musicVolume_; }
    void SetMusicVolume(int32_t v) { musicVolume_ = v; }
    // Applies the music volume at once to the first music that is playing
    // (the others follow at the next MusicFadeStep), as a script's change of
    // the music volume expects.
    void ApplyMusicVolume();

    // Cache look-ups by upper-cased name; the handle, 0 when the name cannot
    // be loaded (then cached as failed).
    AudioHandle LoadSample(const std::string& upperName);
    AudioHandle LoadStream(const std::string& upperName);

    // Plays a sound effect once at SoundVolume() * percentage div 100.
    void PlaySound(std::string_view fileName, int32_t percentage);
    // Starts a music fading in from silence over 60 ticks, or moves a music
    // that plays to percentage / 100 of the music volume over 60 ticks.
    void PlayMusic(std::string_view fileName, int32_t percentage);
    // Fades every music out over 30 ticks; each stops when silent.
    void StopMusic();
    // One tick of every music fade; called once per process tick.
    void MusicFadeStep();

    // Called once per process tick, in every phase: the backend refills its
    // music streams (the null backend advances its channels by one tick).
    void Update() { audio_.Update(); }

    // All output halts (window deactivated) and resumes together.
    void Pause() { audio_.Pause(); }
    void Resume() { audio_.Resume(); }

    const std::vector<TSound>& SoundCache() const { return sounds_; }
    const std::vector<TSound>& MusicCache() const { return music_; }
    AudioBackend& Audio() { return audio_; }

    // The name with its last three characters replaced by "OGG".
    static std::string OggVariant(std::string_view upperName);

private:
    // Index of the music entry named `upperName`, loaded and appended when
    // not cached yet.
    size_t streamEntry(const std::string& upperName);
    // Native path of the file in the sounds folder, "" when absent.
    std::string findOnDisk(const std::string& upperName) const;
    bool readFromArchive(const std::string& upperName, std::vector<uint8_t>& bytes);
    void setMusicChannelVolume(const TSound& entry);

    AudioBackend& audio_;
    TResArchive* archive_ = nullptr;
    std::string soundsFolder_ = "sounds/";
    int32_t soundVolume_ = 100;
    int32_t musicVolume_ = 50;
    std::vector<TSound> sounds_;
    std::vector<TSound> music_;
};

}  // namespace nb
