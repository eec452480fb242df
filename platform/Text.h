// 8-bit text helpers. Game text is Windows-1251 bytes held in std::string;
// conversion to UTF-8 happens only at the platform edge (window title, paths,
// JSON). Case folding of names is ASCII only unless stated otherwise.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace nb {

// Upper-cases the ASCII letters a-z only; every other byte is kept.
std::string asciiUpper(std::string_view s);
std::string asciiLower(std::string_view s);
inline char asciiUpperChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
bool iequalsAscii(std::string_view a, std::string_view b);

// Upper/lower case with the Windows-1251 Cyrillic letters folded too
// (0xE0-0xFF <-> 0xC0-0xDF, 0xB8 <-> 0xA8 and the other paired letters).
std::string cp1251Upper(std::string_view s);
std::string cp1251Lower(std::string_view s);

// Trims bytes of code 32 or below (the host's Trim rule).
std::string_view trimView(std::string_view s);
std::string trim(std::string_view s);
std::string trimLeft(std::string_view s);
std::string trimRight(std::string_view s);

// Windows-1251 <-> UTF-8, lossless for every byte string (0x98 <-> U+0098).
// Code points without a Windows-1251 byte become '?' on the way in.
std::string cp1251ToUtf8(std::string_view s);
std::string utf8ToCp1251(std::string_view s);
// True when utf8ToCp1251 would be exact (every code point has a byte).
bool utf8FitsCp1251(std::string_view s);
// Appends the UTF-8 form of one code point (up to U+10FFFF).
void appendUtf8(std::string& out, uint32_t codePoint);

// Nearest integer, halves to even (the rounding every stored game expects).
inline double roundHalfEven(double v) { return std::nearbyint(v); }
inline int64_t roundHalfEvenI64(double v) { return static_cast<int64_t>(std::nearbyint(v)); }
inline int32_t roundHalfEvenI32(double v) {
    double r = std::nearbyint(v);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) return r > 0 ? INT32_MAX : INT32_MIN;
    return static_cast<int32_t>(r);
}

}  // namespace nb
