// Frames saved at 24 bits lose their alpha channel before the resize rather
// than after it. The library filters every channel on its own, so resizing
// three channels must give exactly the pixels that resizing four and then
// dropping the fourth gave: checked on the shared corpus for every filter,
// growing and shrinking, and through the program, byte for byte.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "formats/loading.h"
#include "formats/registry.h"
#include "formats/saving.h"
#include "imaging/bit_depth.h"
#include "imaging/resize.h"
#include "support/gif_writer.h"
#include "support/harness.h"

namespace {

using kestrune::Bitmap;
using kestrune::BppOf;
using kestrune::Settings;
using testing_support::TempDir;

Settings ResizeTo(int width, int height, int algorithm) {
    Settings s;
    kestrune::SetDefaultSettings(s, true);
    s.do_image_resize = 1;
    s.image_width = width;
    s.image_height = height;
    s.image_width_unit = 0;
    s.image_height_unit = 0;
    s.keep_aspect_ratio = 0;
    s.image_resize_type = 0;
    s.image_resize_algorithm = algorithm;
    return s;
}

kestrune::FrameContext StateFor(const std::string& ext, const Settings& s, int source_bpp) {
    kestrune::FrameContext context(s);
    context.format = kestrune::OutputFrameFormat(ext, s);
    if (context.format.bpp == 0) context.format.bpp = kestrune::NearestAllowedBitDepth(ext, source_bpp);
    return context;
}

Bitmap Copy(const Bitmap& b) { return Bitmap(FreeImage_Clone(b.get())); }

// The frame resized at 32 bits and brought to 24 afterwards, as the worker
// did before the alpha channel was dropped early.
Bitmap FourChannelRoute(const Bitmap& frame, const kestrune::FrameContext& state) {
    Bitmap out = kestrune::ResizeImage(Copy(frame), state);
    return kestrune::ConvertBitDepth(std::move(out), state);
}

Bitmap ThreeChannelRoute(const Bitmap& frame, const kestrune::FrameContext& state) {
    Bitmap out = kestrune::DropUnusedAlpha(Copy(frame), state);
    EXPECT_EQ(BppOf(out), 24);
    out = kestrune::ResizeImage(std::move(out), state);
    return kestrune::ConvertBitDepth(std::move(out), state);
}

// "" when both are the same 24-bit bitmap, else where they first differ.
std::string Difference(const Bitmap& a, const Bitmap& b) {
    if (!a || !b) return "a route gave no bitmap";
    if (BppOf(a) != 24 || BppOf(b) != 24) return "not 24 bits";
    const unsigned w = FreeImage_GetWidth(a.get()), h = FreeImage_GetHeight(a.get());
    if (w != FreeImage_GetWidth(b.get()) || h != FreeImage_GetHeight(b.get())) return "sizes differ";
    if (FreeImage_GetDotsPerMeterX(a.get()) != FreeImage_GetDotsPerMeterX(b.get())) return "resolution differs";
    for (unsigned y = 0; y < h; ++y) {
        const BYTE* ra = FreeImage_GetScanLine(a.get(), static_cast<int>(y));
        const BYTE* rb = FreeImage_GetScanLine(b.get(), static_cast<int>(y));
        const auto at = std::mismatch(ra, ra + w * 3, rb);
        if (at.first != ra + w * 3)
            return "pixel (" + std::to_string((at.first - ra) / 3) + ", " + std::to_string(h - 1 - y) + ")";
    }
    return "";
}

TEST(DropUnusedAlpha, ResizingThreeChannelsGivesTheSamePixelsOnTheCorpus) {
    KESTRUNE_REQUIRE_CORPUS();
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(testing_support::CorpusDir()))
        if (entry.path().extension() == ".gif") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());

    int compared = 0;
    for (const std::string& path : files) {
        kestrune::FrameSource source = kestrune::OpenFrameSource(path);
        const int count = source.frame_count;
        const std::set<int> picks{0, count / 2, count - 1};
        for (int index = 0; index < count; ++index) {
            Bitmap frame = kestrune::TakeFrame(source, index);
            if (!picks.count(index) || BppOf(frame) != 32) continue;
            const int w = kestrune::WidthOf(frame), h = kestrune::HeightOf(frame);
            // Enlarging the few big frames would only slow the test down.
            const bool small = w * h <= 300 * 300;
            const std::vector<std::pair<int, int>> sizes = {
                {std::max(1, w * 2 / 5), std::max(1, h * 3 / 7)},
                small ? std::pair{w * 3 / 2 + 1, h * 5 / 4 + 1} : std::pair{w / 2 + 1, h / 3 + 1}};
            for (int algorithm = 0; algorithm <= 5; ++algorithm) {
                for (const auto& [tw, th] : sizes) {
                    const Settings s = ResizeTo(tw, th, algorithm);
                    const auto state = StateFor("jpg", s, 32);
                    const std::string d =
                        Difference(FourChannelRoute(frame, state), ThreeChannelRoute(frame, state));
                    ASSERT_EQ(d, "") << path << " frame " << index << " algorithm " << algorithm << " to "
                                     << tw << "x" << th;
                    ++compared;
                }
            }
        }
        source = {};
    }
    EXPECT_GT(compared, 500);
}

