// The OpenAL audio driver, on the default output device or on a loopback
// device that mixes into memory when asked (ALC_SOFT_loopback).
//
// Samples are decoded whole into one OpenAL buffer; a voice borrows a source
// from a shared pool while it plays and gives it back when it ends, so a game
// with hundreds of different sound effects needs only as many sources as
// sounds play at once. A stream owns one source and a ring of small buffers
// that are decoded and queued as the source consumes them.
//
// Every entry takes the driver's lock and makes the driver's context current
// for the calling thread only (ALC_EXT_thread_local_context where present),
// so two drivers in one process never disturb each other. On a real device a
// refill thread tops up the streams every few milliseconds under the same
// lock, so music goes on through a tick that takes long (loading a screen);
// the loopback driver has no thread: its streams are refilled by Update() and
// it only advances inside Render(), which makes its output exactly
// repeatable.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/Audio.h"
#include "platform/AudioDecode.h"

namespace nb {

namespace {

constexpr int kStreamBuffers = 4;
constexpr int64_t kStreamChunkFrames = 4096;
constexpr int kMonoSources = 255;
constexpr int kStereoSources = 32;

using LoopbackOpenFn = ALCdevice*(ALC_APIENTRY*)(const ALCchar*);
using FormatSupportedFn = ALCboolean(ALC_APIENTRY*)(ALCdevice*, ALCsizei, ALCenum, ALCenum);
using RenderSamplesFn = void(ALC_APIENTRY*)(ALCdevice*, ALCvoid*, ALCsizei);
using DevicePauseFn = void(ALC_APIENTRY*)(ALCdevice*);
using SetThreadContextFn = ALCboolean(ALC_APIENTRY*)(ALCcontext*);
using GetThreadContextFn = ALCcontext*(ALC_APIENTRY*)();

class OpenALAudio final : public AudioLoopback {
public:
    explicit OpenALAudio(bool loopback) : loopback_(loopback) {}
    ~OpenALAudio() override { close(); }

    bool Open() override {
        std::lock_guard lock(mu_);
        if (open_) return true;
        if (!openDevice()) {
            releaseDevice();
            return false;
        }
        open_ = true;
        if (!loopback_) refillThread_ = std::thread([this] { refillLoop(); });
        return true;
    }
    bool IsOpen() const override { return open_; }

    AudioHandle LoadSampleFile(const std::string& path, int maxVoices) override {
        if (!open_) return 0;
        auto dec = audio::SoundDecoder::OpenFile(path);
        return dec ? addSample(*dec, maxVoices) : 0;
    }
    AudioHandle LoadSampleMemory(std::span<const uint8_t> bytes, int maxVoices) override {
        if (!open_) return 0;
        auto dec = audio::SoundDecoder::OpenMemory(bytes);
        return dec ? addSample(*dec, maxVoices) : 0;
    }

    AudioHandle PlaySample(AudioHandle sample, int volume) override {
        std::lock_guard lock(mu_);
        auto it = samples_.find(sample);
        if (!open_ || it == samples_.end()) return 0;
        bind();
        AudioHandle pick = 0;
        uint64_t oldest = UINT64_MAX;
        for (AudioHandle v : it->second.voices) {
            if (!voiceActive(voices_.at(v))) {
                pick = v;
                break;
            }
            if (voices_.at(v).startSeq < oldest) {
                oldest = voices_.at(v).startSeq;
                pick = v;
            }
        }
        Voice& v = voices_.at(pick);
        v.volume = audio::clampVolume(volume);
        return startVoice(v, 0) ? pick : 0;
    }

    AudioHandle CreateStreamFile(const std::string& path, bool loop) override {
        if (!open_) return 0;
        auto dec = audio::OpenCheckedStream(path);
        return dec ? addStream(std::move(dec), loop, {}) : 0;
    }
    AudioHandle CreateStreamMemory(std::vector<uint8_t> bytes, bool loop) override {
        if (!open_) return 0;
        // The decoder reads from the vector's buffer, which moves with the
        // vector into the stream and stays put until the stream is freed.
        auto dec = audio::OpenCheckedStream(std::span<const uint8_t>(bytes));
        return dec ? addStream(std::move(dec), loop, std::move(bytes)) : 0;
    }

