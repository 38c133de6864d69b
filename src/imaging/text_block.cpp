#include "imaging/text_block.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "imaging/colour.h"
#include "imaging/rounding.h"
#include "platform/text.h"

namespace kestrune {
namespace {

using Length = long long;

constexpr std::string_view kLineBreak = "%eol%";

int Opacity(int value) { return std::clamp(value, 0, 255); }

DrawColour ColourWithAlpha(const std::string& text, int alpha) {
    const Rgb c = ParseColour(text);
    return {c.red, c.green, c.blue, static_cast<uint8_t>(Opacity(alpha))};
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(kLineBreak, start);
        if (at == std::string::npos) break;
        lines.push_back(text.substr(start, at - start));
        start = at + kLineBreak.size();
    }
    lines.push_back(text.substr(start));
    return lines;
}

// Whether a line of text drawn at (x, y) can reach the window: its glyphs
// may stand out of its cell by as much as a line on every side. A line that
// starts millions of pixels away is never handed to Cairo, whose fixed-point
// coordinates would wrap it into the window; Pango cannot place glyphs that
// far along a line either.
bool LineMeetsWindow(Length x, Length y, Length line_width, Length line_height, const BlockWindow& window) {
    constexpr Length kFarthest = Length{1} << 22;
    if (x - window.x < -kFarthest || x - window.x > kFarthest || y - window.y < -kFarthest ||
        y - window.y > kFarthest)
        return false;
    return x + line_width + line_height > window.x && x - line_height < window.x + window.width &&
           y + 2 * line_height > window.y && y - line_height < window.y + window.height;
}

// Block coordinates to the window's.
double WindowX(Length x, const BlockWindow& window) { return static_cast<double>(x - window.x); }
double WindowY(Length y, const BlockWindow& window) { return static_cast<double>(y - window.y); }

// Calls draw(line, x, y) for each line of the block that can reach the
// window, at its place in the block by its raster width.
template <typename Draw>
void ForEachLineInWindow(const Settings& s, const TextBlockPlan& plan, const BlockWindow& window, Draw draw) {
    const Length padding = s.text_padding;
    if (!plan.multi_line) {
        if (LineMeetsWindow(padding, padding, plan.width - 2 * padding, plan.line_height, window))
            draw(size_t{0}, padding, padding);
        return;
    }
    Length y = padding;
    for (size_t i = 0; i < plan.lines.size(); ++i, y += plan.step) {
        const Length x = LineX(plan.widths[i], plan.width, s);
        if (LineMeetsWindow(x, y, plan.widths[i], plan.line_height, window)) draw(i, x, y);
    }
}

// Text without antialiasing, painted onto `out`: text and background each
// keep their own opacity, the text's pixels replacing the background's.
bool PaintRasterText(const Settings& s, const Font& font, const TextBlockPlan& plan, const BlockWindow& window,
                     cairo_surface_t* out) {
    const DrawColour front = ColourWithAlpha(s.font_color, s.text_opacity);
    const DrawColour back = ColourWithAlpha(s.back_color, s.back_opacity);
    Surface m = CreateLayer(static_cast<int>(window.width), static_cast<int>(window.height));
    if (!m) return false;
    Drawing cr = StartDrawing(m.get());
    if (!cr) return false;
    // All four channels are written, so text and background keep their
    // own alphas instead of blending into each other. The fresh layer is
    // uniformly transparent: a flood fill from any point covers it all.
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    FillAll(cr.get(), back);
    ForEachLineInWindow(s, plan, window, [&](size_t i, Length x, Length y) {
        DrawRasterText(cr.get(), font, plan.lines[i], WindowX(x, window), WindowY(y, window), front, back);
    });
    cr.reset();
    Drawing onto = StartDrawing(out);
    if (!onto) return false;
    PaintLayer(onto.get(), m.get(), 0, 0, 255);
    return true;
}

// Antialiased text, painted onto `out`: the background and the text are
// drawn opaque on layers of their own, each faded as a whole.
bool PaintVectorText(const Settings& s, const Font& font, const TextBlockPlan& plan, const BlockWindow& window,
                     cairo_surface_t* out) {
    const int ww = static_cast<int>(window.width), wh = static_cast<int>(window.height);
    const DrawColour front = ColourWithAlpha(s.font_color, 255);
    const DrawColour back = ColourWithAlpha(s.back_color, 255);
    Surface m = CreateLayer(ww, wh);
    if (!m) return false;
    Surface k = CreateLayer(ww, wh);
    if (!k) return false;
    if (Drawing cr = StartDrawing(k.get())) FillAll(cr.get(), back);
    Drawing cr = StartDrawing(m.get());
    if (!cr) return false;
    // The raster width is near enough to tell whether a line can reach the
    // window; a line of several is then placed by its antialiased width.
    ForEachLineInWindow(s, plan, window, [&](size_t i, Length x, Length y) {
        if (plan.multi_line) {
            const int width = RoundHalfAway(static_cast<float>(MeasureVectorTextWidth(cr.get(), font, plan.lines[i])));
            x = LineX(width, plan.width, s);
        }
        AddVectorText(cr.get(), font, plan.lines[i], WindowX(x, window), WindowY(y, window));
    });
    FillPath(cr.get(), front);
    cr.reset();
    // Opaque layers faded as wholes: where text covers the background
    // the two opacities combine as one layer over the other.
    Drawing onto = StartDrawing(out);
    if (!onto) return false;
    PaintLayer(onto.get(), k.get(), 0, 0, s.back_opacity);
    PaintLayer(onto.get(), m.get(), 0, 0, s.text_opacity);
    return true;
}

}  // namespace

