#include "formats_support.h"
#include "imaging/bit_depth.h"

using namespace kestrune;
using formats_test::ReadPixel;
using testing_support::Rgba;

namespace {

class BitDepthTest : public ::testing::Test {
  protected:
    void SetUp() override {
        formats_test::InitLibraries();
        s = formats_test::CommandLineSettings();
    }
    // A run state with a fixed target depth.
    FrameContext Fixed(const std::string& ext, int bpp) {
        FrameContext state = formats_test::StateFor(ext, s);
        state.format.bpp = bpp;
        return state;
    }
    Settings s;
};

// Four quadrants: red, green, blue, half-transparent white.
Bitmap Quadrants() {
    return formats_test::MakeBitmap32(16, 16, [](int x, int y) {
        if (y < 8) return x < 8 ? Rgba{255, 0, 0, 255} : Rgba{0, 255, 0, 255};
        return x < 8 ? Rgba{0, 0, 255, 255} : Rgba{255, 255, 255, 128};
    });
}

TEST_F(BitDepthTest, AutomaticDepthIsTheNearestAllowedAtOrAboveTheSource) {
    FrameContext jpg = formats_test::StateFor("jpg", s, 8);
    Bitmap grey(FreeImage_ConvertTo8Bits(Quadrants().get()));
    Bitmap out = ConvertBitDepth(std::move(grey), jpg);
    EXPECT_EQ(jpg.format.bpp, 8);
    EXPECT_EQ(BppOf(out), 8);

    const FrameContext jpg32 = formats_test::StateFor("jpg", s, 32);
    out = ConvertBitDepth(Quadrants(), jpg32);
    EXPECT_EQ(jpg32.format.bpp, 24);
    EXPECT_EQ(BppOf(out), 24);

    FrameContext png = formats_test::StateFor("png", s, 24);
    out = ConvertBitDepth(Bitmap(FreeImage_ConvertTo24Bits(Quadrants().get())), png);
    EXPECT_EQ(png.format.bpp, 24);
    EXPECT_EQ(BppOf(out), 24);
}

TEST_F(BitDepthTest, SameDepthReturnsTheSameBitmap) {
    FrameContext state = Fixed("png", 32);
    Bitmap image = Quadrants();
    FIBITMAP* before = image.get();
    Bitmap out = ConvertBitDepth(std::move(image), state);
    EXPECT_EQ(out.get(), before);
}

TEST_F(BitDepthTest, SixteenBitsLayoutDependsOnTheFormat) {
    for (const auto& [ext, green_mask] : {std::pair<const char*, unsigned>{"tga", FI16_555_GREEN_MASK},
                                          {"ico", FI16_555_GREEN_MASK},
                                          {"bmp", FI16_565_GREEN_MASK}}) {
        SCOPED_TRACE(ext);
        FrameContext state = Fixed(ext, 16);
        Bitmap out = ConvertBitDepth(Quadrants(), state);
        ASSERT_EQ(BppOf(out), 16);
        EXPECT_EQ(FreeImage_GetGreenMask(out.get()), green_mask);
        EXPECT_EQ(ReadPixel(out.get(), 12, 2), (Rgba{0, 255, 0, 255}));
        EXPECT_EQ(ReadPixel(out.get(), 2, 12), (Rgba{0, 0, 255, 255}));
    }
}

TEST_F(BitDepthTest, DeepImagesReachSixteenBitsThroughTwentyFour) {
    Bitmap deep(FreeImage_ConvertToRGB16(Quadrants().get()));
    ASSERT_EQ(BppOf(deep), 48);
    FrameContext state = Fixed("bmp", 16);
    Bitmap out = ConvertBitDepth(std::move(deep), state);
    ASSERT_TRUE(out);
    EXPECT_EQ(BppOf(out), 16);
    EXPECT_EQ(ReadPixel(out.get(), 2, 2), (Rgba{255, 0, 0, 255}));
}

TEST_F(BitDepthTest, EightBitsQuantizeOrTurnGrey) {
    FrameContext png = Fixed("png", 8);
    Bitmap palette = ConvertBitDepth(Quadrants(), png);
    ASSERT_EQ(BppOf(palette), 8);
    EXPECT_EQ(FreeImage_GetColorType(palette.get()), FIC_PALETTE);
    EXPECT_EQ(FreeImage_GetColorsUsed(palette.get()), 256u);
    EXPECT_EQ(ReadPixel(palette.get(), 2, 2), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(ReadPixel(palette.get(), 12, 2), (Rgba{0, 255, 0, 255}));
    // The alpha channel is dropped, not blended.
    EXPECT_EQ(ReadPixel(palette.get(), 12, 12), (Rgba{255, 255, 255, 255}));

    for (const char* ext : {"jpg", "j2k", "jp2", "jxr"}) {
        FrameContext grey = Fixed(ext, 8);
        Bitmap out = ConvertBitDepth(Quadrants(), grey);
        ASSERT_EQ(BppOf(out), 8) << ext;
        EXPECT_EQ(FreeImage_GetColorType(out.get()), FIC_MINISBLACK) << ext;
        EXPECT_NEAR(ReadPixel(out.get(), 12, 2).g, formats_test::Luma({0, 255, 0, 255}), 1) << ext;
    }
}

TEST_F(BitDepthTest, OtherTargets) {
    struct Case {
        int bpp;
        FREE_IMAGE_TYPE type;
    };
    for (const Case& c : {Case{96, FIT_RGBF}, Case{48, FIT_RGB16}, Case{24, FIT_BITMAP},
                          Case{4, FIT_BITMAP}, Case{1, FIT_BITMAP}}) {
        SCOPED_TRACE(c.bpp);
        FrameContext state = Fixed("tiff", c.bpp);
        Bitmap out = ConvertBitDepth(Quadrants(), state);
        ASSERT_TRUE(out);
        EXPECT_EQ(BppOf(out), c.bpp);
        EXPECT_EQ(FreeImage_GetImageType(out.get()), c.type);
    }
    FrameContext rgb = Fixed("tiff", 24);
    Bitmap back32 = ConvertBitDepth(Bitmap(FreeImage_ConvertTo24Bits(Quadrants().get())), rgb);
    FrameContext to32 = Fixed("tiff", 32);
    back32 = ConvertBitDepth(std::move(back32), to32);
    EXPECT_EQ(BppOf(back32), 32);
    EXPECT_EQ(ReadPixel(back32.get(), 12, 12), (Rgba{255, 255, 255, 255}));
    // A 1-bit image of pure black and white is dithered without error.
    Bitmap bw = formats_test::MakeBitmap32(8, 8, [](int x, int) {
        return x < 4 ? Rgba{0, 0, 0, 255} : Rgba{255, 255, 255, 255};
    });
    FrameContext one = Fixed("pbm", 1);
    bw = ConvertBitDepth(std::move(bw), one);
    EXPECT_EQ(ReadPixel(bw.get(), 1, 5), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(ReadPixel(bw.get(), 6, 5), (Rgba{255, 255, 255, 255}));
}

TEST_F(BitDepthTest, UnknownDepthAndEmptyImageGiveEmpty) {
    for (int bpp : {2, 64, 12, -1}) {
        FrameContext state = Fixed("png", bpp);
        EXPECT_FALSE(ConvertBitDepth(Quadrants(), state)) << bpp;
    }
    FrameContext state = formats_test::StateFor("gif", s);
    EXPECT_FALSE(ConvertBitDepth(Bitmap(), state));
}

}  // namespace