    bool Play(AudioHandle h, bool restart) override {
        std::lock_guard lock(mu_);
        if (!open_) return false;
        bind();
        if (Voice* v = findVoice(h)) {
            if (voiceActive(*v) && !restart) return true;
            int64_t from = (restart || v->ended) ? 0 : v->heldPos;
            return startVoice(*v, from);
        }
        if (Stream* s = findStream(h)) {
            if (s->playing && !restart) return true;
            if (restart || s->ended) rewindStream(*s, 0);
            s->playing = true;
            s->ended = false;
            refill(*s);
            return true;
        }
        return false;
    }

    bool Stop(AudioHandle h) override {
        std::lock_guard lock(mu_);
        if (!open_) return false;
        bind();
        if (Voice* v = findVoice(h)) {
            if (voiceActive(*v)) {
                ALint off = 0;
                alGetSourcei(v->source, AL_SAMPLE_OFFSET, &off);
                v->heldPos = off;
                releaseVoiceSource(*v);
                v->playing = false;
            }
            return true;
        }
        if (Stream* s = findStream(h)) {
            if (s->playing) {
                int64_t pos = streamPosition(*s);
                rewindStream(*s, pos);
                s->playing = false;
            }
            return true;
        }
        return false;
    }

    bool IsActive(AudioHandle h) override {
        std::lock_guard lock(mu_);
        if (!open_) return false;
        bind();
        if (Voice* v = findVoice(h)) return voiceActive(*v);
        if (Stream* s = findStream(h)) {
            if (s->playing) refill(*s);  // notices a stream that played out
            return s->playing;
        }
        return false;
    }

    bool SetVolume(AudioHandle h, int volume) override {
        std::lock_guard lock(mu_);
        if (!open_) return false;
        bind();
        volume = audio::clampVolume(volume);
        if (Voice* v = findVoice(h)) {
            v->volume = volume;
            if (v->source) alSourcef(v->source, AL_GAIN, float(volume) / 100.0f);
            return true;
        }
        if (Stream* s = findStream(h)) {
            s->volume = volume;
            alSourcef(s->source, AL_GAIN, float(volume) / 100.0f);
            return true;
        }
        return false;
    }

    int GetVolume(AudioHandle h) override {
        std::lock_guard lock(mu_);
        if (Voice* v = findVoice(h)) return v->volume;
        if (Stream* s = findStream(h)) return s->volume;
        return -1;
    }

    int64_t GetPosition(AudioHandle h) override {
        std::lock_guard lock(mu_);
        if (!open_) return -1;
        bind();
        if (Voice* v = findVoice(h)) {
            if (!voiceActive(*v)) return v->heldPos;
            ALint off = 0;
            alGetSourcei(v->source, AL_SAMPLE_OFFSET, &off);
            return off;
        }
        if (Stream* s = findStream(h)) return streamPosition(*s);
        return -1;
    }

    void Update() override {
        std::lock_guard lock(mu_);
        if (!open_) return;
        bind();
        refillAll();
        for (auto& [h, v] : voices_) voiceActive(v);  // gives finished voices' sources back
    }

    void Pause() override {
        std::lock_guard lock(mu_);
        if (!open_ || paused_) return;
        bind();
        paused_ = true;
        if (loopback_) return;  // Render() produces silence while paused
        if (devicePause_) {
            devicePause_(device_);
            return;
        }
        // No device pause: halt every sounding source and remember it.
        for (auto& [h, v] : voices_)
            if (v.source) pauseSource(v.source);
        for (auto& [h, s] : streams_)
            if (s.playing) pauseSource(s.source);
    }

    void Resume() override {
        std::lock_guard lock(mu_);
        if (!open_ || !paused_) return;
        bind();
        paused_ = false;
        if (loopback_) return;
        if (devicePause_) {
            deviceResume_(device_);
            return;
        }
        for (ALuint src : pausedSources_) {
            ALint st = 0;
            alGetSourcei(src, AL_SOURCE_STATE, &st);
            if (st == AL_PAUSED) alSourcePlay(src);
        }
        pausedSources_.clear();
    }

    bool IsPaused() const override { return paused_; }

