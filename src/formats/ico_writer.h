// Icons of one image, written here because FreeImage's writer takes only the
// sizes it likes and gives its 16-bit entries a bit-field header without the
// masks.
#pragma once

#include "formats/own_writer.h"

namespace kestrune {

// Any width and height from 1 to 256 is stored at its own size; 16-bit
// entries are 5-5-5, the layout the BMP-style header means without masks.
// The transparency mask is set where a 32-bit frame is fully transparent and
// clear everywhere else. The save flags are not used.
bool EncodeIcon(FIBITMAP* image, int32_t save_flags, std::vector<uint8_t>& out);

}  // namespace kestrune
