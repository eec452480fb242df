// Baking bitmap fonts for the player: glyphs of a TrueType/OpenType font are
// rendered for a range of Windows-1251 character codes into the font payload
// that font records (kind 3) of the resource archive hold.
//
// Payload written (little-endian): first character code, glyph spacing,
// reserved 0, glyph count N, N pairs (advance width, line height), then the
// glyph picture: pixel format 5 (A8R8G8B8), pattern size = visible size = the
// largest glyph cell, pattern count N, texture width and height (powers of
// two), texture count, and the texels top row first. Texels are white with
// the glyph coverage as alpha, so that tinting by the text colour works and
// filtering never darkens glyph edges. Every glyph sits on one baseline
// inside its cell, its pen position at the cell's left edge.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nb {

struct FontBakeOptions {
    std::string ttfPath;
    int pixelSize = 16;  // 1 to 256
    int first = 32;      // character codes first..last, 0 to 255
    int last = 255;
    int spacing = 0;     // glyph spacing stored in the payload
    std::string codepage = "cp1251";
};

std::optional<std::vector<uint8_t>> BakeFont(const FontBakeOptions& options, std::string& error);

// The fixed part of a font payload, as the player reads it.
struct FontPayloadInfo {
    int32_t firstChar = 0;
    int32_t spacing = 0;
    int32_t glyphCount = 0;
    std::vector<std::pair<int32_t, int32_t>> glyphs;  // width, height
    uint8_t pixelFormat = 0;
    int32_t patternWidth = 0, patternHeight = 0;
    int32_t visibleWidth = 0, visibleHeight = 0;
    int32_t patternCount = 0;
    int32_t textureWidth = 0, textureHeight = 0, textureCount = 0;
    size_t texelOffset = 0;  // where the texels start in the payload
};

// Checks that `bytes` is a complete font payload (every texel present);
// false with a reason otherwise.
bool ParseFontPayload(const std::vector<uint8_t>& bytes, FontPayloadInfo& info, std::string& error);

}  // namespace nb
