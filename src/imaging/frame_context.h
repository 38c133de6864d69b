// What every image operation may read while it transforms a frame. The
// operations take the frame and this context, and return the frame; they
// keep no state of their own between frames, except the layers the batch hands
// them to reuse through `layers`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/mask_tokens.h"
#include "settings/settings.h"

namespace kestrune {

struct LayerCache;

// The facts of the output format the operations act on. The worker fills
// them from the format table; operations never look a format up by name.
struct FrameFormat {
    std::string id;                  // "png": the "%ext%" of names and text
    int32_t bpp = 0;                 // the depth the frame is saved at; 0 = that of the source
    int32_t save_flags = 0;
    int32_t size_limit = 0;          // frames wider or taller become limit x limit; 0 = none
    bool rgb555 = false;             // 16 bits stored as 5-5-5 rather than 5-6-5
    bool grey_at_8_bits = false;     // 8 bits stored as grey rather than with a palette
    bool linear_floats = false;      // float pixels hold linear light, not sRGB values
    std::vector<int32_t> allowed_bpp;  // the depths the format can be saved at, ascending
};

struct FrameContext {
    // A context with settings only, for the operations that read nothing else.
    FrameContext(const Settings& s) : settings(s) {}  // NOLINT: implicit on purpose

    const Settings& settings;
    FrameFormat format;
    // The output size once the frame is rotated and resized; frames and
    // watermarks keep it.
    int width = 0;
    int height = 0;
    // What the name tokens of a watermark text stand for; the extension,
    // depth and size are taken from the fields above (FrameTokens).
    TokenValues tokens;
    LayerCache* layers = nullptr;
};

// The token values of this frame: the file's, with the frame's size and the
// depth it is saved at.
TokenValues FrameTokens(const FrameContext& context);

}  // namespace kestrune
