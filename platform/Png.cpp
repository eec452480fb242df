#include "platform/Png.h"

#include <png.h>

#include <cstring>

#include "platform/FileSystem.h"

namespace nb {

bool EncodePng(int width, int height, const uint32_t* argb, size_t count, std::vector<uint8_t>& out) {
    out.clear();
    if (width <= 0 || height <= 0 || !argb) return false;
    if (count < size_t(width) * size_t(height)) return false;

    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    // A word 0xAARRGGBB lies in memory as B, G, R, A on little-endian hosts;
    // spell the bytes out so that the byte order of the host does not matter.
    image.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> bytes(size_t(width) * size_t(height) * 4);
    for (size_t i = 0, n = size_t(width) * size_t(height); i < n; ++i) {
        uint32_t p = argb[i];
        bytes[i * 4 + 0] = uint8_t(p);
        bytes[i * 4 + 1] = uint8_t(p >> 8);
        bytes[i * 4 + 2] = uint8_t(p >> 16);
        bytes[i * 4 + 3] = uint8_t(p >> 24);
    }
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, bytes.data(), 0, nullptr) || size == 0) {
        png_image_free(&image);
        return false;
    }
    out.resize(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, bytes.data(), 0, nullptr)) {
        png_image_free(&image);
        out.clear();
        return false;
    }
    out.resize(size);
    png_image_free(&image);
    return true;
}

bool WritePng(const std::string& path, int width, int height, const std::vector<uint32_t>& argb) {
    std::vector<uint8_t> data;
    if (!EncodePng(width, height, argb.data(), argb.size(), data)) return false;
    return fs::writeFileAtomic(path, data.data(), data.size());
}

bool WritePng(const std::string& path, int width, int height, const uint32_t* argb) {
    if (width <= 0 || height <= 0) return false;
    std::vector<uint8_t> data;
    if (!EncodePng(width, height, argb, size_t(width) * size_t(height), data)) return false;
    return fs::writeFileAtomic(path, data.data(), data.size());
}

}  // namespace nb
