// The shape every own writer has (ICO, PFM, BMP with an exact colour table):
// the whole file encoded into memory, so that saving writes it out in one
// piece and tests read it without a disk. False when the frame is not one
// the writer takes or memory runs out; `out` then holds nothing usable.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <vector>

namespace kestrune {

using OwnWriter = bool (*)(FIBITMAP* image, int32_t save_flags, std::vector<uint8_t>& out);

}  // namespace kestrune
