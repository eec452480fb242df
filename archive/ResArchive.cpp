#include "archive/ResArchive.h"

#include <zlib.h>

#include <cstring>
#include <optional>

#include "platform/ByteIO.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace nb {

namespace {

constexpr size_t kHeaderSize = 12;
// Smallest table entry: a key length of 0 and the record offset.
constexpr size_t kMinTableEntry = 8;

// The archive file, read by byte range on demand so that reading one record
// costs that record's bytes and not the whole file.
using ArchiveSource = fs::RangeReader;

// Reads the header, the table and every record header. The table is left
// untouched unless the whole read succeeds.
bool readTableFrom(ArchiveSource& src, std::vector<TResRecordInfo>& table) {
    std::vector<uint8_t> buf;
    if (!src.read(0, kHeaderSize, buf)) return false;
    ByteReader hdr(buf);
    std::string_view sig;
    uint32_t count = 0, tableOffset = 0;
    hdr.view(4, sig);
    hdr.u32(count);
    hdr.u32(tableOffset);
    if (!hdr.ok() || sig != "ASDb") return false;
    if (tableOffset < kHeaderSize || tableOffset > src.size()) return false;
    const uint64_t tableBytes = src.size() - tableOffset;
    // Each entry takes at least 8 bytes, so a count the file cannot hold is
    // refused before anything is reserved for it.
    if (uint64_t(count) > tableBytes / kMinTableEntry) return false;

    if (!src.read(tableOffset, tableBytes, buf)) return false;
    ByteReader in(buf);
    std::vector<TResRecordInfo> records(count);
    for (TResRecordInfo& r : records) {
        int32_t keyLen = 0;
        if (!in.i32(keyLen) || keyLen < 0) return false;
        std::string_view key;
        if (!in.view(size_t(keyLen), key)) return false;
        r.key.assign(key);
        if (!in.i32(r.offset) || r.offset < 0) return false;
    }

    std::vector<uint8_t> head;
    for (TResRecordInfo& r : records) {
        if (!src.read(uint64_t(r.offset), TResArchive::kRecordHeaderSize, head)) return false;
        ByteReader h(head);
        h.u16(r.kind);
        h.i32(r.unpackedSize);
        h.i32(r.storedSize);
        h.f64(r.date);
        h.bytes(r.checksum, sizeof r.checksum);
        h.u16(r.flags);
        h.bytes(r.cipherIV, sizeof r.cipherIV);
        if (!h.ok()) return false;
    }
    table = std::move(records);
    return true;
}

}  // namespace

bool TResArchive::UnpackedSizeAcceptable(int64_t unpacked, int64_t stored) {
    if (unpacked < 0 || stored < 0) return false;
    if (unpacked > kMaxUnpackedSize) return false;
    // zlib never expands data by more than about 1032 to 1; a header that
    // claims more describes a damaged record, not a compressible one.
    return unpacked <= stored * kMaxInflateRatio + 1024;
}

void TResArchive::SetFileName(const std::string& path) {
    fileName_ = path;
    open_ = false;
}

bool TResArchive::createEmpty() {
    records_.clear();
    ByteWriter w;
    w.bytes("ASDb", 4);
    w.u32(0);
    w.u32(uint32_t(kHeaderSize));
    return !fileName_.empty() && fs::writeFileAtomic(fileName_, w.buffer().data(), w.size());
}

bool TResArchive::readTable() {
    ArchiveSource src;
    if (!src.open(fileName_)) return false;
    return readTableFrom(src, records_);
}

bool TResArchive::Open() {
    bool ok = false;
    switch (OpenMode) {
        case TOpenModes::opUpdate:
            ok = fs::fileExists(fileName_) ? readTable() : createEmpty();
            break;
        case TOpenModes::opOverwrite: ok = createEmpty(); break;
        case TOpenModes::opReadOnly: ok = readTable(); break;
    }
    // A failed open keeps no table: the previous file's offsets would
    // otherwise be read from this one.
    if (!ok) records_.clear();
    open_ = ok;
    return ok;
}