    bool Render(float* out, int frames) override {
        std::lock_guard lock(mu_);
        if (!open_ || !loopback_ || frames <= 0) return false;
        if (paused_) {
            std::memset(out, 0, sizeof(float) * size_t(frames) * kAudioMixChannels);
            return true;
        }
        bind();
        renderSamples_(device_, out, frames);
        return true;
    }

private:
    struct Sample {
        ALuint buffer = 0;
        int64_t frames = 0;
        std::vector<AudioHandle> voices;
    };
    struct Voice {
        AudioHandle sample = 0;
        ALuint buffer = 0;
        ALuint source = 0;  // borrowed from the pool while playing
        int volume = 100;
        bool playing = false;
        bool ended = false;
        int64_t heldPos = 0;  // where Stop left it
        uint64_t startSeq = 0;
    };
    struct Stream {
        std::vector<uint8_t> bytes;  // the data of a stream made from memory
        std::unique_ptr<audio::SoundDecoder> dec;
        ALuint source = 0;
        std::array<ALuint, kStreamBuffers> buffers{};
        std::vector<ALuint> freeBuffers;
        std::deque<int64_t> queuedStart;  // file frame at which each queued buffer begins
        ALenum format = 0;
        int channels = 0;
        int rate = 0;
        bool loop = false;
        bool playing = false;
        bool ended = false;    // played to its end (streams without loop)
        bool drained = false;  // nothing more to decode
        int volume = 100;
        int64_t decodePos = 0;    // file frame the decoder reads next
        int64_t loopLength = 0;   // frames in the file, known once the end was reached
    };

    // ---- device ----------------------------------------------------------

    bool openDevice() {
        std::vector<ALCint> attrs;
        if (loopback_) {
            if (!alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback")) return false;
            auto openFn = reinterpret_cast<LoopbackOpenFn>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
            auto supported =
                reinterpret_cast<FormatSupportedFn>(alcGetProcAddress(nullptr, "alcIsRenderFormatSupportedSOFT"));
            renderSamples_ = reinterpret_cast<RenderSamplesFn>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
            if (!openFn || !supported || !renderSamples_) return false;
            device_ = openFn(nullptr);
            if (!device_) return false;
            if (!supported(device_, kAudioMixRate, ALC_STEREO_SOFT, ALC_FLOAT_SOFT)) return false;
            attrs = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_FLOAT_SOFT};
        } else {
            device_ = alcOpenDevice(nullptr);
            if (!device_) return false;
        }
        attrs.insert(attrs.end(), {ALC_FREQUENCY, kAudioMixRate, ALC_MONO_SOURCES, kMonoSources,
                                   ALC_STEREO_SOURCES, kStereoSources});
        // Plain linear mixing: no head-related filtering, no output limiter,
        // so a volume is exactly a gain.
        if (alcIsExtensionPresent(device_, "ALC_SOFT_HRTF")) attrs.insert(attrs.end(), {ALC_HRTF_SOFT, ALC_FALSE});
        if (alcIsExtensionPresent(device_, "ALC_SOFT_output_limiter"))
            attrs.insert(attrs.end(), {ALC_OUTPUT_LIMITER_SOFT, ALC_FALSE});
        attrs.push_back(0);
        context_ = alcCreateContext(device_, attrs.data());
        if (!context_) return false;
        if (alcIsExtensionPresent(nullptr, "ALC_EXT_thread_local_context")) {
            setThreadContext_ =
                reinterpret_cast<SetThreadContextFn>(alcGetProcAddress(nullptr, "alcSetThreadContext"));
            getThreadContext_ =
                reinterpret_cast<GetThreadContextFn>(alcGetProcAddress(nullptr, "alcGetThreadContext"));
        }
        if (!setThreadContext_ || !getThreadContext_) {
            setThreadContext_ = nullptr;
            getThreadContext_ = nullptr;
        }
        if (!loopback_ && alcIsExtensionPresent(device_, "ALC_SOFT_pause_device")) {
            devicePause_ = reinterpret_cast<DevicePauseFn>(alcGetProcAddress(device_, "alcDevicePauseSOFT"));
            deviceResume_ = reinterpret_cast<DevicePauseFn>(alcGetProcAddress(device_, "alcDeviceResumeSOFT"));
            if (!devicePause_ || !deviceResume_) devicePause_ = deviceResume_ = nullptr;
        }
        bind();
        floatFormats_ = alIsExtensionPresent("AL_EXT_FLOAT32");
        return true;
    }

    void releaseDevice() {
        if (context_) {
            unbind();
            alcDestroyContext(context_);
            context_ = nullptr;
        }
        if (device_) {
            alcCloseDevice(device_);
            device_ = nullptr;
        }
    }

