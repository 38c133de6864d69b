#include "imaging/watermark.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "settings/mask_tokens.h"
#include "imaging/rotate.h"
#include "imaging/text_block.h"
#include "platform/drawing.h"
#include "platform/memory_budget.h"
#include "platform/text.h"

namespace kestrune {
namespace {

using Length = long long;

void ForgetBlocks(LayerCache& cache) {
    cache.text_key.reset();
    cache.text_plan = {};
    cache.text_block.reset();
    cache.logo_key.reset();
    cache.logo_block.reset();
}

struct PlacementSettings {
    int x_offset = 0, y_offset = 0, boundary = 0, position = 0;
};

PlacementSettings PlacementOf(const Settings& s) {
    if (s.do_watermark == kImageWatermark) return {s.image_x_offset, s.image_y_offset, s.image_boundary, s.image_position};
    return {s.text_x_offset, s.text_y_offset, s.text_boundary, s.text_position};
}

bool InsideFrame(const Settings& s) { return s.do_frame != 0 && PlacementOf(s).boundary == 1; }

int RotationOf(const Settings& s) { return s.do_watermark == kImageWatermark ? s.wm_image_rotation : s.text_rotation; }
bool Rotates(int angle) { return angle > 0 && angle < 360; }

// Positions and sizes are 64-bit: an offset, a padding or a frame width near
// the 32-bit limit meets the image's size without wrapping.
struct Size {
    Length width = 0, height = 0;
};

struct Rect {
    Length x = 0, y = 0, width = 0, height = 0;
    bool Empty() const { return width <= 0 || height <= 0; }
};

Rect Intersect(const Rect& a, const Rect& b) {
    const Length left = std::max(a.x, b.x), top = std::max(a.y, b.y);
    const Length right = std::min(a.x + a.width, b.x + b.width), bottom = std::min(a.y + a.height, b.y + b.height);
    return {left, top, std::max<Length>(0, right - left), std::max<Length>(0, bottom - top)};
}

Size AreaOf(int width, int height, const Settings& s) {
    if (InsideFrame(s))
        return {Length{width} - s.solid_left - s.solid_right, Length{height} - s.solid_top - s.solid_bottom};
    return {width, height};
}

Size ClippedSize(Size wm, int width, int height, const Settings& s) {
    const Size area = AreaOf(width, height, s);
    const PlacementSettings p = PlacementOf(s);
    if (wm.width + p.x_offset > area.width) wm.width = area.width - p.x_offset;
    if (wm.height + p.y_offset > area.height) wm.height = area.height - p.y_offset;
    return wm;
}

FREE_IMAGE_FORMAT LogoFormat(const std::string& path) {
    if (path.empty()) return FIF_UNKNOWN;
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN) format = FreeImage_GetFIFFromFilename(path.c_str());
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format)) return FIF_UNKNOWN;
    return format;
}

Bitmap LoadLogo(const std::string& path) {
    const FREE_IMAGE_FORMAT format = LogoFormat(path);
    if (format == FIF_UNKNOWN) return {};
    Bitmap logo(FreeImage_Load(format, path.c_str(), 0));
    if (logo && !FreeImage_HasPixels(logo.get())) logo.reset();
    return logo;
}

// The logo's size and what decoding it takes (its pixels at their own
// depth; only the window is converted further), from its header alone where
// the reader can stop there. False when it cannot be read as an image.
bool ReadLogoHeader(const std::string& path, LayerCache& cache) {
    const FREE_IMAGE_FORMAT format = LogoFormat(path);
    if (format == FIF_UNKNOWN) return false;
    Bitmap header(FreeImage_Load(format, path.c_str(), FIF_LOAD_NOPIXELS));
    if (!header) return false;
    const uint64_t width = FreeImage_GetWidth(header.get()), height = FreeImage_GetHeight(header.get());
    const uint64_t bpp = FreeImage_GetBPP(header.get());
    cache.logo_width = static_cast<Length>(width);
    cache.logo_height = static_cast<Length>(height);
    cache.logo_memory = (width * bpp + 31) / 32 * 4 * height;
    return width > 0 && height > 0;
}

