// INI files in the usual Windows format: sections in brackets, key=value
// lines, section and key names matched without regard to ASCII case, values
// trimmed, ';' lines are comments. Text is Windows-1251 with CR LF; LF-only
// files are read too.
//
// An IniFile either lives in memory only (read whole when opened, never
// written), or is write-through: every write updates the file on disk at once,
// rewriting only the changed line (or adding the key or the section) and
// keeping every other byte of the file as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nb {

class IniFile {
public:
    IniFile() = default;
    // In-memory INI from text.
    static IniFile fromText(std::string_view text);
    // In-memory INI read from a file; an absent or unreadable file gives an
    // empty one (and `loaded` false).
    static IniFile fromFile(std::string_view path, bool* loaded = nullptr);
    // Write-through INI bound to `path` (native path; created on first write).
    static IniFile writeThrough(std::string_view path);

    bool isWriteThrough() const { return writeThrough_; }
    const std::string& path() const { return path_; }

    std::optional<std::string> find(std::string_view section, std::string_view key) const;
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // Decimal (or "$"/"0x" hexadecimal) integer; the default when absent or
    // not a number.
    int32_t readInteger(std::string_view section, std::string_view key, int32_t def) const;
    // An integer that is not 0; the default when absent.
    bool readBool(std::string_view section, std::string_view key, bool def) const;
    bool sectionExists(std::string_view section) const;

    // Sets the value; for a write-through file the file is saved at once and
    // the answer tells whether that worked.
    bool writeString(std::string_view section, std::string_view key, std::string_view value);
    bool writeInteger(std::string_view section, std::string_view key, int32_t value);
    bool writeBool(std::string_view section, std::string_view key, bool value);

    // The whole text as it would be saved.
    std::string text() const;

private:
    struct Line {
        std::string text;  // without its line ending
        std::string eol;   // "\r\n", "\n", "\r" or "" for a last line without one
    };
    // Index of the section header line, or -1.
    int sectionLine(std::string_view section) const;
    // Index of the key line inside the section starting at header `s`, or -1.
    int keyLine(int s, std::string_view key) const;
    bool save() const;
    // A write-through file is read again before every look-up and write, so
    // changes made on disk meanwhile (the file deleted by a script, edited by
    // another program) are followed, never overwritten. False when the file
    // exists but cannot be read.
    bool refresh() const;

    mutable std::vector<Line> lines_;
    std::string path_;
    mutable std::string defaultEol_ = "\r\n";
    bool writeThrough_ = false;
};

}  // namespace nb
