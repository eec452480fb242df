// Test helpers: a scratch folder and a hand-made archive writer that can
// put every field wrong on purpose (independent of nbtool's writer).
#pragma once

#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/ByteIO.h"
#include "platform/FileSystem.h"

namespace nbtest {

class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "nbarchiveXXXXXX").string();
        path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::vector<uint8_t> zlibCompress(const std::vector<uint8_t>& data) {
    uLongf n = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(n);
    compress2(out.data(), &n, data.data(), uLong(data.size()), 6);
    out.resize(n);
    return out;
}

inline std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

struct RawRecord {
    std::string key;
    uint16_t kind = 0;
    std::vector<uint8_t> stored;  // written as is
    int32_t unpacked = 0;
    uint16_t flags = 0;
    std::optional<int32_t> storedSizeField;  // unset: the real stored size
};

inline RawRecord packed(const std::string& key, const std::vector<uint8_t>& data, uint16_t kind = 0) {
    RawRecord r;
    r.key = key;
    r.kind = kind;
    r.stored = zlibCompress(data);
    r.unpacked = int32_t(data.size());
    return r;
}

// Header, then the table right after it when tableFirst, else the records
// first and the table at the end (the usual layout).
inline std::vector<uint8_t> buildArchive(const std::vector<RawRecord>& recs, bool tableFirst = false) {
    size_t tableSize = 0;
    for (const RawRecord& r : recs) tableSize += 8 + r.key.size();
    size_t recordsStart = tableFirst ? 12 + tableSize : 12;
    std::vector<int32_t> offsets;
    nb::ByteWriter body;
    for (const RawRecord& r : recs) {
        offsets.push_back(int32_t(recordsStart + body.size()));
        body.u16(r.kind);
        body.i32(r.unpacked);
        body.i32(r.storedSizeField.value_or(int32_t(r.stored.size())));
        body.f64(45000.5);
        for (int i = 0; i < 16; ++i) body.u8(0);
        body.u16(r.flags);
        for (int i = 0; i < 8; ++i) body.u8(0);
        body.bytes(r.stored.data(), r.stored.size());
    }
    nb::ByteWriter table;
    for (size_t i = 0; i < recs.size(); ++i) {
        table.str32(recs[i].key);
        table.i32(offsets[i]);
    }
    nb::ByteWriter w;
    w.bytes("ASDb", 4);
    w.u32(uint32_t(recs.size()));
    w.u32(uint32_t(tableFirst ? 12 : 12 + body.size()));
    const auto& first = tableFirst ? table.buffer() : body.buffer();
    const auto& second = tableFirst ? body.buffer() : table.buffer();
    w.bytes(first.data(), first.size());
    w.bytes(second.data(), second.size());
    return w.buffer();
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& b) {
    static const uint8_t none = 0;  // never hand a null pointer to the writer
    // A fresh file each time: rewriting one in place makes some file systems
    // flush it to disk on close, which slows the loops below a hundredfold.
    std::filesystem::remove(path);
    nb::fs::writeFile(path, b.empty() ? &none : b.data(), b.size());
}

}  // namespace nbtest
