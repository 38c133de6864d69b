// Frames and watermarks through the real program: a generated GIF in, PNG
// out, the pixels read back; and the batch's checks of font and logo.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "platform/drawing.h"
#include "support/gif_writer.h"
#include "support/harness.h"

namespace {

using testing_support::ConsoleLines;
using testing_support::LoadImageFile;
using testing_support::PixelAt;
using testing_support::Rgba;
using testing_support::TempDir;

const Rgba kGrey{100, 100, 100, 255};
const Rgba kRed{255, 0, 0, 255};
const Rgba kWhite{255, 255, 255, 255};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class FrameWatermarkCli : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(testing_support::KestruneBinary().c_str(), X_OK) != 0)
            GTEST_SKIP() << "kestrunecmd not built: " << testing_support::KestruneBinary();
        testing_support::GifImage gif;
        gif.width = 160;
        gif.height = 90;
        gif.global_palette = {{100, 100, 100}, {0, 0, 0}};
        gif.frames.push_back(testing_support::SolidFrame(160, 90, 0));
        testing_support::WriteGif(in_ / "in.gif", gif);
    }

    std::vector<std::string> Run(const std::vector<std::string>& options) {
        std::vector<std::string> args{"-i", in_ / "in.gif", "-o", out_.path(), "-c", "png"};
        args.insert(args.end(), options.begin(), options.end());
        const auto run = testing_support::RunKestrune(args);
        EXPECT_FALSE(run.timed_out);
        return ConsoleLines(run.out);
    }

    testing_support::TestBitmap Output() {
        const auto names = testing_support::ListNames(out_.path());
        if (names.size() != 1) {
            ADD_FAILURE() << names.size() << " outputs";
            return nullptr;
        }
        return LoadImageFile(out_ / names[0]);
    }

    TempDir in_, out_;
};

// Bounds of the pixels that are not the grey of the source, inclusive.
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};
Box ChangedArea(FIBITMAP* b) {
    Box box;
    for (int y = 0; y < static_cast<int>(FreeImage_GetHeight(b)); ++y)
        for (int x = 0; x < static_cast<int>(FreeImage_GetWidth(b)); ++x)
            if (PixelAt(b, x, y) != kGrey) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

}  // namespace

TEST_F(FrameWatermarkCli, SolidFrameOptionsDrawTheBands) {
    const auto lines = Run({"--fr-solid-left=10", "--fr-solid-right=10", "--fr-solid-top=10",
                            "--fr-solid-bottom=10", "--fr-solid-top-color=FF0000", "--fr-solid-left-color=FFFFFF",
                            "--fr-solid-opacity=255"});
    EXPECT_TRUE(Contains(lines, "Files converted: 1 of 1"));
    auto image = Output();
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image.get(), 80, 0), kRed);
    EXPECT_EQ(PixelAt(image.get(), 80, 9), kRed);
    EXPECT_EQ(PixelAt(image.get(), 80, 10), kGrey);
    EXPECT_EQ(PixelAt(image.get(), 5, 2), kRed);    // above the top-left seam
    EXPECT_EQ(PixelAt(image.get(), 2, 5), kWhite);  // below it
    EXPECT_EQ(PixelAt(image.get(), 155, 45), (Rgba{0, 0, 0, 255}));  // right band, default colour
}

