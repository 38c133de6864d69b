// The layers a batch draws once and lays over many frames: the solid frame,
// the text watermark block with its font, the image watermark block. The
// batch owns one and hands it to the operations through their context;
// several frames may be drawn at once, so every use of the members holds
// `mutex`. The layers are shared: a frame keeps its own reference to the one
// it lays over and composites without the lock, so that frames drawn side
// by side do not take turns, and a layer replaced meanwhile stays alive
// until they are done with it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "platform/drawing.h"

namespace kestrune {

// The frame layer depends only on the size and the frame settings.
struct FrameLayerKey {
    int width = 0, height = 0;
    int left = 0, right = 0, top = 0, bottom = 0;
    std::string left_colour, right_colour, top_colour, bottom_colour;
    int opacity = 0;
    bool operator==(const FrameLayerKey&) const = default;
};

// The text block is drawn again only when its text (tokens expanded) or one
// of its settings changes.
struct TextBlockKey {
    std::string text;
    int leading = 0;
    std::string font_colour;
    int text_opacity = 0;
    std::string back_colour;
    int back_opacity = 0;
    int antialiasing = 0;
    int alignment = 0;
    int padding = 0;
    int rotation = 0;
    bool operator==(const TextBlockKey&) const = default;
};

// The image block is read again when the file changes on disk.
struct LogoKey {
    std::string path;
    long long size = 0;
    long long modified_ns = 0;
    int greyscale = 0;
    int opacity = 0;
    int rotation = 0;
    bool operator==(const LogoKey&) const = default;
};

using SharedLayer = std::shared_ptr<FIBITMAP>;
inline SharedLayer ShareLayer(Bitmap layer) { return SharedLayer(layer.release(), BitmapDeleter{}); }

// A text block measured but not drawn: its size decides where it goes, and
// only the part of it that lands on the image is drawn. Sizes are 64-bit:
// a padding or a font near the 32-bit limit must not wrap.
struct TextBlockPlan {
    long long width = 0, height = 0;
    bool multi_line = false;
    std::vector<std::string> lines;
    std::vector<int> widths;  // raster widths of the lines
    int line_height = 0;
    long long step = 0;       // from one line's top to the next one's
};

// A rectangle of a watermark block, in its own pixels.
struct BlockWindow {
    long long x = 0, y = 0, width = 0, height = 0;
    bool operator==(const BlockWindow&) const = default;
};

// A window of a block drawn (and rotated): `x`, `y` is its top-left corner
// in the rotated block.
struct DrawnWindow {
    BlockWindow window;
    SharedLayer layer;
    long long x = 0, y = 0;
};

struct LayerCache {
    std::mutex mutex;
    std::optional<FrameLayerKey> frame_key;
    SharedLayer frame_layer;
    std::unique_ptr<Font> font;
    std::optional<TextBlockKey> text_key;
    TextBlockPlan text_plan;
    std::optional<DrawnWindow> text_block;
    std::optional<LogoKey> logo_key;
    long long logo_width = 0, logo_height = 0;  // as the file's header gives them
    uint64_t logo_memory = 0;                   // what decoding it takes
    std::optional<DrawnWindow> logo_block;
};

}  // namespace kestrune
