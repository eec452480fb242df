// Picture decoders: Windows bitmaps (our own reader), PNG (libpng), JPEG
// (libjpeg) and TGA (archive/Tga.h), and the choice among them by a name's
// extension.
//
// Every decoder reads only inside the buffer it is given and answers false
// for data it cannot turn into a picture; on false the output bitmap is left
// unchanged. Pictures wider or higher than kMaxPictureSide pixels, or with
// more than kMaxPicturePixels pixels, are refused before any pixel memory is
// reserved, so a damaged header cannot ask for gigabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/Bitmap.h"

namespace nb {

inline constexpr int kMaxPictureSide = 16384;
inline constexpr int64_t kMaxPicturePixels = int64_t(64) << 20;

// True when a picture of w x h pixels is within the limits above.
inline bool PictureSizeAcceptable(int64_t w, int64_t h) {
    return w > 0 && h > 0 && w <= kMaxPictureSide && h <= kMaxPictureSide && w * h <= kMaxPicturePixels;
}

// Windows bitmap: file header "BM", then a 12-byte core header or a
// BITMAPINFOHEADER (40 bytes) or one of its longer versions (V2 to V5);
// 1, 4, 8, 16, 24 and 32 bits per pixel; uncompressed, RLE8, RLE4 and bit
// fields (16 and 32 bits); rows bottom-up or, with a negative height,
// top-down.
// Results: 1, 4 and 8-bit pictures become 8-bit indices with their palette
// (palette alpha 255), so that an alpha mask reads its indices; 16 and
// 24-bit pictures become 24 bits; 32-bit pictures become 32 bits and keep
// their alpha byte only when some pixel has a non-zero alpha, otherwise every
// alpha is 255 (most writers leave the fourth byte zero).
bool DecodeBmp(const uint8_t* data, size_t size, Bitmap& out);

// PNG of any colour type and depth, to 32 bits with alpha (palette, grey and
// 16-bit channels expanded or reduced; no alpha channel reads 255).
bool DecodePng(const uint8_t* data, size_t size, Bitmap& out);

// JPEG (baseline, progressive, grey, CMYK) to 24 bits.
bool DecodeJpeg(const uint8_t* data, size_t size, Bitmap& out);

// The same two decoders handing out rows as they are decoded. On false the
// receiver may have been given some rows; it must drop them.
bool DecodePng(const uint8_t* data, size_t size, PictureRows& out);
bool DecodeJpeg(const uint8_t* data, size_t size, PictureRows& out);

// The decoder for a picture named `nameForExtension`, chosen by its extension
// without regard to letter case: ".tga" TGA, ".jpg" and ".jpeg" JPEG, ".png"
// PNG, anything else (also no extension) a Windows bitmap. Both '\\' and '/'
// separate folders in the name.
enum class PictureKind : uint8_t { Bmp, Tga, Jpeg, Png };
PictureKind PictureKindOf(std::string_view nameForExtension);
bool DecodePicture(std::string_view nameForExtension, const uint8_t* data, size_t size, Bitmap& out);
// The same choice, handing out rows: JPEG and PNG rows come as they are
// decoded; bitmaps and TGA are decoded whole first.
bool DecodePicture(std::string_view nameForExtension, const uint8_t* data, size_t size, PictureRows& out);

}  // namespace nb
