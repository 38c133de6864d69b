#pragma once

#include "imaging/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

Bitmap AdjustTones(Bitmap image, const Settings& s);
Bitmap MakeGreyscale(Bitmap image, const Settings& s);
Bitmap ApplyThreshold(Bitmap image, const Settings& s);

}  // namespace kestrune
