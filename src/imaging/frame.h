#pragma once

#include "platform/bitmap.h"
#include "imaging/frame_context.h"

namespace kestrune {

// Four solid bands with mitred corners over the border of the image, blended
// with "Solid Opacity". The image keeps its size and becomes 24-bit.
Bitmap DrawSolidFrame(Bitmap image, const FrameContext& context);

}  // namespace kestrune
