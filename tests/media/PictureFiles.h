// Small picture writers for the media tests: Windows bitmaps written byte by
// byte (every header variant the reader accepts), PNG and JPEG through the
// libraries, and file helpers for a temporary game folder.
#pragma once

#include <png.h>

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "platform/ByteIO.h"

namespace nb::testpics {

// ---------------------------------------------------------------- bitmaps

struct BmpLayout {
    int bpp = 24;
    uint32_t headerSize = 40;  // 12 (core), 40, 108 (V4) or 124 (V5)
    uint32_t compression = 0;  // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields
    bool topDown = false;
    std::vector<uint32_t> palette;  // 0x00RRGGBB
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    uint32_t colorsUsed = 0;
};

// Assembles a bitmap file around `pixelData` (already in stored row order
// and padding, or run-length codes).
inline std::vector<uint8_t> BmpFile(int w, int h, const BmpLayout& l, const std::vector<uint8_t>& pixelData) {
    ByteWriter info;
    info.u32(l.headerSize);
    if (l.headerSize == 12) {
        info.u16(uint16_t(w));
        info.u16(uint16_t(h));
        info.u16(1);
        info.u16(uint16_t(l.bpp));
    } else {
        info.i32(w);
        info.i32(l.topDown ? -h : h);
        info.u16(1);
        info.u16(uint16_t(l.bpp));
        info.u32(l.compression);
        info.u32(uint32_t(pixelData.size()));
        info.i32(2835);
        info.i32(2835);
        info.u32(l.colorsUsed);
        info.u32(0);
        if (l.headerSize >= 108)
            for (uint32_t m : l.masks) info.u32(m);
        while (info.size() < l.headerSize) info.u8(0);
    }
    ByteWriter extra;
    if (l.headerSize == 40 && l.compression == 3)
        for (int i = 0; i < 3; ++i) extra.u32(l.masks[i]);
    for (uint32_t c : l.palette) {
        extra.u8(uint8_t(c));
        extra.u8(uint8_t(c >> 8));
        extra.u8(uint8_t(c >> 16));
        if (l.headerSize != 12) extra.u8(0);
    }
    ByteWriter f;
    const uint32_t off = uint32_t(14 + info.size() + extra.size());
    f.u8('B');
    f.u8('M');
    f.u32(uint32_t(off + pixelData.size()));
    f.u32(0);
    f.u32(off);
    f.bytes(info.buffer().data(), info.size());
    f.bytes(extra.buffer().data(), extra.size());
    f.bytes(pixelData.data(), pixelData.size());
    return f.buffer();
}

// Rows of `w` pixels at `bpp` bits from a top-down list of values (indices
// for bpp <= 8, 0xAARRGGBB otherwise; 16 bits take the value's low 16 bits
// as stored), packed and padded as a bitmap stores them.
inline std::vector<uint8_t> BmpRows(int w, int h, int bpp, bool topDown, const std::vector<uint32_t>& px) {
    const size_t stride = ((size_t(w) * size_t(bpp) + 31) / 32) * 4;
    std::vector<uint8_t> out(stride * size_t(h), 0);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = out.data() + size_t(topDown ? y : h - 1 - y) * stride;
        for (int x = 0; x < w; ++x) {
            uint32_t v = px[size_t(y) * size_t(w) + size_t(x)];
            switch (bpp) {
                case 1: row[x / 8] |= uint8_t((v & 1) << (7 - (x & 7))); break;
                case 4: row[x / 2] |= uint8_t((v & 15) << ((x & 1) ? 0 : 4)); break;
                case 8: row[x] = uint8_t(v); break;
                case 16:
                    row[2 * x] = uint8_t(v);
                    row[2 * x + 1] = uint8_t(v >> 8);
                    break;
                case 24:
                    row[3 * x] = uint8_t(v);
                    row[3 * x + 1] = uint8_t(v >> 8);
                    row[3 * x + 2] = uint8_t(v >> 16);
                    break;
                case 32:
                    for (int i = 0; i < 4; ++i) row[4 * x + i] = uint8_t(v >> (8 * i));
                    break;
            }
        }
    }
    return out;
}

inline std::vector<uint8_t> Bmp(int w, int h, const BmpLayout& l, const std::vector<uint32_t>& px) {
    return BmpFile(w, h, l, BmpRows(w, h, l.bpp, l.topDown, px));
}

// A grey-ramp palette of 256 entries: index i is colour (i, i, i).
inline std::vector<uint32_t> GreyPalette() {
    std::vector<uint32_t> p(256);
    for (uint32_t i = 0; i < 256; ++i) p[i] = (i << 16) | (i << 8) | i;
    return p;
}

// An 8-bit mask bitmap whose index at (x, y) is value(x, y).
template <class F>
std::vector<uint8_t> MaskBmp(int w, int h, F value) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) px[size_t(y) * size_t(w) + size_t(x)] = uint32_t(value(x, y)) & 0xFF;
    BmpLayout l;
    l.bpp = 8;
    l.palette = GreyPalette();
    return Bmp(w, h, l, px);
}