TEST(DropUnusedAlpha, KeepsTheChannelWhenTheOutputOrALaterStepUsesIt) {
    Bitmap frame(FreeImage_Allocate(8, 8, 32));
    const Settings resize = ResizeTo(4, 4, 3);
    auto kept = [&](const Settings&, const kestrune::FrameContext& state) {
        return BppOf(kestrune::DropUnusedAlpha(Copy(frame), state)) == 32;
    };
    EXPECT_FALSE(kept(resize, StateFor("jpg", resize, 32)));
    EXPECT_TRUE(kept(resize, StateFor("png", resize, 32)));  // saved with its alpha
    EXPECT_TRUE(kept(resize, StateFor("gif", resize, 32)));  // quantized at 8 bits
    Settings fixed = resize;
    fixed.png_bpp = 24;
    EXPECT_FALSE(kept(fixed, StateFor("png", fixed, 32)));

    std::vector<Settings> readers(5, resize);
    readers[0].do_image_color_correction = 1;
    readers[1].do_image_greyscale = 1;
    readers[2].do_image_threshold = 1;
    readers[3].do_frame = 1;
    readers[4].do_watermark = kestrune::kTextWatermark;
    for (const Settings& s : readers) EXPECT_TRUE(kept(s, StateFor("jpg", s, 32)));
}

// The program itself against the four-channel route: a transparent
// animation with every disposal, saved as 24-bit BMP (the pixels) and as
// JPEG (the encoded bytes).
TEST(DropUnusedAlpha, ProgramOutputMatchesTheFourChannelRoute) {
    if (access(testing_support::KestruneBinary().c_str(), X_OK) != 0)
        GTEST_SKIP() << "kestrunecmd not built: " << testing_support::KestruneBinary();
    TempDir in, out;
    testing_support::GifImage gif = testing_support::SimpleAnimation(37, 23, 4);
    for (size_t i = 0; i < gif.frames.size(); ++i) {
        gif.frames[i].transparent = 2;
        gif.frames[i].disposal = static_cast<int>(i % 4);
    }
    const std::string input = in / "anim.gif";
    testing_support::WriteGif(input, gif);

    for (const std::string ext : {"bmp", "jpg"}) {
        const auto run = testing_support::RunKestrune({"-i", input, "-o", out.path(), "-c", ext, "-q",
                                                       "--width=50", "--height=17", "--resize-algorithm=LANCZOS",
                                                       "--jpg-quality=90", "--jpg-chroma=MEDIUM", "--bmp-bpp=24"});
        ASSERT_EQ(run.exit_code, 0);
        Settings s = ResizeTo(50, 17, 5);
        s.jpg_quality = 90;
        s.jpg_chroma = 2;
        s.bmp_bpp = 24;
        kestrune::FrameSource source = kestrune::OpenFrameSource(input);
        ASSERT_EQ(source.frame_count, 4);
        for (int i = 0; i < source.frame_count; ++i) {
            const Bitmap frame = kestrune::TakeFrame(source, i);
            ASSERT_EQ(BppOf(frame), 32);
            const Bitmap expected = FourChannelRoute(frame, StateFor(ext, s, 32));
            const std::string written = out / ("anim[" + std::to_string(i + 1) + "]." + ext);
            if (ext == "bmp") {
                const Bitmap got(FreeImage_Load(FIF_BMP, written.c_str(), 0));
                EXPECT_EQ(Difference(expected, got), "") << written;
                continue;
            }
            TempDir reference;
            const std::string path = reference / "expected.jpg";
            ASSERT_TRUE(FreeImage_Save(FIF_JPEG, expected.get(), path.c_str(), kestrune::SaveFlagsFor("jpg", s)));
            EXPECT_EQ(testing_support::ReadFileBytes(written), testing_support::ReadFileBytes(path)) << written;
        }
        source = {};
    }
}

}  // namespace
