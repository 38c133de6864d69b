#include "imaging/tones.h"

#include <gtest/gtest.h>

#include "synthetic_bitmaps.h"

namespace {

using namespace imaging_test;
using kestrune::Bitmap;
using kestrune::Settings;
using testing_support::PixelAt;

Rgba Gradient(int x, int y) {
    return {static_cast<uint8_t>(x * 9), static_cast<uint8_t>(y * 11), static_cast<uint8_t>(255 - x * 5), 255};
}

Settings Correction(int brightness, int contrast, float gamma, bool invert) {
    Settings s = CommandLineDefaults();
    s.do_image_color_correction = 1;
    s.image_brightness = brightness;
    s.image_contrast = contrast;
    s.image_gamma = gamma;
    s.image_invert = invert ? 1 : 0;
    return s;
}

TEST(AdjustTones, NeutralValuesLeaveEveryPixel) {
    Bitmap source = Painted(25, 20, 24, Gradient);
    Bitmap out = kestrune::AdjustTones(Copy(source), Correction(0, 0, 1.0f, false));
    ASSERT_NE(out, nullptr);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 25; ++x) ASSERT_EQ(PixelAt(out.get(), x, y), PixelAt(source.get(), x, y));
}

TEST(AdjustTones, InvertAndBrightnessChangeThePixels) {
    Bitmap inverted = kestrune::AdjustTones(Solid(8, 8, 24, {0, 0, 0, 255}), Correction(0, 0, 1.0f, true));
    EXPECT_EQ(PixelAt(inverted.get(), 3, 3), (Rgba{255, 255, 255, 255}));
    Bitmap coloured = kestrune::AdjustTones(Solid(8, 8, 32, {255, 0, 100, 255}), Correction(0, 0, 1.0f, true));
    EXPECT_EQ(PixelAt(coloured.get(), 3, 3), (Rgba{0, 255, 155, 255}));

    Bitmap brighter = kestrune::AdjustTones(Solid(8, 8, 24, {100, 100, 100, 255}), Correction(50, 0, 1.0f, false));
    EXPECT_GT(PixelAt(brighter.get(), 0, 0).r, 140);
    Bitmap darker = kestrune::AdjustTones(Solid(8, 8, 24, {100, 100, 100, 255}), Correction(0, 0, 0.5f, false));
    EXPECT_LT(PixelAt(darker.get(), 0, 0).r, 100);
}

TEST(AdjustTones, OneBitInputIsWidenedTo24BitsAndAdjusted) {
    Bitmap mono(FreeImage_Allocate(16, 4, 1));
    RGBQUAD* pal = FreeImage_GetPalette(mono.get());
    pal[0] = {0, 0, 0, 0};
    pal[1] = {255, 255, 255, 0};
    // Left half black (index 0), right half white.
    for (int y = 0; y < 4; ++y) FreeImage_GetScanLine(mono.get(), y)[1] = 0xFF;
    Bitmap out = kestrune::AdjustTones(std::move(mono), Correction(0, 0, 1.0f, true));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(kestrune::BppOf(out), 24);
    EXPECT_EQ(PixelAt(out.get(), 2, 1), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(PixelAt(out.get(), 12, 1), (Rgba{0, 0, 0, 255}));
}

TEST(Tones, SwitchedOffOrEmptyPassesThrough) {
    const Settings off = CommandLineDefaults();
    for (auto op : {kestrune::AdjustTones, kestrune::MakeGreyscale, kestrune::ApplyThreshold}) {
        Bitmap in = LetterFBitmap(10, 12);
        FIBITMAP* before = in.get();
        EXPECT_EQ(op(std::move(in), off).get(), before);
    }
    Settings on = Correction(10, 10, 1.0f, true);
    on.do_image_greyscale = 1;
    on.do_image_threshold = 1;
    for (auto op : {kestrune::AdjustTones, kestrune::MakeGreyscale, kestrune::ApplyThreshold})
        EXPECT_EQ(op(Bitmap(), on), nullptr);
}

TEST(MakeGreyscale, GivesEightBitGrey) {
    Settings s = CommandLineDefaults();
    s.do_image_greyscale = 1;
    Bitmap out = kestrune::MakeGreyscale(Painted(10, 4, 24, [](int x, int) {
        return x < 5 ? Rgba{255, 255, 255, 255} : Rgba{255, 0, 0, 255};
    }), s);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(kestrune::BppOf(out), 8);
    EXPECT_EQ(PixelAt(out.get(), 1, 1), (Rgba{255, 255, 255, 255}));
    const Rgba red = PixelAt(out.get(), 8, 1);
    EXPECT_EQ(red.r, red.g);
    EXPECT_EQ(red.g, red.b);
    EXPECT_GT(red.r, 20);
    EXPECT_LT(red.r, 120);
}

TEST(ApplyThreshold, SplitsAtTheLevelIntoOneBit) {
    Settings s = CommandLineDefaults();
    s.do_image_greyscale = 1;
    s.do_image_threshold = 1;
    s.image_threshold = 0;
    Bitmap grey = kestrune::MakeGreyscale(Painted(12, 6, 24, Gradient), s);
    Bitmap all_white = kestrune::ApplyThreshold(std::move(grey), s);
    ASSERT_NE(all_white, nullptr);
    EXPECT_EQ(kestrune::BppOf(all_white), 1);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 12; ++x) ASSERT_EQ(PixelAt(all_white.get(), x, y), (Rgba{255, 255, 255, 255}));

    // Only the low eight bits of the level count: 384 is 128.
    auto split = Painted(12, 2, 24, [](int x, int) {
        return x < 6 ? Rgba{100, 100, 100, 255} : Rgba{200, 200, 200, 255};
    });
    s.image_threshold = 384;
    Bitmap bw = kestrune::ApplyThreshold(std::move(split), s);
    ASSERT_NE(bw, nullptr);
    EXPECT_EQ(kestrune::BppOf(bw), 1);
    EXPECT_EQ(PixelAt(bw.get(), 2, 0), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(PixelAt(bw.get(), 9, 1), (Rgba{255, 255, 255, 255}));
}

}  // namespace
