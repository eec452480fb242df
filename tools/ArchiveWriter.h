// Writing resource archives ("ASDb" files of zlib records, keyed without
// regard to letter case), as the player's TResArchive reads them.
//
// Layout written: the 12-byte header, then every record (44-byte record
// header followed by its zlib data) in the order the records were added, then
// the record table. Record headers carry:
//  - the date: days since 30 December 1899 in local time, the fraction being
//    the time of day (fixed with `date` for reproducible output);
//  - the checksum: CRC-32 (bytes 0-3), Adler-32 (bytes 4-7) and 64-bit
//    FNV-1a (bytes 8-15) of the unpacked data, each little-endian. The player
//    does not verify it; it lets tools spot a damaged record;
//  - flags 0 and a zero cipher initial value: records are never enciphered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nb {

struct ArchiveEntry {
    std::string key;  // Windows-1251 bytes, as the game names the record
    uint16_t kind = 0;
    int32_t unpackedSize = 0;
    std::vector<uint8_t> stored;  // the record's data as it goes into the file
    double date = 0;
    uint8_t checksum[16] = {};
    uint16_t flags = 0;
    uint8_t cipherIV[8] = {};
};

class ArchiveWriter {
public:
    static constexpr uint16_t kFontKind = 3;

    // Date stamped on records added from now on; unset means the current
    // local time.
    std::optional<double> date;

    // Compresses `bytes` into a record. A record whose key equals `key` when
    // letter case is ignored is replaced in its place; otherwise the record
    // goes to the end. False when the data is too large for the format.
    bool add(std::string_view key, uint16_t kind, const std::vector<uint8_t>& bytes);
    // Adds a record that is already in stored form (same replacement rule).
    void addStored(ArchiveEntry entry);
    bool remove(std::string_view key);
    const std::vector<ArchiveEntry>& entries() const { return entries_; }

    // Takes every record of an existing archive as stored, so that they are
    // written back unchanged. Records whose key repeats an earlier one are
    // dropped: nothing can reach them. False (with a message) when the file
    // is not a readable archive.
    bool load(const std::string& path, std::string& error);

    // The archive file's bytes; nullopt when it would not fit the format's
    // 32-bit offsets.
    std::optional<std::vector<uint8_t>> build() const;
    // Writes the archive atomically (the old file stays on any failure).
    bool save(const std::string& path) const;

private:
    int find(std::string_view key) const;
    std::vector<ArchiveEntry> entries_;
};

// Days since 30 December 1899, local time, for the current moment.
double CurrentArchiveDate();
// Days since 30 December 1899 for a Unix time taken as UTC.
double ArchiveDateFromUnix(int64_t seconds);
// The 16-byte record checksum described above.
void RecordChecksum(const uint8_t* data, size_t size, uint8_t out[16]);

}  // namespace nb
