// 8-bit BMP files whose colour table stops at the highest index in use, and
// the clearing of the pad bytes FreeImage's RLE8 writer leaves unset (for its
// own BMP files as well).
#pragma once

#include <cstddef>

#include "formats/own_writer.h"

namespace kestrune {

// An 8-bit frame at FreeImage's BMP save flags (BMP_SAVE_RLE or none).
bool EncodeExactColourTableBmp(FIBITMAP* image, int32_t save_flags, std::vector<uint8_t>& out);

// Clears the pad byte after each absolute run of odd length in RLE8 pixel
// data; returns whether any byte changed.
bool ClearRle8Padding(uint8_t* data, size_t size);

}  // namespace kestrune
