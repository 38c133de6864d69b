// The block of a text watermark: its lines ("%eol%" breaks them) measured
// in the watermark font, and any window of it drawn in its colours.
#pragma once

#include <optional>
#include <string>

#include "imaging/layer_cache.h"
#include "platform/bitmap.h"
#include "platform/drawing.h"
#include "settings/settings.h"

namespace kestrune {

// The size of the text block and its lines, measured on a small scratch
// layer. Lines of a multi-line block are never narrower or lower than 10
// pixels, as the block starts from the scratch layer's size.
std::optional<TextBlockPlan> MeasureTextBlock(const Settings& s, const Font& font, std::string text);

// The window of the text block as a 32-bit bitmap: background in "Back
// Color" at "Back Opacity", text in "Font Color" at "Text Opacity". Only the
// window's pixels are allocated; the whole block is the window of a
// watermark that lands on the image whole. Empty when a layer cannot be
// made or drawing on it cannot start.
Bitmap RenderTextWindow(const Settings& s, const Font& font, const TextBlockPlan& plan, const BlockWindow& window);

// x of one text line of width `line_width` in a block of width
// `block_width`, by "Text Alignment" and "Text Padding".
long long LineX(long long line_width, long long block_width, const Settings& s);

}  // namespace kestrune