// The window of the logo drawn on its own layer: own alpha kept (a
// transparent colour of a palette logo included), grey when asked, faded by
// "Image Opacity". The layer starts transparent for every kind of logo: an
// opaque backing would show through a faded logo as a black veil instead of
// the picture below. The whole decoded logo lives only until its window is
// cut out.
Bitmap RenderLogoWindow(const Settings& s, const BlockWindow& window, uint64_t memory) {
    Surface picture;
    {
        MemoryReservation room(MemoryBudget::Process(), memory);
        Bitmap logo = LoadLogo(s.watermark_image);
        if (!logo) return {};
        if (window.x != 0 || window.y != 0 || window.width != WidthOf(logo) || window.height != HeightOf(logo)) {
            Bitmap part(FreeImage_Copy(logo.get(), static_cast<int>(window.x), static_cast<int>(window.y),
                                       static_cast<int>(window.x + window.width),
                                       static_cast<int>(window.y + window.height)));
            if (!part) return {};
            logo = std::move(part);
        }
        picture = LayerFromBitmap(logo.get(), s.image_greyscale ? PixelFilter::Greyscale : PixelFilter::None);
    }
    if (!picture) return {};
    Surface c = CreateLayer(LayerWidth(picture.get()), LayerHeight(picture.get()));
    if (!c) return {};
    {
        Drawing cr = StartDrawing(c.get());
        if (!cr) return {};
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
        PaintLayer(cr.get(), picture.get(), 0, 0, s.image_opacity);
    }
    return BitmapFromLayer(c.get());
}

// Where a block of `block` size lands on the image: the window of the
// (unrotated) block to draw, and the part of the image it covers.
struct Landing {
    bool on_image = false;
    Size rotated;            // the whole block's size once rotated
    WatermarkPoint at;       // the rotated block's top-left corner in the image
    Rect visible;            // in the image
    BlockWindow window;      // of the unrotated block
};

