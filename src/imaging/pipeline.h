// The operations every frame goes through, in their one order. The batch
// runs a frame through here between taking it from the GIF and saving it,
// and so does the window's preview: what it shows is what would be saved.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/frame_context.h"
#include "platform/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

struct FrameStep {
    const char* name;
    Bitmap (*apply)(Bitmap, const FrameContext&);
    // Whether the step does anything with these settings at all.
    bool (*active)(const Settings&);
    // The step reads the alpha channel or draws with it, so a frame with one
    // must keep it up to here.
    bool needs_alpha;
    // The frame's size is final once this step has run: the steps after it
    // (frames, watermarks) keep it and may show it.
    bool settles_size;
};

// Every step in the order it runs.
std::span<const FrameStep> FrameSteps();

// True when a step after the named one that is active with these settings
// needs the alpha channel.
bool AlphaNeededAfter(const char* step, const Settings& s);

// The depth a frame of source_bpp bits is saved at: the format's depth
// setting (format.bpp), or with 0 the nearest of its allowed depths at or
// above the frame's own.
int32_t FrameBitDepth(const FrameFormat& format, int32_t source_bpp);

// Runs the frame through every step. context.format.bpp is the depth the
// frame is saved at (FrameBitDepth); the output size is recorded in
// context.width and context.height once it is final. A frame that comes
// out empty names in *emptied_by the step that refused it or ran out of
// memory (nullptr: it came in empty).
Bitmap RunFramePipeline(Bitmap image, FrameContext& context, const FrameStep** emptied_by = nullptr);

}  // namespace kestrune
