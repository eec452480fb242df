// The resource archive: an "ASDb" file of zlib-compressed records looked up by
// key without regard to letter case. Fonts (kind 3) and ordinary files
// (pictures, frame-grid tables, sounds, effect files) live in it.
//
// Every length and offset read from the file is checked: a damaged archive
// answers failure, it never reads outside its buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nb {

enum class TOpenModes : uint8_t { opUpdate, opOverwrite, opReadOnly };

struct TResRecordInfo {
    std::string key;
    int32_t offset = 0;
    uint16_t kind = 0;
    int32_t unpackedSize = 0;
    int32_t storedSize = 0;
    double date = 0;
    uint8_t checksum[16] = {};
    uint16_t flags = 0;
    uint8_t cipherIV[8] = {};
};

class TResArchive {
public:
    static constexpr uint16_t kFontKind = 3;
    // Size of the header in front of every record's data.
    static constexpr size_t kRecordHeaderSize = 44;
    // Limits on what a record header may claim before memory is set aside for
    // it: no record unpacks to more than 512 MiB, nor to more than zlib could
    // possibly expand its stored bytes.
    static constexpr int64_t kMaxUnpackedSize = int64_t(512) << 20;
    static constexpr int64_t kMaxInflateRatio = 1040;
    static bool UnpackedSizeAcceptable(int64_t unpacked, int64_t stored);
    // Inflates zlib data; true only when it yields exactly `unpacked` bytes.
    static bool InflateExact(const uint8_t* data, size_t size, int64_t unpacked,
                             std::vector<uint8_t>& out);

    TOpenModes OpenMode = TOpenModes::opUpdate;

    // Native path of the archive file; setting it clears the open mark.
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& path);

    bool Open();
    bool EnsureOpen();
    bool IsOpen() const { return open_; }

    int RecordCount() const { return int(records_.size()); }
    uint16_t RecordKind(int index) const;         // 0 out of range
    std::string RecordKey(int index) const;       // "[invalid-record-#]" out of range
    const TResRecordInfo* Record(int index) const;  // nullptr out of range
    int IndexOf(std::string_view key) const;      // case-insensitive, -1 when absent
    bool HasRecord(std::string_view key);         // ensures open, then IndexOf >= 0

    // Reads and decompresses a record to exactly its unpacked size. Every
    // read opens the file by itself; the first read after Open clears the
    // open mark and takes the table from the file again (it may have been
    // rewritten since), later reads use that table. Enciphered records are
    // never deciphered (no cipher key is ever set), so they fail to unpack.
    bool ReadRecord(std::string_view key, std::vector<uint8_t>& out);
    // Read record, then append the bytes to `stream`.
    bool ReadRecordToStream(std::string_view key, std::vector<uint8_t>& stream);
    // The record's data exactly as stored (compressed, possibly enciphered),
    // for tools that copy records between archives without unpacking them.
    bool ReadStored(std::string_view key, std::vector<uint8_t>& stored);

private:
    bool readTable();
    bool createEmpty();
    // Reads a record's stored bytes; answers its index, or -1 on failure.
    int readStoredBytes(std::string_view key, std::vector<uint8_t>& stored);
    std::string fileName_;
    bool open_ = false;
    std::vector<TResRecordInfo> records_;
};

}  // namespace nb
