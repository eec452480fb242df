#include "tools/FontBake.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <memory>

#include "platform/ByteIO.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace nb {

namespace {

constexpr int kPixelFormatA8R8G8B8 = 5;
constexpr int kMaxTextureSize = 2048;
// Empty texels: white at zero coverage, so filtering blends toward white.
constexpr uint32_t kClearTexel = 0x00FFFFFFu;

struct FreeTypeLibrary {
    FT_Library lib = nullptr;
    ~FreeTypeLibrary() {
        if (lib) FT_Done_FreeType(lib);
    }
};
struct FreeTypeFace {
    FT_Face face = nullptr;
    ~FreeTypeFace() {
        if (face) FT_Done_Face(face);
    }
};

// A rendered glyph: coverage rows top first, placed relative to the pen.
struct Glyph {
    int advance = 0;
    int left = 0;  // pixels right of the pen
    int top = 0;   // pixels above the baseline
    int width = 0, height = 0;
    std::vector<uint8_t> coverage;
};

uint32_t codePointOfCp1251(uint8_t byte) {
    std::string utf8 = cp1251ToUtf8(std::string(1, char(byte)));
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    switch (utf8.size()) {
        case 1: return s[0];
        case 2: return uint32_t(s[0] & 0x1F) << 6 | (s[1] & 0x3F);
        case 3: return uint32_t(s[0] & 0x0F) << 12 | uint32_t(s[1] & 0x3F) << 6 | (s[2] & 0x3F);
        default: return 0;
    }
}

int ceil26_6(FT_Pos v) { return int((v + 63) >> 6); }

int nextPowerOfTwo(int v) {
    int p = 1;
    while (p < v) p <<= 1;
    return p;
}

// Copies the slot's bitmap as 8-bit coverage, top row first.
bool takeBitmap(const FT_Bitmap& bm, Glyph& g) {
    g.width = int(bm.width);
    g.height = int(bm.rows);
    g.coverage.assign(size_t(g.width) * size_t(g.height), 0);
    const int pitch = bm.pitch < 0 ? -bm.pitch : bm.pitch;
    for (int y = 0; y < g.height; ++y) {
        const unsigned char* row = bm.pitch >= 0 ? bm.buffer + size_t(y) * size_t(pitch)
                                                 : bm.buffer + size_t(g.height - 1 - y) * size_t(pitch);
        uint8_t* dst = g.coverage.data() + size_t(y) * size_t(g.width);
        for (int x = 0; x < g.width; ++x) {
            switch (bm.pixel_mode) {
                case FT_PIXEL_MODE_GRAY:
                    dst[x] = uint8_t(bm.num_grays == 256 ? row[x] : row[x] * 255 / std::max(1, bm.num_grays - 1));
                    break;
                case FT_PIXEL_MODE_MONO: dst[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0; break;
                default: return false;
            }
        }
    }
    return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> BakeFont(const FontBakeOptions& o, std::string& error) {
    if (o.codepage != "cp1251" && o.codepage != "1251") {
        error = "unsupported code page \"" + o.codepage + "\" (only cp1251)";
        return std::nullopt;
    }
    if (o.pixelSize < 1 || o.pixelSize > 256) {
        error = "the pixel size must be between 1 and 256";
        return std::nullopt;
    }
    if (o.first < 0 || o.last > 255 || o.first > o.last) {
        error = "the character range must satisfy 0 <= first <= last <= 255";
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> file = fs::readFile(o.ttfPath);
    if (!file) {
        error = "cannot read the font file " + o.ttfPath;
        return std::nullopt;
    }

    FreeTypeLibrary ft;
    if (FT_Init_FreeType(&ft.lib) != 0) {
        error = "FreeType could not be initialised";
        return std::nullopt;
    }
    FreeTypeFace face;
    if (FT_New_Memory_Face(ft.lib, file->data(), FT_Long(file->size()), 0, &face.face) != 0) {
        error = o.ttfPath + " is not a font FreeType can read";
        return std::nullopt;
    }
    if (FT_Set_Pixel_Sizes(face.face, 0, FT_UInt(o.pixelSize)) != 0) {
        error = "the font has no glyphs at " + std::to_string(o.pixelSize) + " pixels";
        return std::nullopt;
    }

    const FT_Size_Metrics& m = face.face->size->metrics;
    int above = ceil26_6(m.ascender);
    int below = ceil26_6(-m.descender);
    const int lineHeight = ceil26_6(m.height);

    const int count = o.last - o.first + 1;
    std::vector<Glyph> glyphs(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Glyph& g = glyphs[size_t(i)];
        FT_UInt index = FT_Get_Char_Index(face.face, codePointOfCp1251(uint8_t(o.first + i)));
        // Codes the font has no glyph for (control codes among them) stay
        // empty and take no room.
        if (index == 0) continue;
        if (FT_Load_Glyph(face.face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) continue;
        FT_GlyphSlot slot = face.face->glyph;
        if (!takeBitmap(slot->bitmap, g)) {
            error = "unsupported glyph bitmap format";
            return std::nullopt;
        }
        g.advance = int((slot->advance.x + 32) >> 6);
        g.left = std::max(0, int(slot->bitmap_left));  // ink left of the pen is shifted in
        g.top = slot->bitmap_top;
        above = std::max(above, g.top);
        below = std::max(below, g.height - g.top);
    }

    // One cell size for all glyphs: wide enough for every advance and ink,
    // tall enough for the line and for every glyph above and below the
    // baseline.
    int cellW = 1;
    for (const Glyph& g : glyphs) cellW = std::max({cellW, g.advance, g.left + g.width});
    const int cellH = std::max({1, lineHeight, above + below});
    if (cellW > kMaxTextureSize || cellH > kMaxTextureSize) {
        error = "the glyphs are too large for a texture";
        return std::nullopt;
    }

    // The smallest square-ish power-of-two texture holding every glyph; past
    // 2048 wide the glyphs go to several textures of the same size.
    int texW = 0, texH = 0;
    for (int w = 64; w <= kMaxTextureSize && !texW; w *= 2) {
        if (w < cellW) continue;
        int rows = (count + w / cellW - 1) / (w / cellW);
        int h = nextPowerOfTwo(rows * cellH);
        if (h <= w) {
            texW = w;
            texH = h;
        }
    }
    if (!texW) {
        texW = kMaxTextureSize;
        texH = nextPowerOfTwo((kMaxTextureSize / cellH) * cellH);
    }
    const int perRow = texW / cellW;
    const int perTexture = perRow * (texH / cellH);
    const int texCount = (count + perTexture - 1) / perTexture;

    std::vector<std::vector<uint32_t>> textures(size_t(texCount),
                                                std::vector<uint32_t>(size_t(texW) * size_t(texH), kClearTexel));
    for (int i = 0; i < count; ++i) {
        const Glyph& g = glyphs[size_t(i)];
        std::vector<uint32_t>& tex = textures[size_t(i / perTexture)];
        const int cell = i % perTexture;
        const int x0 = (cell % perRow) * cellW + g.left;
        const int y0 = (cell / perRow) * cellH + (above - g.top);
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width && g.left + x < cellW; ++x) {
                uint8_t a = g.coverage[size_t(y) * size_t(g.width) + size_t(x)];
                if (a) tex[size_t(y0 + y) * size_t(texW) + size_t(x0 + x)] = (uint32_t(a) << 24) | 0xFFFFFFu;
            }
    }

    ByteWriter w;
    w.i32(o.first & 0xFF);
    w.i32(o.spacing);
    w.i32(0);
    w.i32(count);
    for (const Glyph& g : glyphs) {
        w.i32(g.advance);
        w.i32(cellH);
    }
    w.u8(kPixelFormatA8R8G8B8);
    for (int v : {cellW, cellH, cellW, cellH, count, texW, texH, texCount}) w.i32(v);
    std::vector<uint8_t> out = std::move(w.buffer());
    size_t at = out.size();
    out.resize(at + size_t(texCount) * size_t(texW) * size_t(texH) * 4);
    for (const std::vector<uint32_t>& tex : textures)
        for (uint32_t t : tex) {  // little-endian words: B, G, R, A
            out[at++] = uint8_t(t);
            out[at++] = uint8_t(t >> 8);
            out[at++] = uint8_t(t >> 16);
            out[at++] = uint8_t(t >> 24);
        }
    return out;
}

bool ParseFontPayload(const std::vector<uint8_t>& bytes, FontPayloadInfo& info, std::string& error) {
    ByteReader in(bytes);
    int32_t reserved = 0;
    in.i32(info.firstChar);
    in.i32(info.spacing);
    in.i32(reserved);
    in.i32(info.glyphCount);
    if (!in.ok() || info.glyphCount < 0 || size_t(info.glyphCount) > in.remaining() / 8) {
        error = "the glyph table is incomplete";
        return false;
    }
    info.glyphs.clear();
    for (int32_t i = 0; i < info.glyphCount; ++i) {
        int32_t wd = 0, ht = 0;
        in.i32(wd);
        in.i32(ht);
        info.glyphs.emplace_back(wd, ht);
    }
    in.u8(info.pixelFormat);
    for (int32_t* v : {&info.patternWidth, &info.patternHeight, &info.visibleWidth, &info.visibleHeight,
                       &info.patternCount, &info.textureWidth, &info.textureHeight, &info.textureCount})
        in.i32(*v);
    if (!in.ok()) {
        error = "the picture header is incomplete";
        return false;
    }
    static const int kBytes[] = {1, 2, 4, 2, 2, 4, 2, 2, 2, 1, 1};
    if (info.pixelFormat > 10) {
        error = "unknown pixel format " + std::to_string(info.pixelFormat);
        return false;
    }
    if (info.textureWidth <= 0 || info.textureHeight <= 0 || info.textureCount < 0) {
        error = "bad texture size";
        return false;
    }
    info.texelOffset = in.pos();
    const uint64_t need = uint64_t(info.textureWidth) * uint64_t(info.textureHeight) *
                          uint64_t(info.textureCount) * uint64_t(kBytes[info.pixelFormat]);
    if (need > in.remaining()) {
        error = "the texels are incomplete";
        return false;
    }
    return true;
}

}  // namespace nb
