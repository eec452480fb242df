// Helpers of the sound tests: sound files of known content written with
// libsndfile, small resource archives, a recording wrapper around a backend,
// and measurements of a rendered mix.
#pragma once

#include <sndfile.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Audio.h"
#include "platform/ByteIO.h"

namespace nb::soundtest {

constexpr double kPi = 3.14159265358979323846;

// A fresh folder removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "nbsoundXXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data())) path_ = buf.data();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() + "/" + rel, with its folders created.
    std::string file(const std::string& rel) const {
        std::filesystem::path p = std::filesystem::path(path_) / rel;
        std::filesystem::create_directories(p.parent_path());
        return p.string();
    }

private:
    std::string path_;
};

struct Tone {
    double freq = 441.0;       // Hz
    double amplitude = 0.5;    // peak, 0..1
    double seconds = 1.0;
    int rate = kAudioMixRate;
    int channels = 1;
};

// Writes a sine tone with libsndfile; `format` is a libsndfile format word
// such as SF_FORMAT_WAV | SF_FORMAT_FLOAT. False when libsndfile refuses.
inline bool writeTone(const std::string& path, const Tone& t, int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
    SF_INFO info{};
    info.samplerate = t.rate;
    info.channels = t.channels;
    info.format = format;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!sf) return false;
    const int64_t frames = int64_t(t.seconds * t.rate);
    std::vector<float> data(size_t(frames * t.channels));
    for (int64_t i = 0; i < frames; ++i) {
        float v = float(t.amplitude * std::sin(2 * kPi * t.freq * double(i) / t.rate));
        for (int c = 0; c < t.channels; ++c) data[size_t(i * t.channels + c)] = v;
    }
    bool ok = sf_writef_float(sf, data.data(), frames) == frames;
    return sf_close(sf) == 0 && ok;
}

inline bool writeOggTone(const std::string& path, const Tone& t) {
    return writeTone(path, t, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The bytes of a tone file of the given format, made through a scratch file.
inline std::vector<uint8_t> toneBytes(const TempDir& dir, const Tone& t,
                                      int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
    std::string scratch = dir.file("scratch.snd");
    if (!writeTone(scratch, t, format)) return {};
    auto bytes = readBytes(scratch);
    std::filesystem::remove(scratch);
    return bytes;
}

// Writes an "ASDb" resource archive holding `records` (key, file bytes),
// each compressed with zlib.
inline bool writeArchive(const std::string& path,
                         const std::vector<std::pair<std::string, std::vector<uint8_t>>>& records) {
    ByteWriter w;
    w.bytes("ASDb", 4);
    w.u32(uint32_t(records.size()));
    w.u32(0);  // table offset, patched below
    std::vector<int32_t> offsets;
    for (const auto& [key, data] : records) {
        uLongf packedSize = compressBound(uLong(data.size()));
        std::vector<uint8_t> packed(packedSize);
        if (compress2(packed.data(), &packedSize, data.data(), uLong(data.size()), 9) != Z_OK) return false;
        offsets.push_back(int32_t(w.size()));
        w.u16(0);  // kind: an ordinary file
        w.i32(int32_t(data.size()));
        w.i32(int32_t(packedSize));
        w.f64(45000.5);
        uint8_t zeros[16] = {};
        w.bytes(zeros, 16);  // checksum (not verified)
        w.u16(0);            // flags: not enciphered
        w.bytes(zeros, 8);   // cipher initial value
        w.bytes(packed.data(), packedSize);
    }
    w.patchI32(8, int32_t(w.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        w.str32(records[i].first);
        w.i32(offsets[i]);
    }
    writeBytes(path, w.buffer());
    return true;
}

// Forwards to a real backend and records what was asked of it.
class RecordingAudio final : public AudioBackend {
public:
    explicit RecordingAudio(AudioBackend& inner) : inner_(inner) {}

    struct PlayCall {
        AudioHandle sample;
        int volume;
        AudioHandle channel;
    };
    std::vector<PlayCall> plays;
    std::vector<std::string> sampleFiles;   // paths given to LoadSampleFile
    std::vector<std::string> streamFiles;   // paths given to CreateStreamFile
    int memorySamples = 0;
    int memoryStreams = 0;
    std::vector<std::pair<AudioHandle, bool>> playCalls;  // Play(handle, restart)
    int stops = 0;

    bool Open() override { return inner_.Open(); }
    bool IsOpen() const override { return inner_.IsOpen(); }
    AudioHandle LoadSampleFile(const std::string& path, int maxVoices) override {
        sampleFiles.push_back(path);
        return inner_.LoadSampleFile(path, maxVoices);
    }
    AudioHandle LoadSampleMemory(std::span<const uint8_t> bytes, int maxVoices) override {
        ++memorySamples;
        return inner_.LoadSampleMemory(bytes, maxVoices);
    }
    AudioHandle PlaySample(AudioHandle sample, int volume) override {
        AudioHandle ch = inner_.PlaySample(sample, volume);
        plays.push_back({sample, volume, ch});
        return ch;
    }
    AudioHandle CreateStreamFile(const std::string& path, bool loop) override {
        streamFiles.push_back(path);
        return inner_.CreateStreamFile(path, loop);
    }
    AudioHandle CreateStreamMemory(std::vector<uint8_t> bytes, bool loop) override {
        ++memoryStreams;
        return inner_.CreateStreamMemory(std::move(bytes), loop);
    }
    bool Play(AudioHandle h, bool restart) override {
        playCalls.emplace_back(h, restart);
        return inner_.Play(h, restart);
    }
    bool Stop(AudioHandle h) override {
        ++stops;
        return inner_.Stop(h);
    }
    bool IsActive(AudioHandle h) override { return inner_.IsActive(h); }
    bool SetVolume(AudioHandle h, int v) override { return inner_.SetVolume(h, v); }
    int GetVolume(AudioHandle h) override { return inner_.GetVolume(h); }
    int64_t GetPosition(AudioHandle h) override { return inner_.GetPosition(h); }
    void Update() override { inner_.Update(); }
    void Pause() override { inner_.Pause(); }
    void Resume() override { inner_.Resume(); }
    bool IsPaused() const override { return inner_.IsPaused(); }

private:
    AudioBackend& inner_;
};

// ---- measuring a rendered mix (interleaved stereo floats) ------------------

// Amplitude of the sine of frequency `freq` in the left channel of frames
// [from, from + count): the magnitude of its Fourier coefficient, so other
// tones whose periods fit the window do not count.
inline double toneAmplitude(const std::vector<float>& mix, size_t from, size_t count, double freq,
                            int rate = kAudioMixRate) {
    double re = 0, im = 0;
    for (size_t i = 0; i < count; ++i) {
        double x = mix[(from + i) * 2];
        double ph = 2 * kPi * freq * double(i) / rate;
        re += x * std::cos(ph);
        im += x * std::sin(ph);
    }
    return 2.0 * std::sqrt(re * re + im * im) / double(count);
}

// Root mean square of the left channel over frames [from, from + count).
inline double rms(const std::vector<float>& mix, size_t from, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i) sum += double(mix[(from + i) * 2]) * mix[(from + i) * 2];
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

}  // namespace nb::soundtest
