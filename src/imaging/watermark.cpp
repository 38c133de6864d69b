#include "imaging/watermark.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "settings/mask_tokens.h"
#include "imaging/colour.h"
#include "imaging/rotate.h"
#include "imaging/rounding.h"
#include "platform/drawing.h"
#include "platform/text.h"

namespace kestrune {
namespace {

constexpr std::string_view kLineBreak = "%eol%";

int Opacity(int value) { return std::clamp(value, 0, 255); }

DrawColour ColourWithAlpha(const std::string& text, int alpha) {
    const Rgb c = ParseColour(text);
    return {c.red, c.green, c.blue, static_cast<uint8_t>(Opacity(alpha))};
}

void ForgetBlocks(LayerCache& cache) {
    cache.text_key.reset();
    cache.text_block.reset();
    cache.logo_key.reset();
    cache.logo_block.reset();
}

struct PlacementSettings {
    int x_offset = 0, y_offset = 0, boundary = 0, position = 0;
};

PlacementSettings PlacementOf(const Settings& s) {
    if (s.do_watermark == 2) return {s.image_x_offset, s.image_y_offset, s.image_boundary, s.image_position};
    return {s.text_x_offset, s.text_y_offset, s.text_boundary, s.text_position};
}

bool InsideFrame(const Settings& s) { return s.do_frame != 0 && PlacementOf(s).boundary == 1; }

struct Size {
    int width = 0, height = 0;
};

Size AreaOf(int width, int height, const Settings& s) {
    if (InsideFrame(s))
        return {width - s.solid_left - s.solid_right, height - s.solid_top - s.solid_bottom};
    return {width, height};
}

Size ClippedSize(int ww, int wh, int width, int height, const Settings& s) {
    const Size area = AreaOf(width, height, s);
    const PlacementSettings p = PlacementOf(s);
    if (ww + p.x_offset > area.width) ww = area.width - p.x_offset;
    if (wh + p.y_offset > area.height) wh = area.height - p.y_offset;
    return {ww, wh};
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

// The text block as a 32-bit bitmap: background in "Back Color" at "Back
// Opacity", text in "Font Color" at "Text Opacity". Empty when a layer
// cannot be made or drawing on it cannot start.
Bitmap RenderTextBlock(const Settings& s, const Font& font, std::string text) {
    const int padding = s.text_padding;

    // Measuring, on a small scratch layer.
    Surface m = CreateLayer(10, 10);
    if (!m) return {};
    size_t n = 0;
    int bw = 10, bh = 10, step = 0;
    std::vector<std::string> lines;
    std::vector<int> widths;
    if (Drawing cr = StartDrawing(m.get())) {
        const std::string lower = ToLower(text);
        for (size_t at = lower.find(kLineBreak); at != std::string::npos; at = lower.find(kLineBreak, at + 1)) ++n;
        if (n > 0) {
            text = ReplaceAllIgnoreCase(text, kLineBreak, kLineBreak);
            lines = SplitLines(text);
            // Lines of a multi-line block are never narrower or lower than
            // 10 pixels, as the block started from the scratch layer's size.
            int lh = 10;
            for (const std::string& line : lines) {
                const TextSize size = MeasureText(cr.get(), font, line);
                widths.push_back(size.width);
                bw = std::max(bw, size.width);
                lh = std::max(lh, size.height);
            }
            step = lh + s.font_leading;
            bh = lh + step * static_cast<int>(lines.size() - 1);
        } else {
            const TextSize size = MeasureText(cr.get(), font, text);
            bw = size.width;
            bh = size.height;
        }
    }
    if (n == 0) lines = {text};
    bw += 2 * padding;
    bh += 2 * padding;

    // The scratch layer took no drawing, so resizing it is a fresh layer.
    m = CreateLayer(bw, bh);
    if (!m) return {};
    Surface c = CreateLayer(bw, bh);
    if (!c) return {};

    if (s.text_antialiasing == 0) {
        const DrawColour front = ColourWithAlpha(s.font_color, s.text_opacity);
        const DrawColour back = ColourWithAlpha(s.back_color, s.back_opacity);
        Drawing cr = StartDrawing(m.get());
        if (!cr) return {};
        // All four channels are written, so text and background keep their
        // own alphas instead of blending into each other. The fresh layer is
        // uniformly transparent: a flood fill from any point covers it all.
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
        FillAll(cr.get(), back);
        if (n == 0) {
            DrawRasterText(cr.get(), font, text, padding, padding, front, back);
        } else {
            int y = padding;
            for (size_t i = 0; i < lines.size(); ++i, y += step)
                DrawRasterText(cr.get(), font, lines[i], LineX(widths[i], bw, s), y, front, back);
        }
        cr.reset();
        Drawing onto = StartDrawing(c.get());
        if (!onto) return {};
        PaintLayer(onto.get(), m.get(), 0, 0, 255);
    } else {
        const DrawColour front = ColourWithAlpha(s.font_color, 255);
        const DrawColour back = ColourWithAlpha(s.back_color, 255);
        Surface k = CreateLayer(bw, bh);
        if (!k) return {};
        if (Drawing cr = StartDrawing(k.get())) FillAll(cr.get(), back);
        Drawing cr = StartDrawing(m.get());
        if (!cr) return {};
        if (n == 0) {
            AddVectorText(cr.get(), font, text, padding, padding);
        } else {
            int y = padding;
            for (const std::string& line : lines) {
                const int width = RoundHalfAway(static_cast<float>(MeasureVectorTextWidth(cr.get(), font, line)));
                AddVectorText(cr.get(), font, line, LineX(width, bw, s), y);
                y += step;
            }
        }
        FillPath(cr.get(), front);
        cr.reset();
        // Opaque layers faded as wholes: where text covers the background
        // the two opacities combine as one layer over the other.
        Drawing onto = StartDrawing(c.get());
        if (!onto) return {};
        PaintLayer(onto.get(), k.get(), 0, 0, s.back_opacity);
        PaintLayer(onto.get(), m.get(), 0, 0, s.text_opacity);
    }
    return BitmapFromLayer(c.get());
}

Bitmap LoadLogo(const std::string& path) {
    if (path.empty()) return {};
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN) format = FreeImage_GetFIFFromFilename(path.c_str());
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format)) return {};
    Bitmap logo(FreeImage_Load(format, path.c_str(), 0));
    if (logo && !FreeImage_HasPixels(logo.get())) logo.reset();
    return logo;
}