bool TResArchive::EnsureOpen() { return open_ || Open(); }

uint16_t TResArchive::RecordKind(int index) const {
    const TResRecordInfo* r = Record(index);
    return r ? r->kind : 0;
}

std::string TResArchive::RecordKey(int index) const {
    const TResRecordInfo* r = Record(index);
    return r ? r->key : std::string("[invalid-record-#]");
}

const TResRecordInfo* TResArchive::Record(int index) const {
    if (index < 0 || size_t(index) >= records_.size()) return nullptr;
    return &records_[size_t(index)];
}

int TResArchive::IndexOf(std::string_view key) const {
    for (size_t i = 0; i < records_.size(); ++i)
        if (iequalsAscii(records_[i].key, key)) return int(i);
    return -1;
}

bool TResArchive::HasRecord(std::string_view key) { return EnsureOpen() && IndexOf(key) >= 0; }

int TResArchive::readStoredBytes(std::string_view keyView, std::vector<uint8_t>& stored) {
    // The key may point into the table that is about to be read again.
    const std::string key(keyView);
    ArchiveSource src;
    if (!src.open(fileName_)) return -1;
    // The first read after opening takes the table from the file as it is
    // now (it may have been rewritten since); later reads trust that table.
    if (open_) {
        open_ = false;
        if (!readTableFrom(src, records_)) {
            records_.clear();
            return -1;
        }
    }
    int index = IndexOf(key);
    if (index < 0) return -1;
    const TResRecordInfo& r = records_[size_t(index)];
    if (r.storedSize < 0) return -1;
    if (!src.read(uint64_t(r.offset) + kRecordHeaderSize, uint64_t(r.storedSize), stored)) return -1;
    return index;
}

bool TResArchive::ReadStored(std::string_view key, std::vector<uint8_t>& stored) {
    stored.clear();
    if (readStoredBytes(key, stored) >= 0) return true;
    stored.clear();
    return false;
}

bool TResArchive::ReadRecord(std::string_view key, std::vector<uint8_t>& out) {
    out.clear();
    std::vector<uint8_t> stored;
    int index = readStoredBytes(key, stored);
    if (index < 0) return false;
    const TResRecordInfo& r = records_[size_t(index)];
    // Enciphered data would be deciphered here when a cipher key is set. The
    // player never sets one, so such a record goes to zlib as stored and
    // fails there, as the archive format intends for unkeyed readers.
    if (!InflateExact(stored.data(), stored.size(), r.unpackedSize, out)) {
        out.clear();
        return false;
    }
    return true;
}

bool TResArchive::InflateExact(const uint8_t* data, size_t size, int64_t unpacked,
                               std::vector<uint8_t>& out) {
    if (!UnpackedSizeAcceptable(unpacked, int64_t(size))) return false;
    out.resize(size_t(unpacked));
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    // One spare output byte tells "exactly the size" from "more than the size".
    uint8_t spare = 0;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    z.next_out = out.data();
    z.avail_out = uInt(unpacked);
    if (unpacked == 0) z.next_out = &spare;  // zlib refuses a null output pointer
    int rc = inflate(&z, Z_FINISH);
    if (rc != Z_STREAM_END && z.avail_out == 0) {
        z.next_out = &spare;
        z.avail_out = 1;
        rc = inflate(&z, Z_FINISH);
    }
    const bool exact = rc == Z_STREAM_END && z.total_out == uLong(unpacked);
    inflateEnd(&z);
    return exact;
}

bool TResArchive::ReadRecordToStream(std::string_view key, std::vector<uint8_t>& stream) {
    std::vector<uint8_t> bytes;
    if (!ReadRecord(key, bytes)) return false;
    stream.insert(stream.end(), bytes.begin(), bytes.end());
    return true;
}

}  // namespace nb
