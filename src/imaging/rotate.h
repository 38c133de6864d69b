#pragma once

#include "imaging/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

// The size a simple rotation of a width x height image gives, and the largest
// bitmap it makes on the way (in pixels).
struct RotationCanvas {
    long long width = 0, height = 0;
    long long largest_pixels = 0;
};
RotationCanvas SimpleRotationCanvas(int width, int height, double degrees);

Bitmap RotateImage(Bitmap image, const Settings& s);
// In place; an empty bitmap is left alone.
void FlipImage(Bitmap& image, const Settings& s);
// Simple rotation of a 32-bit watermark by "Text Rotation" (text mode) or the
// watermark's "Image Rotation" (image mode); corners stay transparent.
Bitmap RotateWatermark(Bitmap watermark, const Settings& s);

}  // namespace kestrune