std::optional<TextBlockPlan> MeasureTextBlock(const Settings& s, const Font& font, std::string text) {
    Surface m = CreateLayer(10, 10);
    if (!m) return std::nullopt;
    TextBlockPlan plan;
    plan.width = plan.height = 10;
    if (Drawing cr = StartDrawing(m.get())) {
        const std::string lower = ToLower(text);
        plan.multi_line = lower.find(kLineBreak) != std::string::npos;
        if (plan.multi_line) {
            text = ReplaceAllIgnoreCase(text, kLineBreak, kLineBreak);
            plan.lines = SplitLines(text);
            int bw = 10, lh = 10;
            for (const std::string& line : plan.lines) {
                const TextSize size = MeasureText(cr.get(), font, line);
                plan.widths.push_back(size.width);
                bw = std::max(bw, size.width);
                lh = std::max(lh, size.height);
            }
            plan.line_height = lh;
            plan.step = Length{lh} + s.font_leading;
            plan.width = bw;
            plan.height = lh + plan.step * static_cast<Length>(plan.lines.size() - 1);
        } else {
            const TextSize size = MeasureText(cr.get(), font, text);
            plan.width = size.width;
            plan.height = plan.line_height = size.height;
        }
    }
    if (!plan.multi_line) plan.lines = {text};
    plan.width += 2 * Length{s.text_padding};
    plan.height += 2 * Length{s.text_padding};
    return plan;
}

Bitmap RenderTextWindow(const Settings& s, const Font& font, const TextBlockPlan& plan, const BlockWindow& window) {
    Surface c = CreateLayer(static_cast<int>(window.width), static_cast<int>(window.height));
    if (!c) return {};
    const bool painted = s.text_antialiasing == 0 ? PaintRasterText(s, font, plan, window, c.get())
                                                  : PaintVectorText(s, font, plan, window, c.get());
    return painted ? BitmapFromLayer(c.get()) : Bitmap();
}

long long LineX(long long line_width, long long block_width, const Settings& s) {
    switch (s.text_alignment) {
        case 1: {
            // Single precision as always; past the int range the float is
            // a whole number already.
            const float half = static_cast<float>(block_width - line_width) / 2.0f;
            if (std::fabs(half) < 1e9f) return RoundHalfAway(half);
            return static_cast<long long>(half);
        }
        case 2: return block_width - line_width - s.text_padding;
        default: return s.text_padding;
    }
}

}  // namespace kestrune
