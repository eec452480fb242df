// File access for the player. Game files name their companions with
// backslashes and any letter case; on Linux every path is resolved component
// by component without regard to case. Paths given to and returned by these
// functions are native (UTF-8) strings; callers convert Windows-1251 game text
// with cp1251ToUtf8 first. Both '\\' and '/' separate components.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nb::fs {

// Replaces every backslash by '/'.
std::string normalizeSeparators(std::string_view path);

// The existing file or folder that `path` names when letter case is ignored
// (an exact match wins). nullopt when nothing matches.
std::optional<std::string> resolve(std::string_view path);

// A path at which a new file named `path` can be created: the folder part is
// resolved without regard to case, the last component is kept as written.
// When the folder does not exist the path is returned normalised.
std::string resolveForCreate(std::string_view path);

// True when `path` resolves to a regular file.
bool fileExists(std::string_view path);
bool dirExists(std::string_view path);

// Whole-file read; nullopt when the file cannot be found or read.
std::optional<std::vector<uint8_t>> readFile(std::string_view path);
std::optional<std::string> readFileString(std::string_view path);

// Replaces the file's content atomically: a temporary file in the same folder
// is written, flushed to disk, and renamed over the target; the folder is then
// flushed. On any failure the old file is left untouched and false is answered.
bool writeFileAtomic(std::string_view path, const void* data, size_t size);
inline bool writeFileAtomic(std::string_view path, std::string_view data) {
    return writeFileAtomic(path, data.data(), data.size());
}
// Plain write (truncate and write), for scratch files.
bool writeFile(std::string_view path, const void* data, size_t size);
// Appends to the file, creating it when missing.
bool appendFile(std::string_view path, std::string_view data);
// Deletes the file; a missing file counts as success.
bool removeFile(std::string_view path);

// A file opened for reading byte ranges on demand (archives read one record
// at a time, not the whole file). Ranges are checked against the size taken
// at opening before anything is allocated.
class RangeReader {
public:
    RangeReader() = default;
    ~RangeReader();
    RangeReader(const RangeReader&) = delete;
    RangeReader& operator=(const RangeReader&) = delete;

    // Opens the regular file `path` names (resolved without regard to case).
    bool open(std::string_view path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    uint64_t size() const { return size_; }
    // Exactly n bytes at offset into `out`; false (and `out` left empty)
    // when the range is not inside the file or the read comes up short.
    bool read(uint64_t offset, uint64_t n, std::vector<uint8_t>& out) const;

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// Folder part of a path including its trailing '/', "" when there is none.
std::string folderOf(std::string_view path);
// Last component of a path.
std::string fileNameOf(std::string_view path);
// Absolute form of a path (relative to the current folder), not resolved.
std::string absolutePath(std::string_view path);
// Full path of the running executable, "" when unknown.
std::string executablePath();
// Names of the entries of a folder in directory order ("." and ".." left out).
std::vector<std::string> listDir(std::string_view folder);

// Where per-user configuration lives ($XDG_CONFIG_HOME or ~/.config), with a
// trailing '/'.
std::string configDir();

}  // namespace nb::fs
