#pragma once

#include "imaging/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

Bitmap RotateImage(Bitmap image, const Settings& s);
// In place; an empty bitmap is left alone.
void FlipImage(Bitmap& image, const Settings& s);
// Simple rotation of a 32-bit watermark by "Text Rotation" (text mode) or the
// watermark's "Image Rotation" (image mode); corners stay transparent.
Bitmap RotateWatermark(Bitmap watermark, const Settings& s);

}  // namespace kestrune
