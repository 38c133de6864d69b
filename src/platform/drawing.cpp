#include "platform/drawing.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

namespace kestrune {
namespace {

constexpr double kDotsPerInch = 96.0;

double Unit(uint8_t v) { return v / 255.0; }

int ClampAlpha(int alpha) { return alpha < 0 ? 0 : alpha > 255 ? 255 : alpha; }

// Cairo's own premultiplication (as its PNG reader does it), so that a
// layer made from a bitmap and written back gives the same bytes.
uint8_t Premultiply(uint8_t alpha, uint8_t colour) {
    const unsigned t = alpha * colour + 0x80u;
    return static_cast<uint8_t>((t + (t >> 8)) >> 8);
}

// Cairo's PNG writer: a fully transparent pixel becomes all zero.
uint8_t Unpremultiply(uint8_t alpha, uint8_t colour) {
    return static_cast<uint8_t>((colour * 255u + alpha / 2u) / alpha);
}

struct PatternDeleter {
    void operator()(FcPattern* p) const {
        if (p) FcPatternDestroy(p);
    }
};
using FcPatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

struct FontOptionsDeleter {
    void operator()(cairo_font_options_t* o) const {
        if (o) cairo_font_options_destroy(o);
    }
};

// A layout of the font for this drawing. Raster text turns antialiasing off
// in the glyph rendering itself; vector text wants unhinted metrics so that
// its width is the outline's own.
TextLayout MakeLayout(cairo_t* cr, const Font& font, std::string_view text, TextKind kind) {
    TextLayout layout(pango_cairo_create_layout(cr));
    PangoContext* context = pango_layout_get_context(layout.get());
    pango_cairo_context_set_resolution(context, kDotsPerInch);
    std::unique_ptr<cairo_font_options_t, FontOptionsDeleter> options(cairo_font_options_create());
    if (kind == TextKind::Raster) {
        cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_NONE);
    } else {
        cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
    }
    pango_cairo_context_set_font_options(context, options.get());
    pango_layout_context_changed(layout.get());
    pango_layout_set_font_description(layout.get(), font.description.get());
    if (font.attributes) pango_layout_set_attributes(layout.get(), font.attributes.get());
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    return layout;
}

// Family names compare as fontconfig compares them: without blanks and case.
bool SameFamily(std::string_view a, std::string_view b) {
    auto squeeze = [](std::string_view t) {
        std::string out;
        for (char c : t)
            if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    return squeeze(a) == squeeze(b);
}

// Scanner of path texts.
class PathScanner {
  public:
    explicit PathScanner(std::string_view text) : text_(text) {}

    void SkipBlanks() {
        while (pos_ < text_.size() && (std::isspace(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == ','))
            ++pos_;
    }
    bool AtEnd() {
        SkipBlanks();
        return pos_ >= text_.size();
    }
    char Peek() { return AtEnd() ? '\0' : text_[pos_]; }
    char Take() { return text_[pos_++]; }
    bool AtNumber() {
        const char c = Peek();
        return c == '-' || c == '+' || c == '.' || std::isdigit(static_cast<unsigned char>(c));
    }
    // Signs, digits, an optional fraction. Parsed by hand so that the user's
    // locale never changes the decimal point.
    std::optional<double> Number() {
        SkipBlanks();
        bool negative = false;
        while (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '+')) {
            if (text_[pos_] == '-') negative = !negative;
            ++pos_;
        }
        double value = 0;
        bool digits = false;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
            value = value * 10 + (text_[pos_++] - '0');
            digits = true;
        }
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            double scale = 0.1;
            while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
                value += (text_[pos_++] - '0') * scale;
                scale /= 10;
                digits = true;
            }
        }
        if (!digits) return std::nullopt;
        return negative ? -value : value;
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

struct Point {
    double x = 0, y = 0;
};

// The layer's bounds grown by a pixel on every side: what is cut away
// beyond them never touches a pixel of the layer, even antialiased.
struct Bounds {
    double left = 0, top = 0, right = 0, bottom = 0;
};

Bounds BoundsOf(cairo_t* cr) {
    cairo_surface_t* target = cairo_get_target(cr);
    double width = 0, height = 0;
    if (cairo_surface_get_type(target) == CAIRO_SURFACE_TYPE_IMAGE) {
        width = cairo_image_surface_get_width(target);
        height = cairo_image_surface_get_height(target);
    }
    return {-1, -1, width + 1, height + 1};
}

// One side of the clip: keeps the points with inside(p) true and puts the
// crossing points on the edge. A figure cut this way winds around every
// point left inside as often as before, so a nonzero fill of it covers the
// same pixels, overlapping figures included.
template <typename Inside, typename Cross>
std::vector<Point> CutSide(const std::vector<Point>& figure, Inside inside, Cross cross) {
    std::vector<Point> out;
    for (size_t i = 0; i < figure.size(); ++i) {
        const Point& a = figure[i];
        const Point& b = figure[(i + 1) % figure.size()];
        if (inside(a)) out.push_back(a);
        if (inside(a) != inside(b)) out.push_back(cross(a, b));
    }
    return out;
}

// The figure cut to the bounds: Cairo keeps coordinates in 24.8 fixed
// point, and a figure reaching millions of pixels beyond the layer (a band
// wider than any image) would wrap around instead of covering it.
std::vector<Point> CutToBounds(std::vector<Point> figure, const Bounds& b) {
    const auto at_x = [](double x) {
        return [x](const Point& p, const Point& q) { return Point{x, p.y + (q.y - p.y) * (x - p.x) / (q.x - p.x)}; };
    };
    const auto at_y = [](double y) {
        return [y](const Point& p, const Point& q) { return Point{p.x + (q.x - p.x) * (y - p.y) / (q.y - p.y), y}; };
    };
    figure = CutSide(figure, [&](const Point& p) { return p.x >= b.left; }, at_x(b.left));
    figure = CutSide(figure, [&](const Point& p) { return p.x <= b.right; }, at_x(b.right));
    figure = CutSide(figure, [&](const Point& p) { return p.y >= b.top; }, at_y(b.top));
    figure = CutSide(figure, [&](const Point& p) { return p.y <= b.bottom; }, at_y(b.bottom));
    return figure;
}

void AddFigure(cairo_t* cr, const std::vector<Point>& figure, const Bounds& bounds) {
    const std::vector<Point> cut = CutToBounds(figure, bounds);
    if (cut.size() < 3) return;
    cairo_move_to(cr, cut[0].x, cut[0].y);
    for (size_t i = 1; i < cut.size(); ++i) cairo_line_to(cr, cut[i].x, cut[i].y);
    cairo_close_path(cr);
}

}  // namespace

