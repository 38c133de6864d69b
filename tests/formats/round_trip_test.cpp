// Every row of the registry through the whole road of a frame: generated
// GIF, frame taken, automatic bit depth, save, read back and compared.
#include "formats/loading.h"
#include "formats_support.h"
#include "imaging/bit_depth.h"

using namespace kestrune;
using formats_test::ReadPixel;
using testing_support::Rgba;
using testing_support::TempDir;

namespace {

enum class Compare {
    Colour,     // every pixel within max_error per channel, mean within mean_error
    Luminance,  // greyscale output: per-pixel luminance within max_error
    Dithered,   // 1-bit output: mean luminance of each 4x4 block within max_error
};

struct FormatCase {
    const char* ext;
    int converted_bpp;  // what the automatic depth makes of a 32-bit frame
    int read_bpp;       // what FreeImage reads back
    Compare compare;
    int max_error;      // per pixel, for pixels whose surroundings are uniform
    double mean_error;  // over the whole frame
    int edge_radius = 0;  // max_error applies where the source is uniform this far around
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.ext; }

// Lossless rows are exact. Bounds of the lossy rows: JPEG at the default
// quality 95 without subsampling; JNG at FreeImage's default quality with
// subsampled chroma and JPEG-2000 at its default 16:1 rate, both smearing
// red/blue edges; DevIL's DXT1, which paints a 4x4 block of two colours in
// one of them, so only blocks of one colour are held to a tight bound; RGBE
// in HDR and half floats in EXR. PNG and WebP keep no alpha channel for an
// opaque frame.
const FormatCase kCases[] = {
    {"bmp", 32, 32, Compare::Colour, 0, 0},      {"dds", 32, 32, Compare::Colour, 8, 32, 3},
    {"exr", 96, 96, Compare::Colour, 1, 0.5},    {"gif", 8, 8, Compare::Colour, 0, 0},
    {"hdr", 96, 96, Compare::Colour, 2, 1},      {"ico", 32, 32, Compare::Colour, 0, 0},
    {"j2k", 32, 32, Compare::Colour, 128, 40, 3},     {"jng", 32, 32, Compare::Colour, 48, 24, 3},
    {"jp2", 32, 32, Compare::Colour, 176, 56, 3},     {"jpg", 24, 24, Compare::Colour, 32, 4},
    {"jxr", 32, 32, Compare::Colour, 0, 0},      {"pbm", 1, 1, Compare::Dithered, 48, 1},
    {"pcx", 24, 24, Compare::Colour, 0, 0},      {"pfm", 96, 96, Compare::Colour, 0, 0},
    {"pgm", 8, 8, Compare::Luminance, 1, 0},     {"png", 32, 24, Compare::Colour, 0, 0},
    {"ppm", 48, 48, Compare::Colour, 0, 0},      {"psd", 32, 32, Compare::Colour, 0, 0},
    {"tga", 32, 32, Compare::Colour, 0, 0},      {"tiff", 32, 32, Compare::Colour, 0, 0},
    {"wbmp", 1, 1, Compare::Dithered, 48, 1},    {"webp", 32, 24, Compare::Colour, 0, 0},
    {"xpm", 24, 8, Compare::Colour, 0, 0},
};

bool UniformAround(const testing_support::GifImage& gif, int frame, int x, int y, int radius) {
    const Rgba centre = formats_test::ComposedPixel(gif, frame, x, y);
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
            const int px = std::clamp(x + dx, 0, 39), py = std::clamp(y + dy, 0, 39);
            if (!(formats_test::ComposedPixel(gif, frame, px, py) == centre)) return false;
        }
    return true;
}

class RoundTrip : public ::testing::TestWithParam<FormatCase> {
  protected:
    void SetUp() override { formats_test::InitLibraries(); }
};

