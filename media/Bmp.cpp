// Windows bitmap reader. Everything read from the file goes through a
// bounds-checked reader or an explicit size check: a damaged bitmap answers
// false (or, for run-length data that ends early, the part decoded so far),
// never a read outside the buffer.
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "media/Decoders.h"
#include "platform/ByteIO.h"

namespace nb {

namespace {

enum : uint32_t { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6 };

constexpr size_t kFileHeaderSize = 14;

struct BmpInfo {
    uint32_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0;  // negative: rows top-down
    uint16_t bpp = 0;
    uint32_t compression = kBiRgb;
    uint32_t imageSize = 0;
    uint32_t colorsUsed = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool hasMasks = false;
    bool core = false;  // 12-byte header: 3-byte palette entries
};

// One colour channel described by a bit mask (bit fields): extracts the
// value and widens it to 8 bits, v * 255 / max rounded to nearest.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (m) {
            shift = std::countr_zero(m);
            max = m >> shift;
        }
    }
    uint8_t get(uint32_t v, uint8_t absent) const {
        if (!max) return absent;
        uint64_t x = (v & mask) >> shift;
        return uint8_t((x * 255 + max / 2) / max);
    }
};

bool readInfo(ByteReader& r, BmpInfo& info) {
    if (!r.u32(info.headerSize)) return false;
    if (info.headerSize == 12) {
        uint16_t w, h, planes;
        if (!r.u16(w) || !r.u16(h) || !r.u16(planes) || !r.u16(info.bpp)) return false;
        info.width = w;
        info.height = h;
        info.core = true;
        return true;
    }
    // BITMAPINFOHEADER and its longer versions share the first 40 bytes;
    // 64 is the extended header of another system, read the same way.
    if (info.headerSize < 40 || info.headerSize > 4096) return false;
    int32_t w, h, ppmX, ppmY;
    uint16_t planes;
    uint32_t important;
    if (!r.i32(w) || !r.i32(h) || !r.u16(planes) || !r.u16(info.bpp) || !r.u32(info.compression) ||
        !r.u32(info.imageSize) || !r.i32(ppmX) || !r.i32(ppmY) || !r.u32(info.colorsUsed) || !r.u32(important))
        return false;
    info.width = w;
    info.height = h;
    if (info.headerSize >= 52 && info.headerSize != 64) {
        // V2 and later hold the masks inside the header.
        if (!r.u32(info.masks[0]) || !r.u32(info.masks[1]) || !r.u32(info.masks[2])) return false;
        if (info.headerSize >= 56 && !r.u32(info.masks[3])) return false;
        info.hasMasks = true;
    }
    return true;
}

// 16 and 32-bit pixels through bit masks.
void decodeMasked(const uint8_t* row, int w, int bpp, const Channel ch[4], uint8_t* dst, int dstBpp,
                  bool& anyAlpha) {
    for (int x = 0; x < w; ++x) {
        uint32_t v;
        if (bpp == 16)
            v = uint32_t(row[2 * x]) | (uint32_t(row[2 * x + 1]) << 8);
        else
            v = uint32_t(row[4 * x]) | (uint32_t(row[4 * x + 1]) << 8) | (uint32_t(row[4 * x + 2]) << 16) |
                (uint32_t(row[4 * x + 3]) << 24);
        uint8_t* d = dst + size_t(x) * size_t(dstBpp / 8);
        d[0] = ch[2].get(v, 0);
        d[1] = ch[1].get(v, 0);
        d[2] = ch[0].get(v, 0);
        if (dstBpp == 32) {
            d[3] = ch[3].get(v, 0);
            if (d[3]) anyAlpha = true;
        }
    }
}

