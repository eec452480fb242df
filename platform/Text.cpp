#include "platform/Text.h"

#include <cfenv>

namespace nb {

namespace {

// Unicode code points of the bytes 0x80-0xFF of Windows-1251. The one byte
// without a letter (0x98) maps to the C1 control U+0098 so that every byte
// string survives a trip through UTF-8 unchanged.
constexpr uint16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

unsigned char upper1251(unsigned char c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c >= 0xE0) return c - 32;
    switch (c) {
        case 0xB8: return 0xA8;  // yo
        case 0x90: return 0x80;  // dje
        case 0x83: return 0x81;  // gje
        case 0x9A: return 0x8A;  // lje
        case 0x9C: return 0x8C;  // kje
        case 0x9D: return 0x8D;  // tshe
        case 0x9E: return 0x8E;  // dzhe
        case 0x9F: return 0x8F;  // dzhe
        case 0xA2: return 0xA1;  // short u
        case 0xBC: return 0xA3;  // je
        case 0xB4: return 0xA5;  // ghe with upturn
        case 0xBA: return 0xAA;  // ukrainian ie
        case 0xBF: return 0xAF;  // yi
        case 0xB3: return 0xB2;  // byelorussian i
        case 0xBE: return 0xBD;  // dze
        default: return c;
    }
}

unsigned char lower1251(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDF) return c + 32;
    switch (c) {
        case 0xA8: return 0xB8;
        case 0x80: return 0x90;
        case 0x81: return 0x83;
        case 0x8A: return 0x9A;
        case 0x8C: return 0x9C;
        case 0x8D: return 0x9D;
        case 0x8E: return 0x9E;
        case 0x8F: return 0x9F;
        case 0xA1: return 0xA2;
        case 0xA3: return 0xBC;
        case 0xA5: return 0xB4;
        case 0xAA: return 0xBA;
        case 0xAF: return 0xBF;
        case 0xB2: return 0xB3;
        case 0xBD: return 0xBE;
        default: return c;
    }
}

// Decodes one UTF-8 sequence; malformed input yields U+FFFD and moves on.
uint32_t nextCodePoint(std::string_view s, size_t& i) {
    unsigned char c = s[i++];
    if (c < 0x80) return c;
    int extra = (c >= 0xF0) ? 3 : (c >= 0xE0) ? 2 : (c >= 0xC0) ? 1 : -1;
    if (extra < 0) return 0xFFFD;
    uint32_t cp = c & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    return cp;
}

int byteFor(uint32_t cp) {
    if (cp < 0x80) return int(cp);
    for (int k = 0; k < 128; ++k)
        if (kCp1251High[k] == cp && cp != 0) return 0x80 + k;
    return -1;
}

}  // namespace

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string asciiUpper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return r;
}

std::string asciiLower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return r;
}

bool iequalsAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiUpperChar(a[i]) != asciiUpperChar(b[i])) return false;
    return true;
}

std::string cp1251Upper(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = char(upper1251(static_cast<unsigned char>(c)));
    return r;
}

std::string cp1251Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = char(lower1251(static_cast<unsigned char>(c)));
    return r;
}

std::string_view trimView(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return s.substr(b, e - b);
}
std::string trim(std::string_view s) { return std::string(trimView(s)); }
std::string trimLeft(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && static_cast<unsigned char>(s[b]) <= 32) ++b;
    return std::string(s.substr(b));
}
std::string trimRight(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return std::string(s.substr(0, e));
}

std::string cp1251ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 2);
    for (unsigned char c : s) {
        if (c < 0x80) {
            out += char(c);
        } else {
            uint16_t cp = kCp1251High[c - 0x80];
            appendUtf8(out, cp ? cp : 0xFFFD);
        }
    }
    return out;
}

std::string utf8ToCp1251(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        int b = byteFor(nextCodePoint(s, i));
        out += b < 0 ? '?' : char(b);
    }
    return out;
}

bool utf8FitsCp1251(std::string_view s) {
    size_t i = 0;
    while (i < s.size())
        if (byteFor(nextCodePoint(s, i)) < 0) return false;
    return true;
}

}  // namespace nb