// The rectangle `r` of the rotated block, taken back into the unrotated
// block: the bounds of its corners turned back about the centres, with a
// pixel more on each side for the library's interpolation.
BlockWindow UnrotatedBounds(const Rect& r, Size block, Size rotated, int angle) {
    const double radians = angle * 3.14159265358979323846 / 180.0;
    const double c = std::cos(radians), sn = std::sin(radians);
    double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
    for (const double u : {static_cast<double>(r.x), static_cast<double>(r.x + r.width)})
        for (const double v : {static_cast<double>(r.y), static_cast<double>(r.y + r.height)}) {
            // The library turns counter-clockwise as the picture is seen.
            const double du = u - rotated.width / 2.0, dv = v - rotated.height / 2.0;
            const double x = du * c - dv * sn + block.width / 2.0, y = du * sn + dv * c + block.height / 2.0;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    const Rect bounds{static_cast<Length>(std::floor(left)) - 2, static_cast<Length>(std::floor(top)) - 2, 0, 0};
    const Rect grown{bounds.x, bounds.y, static_cast<Length>(std::ceil(right)) + 2 - bounds.x,
                     static_cast<Length>(std::ceil(bottom)) + 2 - bounds.y};
    const Rect cut = Intersect(grown, {0, 0, block.width, block.height});
    return {cut.x, cut.y, cut.width, cut.height};
}

Landing LandingOf(Size block, int width, int height, const Settings& s) {
    Landing landing;
    const int angle = RotationOf(s);
    landing.rotated = block;
    if (Rotates(angle)) {
        const RotationCanvas canvas = SimpleRotationCanvas(block.width, block.height, angle);
        landing.rotated = {canvas.width, canvas.height};
    }
    const Size clipped = ClippedSize(landing.rotated, width, height, s);
    // An offset at or past the edge of the area leaves nothing to place.
    if (clipped.width <= 0 || clipped.height <= 0) return landing;
    landing.at = PlaceWatermark(clipped.width, clipped.height, width, height, s);
    landing.visible = Intersect({landing.at.x, landing.at.y, clipped.width, clipped.height}, {0, 0, width, height});
    if (landing.visible.Empty()) return landing;
    landing.on_image = true;
    const Rect in_rotated{landing.visible.x - landing.at.x, landing.visible.y - landing.at.y, landing.visible.width,
                          landing.visible.height};
    if (!Rotates(angle)) {
        landing.window = {in_rotated.x, in_rotated.y, in_rotated.width, in_rotated.height};
    } else if (in_rotated.x == 0 && in_rotated.y == 0 && in_rotated.width == landing.rotated.width &&
               in_rotated.height == landing.rotated.height) {
        landing.window = {0, 0, block.width, block.height};
    } else {
        landing.window = UnrotatedBounds(in_rotated, block, landing.rotated, angle);
    }
    return landing;
}

// The window drawn and rotated, with its place in the rotated block: the
// whole block rotated sits at (0, 0); a part of it goes where its centre
// turns to.
std::optional<DrawnWindow> RotatedWindow(Bitmap drawn, const Landing& landing, Size block, const Settings& s) {
    DrawnWindow result;
    result.window = landing.window;
    const int angle = RotationOf(s);
    const bool whole = landing.window == BlockWindow{0, 0, block.width, block.height};
    if (drawn && Rotates(angle)) drawn = RotateWatermark(std::move(drawn), s);
    if (!drawn) return result;
    if (Rotates(angle) && !whole) {
        const double radians = angle * 3.14159265358979323846 / 180.0;
        const double c = std::cos(radians), sn = std::sin(radians);
        const double dx = landing.window.x + landing.window.width / 2.0 - block.width / 2.0;
        const double dy = landing.window.y + landing.window.height / 2.0 - block.height / 2.0;
        const double u = dx * c + dy * sn + landing.rotated.width / 2.0;
        const double v = -dx * sn + dy * c + landing.rotated.height / 2.0;
        result.x = std::llround(u - WidthOf(drawn) / 2.0);
        result.y = std::llround(v - HeightOf(drawn) / 2.0);
    } else if (!Rotates(angle)) {
        result.x = landing.window.x;
        result.y = landing.window.y;
    }
    result.layer = ShareLayer(std::move(drawn));
    return result;
}

std::optional<DrawnWindow> TextWindowFor(LayerCache& cache, const FrameContext& context, int width, int height,
                                         Landing& landing) {
    const Settings& s = context.settings;
    if (!cache.font) return std::nullopt;
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
        cache.text_block.reset();
        cache.text_key.reset();
        std::optional<TextBlockPlan> plan = MeasureTextBlock(s, *cache.font, key.text);
        if (!plan) return std::nullopt;
        cache.text_plan = std::move(*plan);
        cache.text_key = std::move(key);
    }
    const Size block{cache.text_plan.width, cache.text_plan.height};
    // A block of no width (an empty text without padding) is no layer at
    // all: nothing to place, and nothing asked to be placed.
    if (block.width <= 0 || block.height <= 0) return std::nullopt;
    landing = LandingOf(block, width, height, s);
    if (!landing.on_image) return DrawnWindow{};
    if (!cache.text_block || !(cache.text_block->window == landing.window))
        cache.text_block =
            RotatedWindow(RenderTextWindow(s, *cache.font, cache.text_plan, landing.window), landing, block, s);
    return cache.text_block;
}

// What the logo's turn gives: nothing to draw (no readable logo), a logo
// that cannot be had within the memory budget, or its window.
struct LogoOutcome {
    bool refused = false;
    std::optional<DrawnWindow> drawn;
};

LogoOutcome LogoWindowFor(LayerCache& cache, const Settings& s, int width, int height, Landing& landing) {
    struct stat info {};
    if (s.watermark_image.empty() || stat(s.watermark_image.c_str(), &info) != 0) return {};
    LogoKey key{s.watermark_image,
                static_cast<long long>(info.st_size),
                static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec,
                s.image_greyscale,
                s.image_opacity,
                s.wm_image_rotation};
    Size block;
    uint64_t memory = 0;
    {
        std::lock_guard lock(cache.mutex);
        if (!cache.logo_key || !(*cache.logo_key == key)) {
            cache.logo_block.reset();
            if (!ReadLogoHeader(s.watermark_image, cache)) {
                cache.logo_width = cache.logo_height = 0;
            }
            cache.logo_key = key;
        }
        if (cache.logo_width <= 0 || cache.logo_height <= 0) return {};
        block = {cache.logo_width, cache.logo_height};
        memory = cache.logo_memory;
        landing = LandingOf(block, width, height, s);
        if (!landing.on_image) return {false, DrawnWindow{}};
        if (cache.logo_block && cache.logo_block->window == landing.window) return {false, cache.logo_block};
    }
    // A logo whose pixels could never fit in the budget is refused rather
    // than decoded: the files that show it fail instead of the machine.
    if (memory > MemoryBudget::Process().Total()) return {true, std::nullopt};
    // Decoded outside the lock: it may wait for room in the budget, which
    // the other files give back only once they get past their watermark.
    std::optional<DrawnWindow> drawn = RotatedWindow(RenderLogoWindow(s, landing.window, memory), landing, block, s);
    std::lock_guard lock(cache.mutex);
    if (cache.logo_key && *cache.logo_key == key) cache.logo_block = drawn;
    return {false, drawn};
}

