// The preview is the converter: for every kind of operation, at several
// depths, the frame the preview shows after the operations is the frame the
// program writes, read back from a lossless output pixel for pixel.
#include <cstring>

#include "batch/preview.h"
#include "batch_support.h"
#include "imaging/layer_cache.h"
#include "settings/options.h"
#include "settings/run_request.h"

namespace batch_tests {
namespace {

// The pixels of a bitmap, row by row, at its own depth; palettes resolved so
// that two writers' colour tables in another order still compare equal.
std::string PixelBytes(FIBITMAP* image) {
    TestBitmap resolved;
    if (FreeImage_GetBPP(image) <= 8 && FreeImage_GetImageType(image) == FIT_BITMAP) {
        resolved.reset(FreeImage_ConvertTo24Bits(image));
        image = resolved.get();
    }
    std::string bytes;
    const unsigned row = FreeImage_GetLine(image);
    for (unsigned y = 0; y < FreeImage_GetHeight(image); ++y)
        bytes.append(reinterpret_cast<const char*>(FreeImage_GetScanLine(image, static_cast<int>(y))), row);
    return bytes;
}

// "F" on transparency, then a frame that covers part of it in green.
GifImage TestAnimation() {
    GifImage gif = LetterF(40, 30);
    gif.frames[0].transparent = 0;
    gif.frames[0].disposal = 1;
    GifFrame patch = SolidFrame(10, 8, 2);
    patch.left = 22;
    patch.top = 14;
    gif.global_palette.push_back({0, 255, 0});
    gif.frames.push_back(patch);
    return gif;
}

struct Case {
    const char* name;
    const char* format;
    std::vector<std::string> options;
};

TEST(PreviewEqualsBatch, TheFrameShownIsTheFrameWritten) {
    TempDir dir;
    const std::string in = dir.path() + "/a.gif";
    WriteGif(in, TestAnimation());
    std::string logo = dir.path() + "/logo.gif";
    WriteGif(logo, SimpleAnimation(9, 6, 1));

    const std::vector<Case> cases = {
        {"plain", "png", {}},
        {"rotation and resize", "bmp", {"--rotation=30", "--rotation-type=ADVANCED", "--width=64", "--height=20"}},
        {"shrink and flips", "png", {"--width=50", "--width-unit=PERCENT", "--height=17", "--flip-horizontal",
                                     "--flip-vertical", "--png-bpp=32"}},
        {"tones and greyscale", "png", {"--brightness=20", "--contrast=-30", "--gamma=1.4", "--greyscale",
                                        "--png-bpp=8"}},
        {"invert and threshold", "bmp", {"--invert", "--threshold=100", "--bmp-bpp=1"}},
        {"frame at 16 bits", "bmp", {"--fr-solid-left=3", "--fr-solid-right=5", "--fr-solid-top=2",
                                     "--fr-solid-bottom=4", "--fr-solid-opacity=60", "--bmp-bpp=16"}},
        {"text in the frame", "tiff", {"--fr-solid-left=4", "--fr-solid-right=4", "--fr-solid-top=6",
                                       "--fr-solid-bottom=6", "--wm-text=%width%x%height% %bpp%",
                                       "--wm-text-boundary=FRAME", "--wm-text-position=BOTTOMRIGHT",
                                       "--wm-font-size=8", "--tiff-bpp=48"}},
        {"logo at 24 bits", "png", {"--wm-image=" + logo, "--wm-image-opacity=70", "--wm-image-position=MIDDLECENTER",
                                    "--wm-image-rotation=15", "--png-bpp=24"}},
        {"floats", "tiff", {"--width=30", "--height=30", "--tiff-bpp=96"}},
        {"one frame of the animation", "png", {"--gif-frame-loading=LAST", "--wm-text=last",
                                               "--wm-text-boundary=IMAGE", "--png-bpp=4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.path() + "/" + c.name;
        MakeFolder(out);
        std::vector<std::string> args = {"-q", "-i", in, "-o", out, "-c", c.format};
        args.insert(args.end(), c.options.begin(), c.options.end());
        Kestrune(args);

        // The settings the program ran with, from the same options.
        kestrune::SetDefaultSettings(kestrune::settings, true);
        kestrune::run_request = kestrune::RunRequest{};
        ASSERT_TRUE(kestrune::ParseOptions(args).error.empty());
        kestrune::PreviewRequest request;
        request.settings = kestrune::settings;
        request.state.conversion = c.format;
        request.state.output_folder = out + "/";
        request.state.current_input = in;
        kestrune::LayerCache layers;
        for (int frame = 0;; ++frame) {
            request.frame = frame;
            const kestrune::PreviewFrame shown = kestrune::RenderPreview(request, layers);
            ASSERT_EQ(shown.failure, kestrune::FailureReason::None);
            ASSERT_TRUE(shown.after);
            const TestBitmap written = LoadImageFile(shown.output_path);
            ASSERT_TRUE(written) << shown.output_path;
            EXPECT_EQ(FreeImage_GetBPP(written.get()), static_cast<unsigned>(shown.bpp));
            EXPECT_EQ(FreeImage_GetImageType(written.get()), FreeImage_GetImageType(shown.after.get()));
            ASSERT_EQ(FreeImage_GetWidth(written.get()), static_cast<unsigned>(shown.width));
            ASSERT_EQ(FreeImage_GetHeight(written.get()), static_cast<unsigned>(shown.height));
            EXPECT_TRUE(PixelBytes(written.get()) == PixelBytes(shown.after.get())) << shown.output_path;
            if (frame + 1 >= shown.frames_taken) break;
        }
    }
}

}  // namespace
}  // namespace batch_tests
