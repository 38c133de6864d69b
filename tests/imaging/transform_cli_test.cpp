// Rotation, resize, flips and tones through the real program: a generated
// GIF in, PNG (or ICO) out, read back and compared pixel by pixel.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/gif_writer.h"
#include "support/harness.h"

namespace {

using testing_support::LoadImageFile;
using testing_support::PixelAt;
using testing_support::Rgba;
using testing_support::TempDir;

const Rgba kBlue{0, 0, 255, 255};
const Rgba kRed{255, 0, 0, 255};

bool Near(const Rgba& a, const Rgba& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance && std::abs(a.a - b.a) <= tolerance;
}

std::string Text(const Rgba& c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + "," +
           std::to_string(c.a) + ")";
}

class TransformCli : public ::testing::Test {
  protected:
    void SetUp() override {
        // The imaging tests are also built alone while the program is being
        // worked on; they need the program only here.
        if (access(testing_support::KestruneBinary().c_str(), X_OK) != 0)
            GTEST_SKIP() << "kestrunecmd not built: " << testing_support::KestruneBinary();
    }

    // Writes the letter as in.gif, converts it with the extra options and
    // returns the single output file's path ("" when there is not exactly one).
    std::string Convert(int w, int h, const std::vector<std::string>& options,
                        const std::string& format = "png") {
        gif_ = testing_support::LetterF(w, h);
        testing_support::WriteGif(in_ / "in.gif", gif_);
        std::vector<std::string> args{"-i", in_ / "in.gif", "-o", out_.path(), "-c", format};
        args.insert(args.end(), options.begin(), options.end());
        const auto run = testing_support::RunKestrune(args);
        EXPECT_FALSE(run.timed_out);
        const auto names = testing_support::ListNames(out_.path());
        if (names.size() != 1) {
            ADD_FAILURE() << names.size() << " outputs; console:\n"
                          << testing_support::DecodeUtf16Le(run.out);
            return "";
        }
        output_name_ = names[0];
        return out_ / names[0];
    }

    // Colour of the source letter at (x, y), y from the top.
    Rgba Source(int x, int y) const {
        return gif_.frames[0].indices[static_cast<size_t>(y) * gif_.width + x] ? kRed : kBlue;
    }

