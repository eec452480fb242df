// The null audio driver: nothing is heard, everything else is kept. Files
// are decoded through libsndfile exactly as the OpenAL driver does, so the
// same files fail; channels play for their real length, measured in process
// ticks (one Update() = one tick), so game logic that waits for a sound or a
// music sees the same states as with a loudspeaker.
#include <unordered_map>
#include <vector>

#include "platform/Audio.h"
#include "platform/AudioDecode.h"

namespace nb {

namespace {

class NullAudio final : public AudioBackend {
public:
    explicit NullAudio(int ticksPerSecond) : tps_(ticksPerSecond > 0 ? ticksPerSecond : 30) {}

    bool Open() override {
        open_ = true;
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
        auto it = samples_.find(sample);
        if (it == samples_.end()) return 0;
        // A voice that is free, else the one that started first.
        AudioHandle pick = 0;
        uint64_t oldest = UINT64_MAX;
        for (AudioHandle v : it->second.voices) {
            Channel& c = channels_.at(v);
            if (!c.playing) {
                pick = v;
                break;
            }
            if (c.startSeq < oldest) {
                oldest = c.startSeq;
                pick = v;
            }
        }
        Channel& c = channels_.at(pick);
        c.volume = audio::clampVolume(volume);
        start(c, true);
        return pick;
    }

    AudioHandle CreateStreamFile(const std::string& path, bool loop) override {
        if (!open_) return 0;
        auto dec = audio::OpenCheckedStream(path);
        return dec ? addStream(*dec, loop) : 0;
    }
    AudioHandle CreateStreamMemory(std::vector<uint8_t> bytes, bool loop) override {
        if (!open_) return 0;
        auto dec = audio::OpenCheckedStream(std::span<const uint8_t>(bytes));
        return dec ? addStream(*dec, loop) : 0;
    }

    bool Play(AudioHandle h, bool restart) override {
        Channel* c = find(h);
        if (!c) return false;
        if (c->playing && !restart) return true;
        start(*c, restart || c->ended);
        return true;
    }
    bool Stop(AudioHandle h) override {
        Channel* c = find(h);
        if (!c) return false;
        c->playing = false;
        return true;
    }
    bool IsActive(AudioHandle h) override {
        Channel* c = find(h);
        return c && c->playing;
    }
    bool SetVolume(AudioHandle h, int volume) override {
        Channel* c = find(h);
        if (!c) return false;
        c->volume = audio::clampVolume(volume);
        return true;
    }
    int GetVolume(AudioHandle h) override {
        Channel* c = find(h);
        return c ? c->volume : -1;
    }
    int64_t GetPosition(AudioHandle h) override {
        Channel* c = find(h);
        return c ? c->scaledPos / tps_ : -1;
    }

    void Update() override {
        if (paused_) return;
        for (auto& [h, c] : channels_) {
            if (!c.playing) continue;
            c.scaledPos += c.rate;
            if (c.scaledPos / tps_ < c.length) continue;
            if (c.loop) {
                c.scaledPos %= c.length * tps_;
            } else {
                c.scaledPos = c.length * tps_;
                c.playing = false;
                c.ended = true;
            }
        }
    }

    void Pause() override { paused_ = true; }
    void Resume() override { paused_ = false; }
    bool IsPaused() const override { return paused_; }

private:
    struct Channel {
        int64_t length = 0;     // frames
        int64_t rate = 0;       // frames per second
        int64_t scaledPos = 0;  // position in frames, times ticks per second
        int volume = 100;
        bool loop = false;
        bool playing = false;
        bool ended = false;
        uint64_t startSeq = 0;
    };
    struct Sample {
        std::vector<AudioHandle> voices;
    };

    Channel* find(AudioHandle h) {
        auto it = channels_.find(h);
        return it == channels_.end() ? nullptr : &it->second;
    }

    void start(Channel& c, bool fromStart) {
        if (fromStart) c.scaledPos = 0;
        c.playing = true;
        c.ended = false;
        c.startSeq = ++seq_;
    }

    AudioHandle addSample(audio::SoundDecoder& dec, int maxVoices) {
        // Decoded in full, as the OpenAL driver does, so the same damaged
        // files are refused; only the length is kept.
        std::vector<float> pcm;
        if (!audio::DecodeAll(dec, pcm)) return 0;
        Channel proto;
        proto.length = int64_t(pcm.size()) / dec.Channels();
        proto.rate = dec.SampleRate();
        AudioHandle sh = next_++;
        Sample& s = samples_[sh];
        for (int i = 0; i < (maxVoices > 0 ? maxVoices : 1); ++i) {
            AudioHandle vh = next_++;
            channels_[vh] = proto;
            s.voices.push_back(vh);
        }
        return sh;
    }

    AudioHandle addStream(audio::SoundDecoder& dec, bool loop) {
        int64_t frames = audio::CountFrames(dec);
        if (frames <= 0) return 0;
        Channel c;
        c.length = frames;
        c.rate = dec.SampleRate();
        c.loop = loop;
        AudioHandle h = next_++;
        channels_[h] = c;
        return h;
    }

    const int64_t tps_;
    bool open_ = false;
    bool paused_ = false;
    AudioHandle next_ = 1;
    uint64_t seq_ = 0;
    std::unordered_map<AudioHandle, Sample> samples_;
    std::unordered_map<AudioHandle, Channel> channels_;
};

}  // namespace

std::unique_ptr<AudioBackend> CreateNullAudio(int ticksPerSecond) {
    return std::make_unique<NullAudio>(ticksPerSecond);
}

}  // namespace nb