// The drawn window over the image, only where the watermark lands on it.
Bitmap CompositeWatermark(Bitmap image, const DrawnWindow& drawn, const Landing& landing) {
    FIBITMAP* layer = drawn.layer.get();
    if (!layer) return image;
    const Length layer_width = FreeImage_GetWidth(layer), layer_height = FreeImage_GetHeight(layer);
    // The visible part of the image, in the drawn layer's pixels.
    const Length origin_x = landing.at.x + drawn.x, origin_y = landing.at.y + drawn.y;
    const Rect part = Intersect({landing.visible.x - origin_x, landing.visible.y - origin_y, landing.visible.width,
                                 landing.visible.height},
                                {0, 0, layer_width, layer_height});
    if (part.Empty()) return image;
    Bitmap cut;
    FIBITMAP* watermark = layer;
    if (part.x != 0 || part.y != 0 || part.width < layer_width || part.height < layer_height) {
        cut.reset(FreeImage_Copy(layer, static_cast<int>(part.x), static_cast<int>(part.y),
                                 static_cast<int>(part.x + part.width), static_cast<int>(part.y + part.height)));
        if (!cut) return image;
        watermark = cut.get();
    }
    Bitmap canvas(
        FreeImage_AllocateT(FIT_BITMAP, WidthOf(image), HeightOf(image), FreeImage_GetBPP(watermark), 0, 0, 0));
    if (!canvas) return image;
    // A plain copy onto the transparent canvas: pasting with alpha 255 would
    // blend with the empty canvas and take 1/256 off every channel, alpha
    // included, so an opaque block would let the image show through.
    FreeImage_Paste(canvas.get(), watermark, static_cast<int>(origin_x + part.x), static_cast<int>(origin_y + part.y),
                    256);
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
    for (const MaskTokenRow& token : kMaskTokens) {
        if (lower.find(token.text) != std::string::npos)
            text = ReplaceAllIgnoreCase(text, token.text, MaskTokenValue(token.token, tokens));
    }
    return text;
}

WatermarkPoint PlaceWatermark(long long ww, long long wh, int width, int height, const Settings& s) {
    const Size area = AreaOf(width, height, s);
    const PlacementSettings p = PlacementOf(s);
    const Length aw = area.width, ah = area.height, xo = p.x_offset, yo = p.y_offset;
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
    if (s.do_watermark == kNoWatermark || !image || !context.layers) return image;
    if (BppOf(image) != 24 || FreeImage_GetImageType(image.get()) != FIT_BITMAP) {
        image.reset(FreeImage_ConvertTo24Bits(image.get()));
        if (!image) return image;
    }
    // The canvas has to match the bitmap for the compositing to take it.
    const int width = WidthOf(image);
    const int height = HeightOf(image);
    LayerCache& cache = *context.layers;
    Landing landing;
    std::optional<DrawnWindow> drawn;
    if (s.do_watermark == kTextWatermark) {
        std::lock_guard lock(cache.mutex);
        drawn = TextWindowFor(cache, context, width, height, landing);
    } else if (s.do_watermark == kImageWatermark) {
        LogoOutcome logo = LogoWindowFor(cache, s, width, height, landing);
        if (logo.refused) return Bitmap();
        drawn = std::move(logo.drawn);
    }
    if (!drawn) return image;
    // Nothing of it left on the image: the user asked for a watermark and
    // would not get one, so the frame fails rather than being saved as if
    // it had one.
    if (!landing.on_image) return Bitmap();
    return CompositeWatermark(std::move(image), *drawn, landing);
}

}  // namespace kestrune
