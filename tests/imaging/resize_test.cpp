#include "imaging/resize.h"

#include <gtest/gtest.h>

#include <climits>

#include "synthetic_bitmaps.h"

namespace {

using namespace imaging_test;
using kestrune::Bitmap;
using kestrune::ResizeImage;
using kestrune::Settings;
using kestrune::TargetDimension;
using testing_support::PixelAt;

Settings ResizeSettings(int w, int h, int w_unit = 0, int h_unit = 0, bool keep = false) {
    Settings s = CommandLineDefaults();
    s.do_image_resize = 1;
    s.image_width = w;
    s.image_height = h;
    s.image_width_unit = static_cast<int8_t>(w_unit);
    s.image_height_unit = static_cast<int8_t>(h_unit);
    s.keep_aspect_ratio = keep ? 1 : 0;
    s.image_resize_type = 0;
    s.image_resize_algorithm = 3;
    return s;
}

// Resizes a grey w x h image and returns the new size.
std::pair<int, int> ResizedSize(int w, int h, const Settings& s) {
    Bitmap out = ResizeImage(Solid(w, h, 24, {90, 90, 90, 255}), s);
    return {kestrune::WidthOf(out), kestrune::HeightOf(out)};
}

TEST(TargetDimension, PixelsPercentAndUnknownUnits) {
    EXPECT_EQ(TargetDimension(800, 0, 37), 800);
    EXPECT_EQ(TargetDimension(-5, 0, 37), -5);
    // Halves go to the even neighbour.
    EXPECT_EQ(TargetDimension(50, 1, 101), 50);  // 50.5
    EXPECT_EQ(TargetDimension(50, 1, 75), 38);   // 37.5
    EXPECT_EQ(TargetDimension(50, 1, 5), 2);     // 2.5
    EXPECT_EQ(TargetDimension(50, 1, 7), 4);     // 3.5
    EXPECT_EQ(TargetDimension(33, 1, 100), 33);
    EXPECT_EQ(TargetDimension(150, 1, 41), 62);  // 61.5
    EXPECT_EQ(TargetDimension(50, 2, 100), 0);
    EXPECT_EQ(TargetDimension(50, -1, 100), 0);
}

TEST(TargetDimension, HugePercentagesSaturateInsteadOfOverflowing) {
    EXPECT_EQ(TargetDimension(INT_MAX, 1, 1000), INT_MAX);
    EXPECT_EQ(TargetDimension(INT_MIN, 1, 1000), INT_MIN);
}

TEST(ResizeImage, PercentOfAnOddSizeRoundsHalvesToEven) {
    const Settings s = ResizeSettings(50, 50, 1, 1);
    EXPECT_EQ(ResizedSize(101, 75, s), std::make_pair(50, 38));
}

TEST(ResizeImage, KeepAspectRatioUsesTheTargetOfTheLongerSide) {
    const Settings s = ResizeSettings(800, 600, 0, 0, true);
    EXPECT_EQ(ResizedSize(1600, 1200, s), std::make_pair(800, 600));
    EXPECT_EQ(ResizedSize(1200, 1600, s), std::make_pair(450, 600));
    // Only the longer side's target matters; the other need only be positive.
    const Settings thin = ResizeSettings(800, 1, 0, 0, true);
    EXPECT_EQ(ResizedSize(1600, 1200, thin), std::make_pair(800, 600));
    EXPECT_EQ(ResizedSize(1200, 1600, thin), std::make_pair(1, 1));
    // A square counts as landscape: the width target wins.
    EXPECT_EQ(ResizedSize(300, 300, ResizeSettings(100, 40, 0, 0, true)), std::make_pair(100, 100));
    // Ratio 1000/3 as a float; 200 / 333.33334 = 0.6 rounds up to 1.
    EXPECT_EQ(ResizedSize(1000, 3, ResizeSettings(200, 5, 0, 0, true)), std::make_pair(200, 1));
    EXPECT_EQ(ResizedSize(640, 427, ResizeSettings(321, 5, 0, 0, true)), std::make_pair(321, 214));
}

TEST(ResizeImage, VeryFlatImageKeepsAtLeastOnePixel) {
    // 10 / 100 = 0.1 would round to a zero height, which the library refuses.
    const Settings s = ResizeSettings(10, 10, 0, 0, true);
    EXPECT_EQ(ResizedSize(1000, 10, s), std::make_pair(10, 1));
    EXPECT_EQ(ResizedSize(10, 1000, s), std::make_pair(1, 10));
}

TEST(ResizeImage, CasesThatLeaveTheImageAlone) {
    auto same_handle = [](int w, int h, const Settings& s) {
        Bitmap in = Solid(w, h, 24, {1, 2, 3, 255});
        FIBITMAP* before = in.get();
        Bitmap out = ResizeImage(std::move(in), s);
        return out.get() == before && kestrune::WidthOf(out) == w && kestrune::HeightOf(out) == h;
    };
    EXPECT_TRUE(same_handle(120, 80, ResizeSettings(0, 600, 0, 0, true))) << "width 0";
    EXPECT_TRUE(same_handle(120, 80, ResizeSettings(100, 0))) << "height 0";
    EXPECT_TRUE(same_handle(120, 80, ResizeSettings(-100, 50))) << "negative width";
    EXPECT_TRUE(same_handle(120, 80, ResizeSettings(50, 50, 2, 2))) << "unknown unit";
    EXPECT_TRUE(same_handle(120, 80, ResizeSettings(120, 80))) << "already the target size";
    EXPECT_TRUE(same_handle(120, 80, ResizeSettings(100, 100, 1, 1))) << "100 percent";
    Settings off = ResizeSettings(60, 40);
    off.do_image_resize = 0;
    EXPECT_TRUE(same_handle(120, 80, off)) << "resize off";

    EXPECT_EQ(ResizeImage(Bitmap(), ResizeSettings(60, 40)), nullptr);
}

TEST(ResizeImage, LargeImagesOnlySkipsImagesSmallerInBothDimensions) {
    Settings s = ResizeSettings(800, 600);
    s.image_resize_type = 1;
    Bitmap small = Solid(640, 480, 24, {1, 2, 3, 255});
    FIBITMAP* before = small.get();
    Bitmap kept = ResizeImage(std::move(small), s);
    EXPECT_EQ(kept.get(), before);
    // Wider than the target, lower than it: scaled, and so grows in height.
    EXPECT_EQ(ResizedSize(1000, 500, s), std::make_pair(800, 600));
    EXPECT_EQ(ResizedSize(800, 100, s), std::make_pair(800, 600));
    s.image_resize_type = 0;
    EXPECT_EQ(ResizedSize(640, 480, s), std::make_pair(800, 600));
}

TEST(ResizeImage, ScalesContentWithoutMirroringOrSwappingChannels) {
    Settings s = ResizeSettings(20, 10);
    s.image_resize_algorithm = 0;  // box: the quarters stay clean
    Bitmap out = ResizeImage(Painted(40, 20, 24, [](int x, int y) { return Quadrant(x, y, 40, 20); }),
                             s);
    ASSERT_EQ(kestrune::WidthOf(out), 20);
    ASSERT_EQ(kestrune::HeightOf(out), 10);
    EXPECT_EQ(PixelAt(out.get(), 2, 1), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(PixelAt(out.get(), 17, 1), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(PixelAt(out.get(), 2, 8), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(PixelAt(out.get(), 17, 8), (Rgba{255, 255, 255, 255}));
}

// Each setting code must reach the library as its own filter; the filters are
// told apart by what they make of a fine checkerboard.
TEST(ResizeImage, AlgorithmCodesMapToTheirLibraryFilters) {
    auto board = [] {
        return Painted(23, 17, 24, [](int x, int y) {
            const uint8_t v = ((x + y) % 2) ? 250 : static_cast<uint8_t>(x * 7 + y * 3);
            return Rgba{v, static_cast<uint8_t>(255 - v), static_cast<uint8_t>(v / 2), 255};
        });
    };
    const std::pair<int, FREE_IMAGE_FILTER> expected[] = {
        {0, FILTER_BOX},        {1, FILTER_BILINEAR}, {2, FILTER_BSPLINE},  {3, FILTER_BICUBIC},
        {4, FILTER_CATMULLROM}, {5, FILTER_LANCZOS3}, {6, FILTER_BICUBIC}, {-1, FILTER_BICUBIC}};
    auto same_pixels = [](FIBITMAP* a, FIBITMAP* b) {
        for (int y = 0; y < 29; ++y)
            for (int x = 0; x < 37; ++x)
                if (!(PixelAt(a, x, y) == PixelAt(b, x, y))) return false;
        return true;
    };
    // The reference outputs must differ pairwise, or the comparison proves nothing.
    const FREE_IMAGE_FILTER all[] = {FILTER_BOX, FILTER_BILINEAR, FILTER_BSPLINE,
                                     FILTER_BICUBIC, FILTER_CATMULLROM, FILTER_LANCZOS3};
    for (auto f : all)
        for (auto g : all)
            if (f < g) {
                Bitmap src = board();
                Bitmap a(FreeImage_Rescale(src.get(), 37, 29, f));
                Bitmap b(FreeImage_Rescale(src.get(), 37, 29, g));
                ASSERT_FALSE(same_pixels(a.get(), b.get())) << f << " vs " << g;
            }
    for (const auto& [code, filter] : expected) {
        Settings s = ResizeSettings(37, 29);
        s.image_resize_algorithm = static_cast<int8_t>(code);
        Bitmap src = board();
        Bitmap reference(FreeImage_Rescale(src.get(), 37, 29, filter));
        Bitmap out = ResizeImage(std::move(src), s);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(same_pixels(out.get(), reference.get())) << "code " << code;
    }
}

// Targets past the pixel bound, or with a side so long that the library's
// weight tables alone would take gigabytes, are refused before anything is
// allocated: the frame fails instead of the process.
struct GuardCase {
    int width, height;
    bool keep;
    bool refused;
};

class ResizeGuard : public testing::TestWithParam<GuardCase> {};

TEST_P(ResizeGuard, RefusesHugeTargetsBeforeAllocating) {
    const GuardCase c = GetParam();
    Bitmap out = ResizeImage(Solid(36, 28, 24, {90, 90, 90, 255}),
                             ResizeSettings(c.width, c.height, 0, 0, c.keep));
    EXPECT_EQ(!out, c.refused) << c.width << " x " << c.height << (c.keep ? " keeping the ratio" : "");
}

INSTANTIATE_TEST_SUITE_P(Targets, ResizeGuard,
                         testing::Values(GuardCase{10000000, 1, true, true},    // 10000000 x 7777778
                                         GuardCase{30000000, 1, false, true},   // one side too long
                                         GuardCase{100000000, 1, false, true},
                                         GuardCase{20000, 5001, false, true},   // just past the bound
                                         GuardCase{1 << 20, 1, false, false},   // longest side allowed
                                         GuardCase{2000, 1, true, false}),
                         [](const auto& info) {
                             const GuardCase& c = info.param;
                             return std::to_string(c.width) + "x" + std::to_string(c.height) + (c.keep ? "_keep" : "");
                         });

TEST(ResizeTooLarge, BoundsTheAreaAndEachSide) {
    EXPECT_FALSE(kestrune::ResizeTooLarge(10000, 10000));
    EXPECT_TRUE(kestrune::ResizeTooLarge(10001, 10000));
    EXPECT_FALSE(kestrune::ResizeTooLarge(kestrune::kMaxResizeSide, 95));
    EXPECT_TRUE(kestrune::ResizeTooLarge(kestrune::kMaxResizeSide + 1, 1));
    EXPECT_TRUE(kestrune::ResizeTooLarge(1, kestrune::kMaxResizeSide + 1));
}

}  // namespace