// ---- Layers ----------------------------------------------------------------

Surface CreateLayer(int width, int height) {
    if (width <= 0 || height <= 0) return {};
    Surface layer(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(layer.get()) != CAIRO_STATUS_SUCCESS) return {};
    return layer;
}

Surface CreateLayer(int width, int height, DrawColour background) {
    Surface layer = CreateLayer(width, height);
    if (!layer) return {};
    Drawing cr = StartDrawing(layer.get());
    if (!cr) return {};
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    FillAll(cr.get(), background);
    return layer;
}

Drawing StartDrawing(cairo_surface_t* layer) {
    if (!layer) return {};
    Drawing cr(cairo_create(layer));
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return {};
    return cr;
}

int LayerWidth(cairo_surface_t* layer) { return layer ? cairo_image_surface_get_width(layer) : 0; }
int LayerHeight(cairo_surface_t* layer) { return layer ? cairo_image_surface_get_height(layer) : 0; }

// ---- Shapes ----------------------------------------------------------------

void SetColour(cairo_t* cr, DrawColour c) {
    cairo_set_source_rgba(cr, Unit(c.red), Unit(c.green), Unit(c.blue), Unit(c.alpha));
}

void FillAll(cairo_t* cr, DrawColour colour) {
    SetColour(cr, colour);
    cairo_paint(cr);
}

void AddBox(cairo_t* cr, double x, double y, double width, double height) {
    const Bounds b = BoundsOf(cr);
    // Cut to the layer, keeping the direction (and so the winding) of the box.
    const double x0 = std::clamp(x, b.left, b.right), x1 = std::clamp(x + width, b.left, b.right);
    const double y0 = std::clamp(y, b.top, b.bottom), y1 = std::clamp(y + height, b.top, b.bottom);
    cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
}

std::optional<std::vector<PathStep>> ParsePathText(std::string_view text) {
    PathScanner scan(text);
    std::vector<PathStep> steps;
    while (!scan.AtEnd()) {
        const char command = scan.Take();
        PathStep::Kind kind;
        switch (command) {
            case 'M': kind = PathStep::MoveTo; break;
            case 'm': kind = PathStep::MoveBy; break;
            case 'L': kind = PathStep::LineTo; break;
            case 'l': kind = PathStep::LineBy; break;
            case 'Z':
            case 'z': steps.push_back({PathStep::Close, 0, 0}); continue;
            default: return std::nullopt;
        }
        bool first = true;
        while (first || scan.AtNumber()) {
            const auto x = scan.Number();
            const auto y = x ? scan.Number() : std::nullopt;
            if (!y) return std::nullopt;
            steps.push_back({kind, *x, *y});
            // Pairs after a move continue the figure as lines.
            if (kind == PathStep::MoveTo) kind = PathStep::LineTo;
            if (kind == PathStep::MoveBy) kind = PathStep::LineBy;
            first = false;
        }
    }
    return steps;
}

