// The JPEG XR writer, judged by jxrlib's own command-line decoder: every
// layout the pipeline hands over must come back pixel for pixel, the right
// way up and in the right channel order.
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "formats/jxr_writer.h"
#include "formats_support.h"
#include "imaging/bit_depth.h"

using namespace kestrune;
using formats_test::DecodeJpegXr;
using formats_test::ReadPixel;
using testing_support::PixelAt;
using testing_support::Rgba;
using testing_support::TempDir;

namespace {

// Odd, unequal sides (not a multiple of the 16-pixel macroblock either way)
// and values that differ along both axes, so a flip, a shift of a row or a
// swapped channel shows.
constexpr int kWidth = 37;
constexpr int kHeight = 23;

Rgba Pattern(int x, int y) {
    return {uint8_t(x * 7 + y), uint8_t(y * 11 + 3), uint8_t((x * y) ^ 0x5A), uint8_t(255 - x * 3 - y * 2)};
}

class JxrWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        formats_test::InitLibraries();
        ASSERT_TRUE(formats_test::HaveJxrDecoder()) << "JxrDecApp (Debian: libjxr-tools) is needed";
    }

    // Saves `image`, decodes it and checks the size.
    testing_support::TestBitmap RoundTrip(FIBITMAP* image, const std::string& name) {
        const std::string path = dir / name;
        EXPECT_TRUE(SaveJpegXr(image, path));
        testing_support::TestBitmap back = DecodeJpegXr(path);
        EXPECT_TRUE(back) << "JxrDecApp cannot read " << path;
        if (back) {
            EXPECT_EQ(FreeImage_GetWidth(back.get()), FreeImage_GetWidth(image));
            EXPECT_EQ(FreeImage_GetHeight(back.get()), FreeImage_GetHeight(image));
        }
        return back;
    }

    TempDir dir;
};

Bitmap MakePalette8(const std::function<RGBQUAD(int)>& entry, int colours) {
    Bitmap b(FreeImage_Allocate(kWidth, kHeight, 8));
    RGBQUAD* palette = FreeImage_GetPalette(b.get());
    for (int i = 0; i < 256; ++i) palette[i] = entry(i);
    for (int y = 0; y < kHeight; ++y) {
        BYTE* row = FreeImage_GetScanLine(b.get(), kHeight - 1 - y);
        for (int x = 0; x < kWidth; ++x) row[x] = BYTE((x * 5 + y * 9) % colours);
    }
    return b;
}

void ExpectSamePixels(FIBITMAP* want, FIBITMAP* got, bool with_alpha) {
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            Rgba a = PixelAt(want, x, y), b = PixelAt(got, x, y);
            if (!with_alpha) a.a = b.a = 255;
            ASSERT_EQ(a, b) << "at " << x << "," << y;
        }
    }
}

TEST_F(JxrWriterTest, TwentyFourBitsAreExact) {
    Bitmap image(FreeImage_ConvertTo24Bits(formats_test::MakeBitmap32(kWidth, kHeight, Pattern).get()));
    ASSERT_EQ(BppOf(image), 24);
    auto back = RoundTrip(image.get(), "rgb.jxr");
    ASSERT_TRUE(back);
    EXPECT_EQ(FreeImage_GetBPP(back.get()), 24u);
    ExpectSamePixels(image.get(), back.get(), false);
}

TEST_F(JxrWriterTest, ThirtyTwoBitsKeepTheAlphaChannel) {
    Bitmap image = formats_test::MakeBitmap32(kWidth, kHeight, Pattern);
    auto back = RoundTrip(image.get(), "rgba.jxr");
    ASSERT_TRUE(back);
    EXPECT_EQ(FreeImage_GetBPP(back.get()), 32u);
    ExpectSamePixels(image.get(), back.get(), true);
}

TEST_F(JxrWriterTest, GreyPaletteBecomesGreyLevelsLookedUp) {
    // An inverted ramp: writing the indices as levels would show at once.
    Bitmap image = MakePalette8(
        [](int i) { return RGBQUAD{BYTE(255 - i), BYTE(255 - i), BYTE(255 - i), 0}; }, 256);
    auto back = RoundTrip(image.get(), "grey.jxr");
    ASSERT_TRUE(back);
    EXPECT_EQ(FreeImage_GetBPP(back.get()), 8u);
    EXPECT_EQ(FreeImage_GetColorType(back.get()), FIC_MINISBLACK);
    ExpectSamePixels(image.get(), back.get(), false);
}

