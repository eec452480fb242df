#include "platform/IniFile.h"

#include <cctype>
#include <cstdlib>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace nb {

namespace {

std::string_view headerName(std::string_view line) {
    std::string_view t = trimView(line);
    if (t.size() < 2 || t.front() != '[') return {};
    size_t close = t.find(']');
    if (close == std::string_view::npos) return {};
    return trimView(t.substr(1, close - 1));
}

bool isHeader(std::string_view line) {
    std::string_view t = trimView(line);
    return t.size() >= 2 && t.front() == '[' && t.find(']') != std::string_view::npos;
}

}  // namespace

IniFile IniFile::fromText(std::string_view text) {
    IniFile ini;
    size_t i = 0;
    bool sawCrLf = false, sawLf = false;
    while (i < text.size()) {
        size_t j = i;
        while (j < text.size() && text[j] != '\r' && text[j] != '\n') ++j;
        Line l;
        l.text = std::string(text.substr(i, j - i));
        if (j < text.size()) {
            if (text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') {
                l.eol = "\r\n";
                sawCrLf = true;
                j += 2;
            } else {
                l.eol = std::string(1, text[j]);
                if (text[j] == '\n') sawLf = true;
                j += 1;
            }
        }
        ini.lines_.push_back(std::move(l));
        i = j;
    }
    if (!sawCrLf && sawLf) ini.defaultEol_ = "\n";
    return ini;
}

IniFile IniFile::fromFile(std::string_view path, bool* loaded) {
    auto text = fs::readFileString(path);
    if (loaded) *loaded = text.has_value();
    IniFile ini = text ? fromText(*text) : IniFile();
    ini.path_ = std::string(path);
    return ini;
}

IniFile IniFile::writeThrough(std::string_view path) {
    IniFile ini = fromFile(path);
    ini.writeThrough_ = true;
    return ini;
}

int IniFile::sectionLine(std::string_view section) const {
    std::string_view want = trimView(section);
    for (size_t i = 0; i < lines_.size(); ++i)
        if (isHeader(lines_[i].text) && iequalsAscii(headerName(lines_[i].text), want)) return int(i);
    return -1;
}

int IniFile::keyLine(int s, std::string_view key) const {
    std::string_view want = trimView(key);
    for (size_t i = size_t(s) + 1; i < lines_.size(); ++i) {
        const std::string& t = lines_[i].text;
        if (isHeader(t)) break;
        std::string_view tv = trimView(t);
        if (tv.empty() || tv[0] == ';') continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        if (iequalsAscii(trimView(std::string_view(t).substr(0, eq)), want)) return int(i);
    }
    return -1;
}

bool IniFile::refresh() const {
    if (!writeThrough_) return true;
    std::optional<std::string> text;
    if (fs::fileExists(path_)) {
        text = fs::readFileString(path_);
        if (!text) return false;
    }
    IniFile fresh = fromText(text ? *text : std::string());
    lines_ = std::move(fresh.lines_);
    defaultEol_ = fresh.defaultEol_;
    return true;
}

std::optional<std::string> IniFile::find(std::string_view section, std::string_view key) const {
    if (!refresh()) return std::nullopt;
    int s = sectionLine(section);
    if (s < 0) return std::nullopt;
    int k = keyLine(s, key);
    if (k < 0) return std::nullopt;
    const std::string& t = lines_[size_t(k)].text;
    std::string v = trim(std::string_view(t).substr(t.find('=') + 1));
    // A value wrapped in matching quotes is given without them.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view def) const {
    auto v = find(section, key);
    return v ? *v : std::string(def);
}

int32_t IniFile::readInteger(std::string_view section, std::string_view key, int32_t def) const {
    auto v = find(section, key);
    if (!v || v->empty()) return def;
    std::string s = *v;
    int base = 10;
    size_t start = 0;
    bool neg = false;
    if (s[0] == '-' || s[0] == '+') {
        neg = s[0] == '-';
        start = 1;
    }
    if (s.compare(start, 1, "$") == 0) {
        base = 16;
        start += 1;
    } else if (s.size() > start + 1 && s[start] == '0' && (s[start + 1] == 'x' || s[start + 1] == 'X')) {
        base = 16;
        start += 2;
    }
    // The digits follow the one sign and the one prefix at once: "--5",
    // "- 5" or "$0x10" are no numbers.
    if (start >= s.size()) return def;
    for (size_t i = start; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (base == 16 ? !std::isxdigit(c) : !std::isdigit(c)) return def;
    }
    char* end = nullptr;
    long long n = std::strtoll(s.c_str() + start, &end, base);
    if (*end != '\0') return def;
    if (neg) n = -n;
    if (n < INT32_MIN || n > (base == 16 ? int64_t(UINT32_MAX) : int64_t(INT32_MAX))) return def;
    return int32_t(uint32_t(n));
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool def) const {
    return readInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::sectionExists(std::string_view section) const { return refresh() && sectionLine(section) >= 0; }

bool IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    if (!refresh()) return false;
    std::string line = std::string(trimView(key)) + "=" + std::string(value);
    int s = sectionLine(section);
    if (s < 0) {
        if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = defaultEol_;
        lines_.push_back({"[" + std::string(trimView(section)) + "]", defaultEol_});
        lines_.push_back({line, defaultEol_});
    } else {
        int k = keyLine(s, key);
        if (k >= 0) {
            lines_[size_t(k)].text = line;
        } else {
            // After the last non-blank line of the section.
            size_t at = size_t(s) + 1;
            for (size_t i = at; i < lines_.size() && !isHeader(lines_[i].text); ++i)
                if (!trimView(lines_[i].text).empty()) at = i + 1;
            if (at > 0 && lines_[at - 1].eol.empty()) lines_[at - 1].eol = defaultEol_;
            lines_.insert(lines_.begin() + long(at), Line{line, defaultEol_});
        }
    }
    return writeThrough_ ? save() : true;
}

bool IniFile::writeInteger(std::string_view section, std::string_view key, int32_t value) {
    return writeString(section, key, std::to_string(value));
}

bool IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
    return writeString(section, key, value ? "1" : "0");
}

std::string IniFile::text() const {
    std::string out;
    for (const Line& l : lines_) {
        out += l.text;
        out += l.eol;
    }
    return out;
}

bool IniFile::save() const {
    if (path_.empty()) return false;
    return fs::writeFileAtomic(path_, text());
}

}  // namespace nb
