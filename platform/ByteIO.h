// Bounds-checked little-endian reading and writing of binary formats.
//
// Every binary format of the player (game files, archives, font payloads,
// saved state, pictures) is read through ByteReader: a read that would run
// past the end of the buffer fails and leaves the reader in a failed state,
// it never touches memory outside the buffer. Writers append to a byte vector
// with the same helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace nb {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    explicit ByteReader(std::string_view bytes) : ByteReader(bytes.data(), bytes.size()) {}
    explicit ByteReader(const std::vector<uint8_t>& bytes) : ByteReader(bytes.data(), bytes.size()) {}

    size_t pos() const { return pos_; }
    size_t size() const { return size_; }
    size_t remaining() const { return pos_ <= size_ ? size_ - pos_ : 0; }
    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ >= size_; }
    const uint8_t* data() const { return data_; }
    const uint8_t* cursor() const { return data_ + pos_; }

    // Moves to an absolute position; a position past the end fails.
    bool seek(size_t p) {
        if (p > size_) return fail();
        pos_ = p;
        return true;
    }
    bool skip(size_t n) {
        if (n > remaining()) return fail();
        pos_ += n;
        return true;
    }
    bool bytes(void* out, size_t n) {
        if (n > remaining()) return fail();
        if (n) std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    // A view of the next n bytes; empty and failed when they are not all there.
    bool view(size_t n, std::string_view& out) {
        if (n > remaining()) return fail();
        out = std::string_view(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return true;
    }
    bool u8(uint8_t& v) { return bytes(&v, 1); }
    bool u16(uint16_t& v) {
        uint8_t b[2];
        if (!bytes(b, 2)) return false;
        v = uint16_t(b[0] | (b[1] << 8));
        return true;
    }
    bool u32(uint32_t& v) {
        uint8_t b[4];
        if (!bytes(b, 4)) return false;
        v = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
        return true;
    }
    bool i32(int32_t& v) {
        uint32_t u;
        if (!u32(u)) return false;
        v = static_cast<int32_t>(u);
        return true;
    }
    bool u64(uint64_t& v) {
        uint32_t lo, hi;
        if (!u32(lo) || !u32(hi)) return false;
        v = (uint64_t(hi) << 32) | lo;
        return true;
    }
    bool f64(double& v) {
        uint64_t u;
        if (!u64(u)) return false;
        std::memcpy(&v, &u, 8);
        return true;
    }
    // A string stored as a signed 32-bit length and that many bytes. A negative
    // length or one that runs past the end fails.
    bool str32(std::string& out) {
        int32_t n;
        if (!i32(n)) return false;
        if (n < 0 || size_t(n) > remaining()) return fail();
        out.assign(reinterpret_cast<const char*>(data_ + pos_), size_t(n));
        pos_ += size_t(n);
        return true;
    }

private:
    bool fail() {
        ok_ = false;
        return false;
    }
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    bool ok_ = true;
};

class ByteWriter {
public:
    std::vector<uint8_t>& buffer() { return buf_; }
    const std::vector<uint8_t>& buffer() const { return buf_; }
    size_t size() const { return buf_.size(); }

    void bytes(const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        buf_.insert(buf_.end(), b, b + n);
    }
    void u8(uint8_t v) { buf_.push_back(v); }
    void u16(uint16_t v) {
        u8(uint8_t(v));
        u8(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(uint8_t(v >> (8 * i)));
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void u64(uint64_t v) {
        u32(uint32_t(v));
        u32(uint32_t(v >> 32));
    }
    void f64(double v) {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        u64(u);
    }
    void str32(std::string_view s) {
        i32(int32_t(s.size()));
        bytes(s.data(), s.size());
    }
    // Overwrites 4 bytes at an earlier position (lengths written afterwards).
    void patchI32(size_t at, int32_t v) {
        for (int i = 0; i < 4; ++i) buf_[at + i] = uint8_t(uint32_t(v) >> (8 * i));
    }

private:
    std::vector<uint8_t> buf_;
};

}  // namespace nb
