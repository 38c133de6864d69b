#pragma once

#include "imaging/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

// Four solid bands with mitred corners over the border of the image, blended
// with "Solid Opacity". The image keeps its size and becomes 24-bit.
Bitmap DrawSolidFrame(Bitmap image, int width, int height, const Settings& s);

}  // namespace kestrune
