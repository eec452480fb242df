// The audio service: sound effects held as decoded samples with a few voices
// each, and music played as streams decoded a chunk at a time. Everything
// above the platform layer talks to sound only through AudioBackend.
//
// Three drivers implement it:
//   - OpenAL on the default output device (the normal player);
//   - OpenAL on a loopback device that mixes into memory on request (tests
//     and benchmarks listen to the mix through AudioLoopback::Render);
//   - null: no output at all, but the same bookkeeping (handles, decoding
//     through libsndfile so the same files fail, voices, playing state,
//     volumes, positions advancing one process tick per Update), so a
//     headless player behaves exactly like one with a loudspeaker.
//
// Handles are non-zero 32-bit numbers, unique within one backend; 0 always
// means "none" or "failed". A sample handle names decoded sound data; a
// channel handle names something that plays: a voice of a sample (answered
// by PlaySample) or a stream (answered by CreateStream*). Channel operations
// given a sample handle, a stale or an unknown handle do nothing and answer
// false / -1.
//
// Volumes are on the 0..100 scale of the game's settings; a value outside is
// clamped. Volume v plays at linear gain v / 100.
//
// Threads: every entry may be called from the game's thread. A driver that
// mixes or refills on threads of its own guards its state itself; callers
// never share memory with those threads.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace nb {

using AudioHandle = uint32_t;

// The message the shell shows when Open() fails, before ending the program.
inline constexpr const char* kAudioInitErrorText = "Error initializing audio!";

// Output format of the mix (and of the loopback renderer).
inline constexpr int kAudioMixRate = 44100;
inline constexpr int kAudioMixChannels = 2;

class AudioBackend {
public:
    virtual ~AudioBackend() = default;

    // Called once at start-up before any other entry. Starts the output.
    // False when no output device can be opened (the shell then shows
    // kAudioInitErrorText); every other entry then answers 0 / false.
    virtual bool Open() = 0;
    virtual bool IsOpen() const = 0;

    // Called when a sound effect is first needed. Decodes the whole file (any
    // format libsndfile reads: WAV, OGG Vorbis, FLAC, MP3 where supported)
    // and keeps it with up to `maxVoices` voices that may play at once.
    // Answers the sample handle, 0 when the file cannot be read or decoded.
    virtual AudioHandle LoadSampleFile(const std::string& path, int maxVoices = 3) = 0;
    // The same from bytes in memory; the bytes are decoded at once and may be
    // freed by the caller as soon as this returns.
    virtual AudioHandle LoadSampleMemory(std::span<const uint8_t> bytes, int maxVoices = 3) = 0;

    // Called to play a sound effect once. Takes a voice of the sample that
    // is not playing or, when all are busy, the one that has played longest;
    // the voice gets `volume` and plays from the start of the sample. Answers
    // the voice's channel handle (stable for that voice), 0 when the sample
    // handle is unknown.
    virtual AudioHandle PlaySample(AudioHandle sample, int volume) = 0;

    // Called when a music is first needed. Opens the file for streaming:
    // nothing is decoded beyond a first check that the data decodes; the
    // stream is created stopped at its start with volume 100. With `loop`
    // it starts over at its end and plays until stopped. Answers the stream
    // (channel) handle, 0 when the file cannot be opened or decoded.
    virtual AudioHandle CreateStreamFile(const std::string& path, bool loop) = 0;
    // The same from bytes in memory. The stream plays from these bytes, so
    // the backend keeps them for as long as it lives.
    virtual AudioHandle CreateStreamMemory(std::vector<uint8_t> bytes, bool loop) = 0;

    // Starts a channel. With `restart` it plays from its beginning; without,
    // a playing channel goes on, a stopped one continues where Stop left it,
    // and one that played to its end starts again from its beginning.
    virtual bool Play(AudioHandle channel, bool restart) = 0;
    // Stops a channel at once; its position is kept for a later Play.
    virtual bool Stop(AudioHandle channel) = 0;
    // True while the channel plays (also while all output is paused); false
    // once it was stopped or played to its end.
    virtual bool IsActive(AudioHandle channel) = 0;
    // Changes the channel's volume at once; its playing state is untouched.
    virtual bool SetVolume(AudioHandle channel, int volume) = 0;
    // The channel's volume, -1 for an unknown handle.
    virtual int GetVolume(AudioHandle channel) = 0;
    // Frames played since the channel's start (within the current loop of a
    // looping stream), -1 for an unknown handle.
    virtual int64_t GetPosition(AudioHandle channel) = 0;

    // Called once per process tick by the shell. Refills the queued buffers
    // of playing streams and notices channels that ended. A driver with a
    // refill thread of its own may do nothing more than that thread does;
    // the null driver advances every playing channel by one tick here.
    virtual void Update() = 0;

    // Called when the window is deactivated or minimised: all output halts,
    // every channel keeping its place. Resume() continues all of it together.
    // Channels started while paused begin to sound on Resume().
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    virtual bool IsPaused() const = 0;
};

// A backend whose mix is produced on request into memory.
class AudioLoopback : public AudioBackend {
public:
    // Mixes the next `frames` frames of kAudioMixChannels interleaved floats
    // at kAudioMixRate into `out` (which holds frames * kAudioMixChannels
    // values). While paused the output is silence and nothing advances.
    // False when the backend is not open.
    virtual bool Render(float* out, int frames) = 0;
};

// No output; every channel advances by sampleRate / ticksPerSecond frames per
// Update(). Open() always succeeds.
std::unique_ptr<AudioBackend> CreateNullAudio(int ticksPerSecond = 30);
// OpenAL on the default output device, with a small refill thread so music
// keeps playing through a long tick.
std::unique_ptr<AudioBackend> CreateOpenALAudio();
// OpenAL's loopback device (ALC_SOFT_loopback). Open() fails when the
// installed OpenAL has no loopback support.
std::unique_ptr<AudioLoopback> CreateLoopbackAudio();
// The player's choice: the null output under --headless, OpenAL otherwise.
std::unique_ptr<AudioBackend> CreateAudioBackend(bool headless);

}  // namespace nb
