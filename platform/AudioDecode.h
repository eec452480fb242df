// Decoding of sound files through libsndfile, shared by the audio drivers.
// Sound data is handed out as interleaved 32-bit floats in -1..1 with one or
// two channels: files with more channels keep their first two.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace nb::audio {

class SoundDecoder {
public:
    // nullptr when the file or the bytes are not a sound libsndfile reads, or
    // their header is absurd (no channels, an impossible rate).
    static std::unique_ptr<SoundDecoder> OpenFile(const std::string& path);
    // Reads from `bytes` for as long as the decoder lives; the bytes must
    // stay valid and unchanged until then.
    static std::unique_ptr<SoundDecoder> OpenMemory(std::span<const uint8_t> bytes);

    ~SoundDecoder();
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;

    int Channels() const { return outChannels_; }
    int SampleRate() const { return rate_; }
    // Length in frames as the header states it; 0 or less when unknown.
    int64_t Frames() const { return frames_; }

    // Decodes up to `frames` frames into `out` (frames * Channels() floats).
    // Answers the frames decoded; 0 at the end of the data or on an error.
    int64_t Read(float* out, int64_t frames);
    // Moves to frame `frame` (0 = the start); false when the data cannot seek.
    bool Seek(int64_t frame);

private:
    struct Impl;
    explicit SoundDecoder(std::unique_ptr<Impl> impl);
    static std::unique_ptr<SoundDecoder> finishOpen(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    int outChannels_ = 0;
    int fileChannels_ = 0;
    int rate_ = 0;
    int64_t frames_ = 0;
    std::vector<float> scratch_;
};

// Longest sound decoded whole as a sample: ten minutes at 48 kHz. Longer
// data is refused rather than filling memory on a damaged header.
inline constexpr int64_t kMaxSampleFrames = int64_t(48000) * 60 * 10;

// Decodes everything that is left. False when nothing decodes or the data is
// longer than kMaxSampleFrames.
bool DecodeAll(SoundDecoder& dec, std::vector<float>& pcm);

// Frames in the decoder's data: the header's count when it gives one,
// otherwise counted by decoding (the decoder is then back at its start).
// 0 when nothing decodes.
int64_t CountFrames(SoundDecoder& dec);

// Opens a stream's data and checks that its first frames decode; the decoder
// is left at the start. nullptr when the data does not decode.
std::unique_ptr<SoundDecoder> OpenCheckedStream(const std::string& path);
std::unique_ptr<SoundDecoder> OpenCheckedStream(std::span<const uint8_t> bytes);

// Volumes outside 0..100 play at the nearest end of the scale.
inline int clampVolume(int v) { return v < 0 ? 0 : (v > 100 ? 100 : v); }

}  // namespace nb::audio
