#pragma once

#include "platform/bitmap.h"
#include "imaging/frame_context.h"
#include "settings/settings.h"

namespace kestrune {

// The size a simple rotation of a width x height image gives, and the largest
// bitmap it makes on the way (in pixels).
struct RotationCanvas {
    long long width = 0, height = 0;
    long long largest_pixels = 0;
};
RotationCanvas SimpleRotationCanvas(long long width, long long height, double degrees);

Bitmap RotateImage(Bitmap image, const FrameContext& context);
// In place; an empty bitmap is left alone.
Bitmap FlipImage(Bitmap image, const FrameContext& context);
// Simple rotation of a 32-bit watermark by "Text Rotation" (text mode) or the
// watermark's "Image Rotation" (image mode); corners stay transparent.
Bitmap RotateWatermark(Bitmap watermark, const Settings& s);

}  // namespace kestrune