TEST_F(FrameWatermarkCli, TextWatermarkSitsInsideTheFrame) {
    const auto lines =
        Run({"--wm-text=Hello", "--wm-text-position=TOPLEFT", "--wm-text-boundary=FRAME", "--wm-text-x-offset=5",
             "--wm-text-y-offset=6", "--wm-text-padding=3", "--wm-back-color=FF0000", "--wm-back-opacity=255",
             "--fr-solid-left=12", "--fr-solid-top=8", "--fr-solid-opacity=0"});
    EXPECT_TRUE(Contains(lines, "Files converted: 1 of 1"));
    auto image = Output();
    ASSERT_TRUE(image);

    auto font = kestrune::LoadFont({"Arial", 14, false, false, false, false});
    kestrune::Surface scratch = kestrune::CreateLayer(10, 10);
    kestrune::Drawing cr = kestrune::StartDrawing(scratch.get());
    const kestrune::TextSize text = kestrune::MeasureText(cr.get(), *font, "Hello");

    const Box block = ChangedArea(image.get());
    EXPECT_EQ(block.left, 12 + 5);
    EXPECT_EQ(block.top, 8 + 6);
    EXPECT_EQ(block.right - block.left + 1, text.width + 6);
    EXPECT_EQ(block.bottom - block.top + 1, text.height + 6);
    EXPECT_EQ(PixelAt(image.get(), block.left, block.top), kRed);
    // The default "Font Color" is white.
    int white = 0;
    for (int y = block.top; y <= block.bottom; ++y)
        for (int x = block.left; x <= block.right; ++x) white += PixelAt(image.get(), x, y) == kWhite;
    EXPECT_GT(white, 40);
}

// The size and depth tokens show the values of the frame being drawn on,
// also on the first file of a run, where no earlier file set them.
TEST_F(FrameWatermarkCli, TokensInTheTextShowThisFramesSizeAndDepth) {
    auto pixels = [&](const std::string& text) {
        Run({"--wm-text=" + text, "--wm-back-opacity=255", "--width=120", "--height=60"});
        auto image = Output();
        std::vector<Rgba> all;
        if (image)
            for (int y = 0; y < 60; ++y)
                for (int x = 0; x < 120; ++x) all.push_back(PixelAt(image.get(), x, y));
        for (const auto& name : testing_support::ListNames(out_.path())) std::remove((out_ / name).c_str());
        return all;
    };
    const auto tokens = pixels("%width%x%height% %bpp%");
    ASSERT_EQ(tokens.size(), 120u * 60u);
    EXPECT_TRUE(tokens == pixels("120x60 32"));
    EXPECT_FALSE(tokens == pixels("120x60 24"));
}

// A watermark clipped to nothing is a watermark the user did not get: the
// file is reported as not converted and nothing is written.
TEST_F(FrameWatermarkCli, WatermarkPushedOffTheImageFailsTheFile) {
    const std::vector<std::vector<std::string>> cases = {
        {"--wm-text-x-offset=160"},
        {"--wm-text-y-offset=90"},
        {"--wm-text-position=MIDDLECENTER", "--wm-text-x-offset=500", "--wm-text-y-offset=500"},
        {"--fr-solid-left=20", "--fr-solid-right=20", "--wm-text-boundary=FRAME", "--wm-text-x-offset=120"},
    };
    for (const auto& options : cases) {
        std::vector<std::string> args{"-d", "--wm-text=Hello", "--wm-back-opacity=255"};
        args.insert(args.end(), options.begin(), options.end());
        const auto lines = Run(args);
        EXPECT_TRUE(Contains(lines, "Not OK")) << options[0];
        EXPECT_FALSE(Contains(lines, "OK")) << options[0];
        EXPECT_TRUE(testing_support::ListNames(out_.path()).empty()) << options[0];
    }
    // One pixel of room is still a watermark.
    const auto lines = Run({"--wm-text=Hello", "--wm-text-x-offset=159", "--wm-back-opacity=255"});
    EXPECT_TRUE(Contains(lines, "Files converted: 1 of 1"));
}

TEST_F(FrameWatermarkCli, UnknownFontStopsTheBatch) {
    const auto lines = Run({"--wm-text=Hello", "--wm-font=NoSuchFace"});
    EXPECT_TRUE(Contains(lines, "Error: Invalid watermark font"));
    EXPECT_TRUE(testing_support::ListNames(out_.path()).empty());
}

TEST_F(FrameWatermarkCli, MissingLogoStopsTheBatch) {
    const auto lines = Run({"--wm-image=" + (in_ / "missing.png")});
    EXPECT_TRUE(Contains(lines, "Error: Invalid watermark image"));
    EXPECT_TRUE(testing_support::ListNames(out_.path()).empty());
}

// 12 x 6, red, opaque.
void WriteRedLogo(const std::string& path) {
    kestrune::Bitmap logo(FreeImage_Allocate(12, 6, 32));
    RGBQUAD red{0, 0, 255, 255};
    FreeImage_FillBackground(logo.get(), &red, 0);
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, logo.get(), path.c_str(), 0));
}

