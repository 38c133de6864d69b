// The drawing layer: the font check, text kinds, path texts, constant-alpha
// painting, and the hop from a layer to a FreeImage bitmap (direct and
// through PNG, which must agree byte for byte).
#include "platform/drawing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using namespace kestrune;

namespace {

// Checks only: one pixel of a layer, and the layer through Cairo's PNG
// writer and FreeImage's reader, which BitmapFromLayer must equal.
uint8_t Unpremultiply(uint8_t alpha, uint8_t colour) {
    return static_cast<uint8_t>((colour * 255u + alpha / 2u) / alpha);
}

// The un-premultiplied colour of one pixel, y from the top.
DrawColour LayerPixel(cairo_surface_t* layer, int x, int y) {
    if (!layer || x < 0 || y < 0 || x >= LayerWidth(layer) || y >= LayerHeight(layer)) return {0, 0, 0, 0};
    cairo_surface_flush(layer);
    const unsigned char* row = cairo_image_surface_get_data(layer) + y * cairo_image_surface_get_stride(layer);
    uint32_t p;
    std::memcpy(&p, row + 4 * x, 4);
    const uint8_t a = p >> 24;
    if (a == 0) return {0, 0, 0, 0};
    return {Unpremultiply(a, (p >> 16) & 0xff), Unpremultiply(a, (p >> 8) & 0xff), Unpremultiply(a, p & 0xff), a};
}


// The layer as PNG bytes (un-premultiplied RGBA, or RGB when it is opaque).
std::string EncodePng(cairo_surface_t* layer) {
    if (!layer) return {};
    std::string png;
    auto append = [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
    };
    if (cairo_surface_write_to_png_stream(layer, append, &png) != CAIRO_STATUS_SUCCESS) return {};
    return png;
}


// PNG bytes through a FreeImage memory stream, always as a 32-bit bitmap.
Bitmap BitmapFromPng(const std::string& png) {
    if (png.empty()) return {};
    MemoryStream stream(FreeImage_OpenMemory(reinterpret_cast<BYTE*>(const_cast<char*>(png.data())),
                                             static_cast<DWORD>(png.size())));
    if (!stream) return {};
    Bitmap bitmap(FreeImage_LoadFromMemory(FIF_PNG, stream.get(), 0));
    // Cairo writes a layer without any transparency as RGB; the compositing
    // that follows needs the alpha channel, so give it an opaque one.
    if (bitmap && FreeImage_GetBPP(bitmap.get()) != 32) bitmap.reset(FreeImage_ConvertTo32Bits(bitmap.get()));
    return bitmap;
}


const DrawColour kWhite{255, 255, 255, 255};
const DrawColour kBlack{0, 0, 0, 255};

std::unique_ptr<Font> Arial(int size = 14) {
    FontRequest request;
    request.face = "Arial";
    request.size = size;
    return LoadFont(request);
}

// (r, g, b, a) of a FreeImage 32-bit pixel, y from the top.
DrawColour BitmapPixel(FIBITMAP* b, int x, int y) {
    const BYTE* p = FreeImage_GetScanLine(b, FreeImage_GetHeight(b) - 1 - y) + 4 * x;
    return {p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE], p[FI_RGBA_ALPHA]};
}

// A layer with every kind of pixel the un-premultiplying has to get right:
// transparent, opaque, and translucent ones in several colours.
Surface MixedLayer() {
    Surface layer = CreateLayer(23, 17);
    Drawing cr = StartDrawing(layer.get());
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 23; ++x) {
            const DrawColour c{static_cast<uint8_t>(x * 11), static_cast<uint8_t>(y * 15),
                               static_cast<uint8_t>((x * y) % 256), static_cast<uint8_t>((x * 37 + y * 5) % 256)};
            SetColour(cr.get(), c);
            cairo_rectangle(cr.get(), x, y, 1, 1);
            cairo_fill(cr.get());
        }
    return layer;
}

void ExpectSameBitmaps(FIBITMAP* a, FIBITMAP* b) {
    ASSERT_EQ(FreeImage_GetBPP(a), 32u);
    ASSERT_EQ(FreeImage_GetBPP(b), 32u);
    ASSERT_EQ(FreeImage_GetWidth(a), FreeImage_GetWidth(b));
    ASSERT_EQ(FreeImage_GetHeight(a), FreeImage_GetHeight(b));
    for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y)
        ASSERT_EQ(0, std::memcmp(FreeImage_GetScanLine(a, y), FreeImage_GetScanLine(b, y), 4 * FreeImage_GetWidth(a)))
            << "row " << y;
}

}  // namespace

