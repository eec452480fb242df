#include "media/Sound.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "archive/ResArchive.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace nb {

namespace {

// Voices per sound effect: a fourth play of one sound takes over the oldest.
constexpr int kSampleVoices = 3;
// Fades of music run over a fixed number of process ticks.
constexpr double kFadeInTicks = 60.0;
constexpr double kFadeOutTicks = 30.0;

}  // namespace

TSoundManager::TSoundManager(AudioBackend& audio) : audio_(audio) {}

TSoundManager::TSoundManager(AudioBackend& audio, TResArchive& archive) : audio_(audio), archive_(&archive) {}

void TSoundManager::SetGameFolder(std::string nativeFolder) {
    std::string f = fs::normalizeSeparators(nativeFolder);
    if (!f.empty() && f.back() != '/') f += '/';
    soundsFolder_ = f + "sounds/";
}

std::string TSoundManager::OggVariant(std::string_view upperName) {
    std::string r(upperName.substr(0, upperName.size() >= 3 ? upperName.size() - 3 : 0));
    r += "OGG";
    return r;
}

std::string TSoundManager::findOnDisk(const std::string& upperName) const {
    // Game text is Windows-1251; the names on disk are UTF-8 in any case.
    std::string path = soundsFolder_ + cp1251ToUtf8(upperName);
    if (!fs::fileExists(path)) return {};
    auto resolved = fs::resolve(path);
    return resolved ? *resolved : std::string();
}

bool TSoundManager::readFromArchive(const std::string& upperName, std::vector<uint8_t>& bytes) {
    if (!archive_) return false;
    std::string key = "sounds\\" + upperName;
    return archive_->HasRecord(key) && archive_->ReadRecord(key, bytes);
}

AudioHandle TSoundManager::LoadSample(const std::string& upperName) {
    for (const TSound& e : sounds_)
        if (e.name == upperName) return e.handle;
    AudioHandle h = 0;
    std::string path = findOnDisk(upperName);
    if (!path.empty()) {
        h = audio_.LoadSampleFile(path, kSampleVoices);
    } else {
        std::vector<uint8_t> bytes;
        if (readFromArchive(upperName, bytes)) h = audio_.LoadSampleMemory(bytes, kSampleVoices);
    }
    TSound entry;
    entry.name = upperName;
    entry.handle = h;
    sounds_.push_back(std::move(entry));
    if (OnTimerReset) OnTimerReset();
    return h;
}

size_t TSoundManager::streamEntry(const std::string& upperName) {
    for (size_t i = 0; i < music_.size(); ++i)
        if (music_[i].name == upperName) return i;
    AudioHandle h = 0;
    std::string path = findOnDisk(upperName);
    if (!path.empty()) {
        h = audio_.CreateStreamFile(path, true);
    } else {
        std::vector<uint8_t> bytes;
        if (readFromArchive(upperName, bytes)) h = audio_.CreateStreamMemory(std::move(bytes), true);
    }
    TSound entry;
    entry.name = upperName;
    entry.handle = h;
    music_.push_back(std::move(entry));
    return music_.size() - 1;
}

AudioHandle TSoundManager::LoadStream(const std::string& upperName) { return music_[streamEntry(upperName)].handle; }

void TSoundManager::PlaySound(std::string_view fileName, int32_t percentage) {
    std::string name = asciiUpper(fileName);
    if (name.empty()) return;  // no sound-table entry: nothing plays
    std::string alt = OggVariant(name);
    AudioHandle h = 0;
    for (const TSound& e : sounds_) {
        if (e.name == name || e.name == alt) {
            h = e.handle;
            break;
        }
    }
    if (!h) {
        h = LoadSample(name);
        if (!h) h = LoadSample(alt);
        if (!h) return;
    }
    // Integer arithmetic, the quotient truncated toward zero (75 x 40 div 100
    // = 30); computed wide so absurd percentages cannot overflow.
    int64_t volume = int64_t(soundVolume_) * percentage / 100;
    audio_.PlaySample(h, int(std::clamp<int64_t>(volume, INT_MIN, INT_MAX)));
}

void TSoundManager::PlayMusic(std::string_view fileName, int32_t percentage) {
    std::string name = asciiUpper(fileName);
    if (name.empty()) return;
    std::string alt = OggVariant(name);
    std::optional<size_t> idx;
    for (size_t i = 0; i < music_.size(); ++i) {
        if (music_[i].name == name || music_[i].name == alt) {
            if (music_[i].handle) idx = i;
            break;
        }
    }
    if (!idx) {
        size_t a = streamEntry(name);
        if (music_[a].handle) {
            idx = a;
        } else {
            size_t b = streamEntry(alt);
            if (music_[b].handle) idx = b;
        }
    }
    if (!idx) return;
    TSound& m = music_[*idx];
    m.target = percentage / 100.0;
    m.step = (m.target - m.level) / kFadeInTicks;
    if (!audio_.IsActive(m.handle)) {
        // Not playing: fade in from silence, from the beginning.
        m.level = 0;
        m.target = percentage / 100.0;
        m.step = m.target / kFadeInTicks;
        audio_.SetVolume(m.handle, 0);
        audio_.Play(m.handle, true);
    }
}

void TSoundManager::StopMusic() {
    for (TSound& m : music_) {
        m.target = 0;
        m.step = -m.level / kFadeOutTicks;
        // A music started this very tick is still at level 0: its fade step
        // would be 0 and it would play on silently for ever, and a later
        // PlayMusic would resume it mid-way instead of from the beginning.
        // It is silent already, so it stops at once.
        if (m.level <= 0 && audio_.IsActive(m.handle)) {
            m.step = 0;
            m.level = 0;
            audio_.Stop(m.handle);
        }
    }
}

void TSoundManager::setMusicChannelVolume(const TSound& m) {
    // Halves round to even, as the stored games' fades expect.
    audio_.SetVolume(m.handle, roundHalfEvenI32(double(musicVolume_) * m.level));
}

void TSoundManager::MusicFadeStep() {
    for (TSound& m : music_) {
        if (!audio_.IsActive(m.handle)) continue;
        m.level += m.step;
        if (m.step > 0 && m.level >= m.target) {
            m.step = 0;
            m.level = m.target;
        } else if (m.step < 0 && m.level <= m.target) {
            m.step = 0;
            m.level = m.target;
            if (m.level == 0) audio_.Stop(m.handle);
        }
        setMusicChannelVolume(m);
    }
}

void TSoundManager::ApplyMusicVolume() {
    for (const TSound& m : music_) {
        if (audio_.IsActive(m.handle)) {
            setMusicChannelVolume(m);
            return;
        }
    }
}

}  // namespace nb
