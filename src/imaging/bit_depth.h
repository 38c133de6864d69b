#pragma once

#include "batch/batch_state.h"
#include "imaging/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

// Brings the image to the output depth: the format's setting, or with the
// automatic flag the nearest allowed depth at or above the source depth
// (stored back as the run's target depth, which "%bpp%" shows).
Bitmap ConvertBitDepth(Bitmap image, BatchState& state);

// The depth ConvertBitDepth will bring this file's frames to.
int32_t OutputBitDepth(const BatchState& state);

// A 32-bit frame saved at 24 bits loses its alpha channel at the end anyway
// (dropped, never blended). When no step still to come reads it or draws
// with it (only resize, flips and the icon size limit remain), it is dropped
// here instead, so that the resize filters three channels rather than four.
// The library filters every channel on its own, so the saved pixels are
// the same.
Bitmap DropUnusedAlpha(Bitmap image, const BatchState& state, const Settings& s);

}  // namespace kestrune
