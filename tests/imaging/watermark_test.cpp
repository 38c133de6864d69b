// Text and image watermarks: token expansion, the block's size rules, line
// alignment, clipping and placement, and the pixels that reach the image.
#include "imaging/watermark.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "imaging/synthetic_bitmaps.h"
#include "imaging/text_block.h"
#include "platform/drawing.h"

using namespace kestrune;
using imaging_test::CommandLineDefaults;
using imaging_test::Painted;
using imaging_test::Solid;
using testing_support::PixelAt;
using testing_support::Rgba;
using testing_support::TempDir;

namespace {

const Rgba kBlue{0, 0, 255, 255};
const Rgba kRed{255, 0, 0, 255};
const Rgba kWhite{255, 255, 255, 255};

struct Box {
    int left = 0, top = 0, right = -1, bottom = -1;  // inclusive
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

// The smallest box holding every pixel that is not `background`.
Box BoundsOfChange(FIBITMAP* b, Rgba background) {
    Box box{1 << 30, 1 << 30, -1, -1};
    for (int y = 0; y < static_cast<int>(FreeImage_GetHeight(b)); ++y)
        for (int x = 0; x < static_cast<int>(FreeImage_GetWidth(b)); ++x)
            if (PixelAt(b, x, y) != background) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

int CountPixels(FIBITMAP* b, const Box& in, Rgba colour) {
    int n = 0;
    for (int y = in.top; y <= in.bottom; ++y)
        for (int x = in.left; x <= in.right; ++x) n += PixelAt(b, x, y) == colour;
    return n;
}

TextSize Measure(const std::string& text, int size = 14) {
    auto font = LoadFont(FontRequest{"Arial", size, false, false, false, false});
    Surface layer = CreateLayer(10, 10);
    Drawing cr = StartDrawing(layer.get());
    return MeasureText(cr.get(), *font, text);
}

Settings TextSettings(const std::string& text) {
    Settings s = CommandLineDefaults();
    s.do_watermark = kTextWatermark;
    s.text = text;
    s.font = "Arial";
    s.font_size = 14;
    s.font_color = "FFFFFF";
    s.text_opacity = 255;
    s.back_color = "FF0000";
    s.back_opacity = 255;
    s.text_padding = 5;
    s.text_position = 8;
    s.text_x_offset = 10;
    s.text_y_offset = 10;
    return s;
}

class TextWatermark : public ::testing::Test {
  protected:
    FrameContext Context(const Settings& s) {
        FrameContext context(s);
        context.tokens = tokens_;
        context.layers = &layers_;
        return context;
    }

    Bitmap Draw(const Settings& s, int w = 200, int h = 100, Rgba background = kBlue) {
        if (!IsWatermarkFontLoaded(layers_)) {
            EXPECT_TRUE(LoadWatermarkFont(layers_, s));
        }
        Bitmap out = DrawWatermark(Solid(w, h, 24, background), Context(s));
        EXPECT_TRUE(out);
        if (out) {
            EXPECT_EQ(FreeImage_GetBPP(out.get()), 24u);
        }
        return out;
    }

    TokenValues tokens_;
    LayerCache layers_;
};

}  // namespace

// ---- Text expansion and alignment -----------------------------------------

TEST(WatermarkText, TokensExpandAndTheRestKeepsItsCase) {
    TokenValues state;
    state.sequence_number = 7;
    state.input_path = "/in/Holiday Photo.gif";
    state.extension = "png";
    Settings s = CommandLineDefaults();

    s.text = "100%";
    EXPECT_EQ(ExpandWatermarkText(s, state), "100%");
    s.text = "%n% of %N%";
    EXPECT_EQ(ExpandWatermarkText(s, state), "00007 of 00007");
    s.text = "From %FileName% AS %Ext[U]%%eol%Line";
    EXPECT_EQ(ExpandWatermarkText(s, state), "From Holiday Photo AS PNG%eol%Line");
    s.text = "%unknown% stays %";
    EXPECT_EQ(ExpandWatermarkText(s, state), "%unknown% stays %");

    // A token that only a value brings in is not expanded again.
    state.input_path = "/in/x%n%.gif";
    s.text = "%filename%!";
    EXPECT_EQ(ExpandWatermarkText(s, state), "x%n%!");
}

TEST(WatermarkText, LineXAlignsLeftCentreAndRight) {
    Settings s = CommandLineDefaults();
    s.text_padding = 4;
    s.text_alignment = 0;
    EXPECT_EQ(LineX(31, 100, s), 4);
    s.text_alignment = 1;
    EXPECT_EQ(LineX(31, 100, s), 35);  // 34.5 rounds away from zero
    EXPECT_EQ(LineX(30, 100, s), 35);
    EXPECT_EQ(LineX(15, 10, s), -3);   // -2.5 too
    s.text_alignment = 2;
    EXPECT_EQ(LineX(31, 100, s), 65);
}

// ---- Clipping and placement -----------------------------------------------

TEST(WatermarkPlacement, NinePositionsInTheImage) {
    Settings s = CommandLineDefaults();
    s.do_watermark = kTextWatermark;
    s.text_x_offset = 10;
    s.text_y_offset = 5;
    const int ww = 41, wh = 20, W = 200, H = 101;
    const WatermarkPoint expected[9] = {{10, 5},  {79, 5},  {149, 5},  {10, 40}, {79, 40},
                                        {149, 40}, {10, 76}, {79, 76}, {149, 76}};
    for (int p = 0; p < 9; ++p) {
        s.text_position = static_cast<int8_t>(p);
        EXPECT_EQ(PlaceWatermark(ww, wh, W, H, s), expected[p]) << "position " << p;
    }
    s.text_position = 9;
    EXPECT_EQ(PlaceWatermark(ww, wh, W, H, s), (WatermarkPoint{0, 0}));
    // Truncation towards zero when the watermark is wider than the area.
    s.text_position = 4;
    EXPECT_EQ(PlaceWatermark(205, 106, W, H, s), (WatermarkPoint{-2, -2}));
}

TEST(WatermarkPlacement, FrameBoundaryUsesTheInsideOfTheFrame) {
    Settings s = CommandLineDefaults();
    s.do_watermark = kImageWatermark;
    s.image_boundary = 1;
    s.image_x_offset = 10;
    s.image_y_offset = 10;
    s.image_position = 8;
    s.solid_left = 20;
    s.solid_right = 30;
    s.solid_top = 5;
    s.solid_bottom = 15;
    s.do_frame = 1;
    // Area 150 x 80 starting at (20, 5).
    EXPECT_EQ(PlaceWatermark(40, 20, 200, 100, s), (WatermarkPoint{20 + 150 - 40 - 10, 5 + 80 - 20 - 10}));
    s.image_position = 0;
    s.image_x_offset = s.image_y_offset = 0;
    EXPECT_EQ(PlaceWatermark(40, 20, 200, 100, s), (WatermarkPoint{20, 5}));
    // Without a frame the boundary means the whole image.
    s.do_frame = 0;
    EXPECT_EQ(PlaceWatermark(40, 20, 200, 100, s), (WatermarkPoint{0, 0}));
    // The text settings are not the image settings.
    s.do_watermark = kTextWatermark;
    s.text_position = 8;
    s.text_x_offset = s.text_y_offset = 1;
    EXPECT_EQ(PlaceWatermark(40, 20, 200, 100, s), (WatermarkPoint{159, 79}));
}

// ---- Text blocks on the image ---------------------------------------------

TEST_F(TextWatermark, OneLineBlockIsTextPlusPaddingAtBottomRight) {
    Bitmap out = Draw(TextSettings("Hello"));
    const TextSize text = Measure("Hello");
    const Box block = BoundsOfChange(out.get(), kBlue);
    EXPECT_EQ(block.width(), text.width + 10);
    EXPECT_EQ(block.height(), text.height + 10);
    // Bottom-right corner 10 px from the image's.
    EXPECT_EQ(block.right, 200 - 10 - 1);
    EXPECT_EQ(block.bottom, 100 - 10 - 1);
    // Opaque background and text in their exact colours, and nothing else.
    const int back = CountPixels(out.get(), block, kRed), front = CountPixels(out.get(), block, kWhite);
    EXPECT_GT(front, 40);
    EXPECT_EQ(back + front, block.width() * block.height());
    // The padding is background only.
    for (int x = block.left; x <= block.right; ++x) {
        EXPECT_EQ(PixelAt(out.get(), x, block.top + 4), kRed);
        EXPECT_EQ(PixelAt(out.get(), x, block.bottom - 4), kRed);
    }
}

TEST_F(TextWatermark, EolSplitsLinesAndLeadingSpacesThem) {
    Settings s = TextSettings("Hello%EOL%World");
    s.font_leading = 4;
    Bitmap out = Draw(s);
    const int lh = std::max(Measure("Hello").height, Measure("World").height);
    const int bw = std::max(Measure("Hello").width, Measure("World").width);
    const Box block = BoundsOfChange(out.get(), kBlue);
    EXPECT_EQ(block.height(), lh + (lh + 4) + 10);
    EXPECT_EQ(block.width(), bw + 10);
    // Text in both lines, none in the leading between them.
    const Box first{block.left, block.top + 5, block.right, block.top + 5 + lh - 1};
    const Box second{block.left, block.top + 5 + lh + 4, block.right, block.bottom - 5};
    EXPECT_GT(CountPixels(out.get(), first, kWhite), 30);
    EXPECT_GT(CountPixels(out.get(), second, kWhite), 30);
    const Box gap{block.left, block.top + 5 + lh, block.right, block.top + 5 + lh + 3};
    EXPECT_EQ(CountPixels(out.get(), gap, kWhite), 0);

    // A line break at the end adds an empty last line.
    s.text = "Hello%eol%";
    s.font_leading = 0;
    Bitmap trailing = Draw(s);
    EXPECT_EQ(BoundsOfChange(trailing.get(), kBlue).height(), 2 * Measure("Hello").height + 10);
}

TEST_F(TextWatermark, MultiLineBlocksStartFromTenPixels) {
    Settings s = TextSettings("i%eol%i");
    s.text_padding = 0;
    s.font_size = 5;
    s.font_leading = -2;
    Bitmap out = Draw(s);
    const Box block = BoundsOfChange(out.get(), kBlue);
    const int lh = std::max(10, Measure("i", 5).height);
    EXPECT_EQ(block.width(), std::max(10, Measure("i", 5).width));
    EXPECT_EQ(block.height(), lh + lh - 2);
}

TEST_F(TextWatermark, FrameBoundaryMeasuresFromTheFramesInnerCorner) {
    Settings s = TextSettings("Hello");
    s.text_boundary = 1;
    s.do_frame = 1;
    s.solid_left = s.solid_right = s.solid_top = s.solid_bottom = 20;
    Bitmap out = Draw(s);
    const Box block = BoundsOfChange(out.get(), kBlue);
    EXPECT_EQ(block.right, 200 - 20 - 10 - 1);
    EXPECT_EQ(block.bottom, 100 - 20 - 10 - 1);

    s.text_position = 0;
    Bitmap top_left = Draw(s);
    const Box corner = BoundsOfChange(top_left.get(), kBlue);
    EXPECT_EQ(corner.left, 30);
    EXPECT_EQ(corner.top, 30);
}

TEST_F(TextWatermark, MiddleCentreIgnoresOffsets) {
    Settings s = TextSettings("Hello");
    s.text_position = 4;
    s.text_x_offset = 30;
    s.text_y_offset = 7;
    Bitmap out = Draw(s);
    const Box block = BoundsOfChange(out.get(), kBlue);
    EXPECT_EQ(block.left, (200 - block.width()) / 2);
    EXPECT_EQ(block.top, (100 - block.height()) / 2);
}

TEST_F(TextWatermark, OpacitiesBlendBackgroundAndText) {
    Settings s = TextSettings("Hello");
    s.back_opacity = 128;
    s.text_opacity = 0;
    Bitmap out = Draw(s, 200, 100, Rgba{0, 0, 0, 255});
    const Box block = BoundsOfChange(out.get(), Rgba{0, 0, 0, 255});
    const Rgba inside = PixelAt(out.get(), block.left + 2, block.top + 2);
    EXPECT_NEAR(inside.r, 128, 2);
    EXPECT_EQ(inside.g, 0);
    // Raster text replaces all four channels, so invisible text cuts
    // through the background and the image shows in the glyphs.
    const int background = CountPixels(out.get(), block, inside);
    const int holes = CountPixels(out.get(), block, Rgba{0, 0, 0, 255});
    EXPECT_GT(holes, 40);
    EXPECT_EQ(background + holes, block.width() * block.height());

    // The default "Back Opacity" 1 leaves the background practically unseen.
    s.back_opacity = 1;
    s.text_opacity = 255;
    Bitmap faint = Draw(s, 200, 100, kBlue);
    const Rgba corner = PixelAt(faint.get(), 200 - 11, 100 - 11);
    EXPECT_LE(std::abs(corner.b - 255) + corner.r, 2);
}

TEST_F(TextWatermark, VectorTextIsAntialiasedInTheSameBlock) {
    Settings s = TextSettings("Hello");
    Bitmap raster = Draw(s);
    s.text_antialiasing = 1;
    Bitmap vector = Draw(s);
    const Box r = BoundsOfChange(raster.get(), kBlue), v = BoundsOfChange(vector.get(), kBlue);
    EXPECT_EQ(v.left, r.left);
    EXPECT_EQ(v.top, r.top);
    EXPECT_EQ(v.right, r.right);
    EXPECT_EQ(v.bottom, r.bottom);
    const int back = CountPixels(vector.get(), v, kRed), front = CountPixels(vector.get(), v, kWhite);
    EXPECT_GT(front, 10);
    EXPECT_GT(v.width() * v.height() - back - front, 10);  // edge pixels between the two

    // Layers K and M faded by their own opacities.
    s.back_opacity = 0;
    s.text_opacity = 255;
    Bitmap text_only = Draw(s);
    const Box t = BoundsOfChange(text_only.get(), kBlue);
    EXPECT_GT(t.left, r.left + 4);  // no background box, only glyphs inside the padding
    EXPECT_GT(CountPixels(text_only.get(), t, kWhite), 10);
}

TEST_F(TextWatermark, BlockIsRedrawnWhenItsTextChanges) {
    Settings s = TextSettings("No. %n%");
    s.text_position = 0;
    tokens_.sequence_number = 1;
    Bitmap first = Draw(s);
    // The same block over a new image shows that image around it.
    Bitmap again = Draw(s, 200, 100, Rgba{0, 80, 0, 255});
    EXPECT_EQ(PixelAt(again.get(), 150, 80), (Rgba{0, 80, 0, 255}));
    const Box a = BoundsOfChange(first.get(), kBlue), b = BoundsOfChange(again.get(), Rgba{0, 80, 0, 255});
    EXPECT_EQ(a.width(), b.width());

    s.text = "No. %n% and more";
    Bitmap longer = Draw(s);
    EXPECT_GT(BoundsOfChange(longer.get(), kBlue).width(), a.width());

    // Different digits, same width: the pixels still have to differ.
    tokens_.sequence_number = 2;
    s.text = "No. %n%";
    Bitmap second = Draw(s);
    int differing = 0;
    for (int y = a.top; y <= a.bottom; ++y)
        for (int x = a.left; x <= a.right; ++x) differing += PixelAt(first.get(), x, y) != PixelAt(second.get(), x, y);
    EXPECT_GT(differing, 5);
}

TEST_F(TextWatermark, OffsetsBeyondTheAreaFailTheFrame) {
    Settings s = TextSettings("Hello");
    s.text_x_offset = 200;
    ASSERT_TRUE(LoadWatermarkFont(layers_, s));
    EXPECT_FALSE(DrawWatermark(Solid(200, 100, 24, kBlue), Context(s)));

    // A block bigger than the area is cut to its top-left part.
    s.text_x_offset = 0;
    s.text_y_offset = 0;
    s.text_position = 0;
    Bitmap small = Draw(s, 20, 12);
    EXPECT_EQ(BoundsOfChange(small.get(), kBlue).right, 19);
    EXPECT_EQ(PixelAt(small.get(), 0, 0), kRed);
}

TEST_F(TextWatermark, NothingIsDrawnWithoutTheFont) {
    Settings s = TextSettings("Hello");
    ASSERT_FALSE(IsWatermarkFontLoaded(layers_));
    Bitmap out = DrawWatermark(Solid(50, 40, 32, kBlue), Context(s));
    ASSERT_TRUE(out);
    EXPECT_EQ(FreeImage_GetBPP(out.get()), 24u);
    EXPECT_EQ(BoundsOfChange(out.get(), kBlue).right, -1);

    // An empty text without padding is a block of no width: nothing to place.
    s.text = "";
    s.text_padding = 0;
    Bitmap empty = Draw(s, 50, 40);
    EXPECT_EQ(BoundsOfChange(empty.get(), kBlue).right, -1);

    s.font = "NoSuchFontFace123";
    EXPECT_FALSE(LoadWatermarkFont(layers_, s));
    EXPECT_FALSE(IsWatermarkFontLoaded(layers_));

    s.do_watermark = kNoWatermark;
    Bitmap untouched = DrawWatermark(Solid(50, 40, 32, kBlue), Context(s));
    EXPECT_EQ(FreeImage_GetBPP(untouched.get()), 32u);
}

// ---- Image watermarks ------------------------------------------------------

namespace {

Settings LogoSettings(const std::string& path) {
    Settings s = CommandLineDefaults();
    s.do_watermark = kImageWatermark;
    s.watermark_image = path;
    s.image_opacity = 255;
    s.image_position = 0;
    s.image_x_offset = 0;
    s.image_y_offset = 0;
    return s;
}

// Left half opaque, right half fully transparent; 20 x 10.
std::string WriteLogo(const TempDir& dir, Rgba opaque, int bpp = 32) {
    const std::string path = dir / (bpp == 32 ? "logo.png" : "logo24.png");
    Bitmap logo = Painted(20, 10, bpp, [&](int x, int) { return x < 10 ? opaque : Rgba{255, 255, 255, 0}; });
    EXPECT_TRUE(FreeImage_Save(FIF_PNG, logo.get(), path.c_str(), 0));
    return path;
}

// An image watermark drawn with a cache of its own.
Bitmap DrawLogoOver(Bitmap image, const Settings& s) {
    LayerCache layers;
    FrameContext context(s);
    context.layers = &layers;
    return DrawWatermark(std::move(image), context);
}

Bitmap DrawLogo(const Settings& s, Rgba background = kBlue, int w = 100, int h = 60) {
    Bitmap out = DrawLogoOver(Solid(w, h, 24, background), s);
    EXPECT_TRUE(out);
    return out;
}

}  // namespace

TEST(ImageWatermark, LogoKeepsItsTransparencyAndOpacityHalvesIt) {
    TempDir dir;
    Settings s = LogoSettings(WriteLogo(dir, Rgba{0, 255, 0, 255}));
    Bitmap out = DrawLogo(s);
    EXPECT_EQ(PixelAt(out.get(), 5, 5), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(PixelAt(out.get(), 15, 5), kBlue);  // the logo's transparent half
    EXPECT_EQ(PixelAt(out.get(), 5, 10), kBlue);  // below the logo

    s.image_opacity = 128;
    Bitmap half = DrawLogo(s);
    const Rgba mixed = PixelAt(half.get(), 5, 5);
    EXPECT_NEAR(mixed.g, 128, 2);
    EXPECT_NEAR(mixed.b, 127, 2);
    EXPECT_EQ(PixelAt(half.get(), 15, 5), kBlue);
}

TEST(ImageWatermark, GreyscaleKeepsWhiteWhite) {
    TempDir dir;
    Settings s = LogoSettings(WriteLogo(dir, kWhite));
    s.image_greyscale = 1;
    Bitmap white = DrawLogo(s);
    EXPECT_EQ(PixelAt(white.get(), 5, 5), kWhite);
    EXPECT_EQ(PixelAt(white.get(), 15, 5), kBlue);

    TempDir other;
    s.watermark_image = WriteLogo(other, kRed);
    Bitmap red = DrawLogo(s, Rgba{0, 0, 0, 255});
    EXPECT_EQ(PixelAt(red.get(), 5, 5), (Rgba{76, 76, 76, 255}));
}

// Every kind of logo is blended over the picture at its opacity: the faded
// logo never darkens towards black, and a logo's transparent parts (alpha
// channel or transparent palette colour) stay transparent at every opacity.
enum class LogoKind { Rgba32, Rgb24, PaletteWithTransparentColour };

std::string WriteLogoOfKind(const TempDir& dir, LogoKind kind) {
    if (kind == LogoKind::Rgba32) return WriteLogo(dir, kWhite, 32);
    if (kind == LogoKind::Rgb24) return WriteLogo(dir, kWhite, 24);
    // Left half index 1 (white), right half index 0, which is transparent.
    const std::string path = dir / "logo8.png";
    Bitmap logo(FreeImage_Allocate(20, 10, 8));
    RGBQUAD* palette = FreeImage_GetPalette(logo.get());
    palette[0] = RGBQUAD{0, 0, 0, 0};
    palette[1] = RGBQUAD{255, 255, 255, 0};
    for (int y = 0; y < 10; ++y) {
        BYTE* line = FreeImage_GetScanLine(logo.get(), y);
        for (int x = 0; x < 20; ++x) line[x] = x < 10 ? 1 : 0;
    }
    BYTE table[2] = {0, 255};
    FreeImage_SetTransparencyTable(logo.get(), table, 2);
    EXPECT_TRUE(FreeImage_Save(FIF_PNG, logo.get(), path.c_str(), 0));
    return path;
}

TEST(ImageWatermark, OpacityBlendsEveryKindOfLogoOverThePicture) {
    const Rgba grey{128, 128, 128, 255};
    for (const LogoKind kind : {LogoKind::Rgba32, LogoKind::Rgb24, LogoKind::PaletteWithTransparentColour}) {
        TempDir dir;
        Settings s = LogoSettings(WriteLogoOfKind(dir, kind));
        for (const int opacity : {0, 64, 128, 255}) {
            s.image_opacity = opacity;
            Bitmap out = DrawLogo(s, grey);
            const std::string what = "kind " + std::to_string(static_cast<int>(kind)) + " opacity " +
                                     std::to_string(opacity);
            // White over grey 128 at alpha a/255.
            const double expected = 128.0 + 127.0 * opacity / 255.0;
            const Rgba logo = PixelAt(out.get(), 5, 5);
            EXPECT_NEAR(logo.r, expected, 2.0) << what;
            EXPECT_EQ(logo.r, logo.g) << what;
            EXPECT_EQ(logo.r, logo.b) << what;
            // The right half: transparent in the 32-bit and palette logos; a
            // 24-bit logo has no transparency, so it is white there too.
            const Rgba clear = PixelAt(out.get(), 15, 5);
            if (kind == LogoKind::Rgb24) {
                EXPECT_EQ(clear, logo) << what;
            } else {
                EXPECT_EQ(clear, grey) << what;
            }
            EXPECT_EQ(PixelAt(out.get(), 5, 10), grey) << what;  // below the logo
        }
    }
}

TEST(ImageWatermark, TopLeftInsideTheFrameSitsOnTheFramesCorner) {
    TempDir dir;
    Settings s = LogoSettings(WriteLogo(dir, kRed));
    s.image_boundary = 1;
    s.do_frame = 1;
    s.solid_left = 7;
    s.solid_top = 9;
    s.solid_right = s.solid_bottom = 3;
    Bitmap out = DrawLogo(s);
    const Box logo = BoundsOfChange(out.get(), kBlue);
    EXPECT_EQ(logo.left, 7);
    EXPECT_EQ(logo.top, 9);
    EXPECT_EQ(logo.width(), 10);
    EXPECT_EQ(logo.height(), 10);
}

TEST(ImageWatermark, LargeLogoIsCutAndAMissingOneIsSkipped) {
    TempDir dir;
    Settings s = LogoSettings(WriteLogo(dir, kRed));
    Bitmap out = DrawLogo(s, kBlue, 8, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(PixelAt(out.get(), x, y), kRed);

    s.watermark_image = dir / "missing.png";
    Bitmap missing = DrawLogoOver(Solid(30, 20, 32, kBlue), s);
    ASSERT_TRUE(missing);
    EXPECT_EQ(FreeImage_GetBPP(missing.get()), 24u);
    EXPECT_EQ(BoundsOfChange(missing.get(), kBlue).right, -1);

    testing_support::WriteFileBytes(dir / "not-an-image.png", "hello");
    s.watermark_image = dir / "not-an-image.png";
    Bitmap unreadable = DrawLogo(s, kBlue, 30, 20);
    EXPECT_EQ(BoundsOfChange(unreadable.get(), kBlue).right, -1);
}
