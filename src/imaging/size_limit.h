#pragma once

#include "imaging/frame_context.h"
#include "platform/bitmap.h"

namespace kestrune {

// Frames wider or taller than the format's size limit become limit x limit
// (icons cannot be larger; the aspect ratio is deliberately not kept).
Bitmap LimitSize(Bitmap image, const FrameContext& context);

}  // namespace kestrune