TEST_P(RoundTrip, EveryFrameIsWrittenAndReadsBack) {
    const FormatCase& c = GetParam();
    const std::string ext = c.ext;
    TempDir dir;
    const testing_support::GifImage gif = formats_test::ThreeFrames();
    testing_support::WriteGif(dir / "in.gif", gif);
    const Settings s = formats_test::CommandLineSettings();

    FrameSource source = OpenFrameSource(dir / "in.gif");
    ASSERT_EQ(source.frame_count, 3);
    if (ext == "jxr") {
        ASSERT_TRUE(formats_test::HaveJxrDecoder())
            << "JxrDecApp (Debian: libjxr-tools) reads the jxr outputs";
    }
    for (int k = 0; k < source.frame_count; ++k) {
        SCOPED_TRACE("frame " + std::to_string(k));
        Bitmap frame = TakeFrame(source, k);
        ASSERT_TRUE(frame);
        FrameContext state = formats_test::StateFor(ext, s, BppOf(frame));
        frame = ConvertBitDepth(std::move(frame), state);
        ASSERT_TRUE(frame);
        EXPECT_EQ(state.format.bpp, c.converted_bpp);
        EXPECT_EQ(BppOf(frame), c.converted_bpp);

        const std::string target = dir / ("out[" + std::to_string(k + 1) + "]." + ext);
        const SaveResult result = SaveFrame(frame, target, state);
        ASSERT_EQ(result, SaveResult::Saved);
        ASSERT_GT(testing_support::ReadFileBytes(target).size(), 0u);

        testing_support::TestBitmap back = formats_test::LoadOutput(target, ext);
        ASSERT_TRUE(back) << "FreeImage cannot read " << target;
        // FreeImage's PFM reader takes the first row of the file for the top
        // one; the format stores the bottom row first.
        if (ext == "pfm") FreeImage_FlipVertical(back.get());
        EXPECT_EQ(FreeImage_GetWidth(back.get()), 40u);
        EXPECT_EQ(FreeImage_GetHeight(back.get()), 40u);
        EXPECT_EQ(static_cast<int>(FreeImage_GetBPP(back.get())), c.read_bpp);

        // ImageMagick reads JPEG XR by having JxrDecApp write PNM, which has
        // no alpha channel, so it opens no 32-bit JPEG XR file at all.
        if (formats_test::HaveImageMagick() && ext != "jxr") {
            EXPECT_EQ(formats_test::IdentifySize(target), "40 40") << "ImageMagick reads it otherwise";
        }

        testing_support::TestBitmap pixels;
        if (ext == "dds") {
            // FreeImage's DDS reader returns the rows bottom-up; the pixels are
            // judged by ImageMagick's reading of the file instead.
            if (!formats_test::HaveImageMagick()) continue;
            const std::string png = dir / ("dds" + std::to_string(k) + ".png");
            formats_test::CommandOutput("convert '" + target + "[0]' 'png:" + png + "'");
            pixels = testing_support::LoadImageFile(png);
            ASSERT_TRUE(pixels);
        } else {
            pixels = std::move(back);
        }

        int worst = 0;
        double total = 0;
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 40; ++x) {
                const Rgba want = formats_test::ComposedPixel(gif, k, x, y);
                const Rgba got = ReadPixel(pixels.get(), x, y);
                int error = 0;
                if (c.compare == Compare::Colour) {
                    error = formats_test::MaxChannelDifference(want, got);
                    EXPECT_EQ(got.a, 255) << "at " << x << "," << y;
                } else if (c.compare == Compare::Luminance) {
                    error = std::abs(formats_test::Luma(want) - formats_test::Luma(got));
                } else if (x % 4 == 0 && y % 4 == 0) {  // one block per 4x4 corner
                    int want_sum = 0, got_sum = 0;
                    for (int dy = 0; dy < 4; ++dy)
                        for (int dx = 0; dx < 4; ++dx) {
                            want_sum += formats_test::Luma(formats_test::ComposedPixel(gif, k, x + dx, y + dy));
                            got_sum += formats_test::Luma(ReadPixel(pixels.get(), x + dx, y + dy));
                        }
                    error = std::abs(want_sum - got_sum) / 16;
                }
                const bool judged = c.edge_radius == 0 || UniformAround(gif, k, x, y, c.edge_radius);
                if (judged) worst = std::max(worst, error);
                total += error;
                if (judged && error > c.max_error && !std::getenv("KESTRUNE_SHOW_ERRORS"))
                    ADD_FAILURE() << ext << " pixel " << x << "," << y << " wanted " << formats_test::Show(want)
                                  << " got " << formats_test::Show(got);
                if (::testing::Test::HasFailure()) break;
            }
            if (::testing::Test::HasFailure()) break;
        }
        if (std::getenv("KESTRUNE_SHOW_ERRORS"))
            std::cout << ext << " frame " << k << ": worst where judged " << worst << ", mean " << total / (40 * 40) << "\n";
        EXPECT_LE(total / (40 * 40), c.mean_error + 1e-9) << "mean error; worst " << worst;
    }
    source = {};
    // Only the outputs (and the converted DDS pictures) remain: no temporary file.
    for (const std::string& name : testing_support::ListNames(dir.path()))
        EXPECT_EQ(name.rfind(".kestrune", 0), std::string::npos) << name;
}

INSTANTIATE_TEST_SUITE_P(AllOutputFormats, RoundTrip, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                             return std::string(info.param.ext);
                         });

TEST(RoundTripTable, CoversEveryRegistryRow) {
    formats_test::InitLibraries();
    std::vector<std::string> covered;
    for (const FormatCase& c : kCases) covered.push_back(c.ext);
    EXPECT_EQ(covered, OutputFormatList());
}

}  // namespace