TEST_F(FrameWatermarkCli, GreyLogoAtBottomRight) {
    // Greyscale turns the red logo into 76.
    WriteRedLogo(in_ / "logo.png");
    const auto lines = Run({"--wm-image=" + (in_ / "logo.png"), "--wm-image-greyscale", "--wm-image-x-offset=4",
                            "--wm-image-y-offset=3"});
    EXPECT_TRUE(Contains(lines, "Files converted: 1 of 1"));
    auto image = Output();
    ASSERT_TRUE(image);
    const Box box = ChangedArea(image.get());
    EXPECT_EQ(box.right, 160 - 4 - 1);
    EXPECT_EQ(box.bottom, 90 - 3 - 1);
    EXPECT_EQ(box.left, 160 - 4 - 12);
    EXPECT_EQ(PixelAt(image.get(), box.left, box.top), (Rgba{76, 76, 76, 255}));
}

// Offsets at the ends of the 32-bit range never wrap into a place on the
// image; a watermark partly off the image (a negative offset) is drawn where
// it lands, and one with nothing left on the image fails the file.
TEST_F(FrameWatermarkCli, ExtremeAndNegativeOffsetsKeepWhatLandsOnTheImage) {
    WriteRedLogo(in_ / "logo.png");
    const std::string logo = "--wm-image=" + (in_ / "logo.png"), text = "--wm-text=Hello";
    const struct {
        std::vector<std::string> options;
        int right, bottom;  // of the changed pixels; -1: the file fails
    } cases[] = {
        {{text, "--wm-text-x-offset=2147483647"}, -1, -1},
        {{text, "--wm-text-y-offset=2147483647"}, -1, -1},
        {{logo, "--wm-image-x-offset=2147483647"}, -1, -1},
        {{text, "--wm-text-position=TOPLEFT", "--wm-text-x-offset=-1000"}, -1, -1},
        {{logo, "--wm-image-position=TOPLEFT", "--wm-image-y-offset=-6"}, -1, -1},
        {{logo, "--wm-image-position=TOPLEFT", "--wm-image-x-offset=-2147483647"}, -1, -1},
        {{logo, "--wm-image-x-offset=-1", "--wm-image-y-offset=-1"}, 159, 89},
        {{logo, "--wm-image-position=TOPLEFT", "--wm-image-x-offset=-4", "--wm-image-y-offset=-2"}, 7, 3},
        {{text, "--wm-back-opacity=255", "--wm-text-x-offset=-1", "--wm-text-y-offset=-1"}, 159, 89},
    };
    for (const auto& c : cases) {
        for (const auto& name : testing_support::ListNames(out_.path())) std::remove((out_ / name).c_str());
        const bool converted = Contains(Run(c.options), "Files converted: 1 of 1");
        const std::string label = c.options[0] + " " + c.options.back();
        ASSERT_EQ(converted, c.right >= 0) << label;
        if (!converted) continue;
        auto image = Output();
        ASSERT_TRUE(image) << label;
        const Box box = ChangedArea(image.get());
        EXPECT_EQ(std::make_pair(box.right, box.bottom), std::make_pair(c.right, c.bottom)) << label;
    }
}

// Bands at the 32-bit limit cover the image as bands of any width past it.
TEST_F(FrameWatermarkCli, BandsAtTheIntegerLimitCoverTheImage) {
    for (const std::string width : {"100000", "2147483647"}) {
        for (const auto& name : testing_support::ListNames(out_.path())) std::remove((out_ / name).c_str());
        Run({"--fr-solid-left=" + width, "--fr-solid-right=" + width, "--fr-solid-left-color=FFFFFF",
             "--fr-solid-right-color=FF0000"});
        auto image = Output();
        ASSERT_TRUE(image) << width;
        for (int y = 0; y < 90; y += 11)
            for (int x = 0; x < 160; x += 7) ASSERT_EQ(PixelAt(image.get(), x, y), kWhite) << width << " " << x << "," << y;
    }
}
