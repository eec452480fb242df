// PNG writing, for screenshots of the logical frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nb {

// Encodes w x h words 0xAARRGGBB (top row first) as an 8-bit RGBA PNG.
// False when the sizes are not positive, the pixels are too few, or libpng
// fails.
bool EncodePng(int width, int height, const uint32_t* argb, size_t count, std::vector<uint8_t>& out);

// Writes the PNG to `path` (native path) atomically: an existing file is
// replaced only when the whole picture was written.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint32_t>& argb);
// The same from a buffer that holds at least width * height words.
bool WritePng(const std::string& path, int width, int height, const uint32_t* argb);

}  // namespace nb
