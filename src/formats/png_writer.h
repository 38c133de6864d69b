// The PNG writer for 24- and 32-bit frames: the same IHDR, pHYs and filtered
// rows as FreeImage's writer (libpng choosing among the none, sub and paeth
// filters by the least sum of the bytes taken as signed), compressed with
// libdeflate instead of zlib. FreeImage's writer keeps the other depths,
// interlaced files and frames carrying what it would write besides pixels
// and resolution.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/bitmap.h"

namespace kestrune {

// True for a 24- or 32-bit frame holding nothing FreeImage's writer would
// store besides the pixels and the resolution: no ICC profile, no comments,
// XMP or Exif metadata, no background colour and no transparency table.
bool PngWriterTakes(FIBITMAP* image);

struct PngCompression {
    int deflate_level = 0;  // libdeflate's; 0 stores the rows unfiltered
    // zlib's level at the library's setting, tried as well on small and
    // flat frames, where zlib's matches can be shorter; -1: not tried.
    int zlib_level = -1;
};

// The compression standing in for FreeImage's PNG compression flags: the
// fastest libdeflate level whose files were never larger than FreeImage's;
// stored without filters for PNG_Z_NO_COMPRESSION and flags naming no level.
PngCompression PngCompressionFor(int32_t save_flags);

// The whole PNG file into `out`. False for a frame PngWriterTakes refuses
// or when memory runs out; `out` is then empty.
bool EncodePng(FIBITMAP* image, PngCompression compression, std::vector<uint8_t>& out);

}  // namespace kestrune
