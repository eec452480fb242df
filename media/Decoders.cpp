#include "media/Decoders.h"

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

bool DecodePicture(std::string_view name, const uint8_t* data, size_t size, Bitmap& out) {
    if (!data || size == 0) return false;
    switch (PictureKindOf(name)) {
        case PictureKind::Tga: {
            // The TGA reader accepts any 16-bit size; hold it to the same
            // limits as the other formats before it reserves memory.
            if (size < 18) return false;
            int w = data[12] | (data[13] << 8), h = data[14] | (data[15] << 8);
            if (!PictureSizeAcceptable(w, h)) return false;
            return DecodeTga(data, size, out);
        }
        case PictureKind::Jpeg: return DecodeJpeg(data, size, out);
        case PictureKind::Png: return DecodePng(data, size, out);
        case PictureKind::Bmp: break;
    }
    return DecodeBmp(data, size, out);
}

}  // namespace nb