// The logo drawn on its own layer: own alpha kept (a transparent colour of
// a palette logo included), grey when asked, faded by "Image Opacity". The
// layer starts transparent for every kind of logo: an opaque backing would
// show through a faded logo as a black veil instead of the picture below.
Bitmap RenderLogoBlock(const Settings& s) {
    Bitmap logo = LoadLogo(s.image);
    if (!logo) return {};
    const int lw = WidthOf(logo), lh = HeightOf(logo);
    Surface c = CreateLayer(lw, lh);
    if (!c) return {};
    Surface picture = LayerFromBitmap(logo.get(), s.image_greyscale ? PixelFilter::Greyscale : PixelFilter::None);
    if (!picture) return {};
    {
        Drawing cr = StartDrawing(c.get());
        if (!cr) return {};
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
        PaintLayer(cr.get(), picture.get(), 0, 0, s.image_opacity);
    }
    return BitmapFromLayer(c.get());
}

// Cached blocks are rotated already; the caller only reads them.
SharedLayer TextBlockFor(LayerCache& cache, const FrameContext& context) {
    const Settings& s = context.settings;
    if (!cache.font) return nullptr;
    TextBlockKey key{ExpandWatermarkText(s, FrameTokens(context)),
                     s.font_leading,
                     s.font_color,
                     s.text_opacity,
                     s.back_color,
                     s.back_opacity,
                     s.text_antialiasing,
                     s.text_alignment,
                     s.text_padding,
                     s.text_rotation};
    if (!cache.text_key || !(*cache.text_key == key)) {
        Bitmap block = RenderTextBlock(s, *cache.font, key.text);
        cache.text_block = ShareLayer(block ? RotateWatermark(std::move(block), s) : Bitmap());
        cache.text_key = std::move(key);
    }
    return cache.text_block;
}

SharedLayer LogoBlockFor(LayerCache& cache, const Settings& s) {
    struct stat info {};
    if (s.image.empty() || stat(s.image.c_str(), &info) != 0) return nullptr;
    LogoKey key{s.image,
                static_cast<long long>(info.st_size),
                static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec,
                s.image_greyscale,
                s.image_opacity,
                s.wm_image_rotation};
    if (!cache.logo_key || !(*cache.logo_key == key)) {
        Bitmap block = RenderLogoBlock(s);
        cache.logo_block = ShareLayer(block ? RotateWatermark(std::move(block), s) : Bitmap());
        cache.logo_key = std::move(key);
    }
    return cache.logo_block;
}