TEST_F(JxrWriterTest, ColourPaletteBecomesTwentyFourBits) {
    Bitmap image = MakePalette8(
        [](int i) { return RGBQUAD{BYTE(i * 3), BYTE(200 - i), BYTE(i * 7), 0}; }, 40);
    auto back = RoundTrip(image.get(), "palette.jxr");
    ASSERT_TRUE(back);
    EXPECT_EQ(FreeImage_GetBPP(back.get()), 24u);
    ExpectSamePixels(image.get(), back.get(), false);
}

// Both orders of a black and white palette: dithering puts black at index
// 0, other sources may not.
class JxrBlackWhiteTest : public JxrWriterTest, public ::testing::WithParamInterface<bool> {};

TEST_P(JxrBlackWhiteTest, OneBitStaysOneBitAndKeepsItsColours) {
    const bool black_first = GetParam();
    Bitmap image(FreeImage_Allocate(kWidth, kHeight, 1));
    RGBQUAD* palette = FreeImage_GetPalette(image.get());
    palette[black_first ? 0 : 1] = {0, 0, 0, 0};
    palette[black_first ? 1 : 0] = {255, 255, 255, 0};
    for (int y = 0; y < kHeight; ++y) {
        BYTE* row = FreeImage_GetScanLine(image.get(), kHeight - 1 - y);
        // Padding bits beyond the width set on purpose: they must not leak.
        std::memset(row, 0, FreeImage_GetPitch(image.get()));
        for (int x = 0; x < kWidth; ++x)
            if ((x * x + 3 * y) % 5 < 2 || y == 0) row[x / 8] |= BYTE(0x80 >> (x % 8));
        row[kWidth / 8] |= BYTE(0xFF >> (kWidth % 8));
    }
    auto back = RoundTrip(image.get(), "bw.jxr");
    ASSERT_TRUE(back);
    EXPECT_EQ(FreeImage_GetBPP(back.get()), 1u);
    ExpectSamePixels(image.get(), back.get(), false);
}

INSTANTIATE_TEST_SUITE_P(PaletteOrders, JxrBlackWhiteTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "BlackFirst" : "WhiteFirst");
                         });

TEST_F(JxrWriterTest, TwoColourPaletteThatIsNotBlackAndWhiteIsWrittenInColour) {
    Bitmap image(FreeImage_Allocate(kWidth, kHeight, 1));
    RGBQUAD* palette = FreeImage_GetPalette(image.get());
    palette[0] = {200, 10, 30, 0};
    palette[1] = {0, 255, 0, 0};
    for (int y = 0; y < kHeight; ++y) {
        BYTE* row = FreeImage_GetScanLine(image.get(), y);
        for (int x = 0; x < kWidth; ++x)
            if ((x + 2 * y) % 3 == 0) row[x / 8] |= BYTE(0x80 >> (x % 8));
    }
    auto back = RoundTrip(image.get(), "two.jxr");
    ASSERT_TRUE(back);
    EXPECT_EQ(FreeImage_GetBPP(back.get()), 24u);
    ExpectSamePixels(image.get(), back.get(), false);
}

TEST_F(JxrWriterTest, SixteenBitLayoutsAreWidenedToTwentyFourBits) {
    Bitmap source(FreeImage_ConvertTo24Bits(formats_test::MakeBitmap32(kWidth, kHeight, Pattern).get()));
    for (const bool six_for_green : {true, false}) {
        SCOPED_TRACE(six_for_green ? "565" : "555");
        Bitmap image(six_for_green ? FreeImage_ConvertTo16Bits565(source.get())
                                   : FreeImage_ConvertTo16Bits555(source.get()));
        ASSERT_EQ(BppOf(image), 16);
        Bitmap expected(FreeImage_ConvertTo24Bits(image.get()));
        auto back = RoundTrip(image.get(), six_for_green ? "565.jxr" : "555.jxr");
        ASSERT_TRUE(back);
        EXPECT_EQ(FreeImage_GetBPP(back.get()), 24u);
        ExpectSamePixels(expected.get(), back.get(), false);
    }
}

