// A decoded picture in memory, as the decoders produce it and as the render
// framework fills images from it.
//
// Rows are stored top-down without padding. Pixel layouts:
//  - 32 bits: one little-endian 32-bit word 0xAARRGGBB per pixel (bytes B, G, R, A);
//  - 24 bits: bytes B, G, R;
//  - 8 bits: one palette index per pixel; `palette` holds 0xAARRGGBB colours.
// An 8-bit bitmap keeps its indices so that an alpha mask can read them.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace nb {

struct Bitmap {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 32;  // 8, 24 or 32
    std::vector<uint8_t> pixels;
    std::vector<uint32_t> palette;

    bool empty() const { return width <= 0 || height <= 0; }
    int bytesPerPixel() const { return bitsPerPixel / 8; }
    size_t stride() const { return size_t(width) * size_t(bytesPerPixel()); }

    void allocate(int w, int h, int bpp) {
        width = w;
        height = h;
        bitsPerPixel = bpp;
        pixels.assign(size_t(w) * size_t(h) * size_t(bpp / 8), 0);
    }

    // The pixel as 0xAARRGGBB; 24-bit pixels and palette colours read with
    // alpha 255 unless the palette entry says otherwise.
    uint32_t argb(int x, int y) const {
        const uint8_t* p = pixels.data() + size_t(y) * stride() + size_t(x) * size_t(bytesPerPixel());
        switch (bitsPerPixel) {
            case 32: {
                uint32_t v;
                std::memcpy(&v, p, 4);
                return v;
            }
            case 24: return 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
            case 8: return *p < palette.size() ? palette[*p] : 0xFF000000u;
            default: return 0;
        }
    }
    // The 8-bit value of a pixel: the palette index for 8-bit bitmaps, the
    // blue channel otherwise.
    uint8_t value8(int x, int y) const {
        const uint8_t* p = pixels.data() + size_t(y) * stride() + size_t(x) * size_t(bytesPerPixel());
        return *p;
    }
    void setArgb(int x, int y, uint32_t v) {
        uint8_t* p = pixels.data() + size_t(y) * stride() + size_t(x) * 4;
        std::memcpy(p, &v, 4);
    }

    // The same picture with 32 bits per pixel; pixels that had no alpha get 255.
    Bitmap to32() const {
        if (bitsPerPixel == 32) return *this;
        Bitmap r;
        r.allocate(width, height, 32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) r.setArgb(x, y, argb(x, y) | (bitsPerPixel == 24 ? 0xFF000000u : 0u));
        return r;
    }
};

// Receives a picture row by row, top to bottom, as a decoder produces it, so
// that a picture can go straight into its destination without a whole
// intermediate bitmap. Rows use the layouts of Bitmap.
class PictureRows {
public:
    virtual ~PictureRows() = default;
    // The picture's size and layout, before any row (`palette` only matters
    // for 8 bits and stays valid until the last row). False refuses the
    // picture: the decoder stops and answers false.
    virtual bool Begin(int width, int height, int bitsPerPixel, const std::vector<uint32_t>& palette) = 0;
    // Where row y is to be written: width * bitsPerPixel / 8 bytes.
    virtual uint8_t* Row(int y) = 0;
    // Row y has been written in full.
    virtual void RowDone(int y) = 0;
    // True when the receiver would rather take 32-bit rows from a decoder
    // that makes them as cheaply as 24-bit ones (JPEG); their fourth byte
    // is then 255.
    virtual bool WantsBgrx() const { return false; }
};

// Collects the rows into a bitmap.
class BitmapRows final : public PictureRows {
public:
    Bitmap bitmap;
    bool Begin(int w, int h, int bpp, const std::vector<uint32_t>& palette) override {
        bitmap.allocate(w, h, bpp);
        bitmap.palette = palette;
        return true;
    }
    uint8_t* Row(int y) override { return bitmap.pixels.data() + size_t(y) * bitmap.stride(); }
    void RowDone(int) override {}
};

}  // namespace nb
