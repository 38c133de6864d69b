// JPEG XR files through jxrlib's encoder. FreeImage offers the format but
// its bundled encoder fails on every image, so "jxr" is written here instead,
// always lossless.
#pragma once

#include <FreeImage.h>

#include <string>

namespace kestrune {

// Writes `image` to `path` losslessly. Depths and layouts:
//   1 bit   black and white when the palette is exactly black and white,
//           otherwise as the 8-bit case;
//   4, 8    8-bit grey when every palette entry is grey, otherwise 24-bit BGR;
//   16      (5-5-5 or 5-6-5) widened to 24-bit BGR;
//   24, 32  BGR, BGRA with the alpha plane kept;
//   48      16-bit RGB;
//   96      32-bit float RGB, the one layout kept only to 22 mantissa bits
//           (jxrlib's limit), which every 8-bit level survives.
// Returns false, with possibly a partial file at `path`, when the image type
// is not one of these or the encoder or the file fails; the caller removes
// what is left. `file_mode` is that of fopen: "r+b" writes into a file that
// must exist already (an empty temporary file) without ever creating it.
bool SaveJpegXr(FIBITMAP* image, const std::string& path, const char* file_mode = "wb");

}  // namespace kestrune
