#pragma once

#include "platform/bitmap.h"
#include "imaging/frame_context.h"

namespace kestrune {

Bitmap AdjustTones(Bitmap image, const FrameContext& context);
Bitmap MakeGreyscale(Bitmap image, const FrameContext& context);
Bitmap ApplyThreshold(Bitmap image, const FrameContext& context);

}  // namespace kestrune