TEST_F(JxrWriterTest, SixteenBitChannelsAreExact) {
    Bitmap image(FreeImage_AllocateT(FIT_RGB16, kWidth, kHeight));
    for (int y = 0; y < kHeight; ++y) {
        FIRGB16* row = reinterpret_cast<FIRGB16*>(FreeImage_GetScanLine(image.get(), kHeight - 1 - y));
        for (int x = 0; x < kWidth; ++x)
            row[x] = {WORD(x * 1777 + y * 3), WORD(65535 - y * 2999), WORD((x * y * 37) ^ 0xA5A5)};
    }
    auto back = RoundTrip(image.get(), "rgb16.jxr");
    ASSERT_TRUE(back);
    ASSERT_EQ(FreeImage_GetImageType(back.get()), FIT_RGB16);
    for (int y = 0; y < kHeight; ++y) {
        const FIRGB16* want = reinterpret_cast<FIRGB16*>(FreeImage_GetScanLine(image.get(), y));
        const FIRGB16* got = reinterpret_cast<FIRGB16*>(FreeImage_GetScanLine(back.get(), y));
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_EQ(want[x].red, got[x].red) << "at " << x << "," << y;
            ASSERT_EQ(want[x].green, got[x].green) << "at " << x << "," << y;
            ASSERT_EQ(want[x].blue, got[x].blue) << "at " << x << "," << y;
        }
    }
}

// Largest relative difference between the samples of two RGBF bitmaps.
double WorstRelativeError(FIBITMAP* want, FIBITMAP* got, bool* same_levels) {
    double worst = 0;
    *same_levels = true;
    for (unsigned y = 0; y < FreeImage_GetHeight(want); ++y) {
        const float* a = reinterpret_cast<float*>(FreeImage_GetScanLine(want, y));
        const float* b = reinterpret_cast<float*>(FreeImage_GetScanLine(got, y));
        for (unsigned i = 0; i < 3 * FreeImage_GetWidth(want); ++i) {
            if (a[i] != b[i])
                worst = std::max(worst, std::fabs(double(a[i]) - b[i]) / std::fabs(double(a[i])));
            if (std::lround(a[i] * 255) != std::lround(b[i] * 255)) *same_levels = false;
        }
    }
    return worst;
}

TEST_F(JxrWriterTest, FloatsKeepTwentyTwoMantissaBits) {
    // Floats as the bit-depth conversion makes them: 8-bit levels over 255.
    Bitmap image(FreeImage_ConvertToRGBF(formats_test::MakeBitmap32(kWidth, kHeight, Pattern).get()));
    ASSERT_EQ(FreeImage_GetImageType(image.get()), FIT_RGBF);
    auto back = RoundTrip(image.get(), "float.jxr");
    ASSERT_TRUE(back);
    ASSERT_EQ(FreeImage_GetImageType(back.get()), FIT_RGBF);
    bool same_levels = false;
    EXPECT_LE(WorstRelativeError(image.get(), back.get(), &same_levels), std::ldexp(1.0, -22));
    EXPECT_TRUE(same_levels);
}

TEST_F(JxrWriterTest, HugeFloatsAreWrittenWithoutOverflowingTheCoder) {
    // Samples like these make the 22-bit coding overflow inside jxrlib,
    // which aborts the whole process; they must get the coarser coding.
    Bitmap image(FreeImage_AllocateT(FIT_RGBF, kWidth, kHeight));
    for (int y = 0; y < kHeight; ++y) {
        FIRGBF* row = reinterpret_cast<FIRGBF*>(FreeImage_GetScanLine(image.get(), y));
        for (int x = 0; x < kWidth; ++x) {
            const float v = (x + y) % 2 ? 3.0e38f : -1.0e30f;
            row[x] = {v, -v, 0.5f + x};
        }
    }
    auto back = RoundTrip(image.get(), "huge.jxr");
    ASSERT_TRUE(back);
    bool same_levels = false;
    EXPECT_LE(WorstRelativeError(image.get(), back.get(), &same_levels), std::ldexp(1.0, -12));
}

