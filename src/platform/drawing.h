// The drawing layer: transparent 32-bit layers, boxes and path texts, raster
// and vector text, painting one layer onto another with a constant alpha,
// and the hop between a layer and a FreeImage bitmap. Cairo image surfaces
// (premultiplied ARGB32) with Pango for text; fonts at 96 dots per inch.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bitmap.h"

namespace kestrune {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const {
        if (s) cairo_surface_destroy(s);
    }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

struct DrawingDeleter {
    void operator()(cairo_t* cr) const {
        if (cr) cairo_destroy(cr);
    }
};
using Drawing = std::unique_ptr<cairo_t, DrawingDeleter>;

struct GObjectDeleter {
    void operator()(void* object) const {
        if (object) g_object_unref(object);
    }
};
using TextLayout = std::unique_ptr<PangoLayout, GObjectDeleter>;

struct FontDescriptionDeleter {
    void operator()(PangoFontDescription* d) const {
        if (d) pango_font_description_free(d);
    }
};
using FontDescription = std::unique_ptr<PangoFontDescription, FontDescriptionDeleter>;

struct AttrListDeleter {
    void operator()(PangoAttrList* a) const {
        if (a) pango_attr_list_unref(a);
    }
};
using AttrList = std::unique_ptr<PangoAttrList, AttrListDeleter>;

// A colour with its alpha, not premultiplied; alpha 0 is invisible.
struct DrawColour {
    uint8_t red = 0, green = 0, blue = 0, alpha = 255;
    bool operator==(const DrawColour&) const = default;
};

// ---- Layers ----------------------------------------------------------------

// A width x height 32-bit layer, fully transparent; empty when either side is
// not positive or the surface cannot be made.
Surface CreateLayer(int width, int height);
// The same, filled with `background`.
Surface CreateLayer(int width, int height, DrawColour background);
// Drawing on a layer; empty when it cannot start.
Drawing StartDrawing(cairo_surface_t* layer);

int LayerWidth(cairo_surface_t* layer);
int LayerHeight(cairo_surface_t* layer);

// ---- Shapes ----------------------------------------------------------------

// Source colour for the next fill or paint.
void SetColour(cairo_t* cr, DrawColour colour);
// Covers the whole layer with `colour` under the current operator.
void FillAll(cairo_t* cr, DrawColour colour);
// Boxes and path figures are cut to the layer (Cairo's fixed-point
// coordinates would wrap far beyond it); what they cover on it stays the same.
void AddBox(cairo_t* cr, double x, double y, double width, double height);

struct PathStep {
    enum Kind { MoveTo, LineTo, MoveBy, LineBy, Close } kind = MoveTo;
    double x = 0, y = 0;
    bool operator==(const PathStep&) const = default;
};
// Path texts: "M x y" move to, "m dx dy" move by, "L x y" line to, "l dx dy"
// line by (further number pairs repeat the command), "Z"/"z" close. Numbers
// are decimals with any run of signs in front, each "-" flipping the sign, so
// a negative difference written after a literal "-" ("--5") reads as 5.
// nullopt when the text does not follow that form.
std::optional<std::vector<PathStep>> ParsePathText(std::string_view text);
// Adds the parsed path to the current path; false (nothing added) when the
// text does not parse.
bool AddPathText(cairo_t* cr, std::string_view text);
// Fills and clears the current path with `colour`.
void FillPath(cairo_t* cr, DrawColour colour);

// Draws `source` with its top-left corner at (x, y), scaled by a constant
// alpha 0..255, under the current operator.
void PaintLayer(cairo_t* cr, cairo_surface_t* source, int x, int y, int alpha);

// ---- Fonts and text --------------------------------------------------------

struct FontRequest {
    std::string face;
    int size = 0;  // points, at 96 dots per inch
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike_out = false;
};

struct Font {
    FontDescription description;
    AttrList attributes;  // underline and strike-out
};

// True when fontconfig has an installed font of this family, either directly
// or through a metric-compatible alias ("Arial" served by Liberation Sans).
// The generic fallback that fontconfig offers for any unknown name does not
// count.
bool IsFontFaceInstalled(std::string_view face);
// Null when the face is not installed or the size is not positive.
std::unique_ptr<Font> LoadFont(const FontRequest& request);

// Raster text is drawn without antialiasing, vector text becomes outlines
// that are filled with antialiasing.
enum class TextKind { Raster, Vector };

struct TextSize {
    int width = 0, height = 0;
    bool operator==(const TextSize&) const = default;
};
// The layout's logical extents in pixels.
TextSize MeasureText(cairo_t* cr, const Font& font, std::string_view text);
// The logical width of the vector text, unrounded.
double MeasureVectorTextWidth(cairo_t* cr, const Font& font, std::string_view text);
// Text with its top-left corner at (x, y): its cell in `back`, the glyphs in
// `front`, both under the current operator.
void DrawRasterText(cairo_t* cr, const Font& font, std::string_view text, double x, double y,
                    DrawColour front, DrawColour back);
// Adds the outlines of the text, top-left corner at (x, y), to the current path.
void AddVectorText(cairo_t* cr, const Font& font, std::string_view text, double x, double y);

// ---- Pixels ----------------------------------------------------------------

// 77/150/29 weights, shifted right by 8: white stays 255 (the weights sum to 256).
inline uint8_t GreyOf(uint8_t red, uint8_t green, uint8_t blue) {
    return static_cast<uint8_t>((77 * red + 150 * green + 29 * blue) >> 8);
}

enum class PixelFilter { None, Greyscale };

// Any FreeImage bitmap as a layer of the same size; the greyscale filter
// turns each pixel grey and keeps its own alpha. Empty when the bitmap cannot
// be converted.
Surface LayerFromBitmap(FIBITMAP* bitmap, PixelFilter filter = PixelFilter::None);

// The layer as a 32-bit FreeImage bitmap, un-premultiplied exactly as
// Cairo's PNG writer does it, so that it equals the layer written to PNG and
// read back, without the encoding.
Bitmap BitmapFromLayer(cairo_surface_t* layer);

}  // namespace kestrune
