// Solid frames: four bands with mitred corners blended over the border.
#include "imaging/frame.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "imaging/synthetic_bitmaps.h"

using namespace kestrune;
using imaging_test::CommandLineDefaults;
using imaging_test::Solid;
using testing_support::PixelAt;
using testing_support::Rgba;

namespace {

const Rgba kGrey{100, 100, 100, 255};
const Rgba kRed{255, 0, 0, 255};      // top
const Rgba kGreen{0, 255, 0, 255};    // right
const Rgba kBlue{0, 0, 255, 255};     // bottom
const Rgba kYellow{255, 255, 0, 255}; // left

Settings Framed(int left, int right, int top, int bottom, int opacity = 255) {
    Settings s = CommandLineDefaults();
    s.do_frame = 1;
    s.solid_left = left;
    s.solid_right = right;
    s.solid_top = top;
    s.solid_bottom = bottom;
    s.solid_top_color = "FF0000";
    s.solid_right_color = "00FF00";
    s.solid_bottom_color = "0000FF";
    s.solid_left_color = "FFFF00";
    s.solid_opacity = opacity;
    return s;
}

Bitmap Framed100x80(const Settings& s, Rgba background = kGrey, int bpp = 24) {
    Bitmap out = DrawSolidFrame(Solid(100, 80, bpp, background), s);
    EXPECT_TRUE(out);
    return out;
}

void ExpectAllPixels(FIBITMAP* b, Rgba colour) {
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(PixelAt(b, x, y), colour) << x << "," << y;
}

}  // namespace

TEST(SolidFrame, EqualBandsCoverTheBorderWithMitredCorners) {
    Bitmap out = Framed100x80(Framed(10, 10, 10, 10));
    FIBITMAP* b = out.get();
    EXPECT_EQ(FreeImage_GetBPP(b), 24u);
    // Top band: rows 0 to 9 between the seams, the image below it.
    EXPECT_EQ(PixelAt(b, 50, 0), kRed);
    EXPECT_EQ(PixelAt(b, 50, 9), kRed);
    EXPECT_EQ(PixelAt(b, 50, 10), kGrey);
    // The other bands and their inner edges.
    EXPECT_EQ(PixelAt(b, 90, 40), kGreen);
    EXPECT_EQ(PixelAt(b, 89, 40), kGrey);
    EXPECT_EQ(PixelAt(b, 50, 70), kBlue);
    EXPECT_EQ(PixelAt(b, 50, 69), kGrey);
    EXPECT_EQ(PixelAt(b, 9, 40), kYellow);
    EXPECT_EQ(PixelAt(b, 10, 40), kGrey);
    EXPECT_EQ(PixelAt(b, 50, 40), kGrey);

    // Both sides of the four seams: the top band's ends run at 45 degrees
    // towards (10, 10) and (90, 10).
    EXPECT_EQ(PixelAt(b, 5, 2), kRed);
    EXPECT_EQ(PixelAt(b, 2, 5), kYellow);
    EXPECT_EQ(PixelAt(b, 9, 7), kRed);
    EXPECT_EQ(PixelAt(b, 7, 9), kYellow);
    EXPECT_EQ(PixelAt(b, 94, 2), kRed);
    EXPECT_EQ(PixelAt(b, 97, 5), kGreen);
    EXPECT_EQ(PixelAt(b, 91, 7), kRed);
    EXPECT_EQ(PixelAt(b, 97, 75), kGreen);
    EXPECT_EQ(PixelAt(b, 92, 78), kBlue);
    EXPECT_EQ(PixelAt(b, 2, 75), kYellow);
    EXPECT_EQ(PixelAt(b, 7, 78), kBlue);

    // On the diagonal itself the two band colours share the pixel; the image
    // never shows through the seam.
    for (int i = 0; i < 10; ++i) {
        const Rgba seam = PixelAt(b, i, i);
        EXPECT_EQ(seam.b, 0) << i;
        EXPECT_NEAR(seam.r, 255, 1) << i;
        EXPECT_GT(seam.g, 0) << i;
        EXPECT_LT(seam.g, 255) << i;
    }
}

