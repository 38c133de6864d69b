#pragma once

#include <cstdint>

#include "imaging/bitmap.h"

namespace kestrune {

// Frames wider or taller than limit become limit x limit (the aspect ratio
// is deliberately not kept: the format cannot hold more), and width/height
// follow. A limit of 0 leaves every frame as it is.
Bitmap LimitFrameSize(Bitmap image, int32_t limit, int& width, int& height);

}  // namespace kestrune
