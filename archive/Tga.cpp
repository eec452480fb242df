#include "archive/Tga.h"

#include <cstring>

#include "platform/ByteIO.h"

namespace nb {

namespace {

constexpr uint8_t kTopDown = 0x20;
constexpr uint8_t kMirrored = 0x10;

// Reads width * height pixels of `bpp` bytes into `dst` in stored order.
bool readUncompressed(ByteReader& in, uint8_t* dst, size_t pixels, size_t bpp) {
    return in.bytes(dst, pixels * bpp);
}

// Run-length packets: a head byte with the top bit set repeats the next pixel
// (low 7 bits + 1) times, otherwise that many literal pixels follow. A packet
// that runs past the last pixel is cut there.
bool readRle(ByteReader& in, uint8_t* dst, size_t pixels, size_t bpp) {
    size_t done = 0;
    while (done < pixels) {
        uint8_t head;
        if (!in.u8(head)) return false;
        size_t run = size_t(head & 0x7F) + 1;
        size_t take = run < pixels - done ? run : pixels - done;
        if (head & 0x80) {
            uint8_t px[4];
            if (!in.bytes(px, bpp)) return false;
            for (size_t k = 0; k < take; ++k) std::memcpy(dst + (done + k) * bpp, px, bpp);
        } else {
            // Literals past the image end are never read: decoding stops there.
            if (!in.bytes(dst + done * bpp, take * bpp)) return false;
        }
        done += take;
    }
    return true;
}

}  // namespace

bool DecodeTga(const uint8_t* data, size_t size, Bitmap& out) {
    ByteReader in(data, size);
    uint8_t idLength = 0, colourMapType = 0, imageType = 0, bits = 0, descriptor = 0;
    uint16_t width = 0, height = 0;
    in.u8(idLength);
    in.u8(colourMapType);
    in.u8(imageType);
    in.skip(9);  // colour-map fields and origin, unused without a map
    in.u16(width);
    in.u16(height);
    in.u8(bits);
    in.u8(descriptor);
    if (!in.ok()) return false;
    if (colourMapType != 0 || (imageType != 2 && imageType != 10) || (bits != 24 && bits != 32))
        return false;
    if (width == 0 || height == 0) return false;
    if (!in.skip(idLength)) return false;

    const size_t bpp = bits / 8;
    const size_t pixels = size_t(width) * height;
    // Refuse, before allocating, an image the remaining bytes cannot fill:
    // raw data needs every byte, a packet of 1 + bpp bytes gives at most 128.
    const size_t left = in.remaining();
    if (imageType == 2 ? pixels * bpp > left : pixels > (left / (1 + bpp) + 1) * 128) return false;

    std::vector<uint8_t> stored(pixels * bpp);
    bool ok = imageType == 2 ? readUncompressed(in, stored.data(), pixels, bpp)
                             : readRle(in, stored.data(), pixels, bpp);
    if (!ok) return false;

    // TGA pixels are B, G, R (, A): exactly the bitmap's byte order, so rows
    // only need reordering.
    Bitmap bmp;
    bmp.allocate(width, height, int(bits));
    const size_t stride = size_t(width) * bpp;
    const bool topDown = descriptor & kTopDown;
    const bool mirrored = descriptor & kMirrored;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* src = stored.data() + y * stride;
        uint8_t* dst = bmp.pixels.data() + (topDown ? y : height - 1 - y) * stride;
        if (!mirrored) {
            std::memcpy(dst, src, stride);
        } else {
            for (size_t x = 0; x < width; ++x) std::memcpy(dst + (width - 1 - x) * bpp, src + x * bpp, bpp);
        }
    }
    out = std::move(bmp);
    return true;
}

}  // namespace nb