Bitmap CompositeWatermark(Bitmap image, FIBITMAP* watermark, int width, int height, const Settings& s) {
    const Size clipped = ClippedSize(static_cast<int>(FreeImage_GetWidth(watermark)),
                                     static_cast<int>(FreeImage_GetHeight(watermark)), width, height, s);
    // An offset at or past the edge of the area leaves nothing to place. The
    // user asked for a watermark and would not get one, so the frame fails
    // rather than being saved as if it had one.
    if (clipped.width <= 0 || clipped.height <= 0) return Bitmap();
    Bitmap cut;
    if (clipped.width < static_cast<int>(FreeImage_GetWidth(watermark)) ||
        clipped.height < static_cast<int>(FreeImage_GetHeight(watermark))) {
        cut.reset(FreeImage_Copy(watermark, 0, 0, clipped.width, clipped.height));
        if (!cut) return image;
        watermark = cut.get();
    }
    const WatermarkPoint at = PlaceWatermark(clipped.width, clipped.height, width, height, s);
    Bitmap canvas(FreeImage_AllocateT(FIT_BITMAP, width, height, FreeImage_GetBPP(watermark), 0, 0, 0));
    if (!canvas) return image;
    // A plain copy onto the transparent canvas: pasting with alpha 255 would
    // blend with the empty canvas and take 1/256 off every channel, alpha
    // included, so an opaque block would let the image show through.
    FreeImage_Paste(canvas.get(), watermark, at.x, at.y, 256);
    Bitmap result(FreeImage_Composite(canvas.get(), FALSE, nullptr, image.get()));
    return result ? std::move(result) : std::move(image);
}

}  // namespace

bool LoadWatermarkFont(LayerCache& cache, const Settings& s) {
    FontRequest request;
    request.face = s.font;
    request.size = s.font_size;
    request.bold = s.font_style == 1 || s.font_style == 3;
    request.italic = s.font_style == 2 || s.font_style == 3;
    request.underline = s.font_effect == 1;
    request.strike_out = s.font_effect == 2;
    std::unique_ptr<Font> font = LoadFont(request);
    std::lock_guard lock(cache.mutex);
    cache.font = std::move(font);
    ForgetBlocks(cache);
    return cache.font != nullptr;
}

bool IsWatermarkFontLoaded(LayerCache& cache) {
    std::lock_guard lock(cache.mutex);
    return cache.font != nullptr;
}

void ReleaseWatermarkFont(LayerCache& cache) {
    std::lock_guard lock(cache.mutex);
    cache.font.reset();
    ForgetBlocks(cache);
}

std::string ExpandWatermarkText(const Settings& s, const TokenValues& tokens) {
    std::string text = s.text;
    if (std::count(text.begin(), text.end(), '%') < 2) return text;
    // Presence is decided on the text as given, so a token brought in by an
    // earlier value is not expanded again.
    const std::string lower = ToLower(text);
    for (size_t i = 0; i < kMaskTokens.size(); ++i) {
        if (lower.find(kMaskTokens[i]) != std::string::npos)
            text = ReplaceAllIgnoreCase(text, kMaskTokens[i], MaskTokenValue(i, tokens));
    }
    return text;
}

int LineX(int line_width, int block_width, const Settings& s) {
    switch (s.text_alignment) {
        case 1: return RoundHalfAway(static_cast<float>(block_width - line_width) / 2.0f);
        case 2: return block_width - line_width - s.text_padding;
        default: return s.text_padding;
    }
}

WatermarkPoint PlaceWatermark(int ww, int wh, int width, int height, const Settings& s) {
    const Size area = AreaOf(width, height, s);
    const PlacementSettings p = PlacementOf(s);
    const int aw = area.width, ah = area.height, xo = p.x_offset, yo = p.y_offset;
    WatermarkPoint at;
    switch (p.position) {
        case 0: at = {xo, yo}; break;
        case 1: at = {(aw - ww) / 2, yo}; break;
        case 2: at = {aw - ww - xo, yo}; break;
        case 3: at = {xo, (ah - wh) / 2}; break;
        case 4: at = {(aw - ww) / 2, (ah - wh) / 2}; break;
        case 5: at = {aw - ww - xo, (ah - wh) / 2}; break;
        case 6: at = {xo, ah - wh - yo}; break;
        case 7: at = {(aw - ww) / 2, ah - wh - yo}; break;
        case 8: at = {aw - ww - xo, ah - wh - yo}; break;
        default: at = {0, 0}; break;
    }
    if (InsideFrame(s)) {
        at.x += s.solid_left;
        at.y += s.solid_top;
    }
    return at;
}

Bitmap DrawWatermark(Bitmap image, const FrameContext& context) {
    const Settings& s = context.settings;
    if (s.do_watermark == 0 || !image || !context.layers) return image;
    if (BppOf(image) != 24 || FreeImage_GetImageType(image.get()) != FIT_BITMAP) {
        image.reset(FreeImage_ConvertTo24Bits(image.get()));
        if (!image) return image;
    }
    // The canvas has to match the bitmap for the compositing to take it.
    const int width = WidthOf(image);
    const int height = HeightOf(image);
    SharedLayer block;
    {
        LayerCache& cache = *context.layers;
        std::lock_guard lock(cache.mutex);
        if (s.do_watermark == 1) block = TextBlockFor(cache, context);
        else if (s.do_watermark == 2) block = LogoBlockFor(cache, s);
    }
    if (!block) return image;
    return CompositeWatermark(std::move(image), block.get(), width, height, s);
}

}  // namespace kestrune