    void close() {
        if (refillThread_.joinable()) {
            {
                std::lock_guard lock(mu_);
                stopThread_ = true;
            }
            wake_.notify_all();
            refillThread_.join();
        }
        std::lock_guard lock(mu_);
        if (open_) {
            bind();
            for (auto& [h, s] : streams_) {
                alSourceStop(s.source);
                alSourcei(s.source, AL_BUFFER, 0);
                alDeleteSources(1, &s.source);
                alDeleteBuffers(kStreamBuffers, s.buffers.data());
            }
            for (auto& [h, v] : voices_)
                if (v.source) releaseVoiceSource(v);
            if (!sourcePool_.empty()) alDeleteSources(ALsizei(sourcePool_.size()), sourcePool_.data());
            for (auto& [h, s] : samples_) alDeleteBuffers(1, &s.buffer);
            streams_.clear();
            voices_.clear();
            samples_.clear();
            sourcePool_.clear();
            open_ = false;
        }
        releaseDevice();
    }

    // Makes this driver's context the current one for the calling thread.
    void bind() {
        if (setThreadContext_) {
            if (getThreadContext_() != context_) setThreadContext_(context_);
        } else if (alcGetCurrentContext() != context_) {
            alcMakeContextCurrent(context_);
        }
    }
    void unbind() {
        if (setThreadContext_) {
            if (getThreadContext_() == context_) setThreadContext_(nullptr);
        }
        if (alcGetCurrentContext() == context_) alcMakeContextCurrent(nullptr);
    }

    void refillLoop() {
        std::unique_lock lock(mu_);
        while (!stopThread_) {
            bind();
            refillAll();
            wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stopThread_; });
        }
        if (setThreadContext_) setThreadContext_(nullptr);
    }

    AudioHandle nextHandle() { return next_++; }

    // ---- sources -----------------------------------------------------------

    ALuint acquireSource() {
        if (!sourcePool_.empty()) {
            ALuint s = sourcePool_.back();
            sourcePool_.pop_back();
            return s;
        }
        alGetError();
        ALuint s = 0;
        alGenSources(1, &s);
        if (alGetError() != AL_NO_ERROR) return 0;
        initSource(s);
        return s;
    }

    static void initSource(ALuint s) {
        alSourcei(s, AL_SOURCE_RELATIVE, AL_TRUE);
        alSource3f(s, AL_POSITION, 0.0f, 0.0f, 0.0f);
        alSourcef(s, AL_ROLLOFF_FACTOR, 0.0f);
        alSourcei(s, AL_LOOPING, AL_FALSE);
    }

    void pauseSource(ALuint src) {
        ALint st = 0;
        alGetSourcei(src, AL_SOURCE_STATE, &st);
        if (st == AL_PLAYING) {
            alSourcePause(src);
            pausedSources_.push_back(src);
        }
    }

    // Starts a source; while paused without a device pause it is held at once.
    void playSource(ALuint src) {
        alSourcePlay(src);
        if (paused_ && !loopback_ && !devicePause_) pauseSource(src);
    }

    // ---- samples and voices ------------------------------------------------

    AudioHandle addSample(audio::SoundDecoder& dec, int maxVoices) {
        std::vector<float> pcm;
        if (!audio::DecodeAll(dec, pcm)) return 0;
        std::lock_guard lock(mu_);
        bind();
        ALuint buf = 0;
        alGetError();
        alGenBuffers(1, &buf);
        if (alGetError() != AL_NO_ERROR) return 0;
        if (!upload(buf, pcm, dec.Channels(), dec.SampleRate())) {
            alDeleteBuffers(1, &buf);
            return 0;
        }
        AudioHandle sh = nextHandle();
        Sample& s = samples_[sh];
        s.buffer = buf;
        s.frames = int64_t(pcm.size()) / dec.Channels();
        for (int i = 0; i < (maxVoices > 0 ? maxVoices : 1); ++i) {
            AudioHandle vh = nextHandle();
            Voice v;
            v.sample = sh;
            v.buffer = buf;
            voices_[vh] = v;
            s.voices.push_back(vh);
        }
        return sh;
    }

