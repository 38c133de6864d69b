#pragma once

#include "imaging/frame_context.h"
#include "platform/bitmap.h"

namespace kestrune {

// Brings the image to the output depth, context.format.bpp (the caller has
// resolved the automatic depth to the nearest allowed one by then).
Bitmap ConvertBitDepth(Bitmap image, const FrameContext& context);

// A 32-bit frame saved at 24 bits loses its alpha channel at the end anyway
// (dropped, never blended). When no step still to come reads it or draws
// with it (the steps' table says which do), it is dropped
// here instead, so that the resize filters three channels rather than four.
// The library filters every channel on its own, so the saved pixels are
// the same.
Bitmap DropUnusedAlpha(Bitmap image, const FrameContext& context);

}  // namespace kestrune
