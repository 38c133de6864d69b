// JPEG-2000 code streams ("j2k") and files ("jp2") through OpenJPEG. The
// encoder settings are FreeImage's own (one quality layer at a 16:1 rate,
// the colour transform for three components, 8-bit grey, RGB, RGBA, 16-bit
// RGB), but the number of resolution levels follows the frame's size, so
// that frames with a side under 32 pixels can be written too.
#pragma once

#include <FreeImage.h>

#include <string>

namespace kestrune {

// Resolution levels for a frame: six, or fewer when the smaller side cannot
// be halved five times.
int JpegTwoThousandLevels(unsigned width, unsigned height);

// Writes `image` (8-bit grey, 24, 32, 48 or 64 bits) into the existing file
// `path` (the caller's temporary file), as a code
// stream or as a JP2 file. Returns false, with possibly a partial file at
// `path`, when the image type is not one of these or the encoder fails.
bool SaveJpegTwoThousand(FIBITMAP* image, const std::string& path, bool jp2_file);

}  // namespace kestrune
