#pragma once

#include "batch/batch_state.h"
#include "imaging/bitmap.h"

namespace kestrune {

// Brings the image to the output depth: the format's setting, or with the
// automatic flag the nearest allowed depth at or above the source depth
// (stored back as the run's target depth, which "%bpp%" shows).
Bitmap ConvertBitDepth(Bitmap image, BatchState& state);

}  // namespace kestrune
