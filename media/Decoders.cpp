#include "media/Decoders.h"

#include <cstring>

#include "archive/Tga.h"
#include "platform/Text.h"

namespace nb {

PictureKind PictureKindOf(std::string_view name) {
    size_t slash = name.find_last_of("\\/");
    std::string_view file = slash == std::string_view::npos ? name : name.substr(slash + 1);
    size_t dot = file.rfind('.');
    if (dot == std::string_view::npos) return PictureKind::Bmp;
    std::string ext = asciiLower(file.substr(dot));
    if (ext == ".tga") return PictureKind::Tga;
    if (ext == ".jpg" || ext == ".jpeg") return PictureKind::Jpeg;
    if (ext == ".png") return PictureKind::Png;
    return PictureKind::Bmp;
}

namespace {

// TGA holds any 16-bit size; it is held to the same limits as the other
// formats before its reader reserves memory.
bool DecodeTgaWithinLimits(const uint8_t* data, size_t size, Bitmap& out) {
    if (size < 18) return false;
    int w = data[12] | (data[13] << 8), h = data[14] | (data[15] << 8);
    if (!PictureSizeAcceptable(w, h)) return false;
    return DecodeTga(data, size, out);
}

}  // namespace

bool DecodePicture(std::string_view name, const uint8_t* data, size_t size, PictureRows& out) {
    if (!data || size == 0) return false;
    Bitmap whole;
    switch (PictureKindOf(name)) {
        case PictureKind::Jpeg: return DecodeJpeg(data, size, out);
        case PictureKind::Png: return DecodePng(data, size, out);
        case PictureKind::Tga:
            if (!DecodeTgaWithinLimits(data, size, whole)) return false;
            break;
        case PictureKind::Bmp:
            if (!DecodeBmp(data, size, whole)) return false;
            break;
    }
    if (!out.Begin(whole.width, whole.height, whole.bitsPerPixel, whole.palette)) return false;
    for (int y = 0; y < whole.height; ++y) {
        std::memcpy(out.Row(y), whole.pixels.data() + size_t(y) * whole.stride(), whole.stride());
        out.RowDone(y);
    }
    return true;
}

bool DecodePicture(std::string_view name, const uint8_t* data, size_t size, Bitmap& out) {
    if (!data || size == 0) return false;
    switch (PictureKindOf(name)) {
        case PictureKind::Tga: return DecodeTgaWithinLimits(data, size, out);
        case PictureKind::Jpeg: return DecodeJpeg(data, size, out);
        case PictureKind::Png: return DecodePng(data, size, out);
        case PictureKind::Bmp: break;
    }
    return DecodeBmp(data, size, out);
}

}  // namespace nb