TEST_F(JxrWriterTest, ImageTypesWithoutALayoutAreRefused) {
    Bitmap image(FreeImage_AllocateT(FIT_UINT16, kWidth, kHeight));
    EXPECT_FALSE(SaveJpegXr(image.get(), dir / "u16.jxr"));
    EXPECT_FALSE(SaveJpegXr(nullptr, dir / "none.jxr"));
}

// Every depth the registry allows, through the bit-depth conversion and
// SaveFrame as a run does it, from the red-F-on-blue frame.
class JxrSaveFrameTest : public JxrWriterTest, public ::testing::WithParamInterface<int> {};

TEST_P(JxrSaveFrameTest, EveryAllowedDepthIsSavedAndReadsBack) {
    const int bpp = GetParam();
    ASSERT_TRUE(IsBitDepthAllowed("jxr", bpp));
    Settings s = formats_test::CommandLineSettings();
    s.jxr_bpp = bpp;
    FrameContext state = formats_test::StateFor("jxr", s);
    ASSERT_EQ(state.format.bpp, bpp);
    Bitmap frame = ConvertBitDepth(formats_test::MakeBitmap32(kWidth, kHeight, [](int x, int y) {
        const bool stem = x >= 8 && x < 12 && y >= 4 && y < 19;
        const bool top_bar = y >= 4 && y < 7 && x >= 8 && x < 24;
        const bool middle_bar = y >= 10 && y < 13 && x >= 8 && x < 20;
        const bool f = stem || top_bar || middle_bar;
        return f ? Rgba{255, 0, 0, 255} : Rgba{0, 0, 255, 255};
    }), state);
    ASSERT_TRUE(frame);

    const std::string target = dir / "out.jxr";
    ASSERT_EQ(SaveFrame(frame, target, state), SaveResult::Saved);
    EXPECT_EQ(testing_support::ListNames(dir.path()), std::vector<std::string>{"out.jxr"});
    auto back = DecodeJpegXr(target);
    ASSERT_TRUE(back);

    // 16-bit frames are judged after FreeImage's own widening.
    Bitmap widened;
    FIBITMAP* want = frame.get();
    if (bpp == 16) {
        widened.reset(FreeImage_ConvertTo24Bits(frame.get()));
        want = widened.get();
    }
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            Rgba a = ReadPixel(want, x, y), b = ReadPixel(back.get(), x, y);
            a.a = b.a = 255;
            ASSERT_EQ(a, b) << "at " << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(AllowedDepths, JxrSaveFrameTest, ::testing::Values(1, 8, 16, 24, 32, 48, 96),
                         [](const auto& info) { return "Bpp" + std::to_string(info.param); });

TEST_F(JxrWriterTest, AFailedSaveLeavesNothingBehind) {
    Settings s = formats_test::CommandLineSettings();
    FrameContext state = formats_test::StateFor("jxr", s);
    Bitmap frame = formats_test::MakeBitmap32(kWidth, kHeight, Pattern);

    // A folder that does not exist: nothing is created, not even the folder.
    EXPECT_EQ(SaveFrame(frame, dir / "missing/out.jxr", state), SaveResult::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    EXPECT_TRUE(testing_support::ListNames(dir.path()).empty());

    // An image the writer refuses: the earlier output stays as it was and no
    // temporary file remains.
    const std::string target = dir / "out.jxr";
    testing_support::WriteFileBytes(target, "earlier output");
    Bitmap refused(FreeImage_AllocateT(FIT_UINT16, kWidth, kHeight));
    EXPECT_EQ(SaveFrame(refused, target, state), SaveResult::Failed);
    EXPECT_EQ(testing_support::ReadFileBytes(target), "earlier output");
    EXPECT_EQ(testing_support::ListNames(dir.path()), std::vector<std::string>{"out.jxr"});
}

TEST_F(JxrWriterTest, AFullDiskIsAFailedSave) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
    // Every write fails there, whether the encoder or the final flush meets it.
    Bitmap image = formats_test::MakeBitmap32(4, 4, Pattern);
    EXPECT_FALSE(SaveJpegXr(image.get(), "/dev/full"));
}

}  // namespace
