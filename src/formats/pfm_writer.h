// Portable float maps, written here because FreeImage's writer stores the
// rows top-down like the other portable formats, where a float map keeps
// them bottom-up.
#pragma once

#include "formats/own_writer.h"

namespace kestrune {

// An RGBF (PF) or FLOAT (Pf) frame with little-endian floats. The save flags
// are not used.
bool EncodePfm(FIBITMAP* image, int32_t save_flags, std::vector<uint8_t>& out);

}  // namespace kestrune
