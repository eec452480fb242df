#include "tools/ArchiveWriter.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>

#include "archive/ResArchive.h"
#include "platform/ByteIO.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace nb {

namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1 January 1970 in days since 30 December 1899

void putLE(uint8_t* p, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

double ArchiveDateFromUnix(int64_t seconds) { return kUnixEpochDays + double(seconds) / 86400.0; }

double CurrentArchiveDate() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return ArchiveDateFromUnix(int64_t(now) + int64_t(local.tm_gmtoff));
}

void RecordChecksum(const uint8_t* data, size_t size, uint8_t out[16]) {
    uLong crc = crc32(0L, Z_NULL, 0);
    uLong adler = adler32(0L, Z_NULL, 0);
    // zlib takes lengths as uInt; feed large data in slices.
    for (size_t done = 0; done < size;) {
        uInt n = uInt(std::min<size_t>(size - done, 1u << 30));
        crc = crc32(crc, data + done, n);
        adler = adler32(adler, data + done, n);
        done += n;
    }
    uint64_t fnv = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) {
        fnv ^= data[i];
        fnv *= 0x100000001b3ull;
    }
    putLE(out, crc, 4);
    putLE(out + 4, adler, 4);
    putLE(out + 8, fnv, 8);
}

int ArchiveWriter::find(std::string_view key) const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (iequalsAscii(entries_[i].key, key)) return int(i);
    return -1;
}

bool ArchiveWriter::add(std::string_view key, uint16_t kind, const std::vector<uint8_t>& bytes) {
    if (bytes.size() > size_t(TResArchive::kMaxUnpackedSize)) return false;
    uLongf bound = compressBound(uLong(bytes.size()));
    ArchiveEntry e;
    e.key.assign(key);
    e.kind = kind;
    e.unpackedSize = int32_t(bytes.size());
    e.stored.resize(bound);
    if (compress2(e.stored.data(), &bound, bytes.data(), uLong(bytes.size()), Z_BEST_COMPRESSION) != Z_OK)
        return false;
    if (bound > uLongf(INT32_MAX)) return false;
    e.stored.resize(bound);
    e.date = date ? *date : CurrentArchiveDate();
    RecordChecksum(bytes.data(), bytes.size(), e.checksum);
    addStored(std::move(e));
    return true;
}

void ArchiveWriter::addStored(ArchiveEntry entry) {
    int i = find(entry.key);
    if (i >= 0)
        entries_[size_t(i)] = std::move(entry);
    else
        entries_.push_back(std::move(entry));
}

bool ArchiveWriter::remove(std::string_view key) {
    int i = find(key);
    if (i < 0) return false;
    entries_.erase(entries_.begin() + i);
    return true;
}

bool ArchiveWriter::load(const std::string& path, std::string& error) {
    TResArchive in;
    in.SetFileName(path);
    in.OpenMode = TOpenModes::opReadOnly;
    if (!in.Open()) {
        error = "cannot read the archive " + path;
        return false;
    }
    std::vector<ArchiveEntry> loaded;
    for (int i = 0; i < in.RecordCount(); ++i) {
        const TResRecordInfo& r = *in.Record(i);
        bool repeated = false;
        for (const ArchiveEntry& e : loaded) repeated = repeated || iequalsAscii(e.key, r.key);
        if (repeated) continue;
        ArchiveEntry e;
        e.key = r.key;
        e.kind = r.kind;
        e.unpackedSize = r.unpackedSize;
        e.date = r.date;
        std::memcpy(e.checksum, r.checksum, sizeof e.checksum);
        e.flags = r.flags;
        std::memcpy(e.cipherIV, r.cipherIV, sizeof e.cipherIV);
        if (!in.ReadStored(r.key, e.stored)) {
            error = "the record \"" + cp1251ToUtf8(r.key) + "\" of " + path + " is damaged";
            return false;
        }
        loaded.push_back(std::move(e));
    }
    entries_ = std::move(loaded);
    return true;
}

std::optional<std::vector<uint8_t>> ArchiveWriter::build() const {
    ByteWriter w;
    w.bytes("ASDb", 4);
    w.u32(uint32_t(entries_.size()));
    w.u32(0);  // table offset, known once the records are written
    std::vector<int32_t> offsets;
    for (const ArchiveEntry& e : entries_) {
        if (w.size() > size_t(INT32_MAX)) return std::nullopt;
        offsets.push_back(int32_t(w.size()));
        w.u16(e.kind);
        w.i32(e.unpackedSize);
        w.i32(int32_t(e.stored.size()));
        w.f64(e.date);
        w.bytes(e.checksum, sizeof e.checksum);
        w.u16(e.flags);
        w.bytes(e.cipherIV, sizeof e.cipherIV);
        w.bytes(e.stored.data(), e.stored.size());
    }
    if (w.size() > size_t(UINT32_MAX)) return std::nullopt;
    w.patchI32(8, int32_t(uint32_t(w.size())));
    for (size_t i = 0; i < entries_.size(); ++i) {
        w.str32(entries_[i].key);
        w.i32(offsets[i]);
    }
    return std::move(w.buffer());
}

bool ArchiveWriter::save(const std::string& path) const {
    std::optional<std::vector<uint8_t>> bytes = build();
    return bytes && fs::writeFileAtomic(path, bytes->data(), bytes->size());
}

}  // namespace nb