// ---------------------------------------------------------------- PNG

enum class PngKind { Rgba, Rgb, Palette, Grey16, GreyAlpha };

// Encodes top-down 0xAARRGGBB pixels. Palette: the distinct colours of the
// picture (at most 256) with their alphas in tRNS. Grey16: the green channel
// as 16-bit grey (value * 257).
inline std::vector<uint8_t> Png(int w, int h, const std::vector<uint32_t>& px, PngKind kind = PngKind::Rgba,
                                bool interlaced = false) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(h));
    std::vector<png_color> pal;
    std::vector<png_byte> trans;
    std::vector<uint32_t> colours;
    std::vector<png_bytep> ptrs;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep d, png_size_t n) {
            auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            v->insert(v->end(), d, d + n);
        },
        nullptr);
    int colorType = PNG_COLOR_TYPE_RGBA, depth = 8;
    if (kind == PngKind::Rgb) colorType = PNG_COLOR_TYPE_RGB;
    if (kind == PngKind::Palette) colorType = PNG_COLOR_TYPE_PALETTE;
    if (kind == PngKind::Grey16) colorType = PNG_COLOR_TYPE_GRAY, depth = 16;
    if (kind == PngKind::GreyAlpha) colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), depth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (kind == PngKind::Palette) {
        for (uint32_t c : px) {
            bool seen = false;
            for (uint32_t k : colours) seen = seen || k == c;
            if (!seen) colours.push_back(c);
        }
        for (uint32_t c : colours) {
            pal.push_back(png_color{png_byte(c >> 16), png_byte(c >> 8), png_byte(c)});
            trans.push_back(png_byte(c >> 24));
        }
        png_set_PLTE(png, info, pal.data(), int(pal.size()));
        png_set_tRNS(png, info, trans.data(), int(trans.size()), nullptr);
    }
    for (int y = 0; y < h; ++y) {
        auto& r = rows[size_t(y)];
        for (int x = 0; x < w; ++x) {
            uint32_t c = px[size_t(y) * size_t(w) + size_t(x)];
            uint8_t a = uint8_t(c >> 24), rr = uint8_t(c >> 16), g = uint8_t(c >> 8), b = uint8_t(c);
            switch (kind) {
                case PngKind::Rgba: r.insert(r.end(), {rr, g, b, a}); break;
                case PngKind::Rgb: r.insert(r.end(), {rr, g, b}); break;
                case PngKind::Palette: {
                    size_t i = 0;
                    while (colours[i] != c) ++i;
                    r.push_back(uint8_t(i));
                    break;
                }
                case PngKind::Grey16: r.insert(r.end(), {g, g}); break;
                case PngKind::GreyAlpha: r.insert(r.end(), {g, a}); break;
            }
        }
    }
    for (auto& r : rows) ptrs.push_back(r.data());
    png_set_rows(png, info, ptrs.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// ---------------------------------------------------------------- JPEG

// Encodes top-down 0x00RRGGBB pixels (grey: the green channel).
inline std::vector<uint8_t> Jpeg(int w, int h, const std::vector<uint32_t>& px, int quality = 95,
                                 bool grey = false, bool progressive = false) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = grey ? 1 : 3;
    c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(w) * 3);
    while (c.next_scanline < c.image_height) {
        int y = int(c.next_scanline);
        for (int x = 0; x < w; ++x) {
            uint32_t v = px[size_t(y) * size_t(w) + size_t(x)];
            if (grey) {
                row[size_t(x)] = uint8_t(v >> 8);
            } else {
                row[3 * size_t(x)] = uint8_t(v >> 16);
                row[3 * size_t(x) + 1] = uint8_t(v >> 8);
                row[3 * size_t(x) + 2] = uint8_t(v);
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> out(buf, buf + size);
    jpeg_destroy_compress(&c);
    std::free(buf);
    return out;
}

// A flat-coloured picture (JPEG keeps flat colours within a step or two).
inline std::vector<uint32_t> Flat(int w, int h, uint32_t argb) { return std::vector<uint32_t>(size_t(w) * size_t(h), argb); }

// ---------------------------------------------------------------- files

// A fresh temporary folder, removed with its content at the end of scope.
class TempFolder {
public:
    TempFolder() {
        std::random_device rd;
        std::filesystem::path base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / ("nbmedia-" + std::to_string(rd()));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Native path with a trailing '/'.
    std::string dir() const { return path_.string() + "/"; }
    std::string path(const std::string& rel) const { return dir() + rel; }

    void write(const std::string& rel, const std::vector<uint8_t>& bytes) const {
        std::filesystem::path p = path_ / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    void write(const std::string& rel, const std::string& text) const {
        write(rel, std::vector<uint8_t>(text.begin(), text.end()));
    }
    bool exists(const std::string& rel) const { return std::filesystem::exists(path_ / rel); }
    std::string read(const std::string& rel) const {
        std::ifstream in(path_ / rel, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::filesystem::path path_;
};

}  // namespace nb::testpics
