#pragma once

#include <string>

#include "imaging/frame_context.h"
#include "imaging/layer_cache.h"
#include "platform/bitmap.h"
#include "settings/mask_tokens.h"
#include "settings/settings.h"

namespace kestrune {

// The watermark font of the batch: loaded once before converting, released
// at the end. False when no installed font provides the face.
bool LoadWatermarkFont(LayerCache& cache, const Settings& s);
bool IsWatermarkFontLoaded(LayerCache& cache);
void ReleaseWatermarkFont(LayerCache& cache);

// "Text" with the mask tokens expanded; the rest keeps its case.
std::string ExpandWatermarkText(const Settings& s, const TokenValues& tokens);

// Text (mode 1) or image (mode 2) watermark composited over the image, with
// the blocks of context.layers (without them the frame stays as it is). Only
// the part of the watermark that lands on the image is drawn, so its size
// costs nothing beyond the image's; a watermark with nothing left on the
// image, or a logo too large for the memory budget, fails the frame (empty
// result).
Bitmap DrawWatermark(Bitmap image, const FrameContext& context);

// The placement steps shared by both modes; offsets, boundary and position
// come from the text or the image settings by "Do Watermark". `width` and
// `height` are the image's.
//
struct WatermarkPoint {
    long long x = 0, y = 0;
    bool operator==(const WatermarkPoint&) const = default;
};
// Top-left corner in the image of a watermark of the given (clipped) size.
WatermarkPoint PlaceWatermark(long long watermark_width, long long watermark_height, int width, int height,
                              const Settings& s);

}  // namespace kestrune
