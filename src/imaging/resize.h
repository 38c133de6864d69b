#pragma once

#include "imaging/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

// Pixels (unit 0) or percent of the current size rounded half to even
// (unit 1); any other unit gives 0.
int TargetDimension(int value, int unit, int current);
Bitmap ResizeImage(Bitmap image, int width, int height, const Settings& s);

}  // namespace kestrune