    TempDir in_, out_;
    testing_support::GifImage gif_;
    std::string output_name_;
};

TEST_F(TransformCli, PercentResizeRoundsHalvesToEvenAndKeepsTheLetter) {
    const auto path = Convert(101, 75, {"--width=50", "--height=50", "--width-unit=percent",
                                        "--height-unit=percent"});
    ASSERT_FALSE(path.empty());
    auto image = LoadImageFile(path);
    ASSERT_TRUE(image);
    ASSERT_EQ(FreeImage_GetWidth(image.get()), 50u);
    ASSERT_EQ(FreeImage_GetHeight(image.get()), 38u);
    // Stem at x 20..31, y 12..62 of the source; top bar at y 12..23.
    EXPECT_TRUE(Near(PixelAt(image.get(), 12, 25), kRed, 12)) << Text(PixelAt(image.get(), 12, 25));
    EXPECT_TRUE(Near(PixelAt(image.get(), 30, 8), kRed, 12)) << Text(PixelAt(image.get(), 30, 8));
    EXPECT_TRUE(Near(PixelAt(image.get(), 2, 2), kBlue, 12));
    EXPECT_TRUE(Near(PixelAt(image.get(), 40, 30), kBlue, 12));
}

TEST_F(TransformCli, QuarterTurnMovesEveryPixel) {
    const int w = 30, h = 40;
    const auto path = Convert(w, h, {"--rotation=90"});
    ASSERT_FALSE(path.empty());
    auto image = LoadImageFile(path);
    ASSERT_TRUE(image);
    ASSERT_EQ(FreeImage_GetWidth(image.get()), static_cast<unsigned>(h));
    ASSERT_EQ(FreeImage_GetHeight(image.get()), static_cast<unsigned>(w));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(PixelAt(image.get(), y, w - 1 - x), Source(x, y)) << x << "," << y;
}

TEST_F(TransformCli, SimpleRotationShowsTheBackColourInTheCorners) {
    const auto path = Convert(100, 100, {"--rotation=45", "--rotation-back-color=00FF00"});
    ASSERT_FALSE(path.empty());
    auto image = LoadImageFile(path);
    ASSERT_TRUE(image);
    const int w = static_cast<int>(FreeImage_GetWidth(image.get()));
    const int h = static_cast<int>(FreeImage_GetHeight(image.get()));
    EXPECT_GT(w, 140);
    EXPECT_GT(h, 140);
    // Opaque green, also when the frame travels as a 32-bit image.
    EXPECT_EQ(PixelAt(image.get(), 0, 0), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(PixelAt(image.get(), w - 1, h - 1), (Rgba{0, 255, 0, 255}));
}

TEST_F(TransformCli, AdvancedRotationKeepsTheCanvas) {
    const auto path = Convert(100, 100, {"--rotation=45", "--rotation-type=advanced"});
    ASSERT_FALSE(path.empty());
    auto image = LoadImageFile(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(FreeImage_GetWidth(image.get()), 100u);
    EXPECT_EQ(FreeImage_GetHeight(image.get()), 100u);
    // Turned about its centre, the centre pixel stays put.
    EXPECT_TRUE(Near(PixelAt(image.get(), 50, 50), Source(50, 50), 16));
}

TEST_F(TransformCli, BothFlipsMirrorEveryPixel) {
    const int w = 30, h = 40;
    const auto path = Convert(w, h, {"--flip-horizontal", "--flip-vertical"});
    ASSERT_FALSE(path.empty());
    auto image = LoadImageFile(path);
    ASSERT_TRUE(image);
    ASSERT_EQ(FreeImage_GetWidth(image.get()), static_cast<unsigned>(w));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(PixelAt(image.get(), w - 1 - x, h - 1 - y), Source(x, y)) << x << "," << y;
}

TEST_F(TransformCli, InvertTurnsTheColoursOver) {
    const int w = 30, h = 40;
    const auto path = Convert(w, h, {"--invert"});
    ASSERT_FALSE(path.empty());
    auto image = LoadImageFile(path);
    ASSERT_TRUE(image);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgba s = Source(x, y);
            const Rgba expected{static_cast<uint8_t>(255 - s.r), static_cast<uint8_t>(255 - s.g),
                                static_cast<uint8_t>(255 - s.b), 255};
            ASSERT_EQ(PixelAt(image.get(), x, y), expected) << x << "," << y;
        }
}

TEST_F(TransformCli, GreyscaleThenThresholdZeroIsAllWhite) {
    const auto path = Convert(30, 40, {"--greyscale", "--threshold=0"});
    ASSERT_FALSE(path.empty());
    auto image = LoadImageFile(path);
    ASSERT_TRUE(image);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(PixelAt(image.get(), x, y), (Rgba{255, 255, 255, 255}));
}

TEST_F(TransformCli, NameShowsTheSizeAfterRotationAndResize) {
    // 30 x 40 turned to 40 x 30, then halved.
    const auto path = Convert(30, 40, {"--rotation=90", "--width=50", "--height=50", "--width-unit=percent",
                                       "--height-unit=percent", "--filename-mask=%width%x%height%.%ext%"});
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(output_name_, "20x15.png");
    auto image = LoadImageFile(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(FreeImage_GetWidth(image.get()), 20u);
    EXPECT_EQ(FreeImage_GetHeight(image.get()), 15u);
}

TEST_F(TransformCli, IconOutputIsLimitedTo128) {
    const auto path = Convert(300, 200, {"--filename-mask=%width%x%height%.%ext%"}, "ico");
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(output_name_, "128x128.ico");
    auto image = LoadImageFile(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(FreeImage_GetWidth(image.get()), 128u);
    EXPECT_EQ(FreeImage_GetHeight(image.get()), 128u);
}

}  // namespace
