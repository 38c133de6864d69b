#pragma once

#include <string>

#include "batch/batch_state.h"
#include "imaging/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

// The watermark font of the batch: loaded once before converting, released
// at the end. False when no installed font provides the face.
bool LoadWatermarkFont(const Settings& s);
bool IsWatermarkFontLoaded();
void ReleaseWatermarkFont();

// "Text" with the mask tokens expanded; the rest keeps its case.
std::string ExpandWatermarkText(const Settings& s, const BatchState& state);

// Text (mode 1) or image (mode 2) watermark composited over the image.
Bitmap DrawWatermark(Bitmap image, int width, int height, const Settings& s, const BatchState& state);

}  // namespace kestrune