    // Hands `pcm` (interleaved floats) to an OpenAL buffer, as floats where
    // the library takes them, else as 16-bit integers.
    bool upload(ALuint buf, const std::vector<float>& pcm, int channels, int rate) {
        alGetError();
        if (floatFormats_) {
            alBufferData(buf, channels == 2 ? AL_FORMAT_STEREO_FLOAT32 : AL_FORMAT_MONO_FLOAT32, pcm.data(),
                         ALsizei(pcm.size() * sizeof(float)), rate);
        } else {
            std::vector<int16_t> s16(pcm.size());
            for (size_t i = 0; i < pcm.size(); ++i) {
                float f = pcm[i] < -1.0f ? -1.0f : (pcm[i] > 1.0f ? 1.0f : pcm[i]);
                s16[i] = int16_t(f * 32767.0f);
            }
            alBufferData(buf, channels == 2 ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16, s16.data(),
                         ALsizei(s16.size() * sizeof(int16_t)), rate);
        }
        return alGetError() == AL_NO_ERROR;
    }

    Voice* findVoice(AudioHandle h) {
        auto it = voices_.find(h);
        return it == voices_.end() ? nullptr : &it->second;
    }

    // True while the voice sounds (or is held by a pause); a voice found
    // finished gives its source back to the pool.
    bool voiceActive(Voice& v) {
        if (!v.playing) return false;
        ALint st = 0;
        alGetSourcei(v.source, AL_SOURCE_STATE, &st);
        if (st == AL_PLAYING || st == AL_PAUSED) return true;
        releaseVoiceSource(v);
        v.playing = false;
        v.ended = true;
        v.heldPos = 0;
        return false;
    }

    void releaseVoiceSource(Voice& v) {
        if (!v.source) return;
        alSourceStop(v.source);
        alSourcei(v.source, AL_BUFFER, 0);
        std::erase(pausedSources_, v.source);
        sourcePool_.push_back(v.source);
        v.source = 0;
    }

    bool startVoice(Voice& v, int64_t from) {
        if (!v.source) {
            v.source = acquireSource();
            if (!v.source) {
                v.playing = false;
                return false;
            }
            alSourcei(v.source, AL_BUFFER, ALint(v.buffer));
        } else {
            alSourceStop(v.source);
            std::erase(pausedSources_, v.source);
        }
        alSourcef(v.source, AL_GAIN, float(v.volume) / 100.0f);
        alSourcei(v.source, AL_SAMPLE_OFFSET, ALint(from));
        playSource(v.source);
        v.playing = true;
        v.ended = false;
        v.startSeq = ++seq_;
        return true;
    }

    // ---- streams -----------------------------------------------------------

    AudioHandle addStream(std::unique_ptr<audio::SoundDecoder> dec, bool loop, std::vector<uint8_t> bytes) {
        std::lock_guard lock(mu_);
        bind();
        Stream s;
        alGetError();
        alGenSources(1, &s.source);
        if (alGetError() != AL_NO_ERROR) return 0;
        alGenBuffers(kStreamBuffers, s.buffers.data());
        if (alGetError() != AL_NO_ERROR) {
            alDeleteSources(1, &s.source);
            return 0;
        }
        initSource(s.source);
        s.freeBuffers.assign(s.buffers.begin(), s.buffers.end());
        s.channels = dec->Channels();
        s.rate = dec->SampleRate();
        s.loop = loop;
        s.dec = std::move(dec);
        s.bytes = std::move(bytes);
        AudioHandle h = nextHandle();
        streams_.emplace(h, std::move(s));
        return h;
    }

    Stream* findStream(AudioHandle h) {
        auto it = streams_.find(h);
        return it == streams_.end() ? nullptr : &it->second;
    }

    // Empties the stream's queue and moves its decoder to `frame`.
    void rewindStream(Stream& s, int64_t frame) {
        alSourceStop(s.source);
        alSourcei(s.source, AL_BUFFER, 0);
        std::erase(pausedSources_, s.source);
        s.freeBuffers.assign(s.buffers.begin(), s.buffers.end());
        s.queuedStart.clear();
        if (!s.dec->Seek(frame)) {
            frame = 0;
            s.dec->Seek(0);
        }
        s.decodePos = frame;
        s.drained = false;
    }

    int64_t streamPosition(Stream& s) {
        if (s.queuedStart.empty()) return s.decodePos;
        ALint off = 0;
        alGetSourcei(s.source, AL_SAMPLE_OFFSET, &off);
        int64_t pos = s.queuedStart.front() + off;
        if (s.loopLength > 0) pos %= s.loopLength;
        return pos;
    }