TEST(DrawingFonts, InstalledFacesLoadAndUnknownFacesFail) {
    EXPECT_TRUE(IsFontFaceInstalled("Arial"));  // through its metric-compatible alias
    EXPECT_TRUE(IsFontFaceInstalled("arial"));
    EXPECT_TRUE(IsFontFaceInstalled("Liberation Sans"));
    EXPECT_NE(Arial(), nullptr);
    // fontconfig would hand out a default font for these; that is no load.
    EXPECT_FALSE(IsFontFaceInstalled("NoSuchFontFace123"));
    EXPECT_FALSE(IsFontFaceInstalled(""));
    FontRequest missing;
    missing.face = "NoSuchFontFace123";
    missing.size = 14;
    EXPECT_EQ(LoadFont(missing), nullptr);
    EXPECT_EQ(Arial(0), nullptr);
}

TEST(DrawingFonts, SizeIsPointsAtNinetySixDpiAndStylesChangeTheText) {
    Surface layer = CreateLayer(10, 10);
    Drawing cr = StartDrawing(layer.get());
    const TextSize small = MeasureText(cr.get(), *Arial(14), "Hello World");
    const TextSize large = MeasureText(cr.get(), *Arial(28), "Hello World");
    // 14 pt at 96 dpi is an em of about 18.7 px; Liberation Sans lines are 1.15 em.
    EXPECT_NEAR(small.height, 21, 2);
    EXPECT_NEAR(large.width, 2 * small.width, small.width / 10);  // hinting moves glyphs a little
    EXPECT_GT(MeasureText(cr.get(), *Arial(14), "Hello World Hello").width, small.width);

    FontRequest bold{"Arial", 14, true, false, false, false};
    EXPECT_GT(MeasureText(cr.get(), *LoadFont(bold), "Hello World").width, small.width);
    // An empty line still has the height of a line.
    EXPECT_EQ(MeasureText(cr.get(), *Arial(14), "").height, small.height);
}

TEST(DrawingText, RasterTextHasNoInBetweenPixelsAndVectorTextHas) {
    auto font = Arial(20);
    Surface raster = CreateLayer(120, 40);
    {
        Drawing cr = StartDrawing(raster.get());
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
        FillAll(cr.get(), kWhite);
        DrawRasterText(cr.get(), *font, "Kestrel", 2, 2, kBlack, kWhite);
    }
    Surface vector = CreateLayer(120, 40, kWhite);
    {
        Drawing cr = StartDrawing(vector.get());
        AddVectorText(cr.get(), *font, "Kestrel", 2, 2);
        FillPath(cr.get(), kBlack);
    }
    std::set<int> raster_greys, vector_greys;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 120; ++x) {
            raster_greys.insert(LayerPixel(raster.get(), x, y).red);
            vector_greys.insert(LayerPixel(vector.get(), x, y).red);
        }
    EXPECT_EQ(raster_greys, (std::set<int>{0, 255}));
    EXPECT_GT(vector_greys.size(), 10u);
}

TEST(DrawingPaths, ParserReadsCommandsAndSignRuns) {
    const auto steps = ParsePathText("M 0 0 l 100 0 l -10 10 l --80 0 Z");
    ASSERT_TRUE(steps);
    const std::vector<PathStep> expected{{PathStep::MoveTo, 0, 0},
                                         {PathStep::LineBy, 100, 0},
                                         {PathStep::LineBy, -10, 10},
                                         {PathStep::LineBy, 80, 0},
                                         {PathStep::Close, 0, 0}};
    EXPECT_EQ(*steps, expected);

    const auto more = ParsePathText("M 1.5 -2.25 l 3 4 5 6 z");
    ASSERT_TRUE(more);
    ASSERT_EQ(more->size(), 4u);
    EXPECT_EQ((*more)[0], (PathStep{PathStep::MoveTo, 1.5, -2.25}));
    EXPECT_EQ((*more)[2], (PathStep{PathStep::LineBy, 5, 6}));

    EXPECT_TRUE(ParsePathText(""));
    EXPECT_FALSE(ParsePathText("M 0"));
    EXPECT_FALSE(ParsePathText("M 0 0 Q 1 2"));
    EXPECT_FALSE(ParsePathText("l - 5"));
}

TEST(DrawingPaths, FilledPathTextCoversItsShape) {
    Surface layer = CreateLayer(20, 20);
    Drawing cr = StartDrawing(layer.get());
    // A right triangle with its right angle at the top-left corner.
    ASSERT_TRUE(AddPathText(cr.get(), "M 0 0 l 20 0 l -20 20 Z"));
    FillPath(cr.get(), DrawColour{255, 0, 0, 255});
    EXPECT_EQ(LayerPixel(layer.get(), 2, 2), (DrawColour{255, 0, 0, 255}));
    EXPECT_EQ(LayerPixel(layer.get(), 17, 17), (DrawColour{0, 0, 0, 0}));
    EXPECT_FALSE(AddPathText(cr.get(), "M 0 0 l"));
    EXPECT_FALSE(cairo_has_current_point(cr.get()));
}

