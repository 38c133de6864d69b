#include "imaging/rotate.h"

#include <gtest/gtest.h>

#include "imaging/colour.h"
#include "synthetic_bitmaps.h"

namespace {

using namespace imaging_test;
using kestrune::Bitmap;
using kestrune::Settings;
using testing_support::PixelAt;

Settings RotationSettings(int angle, int type = 0, const char* back = "000000") {
    Settings s = CommandLineDefaults();
    s.do_image_rotation = 1;
    s.image_rotation = angle;
    s.image_rotation_type = static_cast<int8_t>(type);
    s.image_rotation_back_color = back;
    return s;
}

bool SamePixels(FIBITMAP* a, FIBITMAP* b) {
    const int w = static_cast<int>(FreeImage_GetWidth(a)), h = static_cast<int>(FreeImage_GetHeight(a));
    if (w != static_cast<int>(FreeImage_GetWidth(b)) || h != static_cast<int>(FreeImage_GetHeight(b)))
        return false;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (!(PixelAt(a, x, y) == PixelAt(b, x, y))) return false;
    return true;
}

TEST(ParseColour, SixHexDigitsElseBlack) {
    using kestrune::ParseColour;
    using kestrune::Rgb;
    EXPECT_EQ(ParseColour("FF8000"), (Rgb{255, 128, 0}));
    EXPECT_EQ(ParseColour("0a1B2c"), (Rgb{10, 27, 44}));
    EXPECT_EQ(ParseColour("FFFFFF"), (Rgb{255, 255, 255}));
    EXPECT_EQ(ParseColour("FF800"), Rgb{});
    EXPECT_EQ(ParseColour("FF80000"), Rgb{});
    EXPECT_EQ(ParseColour("#FF800"), Rgb{});
    EXPECT_EQ(ParseColour("GG0000"), Rgb{});
    EXPECT_EQ(ParseColour(""), Rgb{});
}

TEST(RotateImage, AnglesOutsideOneTo359LeaveTheImageAndItsDepth) {
    for (int angle : {0, 360, -10, -90, 400}) {
        Bitmap in = LetterFBitmap(30, 40);
        ASSERT_EQ(kestrune::BppOf(in), 8);
        FIBITMAP* before = in.get();
        Bitmap out = kestrune::RotateImage(std::move(in), RotationSettings(angle));
        EXPECT_EQ(out.get(), before) << angle;
        EXPECT_EQ(kestrune::BppOf(out), 8) << angle;
    }
    Settings off = RotationSettings(90);
    off.do_image_rotation = 0;
    Bitmap in = LetterFBitmap(30, 40);
    FIBITMAP* before = in.get();
    EXPECT_EQ(kestrune::RotateImage(std::move(in), off).get(), before);
    EXPECT_EQ(kestrune::RotateImage(Bitmap(), RotationSettings(90)), nullptr);
}

// The library turns counter-clockwise: the source's top-right corner ends up
// top-left, and a pixel (x, y) lands on (y, W - 1 - x).
TEST(RotateImage, QuarterTurnOfThePaletteLetterMovesEveryPixel) {
    const int w = 30, h = 40;
    Bitmap source = LetterFBitmap(w, h);
    Bitmap out = kestrune::RotateImage(Copy(source), RotationSettings(90));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(kestrune::BppOf(out), 24);
    ASSERT_EQ(kestrune::WidthOf(out), h);
    ASSERT_EQ(kestrune::HeightOf(out), w);
    int red = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgba expected = PixelAt(source.get(), x, y);
            ASSERT_EQ(PixelAt(out.get(), y, w - 1 - x), expected) << x << "," << y;
            red += expected == Rgba{255, 0, 0, 255};
        }
    EXPECT_GT(red, 50);  // the letter is really there
}