    // Decodes the next chunk of a stream into pcm_, starting over at the end
    // of a looping stream. Answers the frames decoded; 0 when nothing more
    // will come.
    int64_t decodeChunk(Stream& s) {
        pcm_.resize(size_t(kStreamChunkFrames * s.channels));
        int64_t got = 0;
        bool wrappedEmpty = false;
        while (got < kStreamChunkFrames) {
            int64_t n = s.dec->Read(pcm_.data() + got * s.channels, kStreamChunkFrames - got);
            if (n > 0) {
                got += n;
                s.decodePos += n;
                wrappedEmpty = false;
                continue;
            }
            // End of the data: a looping stream starts over, unless starting
            // over yields nothing either (which would spin for ever).
            if (!s.loop || wrappedEmpty || s.decodePos == 0) break;
            s.loopLength = s.decodePos;
            if (!s.dec->Seek(0)) break;
            s.decodePos = 0;
            wrappedEmpty = true;
        }
        pcm_.resize(size_t(got * s.channels));
        return got;
    }

    // Unqueues what the source has played, queues freshly decoded buffers
    // and keeps the source going; a stream whose data ran out stops.
    void refill(Stream& s) {
        if (!s.playing) return;
        ALint processed = 0;
        alGetSourcei(s.source, AL_BUFFERS_PROCESSED, &processed);
        for (; processed > 0; --processed) {
            ALuint b = 0;
            alSourceUnqueueBuffers(s.source, 1, &b);
            s.freeBuffers.push_back(b);
            if (!s.queuedStart.empty()) s.queuedStart.pop_front();
        }
        while (!s.freeBuffers.empty() && !s.drained) {
            int64_t start = s.decodePos;
            if (decodeChunk(s) == 0) {
                s.drained = true;
                break;
            }
            ALuint b = s.freeBuffers.back();
            if (!upload(b, pcm_, s.channels, s.rate)) {
                s.drained = true;
                break;
            }
            s.freeBuffers.pop_back();
            alSourceQueueBuffers(s.source, 1, &b);
            s.queuedStart.push_back(start);
        }
        ALint state = 0, queued = 0;
        alGetSourcei(s.source, AL_SOURCE_STATE, &state);
        alGetSourcei(s.source, AL_BUFFERS_QUEUED, &queued);
        if (state == AL_PLAYING || state == AL_PAUSED) return;
        if (queued > 0) {
            // Not started yet, or starved by a late refill: (re)start it.
            alSourcef(s.source, AL_GAIN, float(s.volume) / 100.0f);
            playSource(s.source);
        } else {
            s.playing = false;
            s.ended = true;
            s.decodePos = 0;
        }
    }

    void refillAll() {
        for (auto& [h, s] : streams_) refill(s);
    }

    const bool loopback_;
    std::mutex mu_;
    std::condition_variable wake_;
    std::thread refillThread_;
    bool stopThread_ = false;

    ALCdevice* device_ = nullptr;
    ALCcontext* context_ = nullptr;
    RenderSamplesFn renderSamples_ = nullptr;
    DevicePauseFn devicePause_ = nullptr;
    DevicePauseFn deviceResume_ = nullptr;
    SetThreadContextFn setThreadContext_ = nullptr;
    GetThreadContextFn getThreadContext_ = nullptr;
    bool floatFormats_ = false;
    // Written under the lock; read without it by the cheap queries.
    std::atomic<bool> open_{false};
    std::atomic<bool> paused_{false};

    AudioHandle next_ = 1;
    uint64_t seq_ = 0;
    std::unordered_map<AudioHandle, Sample> samples_;
    std::unordered_map<AudioHandle, Voice> voices_;
    std::unordered_map<AudioHandle, Stream> streams_;
    std::vector<ALuint> sourcePool_;
    std::vector<ALuint> pausedSources_;
    std::vector<float> pcm_;
};

}  // namespace

std::unique_ptr<AudioBackend> CreateOpenALAudio() { return std::make_unique<OpenALAudio>(false); }

std::unique_ptr<AudioLoopback> CreateLoopbackAudio() { return std::make_unique<OpenALAudio>(true); }

std::unique_ptr<AudioBackend> CreateAudioBackend(bool headless) {
    return headless ? CreateNullAudio() : CreateOpenALAudio();
}

}  // namespace nb
