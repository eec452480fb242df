#include "platform/AudioDecode.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace nb::audio {

namespace {

// Bytes in memory seen by libsndfile as a read-only file. Every access is
// clamped to the buffer.
struct MemoryFile {
    const uint8_t* data = nullptr;
    sf_count_t size = 0;
    sf_count_t pos = 0;
};

sf_count_t memLength(void* user) { return static_cast<MemoryFile*>(user)->size; }

sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    switch (whence) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = m->pos; break;
        case SEEK_END: base = m->size; break;
        default: return -1;
    }
    sf_count_t p = 0;
    if (__builtin_add_overflow(base, offset, &p) || p < 0) return -1;
    m->pos = p;  // past the end is allowed; reads there give nothing
    return p;
}

sf_count_t memRead(void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    if (count <= 0 || m->pos >= m->size) return 0;
    sf_count_t n = std::min(count, m->size - m->pos);
    std::memcpy(ptr, m->data + m->pos, size_t(n));
    m->pos += n;
    return n;
}

sf_count_t memWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t memTell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

constexpr int kMaxFileChannels = 64;
constexpr int kMaxRate = 384000;

}  // namespace

struct SoundDecoder::Impl {
    SNDFILE* sf = nullptr;
    SF_INFO info{};
    MemoryFile mem;
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    ~Impl() {
        if (sf) sf_close(sf);
    }
};

SoundDecoder::SoundDecoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SoundDecoder::~SoundDecoder() = default;

std::unique_ptr<SoundDecoder> SoundDecoder::finishOpen(std::unique_ptr<Impl> impl) {
    if (!impl->sf) return nullptr;
    const SF_INFO& info = impl->info;
    if (info.channels <= 0 || info.channels > kMaxFileChannels) return nullptr;
    if (info.samplerate <= 0 || info.samplerate > kMaxRate) return nullptr;
    std::unique_ptr<SoundDecoder> dec(new SoundDecoder(std::move(impl)));
    dec->fileChannels_ = dec->impl_->info.channels;
    dec->outChannels_ = std::min(dec->fileChannels_, 2);
    dec->rate_ = dec->impl_->info.samplerate;
    dec->frames_ = dec->impl_->info.frames;
    if (dec->frames_ == SF_COUNT_MAX) dec->frames_ = 0;
    return dec;
}

std::unique_ptr<SoundDecoder> SoundDecoder::OpenFile(const std::string& path) {
    auto impl = std::make_unique<Impl>();
    impl->sf = sf_open(path.c_str(), SFM_READ, &impl->info);
    return finishOpen(std::move(impl));
}

std::unique_ptr<SoundDecoder> SoundDecoder::OpenMemory(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->mem.data = bytes.data();
    impl->mem.size = sf_count_t(bytes.size());
    impl->sf = sf_open_virtual(&impl->io, SFM_READ, &impl->info, &impl->mem);
    return finishOpen(std::move(impl));
}

int64_t SoundDecoder::Read(float* out, int64_t frames) {
    if (frames <= 0) return 0;
    if (fileChannels_ == outChannels_) {
        sf_count_t n = sf_readf_float(impl_->sf, out, frames);
        return n > 0 ? n : 0;
    }
    // More than two channels: decode through a scratch buffer and keep the
    // first two of every frame.
    int64_t done = 0;
    constexpr int64_t kChunk = 1024;
    scratch_.resize(size_t(kChunk * fileChannels_));
    while (done < frames) {
        int64_t want = std::min(kChunk, frames - done);
        sf_count_t n = sf_readf_float(impl_->sf, scratch_.data(), want);
        if (n <= 0) break;
        for (sf_count_t i = 0; i < n; ++i) {
            out[(done + i) * 2] = scratch_[size_t(i * fileChannels_)];
            out[(done + i) * 2 + 1] = scratch_[size_t(i * fileChannels_ + 1)];
        }
        done += n;
        if (n < want) break;
    }
    return done;
}

bool SoundDecoder::Seek(int64_t frame) {
    if (!impl_->info.seekable && frame != 0) return false;
    return sf_seek(impl_->sf, frame, SEEK_SET) == frame;
}

bool DecodeAll(SoundDecoder& dec, std::vector<float>& pcm) {
    const int ch = dec.Channels();
    pcm.clear();
    if (dec.Frames() > 0 && dec.Frames() <= kMaxSampleFrames) pcm.reserve(size_t(dec.Frames() * ch));
    constexpr int64_t kChunk = 16384;
    int64_t total = 0;
    for (;;) {
        size_t at = pcm.size();
        pcm.resize(at + size_t(kChunk * ch));
        int64_t n = dec.Read(pcm.data() + at, kChunk);
        pcm.resize(at + size_t(n * ch));
        total += n;
        if (total > kMaxSampleFrames) {
            pcm.clear();
            return false;
        }
        if (n < kChunk) break;
    }
    return total > 0;
}

int64_t CountFrames(SoundDecoder& dec) {
    if (dec.Frames() > 0) return dec.Frames();
    std::vector<float> buf(size_t(16384 * dec.Channels()));
    int64_t total = 0;
    for (;;) {
        int64_t n = dec.Read(buf.data(), 16384);
        total += n;
        if (n <= 0) break;
    }
    dec.Seek(0);
    return total;
}

namespace {

std::unique_ptr<SoundDecoder> checkStream(std::unique_ptr<SoundDecoder> dec) {
    if (!dec) return nullptr;
    std::vector<float> probe(size_t(256 * dec->Channels()));
    if (dec->Read(probe.data(), 256) <= 0 || !dec->Seek(0)) return nullptr;
    return dec;
}

}  // namespace

std::unique_ptr<SoundDecoder> OpenCheckedStream(const std::string& path) {
    return checkStream(SoundDecoder::OpenFile(path));
}

std::unique_ptr<SoundDecoder> OpenCheckedStream(std::span<const uint8_t> bytes) {
    return checkStream(SoundDecoder::OpenMemory(bytes));
}

}  // namespace nb::audio