TEST(RotateImage, AdvancedTypeAndUnknownTypes) {
    Bitmap out = kestrune::RotateImage(Solid(100, 100, 24, {40, 80, 120, 255}), RotationSettings(45, 1));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(kestrune::WidthOf(out), 100);
    EXPECT_EQ(kestrune::HeightOf(out), 100);
    EXPECT_EQ(PixelAt(out.get(), 50, 50), (Rgba{40, 80, 120, 255}));

    // About the centre: a 180-degree turn of the quarters swaps them diagonally.
    Bitmap quarters = Painted(40, 40, 24, [](int x, int y) { return Quadrant(x, y, 40, 40); });
    Bitmap turned = kestrune::RotateImage(std::move(quarters), RotationSettings(180, 1));
    ASSERT_NE(turned, nullptr);
    EXPECT_EQ(PixelAt(turned.get(), 5, 5), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(PixelAt(turned.get(), 34, 34), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(PixelAt(turned.get(), 34, 5), (Rgba{0, 0, 255, 255}));

    // Another type only widens the depth.
    Bitmap letter = LetterFBitmap(30, 40);
    Bitmap copy = Copy(letter);
    Bitmap widened = kestrune::RotateImage(std::move(copy), RotationSettings(45, 2));
    ASSERT_NE(widened, nullptr);
    EXPECT_EQ(kestrune::BppOf(widened), 24);
    EXPECT_TRUE(SamePixels(widened.get(), letter.get()));
}

TEST(RotateImage, SimpleRotationFillsTheCornersWithTheBackColour) {
    for (int bpp : {24, 32}) {
        SCOPED_TRACE(bpp);
        Bitmap out =
            kestrune::RotateImage(Solid(100, 100, bpp, {200, 100, 50, 255}), RotationSettings(45, 0, "102030"));
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(kestrune::BppOf(out), bpp);
        const int w = kestrune::WidthOf(out), h = kestrune::HeightOf(out);
        EXPECT_GT(w, 140);
        EXPECT_GT(h, 140);
        // A 32-bit image must show the colour, not transparent corners.
        const Rgba back{0x10, 0x20, 0x30, 255};
        EXPECT_EQ(PixelAt(out.get(), 0, 0), back);
        EXPECT_EQ(PixelAt(out.get(), w - 1, 0), back);
        EXPECT_EQ(PixelAt(out.get(), 0, h - 1), back);
        EXPECT_EQ(PixelAt(out.get(), w - 1, h - 1), back);
        EXPECT_EQ(PixelAt(out.get(), w / 2, h / 2), (Rgba{200, 100, 50, 255}));
    }
    // A malformed colour gives black corners.
    Bitmap out = kestrune::RotateImage(Solid(100, 100, 24, {200, 100, 50, 255}), RotationSettings(30, 0, "FFF"));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(PixelAt(out.get(), 0, 0), (Rgba{0, 0, 0, 255}));
}

TEST(FlipImage, MirrorsInPlace) {
    const int w = 30, h = 40;
    Bitmap source = LetterFBitmap(w, h);
    Settings s = CommandLineDefaults();

    s.do_image_flip_horizontal = 1;
    Bitmap horizontal = Copy(source);
    FIBITMAP* before = horizontal.get();
    horizontal = kestrune::FlipImage(std::move(horizontal), s);
    EXPECT_EQ(horizontal.get(), before);

    s.do_image_flip_horizontal = 0;
    s.do_image_flip_vertical = 1;
    Bitmap vertical = Copy(source);
    vertical = kestrune::FlipImage(std::move(vertical), s);

    s.do_image_flip_horizontal = 1;
    Bitmap both = Copy(source);
    before = both.get();
    both = kestrune::FlipImage(std::move(both), s);
    EXPECT_EQ(both.get(), before);
    Bitmap half_turn = kestrune::RotateImage(Copy(source), RotationSettings(180));
    ASSERT_NE(half_turn, nullptr);

    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgba c = PixelAt(source.get(), x, y);
            ASSERT_EQ(PixelAt(horizontal.get(), w - 1 - x, y), c);
            ASSERT_EQ(PixelAt(vertical.get(), x, h - 1 - y), c);
            ASSERT_EQ(PixelAt(both.get(), w - 1 - x, h - 1 - y), c);
            ASSERT_EQ(PixelAt(both.get(), x, y), PixelAt(half_turn.get(), x, y));
        }

    Bitmap empty;
    empty = kestrune::FlipImage(std::move(empty), s);
    EXPECT_EQ(empty, nullptr);
}

TEST(RotateWatermark, UsesTheAngleOfTheWatermarkModeAndLeavesCornersTransparent) {
    Settings s = CommandLineDefaults();
    s.do_watermark = kestrune::kTextWatermark;
    s.text_rotation = 45;
    s.wm_image_rotation = 0;
    Bitmap out = kestrune::RotateWatermark(Solid(60, 60, 32, {255, 255, 0, 255}), s);
    ASSERT_NE(out, nullptr);
    const int w = kestrune::WidthOf(out), h = kestrune::HeightOf(out);
    EXPECT_GT(w, 80);
    EXPECT_EQ(PixelAt(out.get(), 0, 0).a, 0);
    EXPECT_EQ(PixelAt(out.get(), w - 1, h - 1).a, 0);
    EXPECT_EQ(PixelAt(out.get(), w / 2, h / 2), (Rgba{255, 255, 0, 255}));

    // Image mode turns by its own angle, not the text's.
    s.do_watermark = kestrune::kImageWatermark;
    Bitmap mark = Solid(60, 60, 32, {255, 255, 0, 255});
    FIBITMAP* before = mark.get();
    EXPECT_EQ(kestrune::RotateWatermark(std::move(mark), s).get(), before);
    s.text_rotation = 0;
    s.wm_image_rotation = 90;
    Bitmap tall = kestrune::RotateWatermark(Solid(60, 20, 32, {1, 2, 3, 255}), s);
    EXPECT_EQ(kestrune::WidthOf(tall), 20);
    EXPECT_EQ(kestrune::HeightOf(tall), 60);
    s.wm_image_rotation = 360;
    mark = Solid(60, 20, 32, {1, 2, 3, 255});
    before = mark.get();
    EXPECT_EQ(kestrune::RotateWatermark(std::move(mark), s).get(), before);
}

// The guard's sizes are the library's own: for every angle the computed
// size is the size of the bitmap the library really returns.
TEST(SimpleRotationCanvas, MatchesTheLibrarysResult) {
    for (const auto& [w, h] : {std::pair{37, 23}, std::pair{23, 37}, std::pair{64, 1}, std::pair{1, 50}})
        for (int angle : {1, 30, 44, 45, 46, 89, 90, 91, 135, 136, 180, 200, 225, 226, 270, 300, 315, 316, 359}) {
            Bitmap out = kestrune::RotateImage(Solid(w, h, 24, {10, 20, 30, 255}), RotationSettings(angle));
            ASSERT_TRUE(out) << w << "x" << h << " by " << angle;
            const kestrune::RotationCanvas c = kestrune::SimpleRotationCanvas(w, h, angle);
            EXPECT_EQ(c.width, kestrune::WidthOf(out)) << w << "x" << h << " by " << angle;
            EXPECT_EQ(c.height, kestrune::HeightOf(out)) << w << "x" << h << " by " << angle;
            EXPECT_GE(c.largest_pixels, c.width * c.height);
        }
}

// The largest screen accepted turns by quarter turns at no extra cost; any
// other angle makes it larger and is refused.
TEST(SimpleRotationCanvas, QuarterTurnsOfTheLargestScreenStayWithinTheBound) {
    for (int angle : {90, 180, 270}) {
        const kestrune::RotationCanvas c = kestrune::SimpleRotationCanvas(10000, 10000, angle);
        EXPECT_EQ(c.largest_pixels, 100'000'000) << angle;
        EXPECT_EQ(c.width, 10000);
    }
    EXPECT_EQ(kestrune::SimpleRotationCanvas(20000, 5000, 90).width, 5000);
    EXPECT_GT(kestrune::SimpleRotationCanvas(10000, 10000, 1).largest_pixels, 100'000'000);
    // The 132-byte wide, thin screen of the fuzz findings.
    EXPECT_GT(kestrune::SimpleRotationCanvas(64258, 1, 30).largest_pixels, 100'000'000);
    // Refused without allocating: an empty frame comes back.
    Settings s = RotationSettings(30);
    EXPECT_FALSE(kestrune::RotateImage(Solid(64258, 1, 24, {0, 0, 0, 255}), s));
}

}  // namespace
