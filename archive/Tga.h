// TGA decoding: types 2 (true colour) and 10 (run-length encoded true
// colour), 24 and 32 bits per pixel, bottom-up unless descriptor bit 0x20,
// rows mirrored when descriptor bit 0x10. Damaged data never reads outside
// the buffer; an image with no pixels, or one its data cannot fill, is
// refused before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Bitmap.h"

namespace nb {

// Decodes to a 32-bit bitmap (32-bit TGA) or a 24-bit bitmap (24-bit TGA).
bool DecodeTga(const uint8_t* data, size_t size, Bitmap& out);

}  // namespace nb