TEST(SolidFrame, UnequalWidthsMoveTheSeam) {
    // L = 20, T = 5: the top-left seam runs from (0, 0) to (20, 5).
    Bitmap out = Framed100x80(Framed(20, 0, 5, 0));
    FIBITMAP* b = out.get();
    EXPECT_EQ(PixelAt(b, 10, 1), kRed);     // above the seam (y = 2.6 there)
    EXPECT_EQ(PixelAt(b, 10, 4), kYellow);  // below it
    EXPECT_EQ(PixelAt(b, 18, 2), kRed);
    EXPECT_EQ(PixelAt(b, 4, 3), kYellow);
    EXPECT_EQ(PixelAt(b, 19, 40), kYellow);
    EXPECT_EQ(PixelAt(b, 20, 40), kGrey);
    EXPECT_EQ(PixelAt(b, 60, 4), kRed);
    EXPECT_EQ(PixelAt(b, 60, 5), kGrey);
    // No right or bottom band.
    EXPECT_EQ(PixelAt(b, 99, 40), kGrey);
    EXPECT_EQ(PixelAt(b, 60, 79), kGrey);
}

TEST(SolidFrame, OpacityBlendsTheBands) {
    Bitmap half = Framed100x80(Framed(10, 10, 10, 10, 128), Rgba{0, 0, 0, 255});
    const Rgba top = PixelAt(half.get(), 50, 5);
    EXPECT_NEAR(top.r, 128, 2);
    EXPECT_EQ(top.g, 0);
    const Rgba left = PixelAt(half.get(), 5, 40);
    EXPECT_NEAR(left.r, 128, 2);
    EXPECT_NEAR(left.g, 128, 2);
    EXPECT_EQ(PixelAt(half.get(), 50, 40), (Rgba{0, 0, 0, 255}));

    Bitmap none = Framed100x80(Framed(10, 10, 10, 10, 0));
    ExpectAllPixels(none.get(), kGrey);
}

TEST(SolidFrame, ZeroWidthsOnlyConvertTo24Bits) {
    const Rgba translucent_source{30, 60, 90, 255};
    Bitmap out = Framed100x80(Framed(0, 0, 0, 0), translucent_source, 32);
    EXPECT_EQ(FreeImage_GetBPP(out.get()), 24u);
    ExpectAllPixels(out.get(), translucent_source);

    // Any "Do Frame" other than 1 draws nothing but still converts.
    Settings other = Framed(10, 10, 10, 10);
    other.do_frame = 2;
    Bitmap two = Framed100x80(other, kGrey, 32);
    EXPECT_EQ(FreeImage_GetBPP(two.get()), 24u);
    ExpectAllPixels(two.get(), kGrey);

    // No frame at all leaves the image as it is.
    Settings off = Framed(10, 10, 10, 10);
    off.do_frame = 0;
    Bitmap untouched = DrawSolidFrame(Solid(100, 80, 32, kGrey), off);
    EXPECT_EQ(FreeImage_GetBPP(untouched.get()), 32u);
    EXPECT_FALSE(DrawSolidFrame(Bitmap(), Framed(10, 10, 10, 10)));
}

TEST(SolidFrame, BandsWiderThanTheImageStillFill) {
    Bitmap out = Framed100x80(Framed(70, 70, 50, 50));
    for (int y = 0; y < 80; y += 3)
        for (int x = 0; x < 100; x += 3) ASSERT_NE(PixelAt(out.get(), x, y), kGrey) << x << "," << y;
}

TEST(SolidFrame, ReusedLayerDrawsOverEachNewImage) {
    const Settings s = Framed(10, 10, 10, 10);
    Bitmap first = Framed100x80(s, kGrey);
    Bitmap second = Framed100x80(s, Rgba{0, 0, 0, 255});
    EXPECT_EQ(PixelAt(second.get(), 50, 40), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(PixelAt(second.get(), 50, 5), kRed);
    // A new size gets its own layer.
    Bitmap wide = DrawSolidFrame(Solid(160, 40, 24, kGrey), s);
    EXPECT_EQ(PixelAt(wide.get(), 155, 20), kGreen);
    EXPECT_EQ(PixelAt(wide.get(), 80, 35), kBlue);
    EXPECT_EQ(PixelAt(wide.get(), 80, 20), kGrey);
}
