#pragma once

#include "platform/bitmap.h"
#include "imaging/frame_context.h"
#include "settings/settings.h"

namespace kestrune {

// Pixels (unit 0) or percent of the current size rounded half to even
// (unit 1); any other unit gives 0.
int TargetDimension(int value, int unit, int current);
// The longest side a resize may produce; the area is bounded by the same
// pixel count as a GIF's screen.
inline constexpr int kMaxResizeSide = 1 << 20;
// True when a width x height target is refused.
bool ResizeTooLarge(int width, int height);
Bitmap ResizeImage(Bitmap image, const FrameContext& context);

}  // namespace kestrune