TEST(DrawingPaint, ConstantAlphaFadesAndSourceModeReplaces) {
    Surface red = CreateLayer(4, 4, DrawColour{255, 0, 0, 255});
    Surface over = CreateLayer(4, 4);
    {
        Drawing cr = StartDrawing(over.get());
        PaintLayer(cr.get(), red.get(), 0, 0, 128);
    }
    EXPECT_EQ(LayerPixel(over.get(), 1, 1), (DrawColour{255, 0, 0, 128}));

    // The all-channels mode with a constant alpha over an opaque black
    // backing gives an opaque mix.
    Surface black = CreateLayer(4, 4, kBlack);
    {
        Drawing cr = StartDrawing(black.get());
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
        PaintLayer(cr.get(), red.get(), 0, 0, 128);
    }
    const DrawColour mixed = LayerPixel(black.get(), 1, 1);
    EXPECT_EQ(mixed.alpha, 255);
    EXPECT_NEAR(mixed.red, 128, 1);
    EXPECT_EQ(mixed.green, 0);
}

TEST(DrawingPixels, GreyWeightsKeepWhiteWhite) {
    EXPECT_EQ(GreyOf(255, 255, 255), 255);
    EXPECT_EQ(GreyOf(255, 0, 0), 76);  // 77 * 255 >> 8
    EXPECT_EQ(GreyOf(0, 255, 0), 149);
    EXPECT_EQ(GreyOf(0, 0, 255), 28);
    EXPECT_EQ(GreyOf(0, 0, 0), 0);
}

TEST(DrawingPixels, BitmapToLayerKeepsOrientationColourAndAlpha) {
    // Top row red and opaque, bottom row translucent green, bottom-right transparent.
    Bitmap b(FreeImage_Allocate(3, 2, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    auto set = [&](int x, int y, DrawColour c) {
        BYTE* p = FreeImage_GetScanLine(b.get(), 1 - y) + 4 * x;
        p[FI_RGBA_RED] = c.red;
        p[FI_RGBA_GREEN] = c.green;
        p[FI_RGBA_BLUE] = c.blue;
        p[FI_RGBA_ALPHA] = c.alpha;
    };
    for (int x = 0; x < 3; ++x) set(x, 0, {255, 0, 0, 255});
    for (int x = 0; x < 3; ++x) set(x, 1, {0, 200, 0, 128});
    set(2, 1, {255, 255, 255, 0});

    Surface layer = LayerFromBitmap(b.get());
    EXPECT_EQ(LayerPixel(layer.get(), 0, 0), (DrawColour{255, 0, 0, 255}));
    const DrawColour green = LayerPixel(layer.get(), 1, 1);
    EXPECT_EQ(green.alpha, 128);
    EXPECT_NEAR(green.green, 200, 1);
    EXPECT_EQ(LayerPixel(layer.get(), 2, 1).alpha, 0);

    Surface grey = LayerFromBitmap(b.get(), PixelFilter::Greyscale);
    EXPECT_EQ(LayerPixel(grey.get(), 0, 0), (DrawColour{76, 76, 76, 255}));
    const DrawColour grey_green = LayerPixel(grey.get(), 0, 1);
    EXPECT_EQ(grey_green.alpha, 128);
    EXPECT_NEAR(grey_green.red, GreyOf(0, 200, 0), 1);
    EXPECT_EQ(grey_green.red, grey_green.blue);

    // And back: the top row is the bitmap's last scan line again.
    Bitmap back = BitmapFromLayer(layer.get());
    EXPECT_EQ(BitmapPixel(back.get(), 0, 0), (DrawColour{255, 0, 0, 255}));
    EXPECT_EQ(BitmapPixel(back.get(), 2, 1), (DrawColour{0, 0, 0, 0}));
}

TEST(DrawingPixels, DirectTransferEqualsThePngRoute) {
    Surface mixed = MixedLayer();
    const std::string png = EncodePng(mixed.get());
    ASSERT_FALSE(png.empty());
    ASSERT_EQ(png.substr(1, 3), "PNG");
    Bitmap through_png = BitmapFromPng(png);
    Bitmap direct = BitmapFromLayer(mixed.get());
    ASSERT_TRUE(through_png);
    ExpectSameBitmaps(through_png.get(), direct.get());

    // An opaque layer is written as RGB; both routes still give 32 bits.
    Surface opaque = CreateLayer(5, 3, DrawColour{10, 200, 30, 255});
    Bitmap opaque_png = BitmapFromPng(EncodePng(opaque.get()));
    Bitmap opaque_direct = BitmapFromLayer(opaque.get());
    ExpectSameBitmaps(opaque_png.get(), opaque_direct.get());
    EXPECT_EQ(BitmapPixel(opaque_direct.get(), 4, 2), (DrawColour{10, 200, 30, 255}));
}