// Run-length data (RLE8 when `four` is false, RLE4 when true) into 8-bit
// indices. `rowOf` maps a file row (0 = first stored) to a bitmap row. Data
// that ends without the end-of-bitmap code keeps what was decoded.
void decodeRle(ByteReader& r, bool four, int w, int h, bool bottomUp, Bitmap& bmp) {
    int x = 0, y = 0;  // y counts stored rows
    auto put = [&](uint8_t index) {
        if (x < w && y < h) {
            int row = bottomUp ? h - 1 - y : y;
            bmp.pixels[size_t(row) * size_t(w) + size_t(x)] = index;
        }
        if (x < w) ++x;  // pixels past the right edge are dropped
    };
    while (y < h) {
        uint8_t count, value;
        if (!r.u8(count) || !r.u8(value)) return;
        if (count > 0) {
            for (int i = 0; i < count && x < w; ++i)
                put(four ? uint8_t((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of bitmap
                return;
            case 2: {  // delta
                uint8_t dx, dy;
                if (!r.u8(dx) || !r.u8(dy)) return;
                x = std::min(x + int(dx), w);
                y += dy;
                break;
            }
            default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
                size_t n = value;
                size_t bytes = four ? (n + 1) / 2 : n;
                std::string_view run;
                if (!r.view(bytes, run)) return;
                for (size_t i = 0; i < n; ++i) {
                    uint8_t b = uint8_t(run[four ? i / 2 : i]);
                    put(four ? uint8_t((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
                }
                if (bytes & 1) r.skip(1);
                break;
            }
        }
    }
}

}  // namespace

bool DecodeBmp(const uint8_t* data, size_t size, Bitmap& out) {
    if (!data) return false;
    ByteReader r(data, size);
    uint8_t b, m;
    uint32_t fileSize, reserved, offBits;
    if (!r.u8(b) || !r.u8(m) || b != 'B' || m != 'M') return false;
    if (!r.u32(fileSize) || !r.u32(reserved) || !r.u32(offBits)) return false;

    BmpInfo info;
    if (!readInfo(r, info)) return false;
    if (info.height == std::numeric_limits<int32_t>::min()) return false;
    const bool bottomUp = info.height > 0;
    const int64_t w64 = info.width;
    const int64_t h64 = bottomUp ? info.height : -info.height;
    if (!PictureSizeAcceptable(w64, h64)) return false;
    const int w = int(w64), h = int(h64);
    const int bpp = info.bpp;

    switch (info.compression) {
        case kBiRgb:
            if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
            break;
        case kBiRle8:
            if (bpp != 8) return false;
            break;
        case kBiRle4:
            if (bpp != 4) return false;
            break;
        case kBiBitfields:
        case kBiAlphaBitfields:
            if (bpp != 16 && bpp != 32) return false;
            break;
        default:
            return false;
    }
    if (info.core && info.compression != kBiRgb) return false;

    // Bit fields after a plain 40-byte header follow it directly.
    size_t afterHeader = kFileHeaderSize + size_t(info.headerSize);
    if (afterHeader > size || !r.seek(afterHeader)) return false;
    if ((info.compression == kBiBitfields || info.compression == kBiAlphaBitfields) && !info.hasMasks) {
        if (!r.u32(info.masks[0]) || !r.u32(info.masks[1]) || !r.u32(info.masks[2])) return false;
        if (info.compression == kBiAlphaBitfields && !r.u32(info.masks[3])) return false;
        info.hasMasks = true;
    }
    const size_t paletteStart = r.pos();

    // Pixel data: where the file header says; a zero offset means "right
    // after the palette" (seen in some writers).
    Bitmap bmp;
    if (bpp <= 8) {
        const size_t entry = info.core ? 3 : 4;
        size_t count = info.colorsUsed ? info.colorsUsed : (size_t(1) << bpp);
        count = std::min(count, size_t(1) << bpp);
        if (offBits == 0) offBits = uint32_t(std::min<size_t>(paletteStart + count * entry, UINT32_MAX));
        // Only the entries that lie before the pixel data count; the rest
        // read as opaque black.
        size_t end = std::min<size_t>(offBits, size);
        size_t avail = end > paletteStart ? (end - paletteStart) / entry : 0;
        bmp.palette.assign(std::max<size_t>(count, 1), 0xFF000000u);
        for (size_t i = 0; i < std::min(count, avail); ++i) {
            const uint8_t* p = data + paletteStart + i * entry;
            bmp.palette[i] = 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        }
    } else if (offBits == 0) {
        offBits = uint32_t(paletteStart);
    }
    if (offBits < paletteStart || offBits >= size) return false;

    if (info.compression == kBiRle8 || info.compression == kBiRle4) {
        size_t avail = size - offBits;
        if (info.imageSize && info.imageSize < avail) avail = info.imageSize;
        ByteReader rle(data + offBits, avail);
        bmp.allocate(w, h, 8);
        decodeRle(rle, info.compression == kBiRle4, w, h, bottomUp, bmp);
        out = std::move(bmp);
        return true;
    }

    const size_t rowBytes = (size_t(w) * size_t(bpp) + 7) / 8;
    const size_t stride = ((size_t(w) * size_t(bpp) + 31) / 32) * 4;
    // The last row's padding may be missing; its pixels may not.
    if (size - offBits < stride * size_t(h - 1) + rowBytes) return false;
    const uint8_t* pix = data + offBits;
    auto srcRow = [&](int y) { return pix + size_t(bottomUp ? h - 1 - y : y) * stride; };

    if (bpp <= 8) {
        bmp.allocate(w, h, 8);
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = srcRow(y);
            uint8_t* d = bmp.pixels.data() + size_t(y) * size_t(w);
            if (bpp == 8) {
                std::memcpy(d, s, size_t(w));
            } else if (bpp == 4) {
                for (int x = 0; x < w; ++x) d[x] = (x & 1) ? (s[x / 2] & 0x0F) : (s[x / 2] >> 4);
            } else {
                for (int x = 0; x < w; ++x) d[x] = (s[x / 8] >> (7 - (x & 7))) & 1;
            }
        }
    } else if (bpp == 24) {
        bmp.allocate(w, h, 24);
        for (int y = 0; y < h; ++y) std::memcpy(bmp.pixels.data() + size_t(y) * bmp.stride(), srcRow(y), rowBytes);
    } else if (bpp == 32 && info.compression == kBiRgb) {
        // Fourth byte is alpha only when some pixel uses it.
        bmp.allocate(w, h, 32);
        bool anyAlpha = false;
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = srcRow(y);
            std::memcpy(bmp.pixels.data() + size_t(y) * bmp.stride(), s, rowBytes);
            for (int x = 0; x < w && !anyAlpha; ++x) anyAlpha = s[4 * x + 3] != 0;
        }
        if (!anyAlpha)
            for (size_t i = 3; i < bmp.pixels.size(); i += 4) bmp.pixels[i] = 255;
    } else {
        // 16 bits (5-5-5 unless bit fields say otherwise) and 32-bit bit fields.
        uint32_t masks[4] = {info.masks[0], info.masks[1], info.masks[2], info.masks[3]};
        if (info.compression == kBiRgb) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
            masks[3] = 0;
        }
        const Channel ch[4] = {Channel(masks[0]), Channel(masks[1]), Channel(masks[2]), Channel(masks[3])};
        const int dstBpp = masks[3] ? 32 : 24;
        bmp.allocate(w, h, dstBpp);
        bool anyAlpha = false;
        for (int y = 0; y < h; ++y)
            decodeMasked(srcRow(y), w, bpp, ch, bmp.pixels.data() + size_t(y) * bmp.stride(), dstBpp, anyAlpha);
        if (dstBpp == 32 && !anyAlpha)
            for (size_t i = 3; i < bmp.pixels.size(); i += 4) bmp.pixels[i] = 255;
    }
    out = std::move(bmp);
    return true;
}

}  // namespace nb
