#include "imaging/pipeline.h"

#include <cstring>

#include "imaging/bit_depth.h"
#include "imaging/frame.h"
#include "imaging/resize.h"
#include "imaging/rotate.h"
#include "imaging/size_limit.h"
#include "imaging/tones.h"
#include "imaging/watermark.h"

namespace kestrune {
namespace {

bool Always(const Settings&) { return true; }
bool Resizing(const Settings& s) { return s.do_image_resize != 0; }
bool Toning(const Settings& s) { return s.do_image_color_correction != 0; }
bool Greying(const Settings& s) { return s.do_image_greyscale != 0; }
bool Thresholding(const Settings& s) { return s.do_image_threshold != 0; }
bool Framing(const Settings& s) { return s.do_frame != 0; }
bool Watermarking(const Settings& s) { return s.do_watermark != kNoWatermark; }

// Rotation and the flips, resize and size limit read their own settings
// and leave the frame as it is when off; they run whatever the settings say
// so that each keeps its own decision.
constexpr FrameStep kSteps[] = {
    {"rotate", RotateImage, Always, false, false},
    {"drop unused alpha", DropUnusedAlpha, Resizing, false, false},
    {"resize", ResizeImage, Always, false, false},
    {"size limit", LimitSize, Always, false, true},
    {"flip", FlipImage, Always, false, false},
    {"tones", AdjustTones, Toning, true, false},
    {"greyscale", MakeGreyscale, Greying, true, false},
    {"threshold", ApplyThreshold, Thresholding, true, false},
    {"frame", DrawSolidFrame, Framing, true, false},
    {"watermark", DrawWatermark, Watermarking, true, false},
    {"bit depth", ConvertBitDepth, Always, false, false},
};

}  // namespace

std::span<const FrameStep> FrameSteps() { return kSteps; }

bool AlphaNeededAfter(const char* step, const Settings& s) {
    bool after = false;
    for (const FrameStep& each : kSteps) {
        if (after && each.needs_alpha && each.active(s)) return true;
        if (std::strcmp(each.name, step) == 0) after = true;
    }
    return false;
}

int32_t FrameBitDepth(const FrameFormat& format, int32_t source_bpp) {
    if (format.bpp != 0) return format.bpp;
    int32_t result = 0;
    for (int32_t depth : format.allowed_bpp) {
        result = depth;
        if (result >= source_bpp) break;
    }
    return result;
}

Bitmap RunFramePipeline(Bitmap image, FrameContext& context, const FrameStep** emptied_by) {
    for (const FrameStep& step : kSteps) {
        if (!step.active(context.settings)) continue;
        const bool had_pixels = static_cast<bool>(image);
        image = step.apply(std::move(image), context);
        if (had_pixels && !image && emptied_by) *emptied_by = &step;
        if (step.settles_size) {
            context.width = WidthOf(image);
            context.height = HeightOf(image);
        }
    }
    return image;
}

}  // namespace kestrune