bool AddPathText(cairo_t* cr, std::string_view text) {
    const auto steps = ParsePathText(text);
    if (!steps) return false;
    // Resolved to absolute points first (exact in doubles for any 32-bit
    // sums), each figure cut to the layer before Cairo sees it.
    const Bounds bounds = BoundsOf(cr);
    std::vector<Point> figure;
    Point current, start;
    bool have_point = false;
    auto end_figure = [&] {
        AddFigure(cr, figure, bounds);
        figure.clear();
    };
    for (const PathStep& step : *steps) {
        switch (step.kind) {
            case PathStep::MoveTo:
            case PathStep::MoveBy:
            case PathStep::LineBy:
            case PathStep::LineTo: {
                const bool relative = (step.kind == PathStep::MoveBy || step.kind == PathStep::LineBy) && have_point;
                const Point p = relative ? Point{current.x + step.x, current.y + step.y} : Point{step.x, step.y};
                // A line with no point before it starts a figure, as a move.
                const bool moves = step.kind == PathStep::MoveTo || step.kind == PathStep::MoveBy || !have_point;
                if (moves) {
                    end_figure();
                    start = p;
                }
                figure.push_back(p);
                current = p;
                have_point = true;
                break;
            }
            case PathStep::Close:
                end_figure();
                // After a close the next relative step starts at the figure's start.
                if (have_point) {
                    current = start;
                    figure.push_back(start);
                }
                break;
        }
    }
    end_figure();
    return true;
}

void FillPath(cairo_t* cr, DrawColour colour) {
    SetColour(cr, colour);
    cairo_fill(cr);
}

void PaintLayer(cairo_t* cr, cairo_surface_t* source, int x, int y, int alpha) {
    if (!source) return;
    cairo_set_source_surface(cr, source, x, y);
    cairo_paint_with_alpha(cr, ClampAlpha(alpha) / 255.0);
}

// ---- Fonts and text --------------------------------------------------------

bool IsFontFaceInstalled(std::string_view face) {
    if (face.empty()) return false;
    if (!FcInit()) return false;
    const std::string name(face);
    FcPatternPtr pattern(FcPatternCreate());
    if (!pattern) return false;
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());

    // The requested name and its metric-compatible aliases carry the
    // requested (strong) binding; the generic families that fontconfig adds
    // for every name are weak.
    std::vector<std::string> wanted;
    FcValue value;
    FcValueBinding binding;
    for (int i = 0; FcPatternGetWithBinding(pattern.get(), FC_FAMILY, i, &value, &binding) == FcResultMatch; ++i) {
        if (value.type == FcTypeString && binding == FcValueBindingStrong)
            wanted.emplace_back(reinterpret_cast<const char*>(value.u.s));
    }

    FcResult result = FcResultNoMatch;
    FcPatternPtr match(FcFontMatch(nullptr, pattern.get(), &result));
    if (!match || result != FcResultMatch) return false;
    FcChar8* family = nullptr;
    for (int i = 0; FcPatternGetString(match.get(), FC_FAMILY, i, &family) == FcResultMatch; ++i) {
        for (const std::string& w : wanted) {
            if (SameFamily(reinterpret_cast<const char*>(family), w)) return true;
        }
    }
    return false;
}

std::unique_ptr<Font> LoadFont(const FontRequest& request) {
    if (request.size <= 0 || !IsFontFaceInstalled(request.face)) return nullptr;
    auto font = std::make_unique<Font>();
    font->description.reset(pango_font_description_new());
    pango_font_description_set_family(font->description.get(), request.face.c_str());
    // Pango counts sizes in 1/1024 points in an int: a larger size saturates.
    pango_font_description_set_size(font->description.get(), std::min(request.size, INT_MAX / PANGO_SCALE) * PANGO_SCALE);
    pango_font_description_set_weight(font->description.get(),
                                      request.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(font->description.get(),
                                     request.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    if (request.underline || request.strike_out) {
        font->attributes.reset(pango_attr_list_new());
        if (request.underline)
            pango_attr_list_insert(font->attributes.get(), pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (request.strike_out)
            pango_attr_list_insert(font->attributes.get(), pango_attr_strikethrough_new(TRUE));
    }
    return font;
}

TextSize MeasureText(cairo_t* cr, const Font& font, std::string_view text) {
    TextLayout layout = MakeLayout(cr, font, text, TextKind::Raster);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout.get(), nullptr, &logical);
    return {logical.width, logical.height};
}

double MeasureVectorTextWidth(cairo_t* cr, const Font& font, std::string_view text) {
    TextLayout layout = MakeLayout(cr, font, text, TextKind::Vector);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return static_cast<double>(logical.width) / PANGO_SCALE;
}

void DrawRasterText(cairo_t* cr, const Font& font, std::string_view text, double x, double y, DrawColour front,
                    DrawColour back) {
    TextLayout layout = MakeLayout(cr, font, text, TextKind::Raster);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout.get(), nullptr, &logical);
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    SetColour(cr, back);
    cairo_rectangle(cr, x + logical.x, y + logical.y, logical.width, logical.height);
    cairo_fill(cr);
    SetColour(cr, front);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout.get());
    cairo_restore(cr);
}

void AddVectorText(cairo_t* cr, const Font& font, std::string_view text, double x, double y) {
    TextLayout layout = MakeLayout(cr, font, text, TextKind::Vector);
    cairo_move_to(cr, x, y);
    pango_cairo_layout_path(cr, layout.get());
}

// ---- Pixels ----------------------------------------------------------------

Surface LayerFromBitmap(FIBITMAP* bitmap, PixelFilter filter) {
    if (!bitmap) return {};
    Bitmap rgba(FreeImage_ConvertTo32Bits(bitmap));
    if (!rgba && FreeImage_GetImageType(bitmap) != FIT_BITMAP) {
        Bitmap standard(FreeImage_ConvertToStandardType(bitmap, TRUE));
        if (standard) rgba.reset(FreeImage_ConvertTo32Bits(standard.get()));
    }
    if (!rgba) return {};
    const int width = static_cast<int>(FreeImage_GetWidth(rgba.get()));
    const int height = static_cast<int>(FreeImage_GetHeight(rgba.get()));
    Surface layer = CreateLayer(width, height);
    if (!layer) return {};
    cairo_surface_flush(layer.get());
    unsigned char* data = cairo_image_surface_get_data(layer.get());
    const int stride = cairo_image_surface_get_stride(layer.get());
    for (int y = 0; y < height; ++y) {
        // FreeImage keeps its rows bottom-up.
        const BYTE* in = FreeImage_GetScanLine(rgba.get(), height - 1 - y);
        unsigned char* out = data + y * stride;
        for (int x = 0; x < width; ++x, in += 4) {
            uint8_t r = in[FI_RGBA_RED], g = in[FI_RGBA_GREEN], b = in[FI_RGBA_BLUE];
            const uint8_t a = in[FI_RGBA_ALPHA];
            if (filter == PixelFilter::Greyscale) r = g = b = GreyOf(r, g, b);
            const uint32_t p = uint32_t(a) << 24 | uint32_t(Premultiply(a, r)) << 16 |
                               uint32_t(Premultiply(a, g)) << 8 | Premultiply(a, b);
            std::memcpy(out + 4 * x, &p, 4);
        }
    }
    cairo_surface_mark_dirty(layer.get());
    return layer;
}

Bitmap BitmapFromLayer(cairo_surface_t* layer) {
    const int width = LayerWidth(layer), height = LayerHeight(layer);
    if (width <= 0 || height <= 0) return {};
    Bitmap bitmap(FreeImage_Allocate(width, height, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    if (!bitmap) return {};
    cairo_surface_flush(layer);
    const unsigned char* data = cairo_image_surface_get_data(layer);
    const int stride = cairo_image_surface_get_stride(layer);
    for (int y = 0; y < height; ++y) {
        const unsigned char* in = data + y * stride;
        BYTE* out = FreeImage_GetScanLine(bitmap.get(), height - 1 - y);
        for (int x = 0; x < width; ++x, out += 4) {
            uint32_t p;
            std::memcpy(&p, in + 4 * x, 4);
            const uint8_t a = p >> 24;
            if (a == 0) {
                out[FI_RGBA_RED] = out[FI_RGBA_GREEN] = out[FI_RGBA_BLUE] = out[FI_RGBA_ALPHA] = 0;
                continue;
            }
            out[FI_RGBA_RED] = Unpremultiply(a, (p >> 16) & 0xff);
            out[FI_RGBA_GREEN] = Unpremultiply(a, (p >> 8) & 0xff);
            out[FI_RGBA_BLUE] = Unpremultiply(a, p & 0xff);
            out[FI_RGBA_ALPHA] = a;
        }
    }
    return bitmap;
}

}  // namespace kestrune

#if defined(__SANITIZE_ADDRESS__)
// fontconfig, Pango and cairo keep process-wide font caches that they never
// free (some behind pointers the leak checker cannot follow); they are
// filled once per process and per thread, not per image. Nothing else is
// hidden: every handle of this program has an owner.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libcairo.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libfreetype.so\n";
}
// Quiet about it, so that standard error stays the program's own.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
