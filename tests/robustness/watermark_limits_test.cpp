// Watermarks of absurd sizes on a small picture: only what lands on the
// image is drawn, so a huge font costs what the image costs, and a logo
// whose pixels cannot fit in the memory budget fails its file instead of
// being decoded.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "robustness/robustness_support.h"

namespace robustness {
namespace {

TEST(WatermarkLimits, HugeWatermarksStayWithinTheImagesCost) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    if (kAddressSanitizer) GTEST_SKIP() << "an address-space limit means nothing under AddressSanitizer";
    TempDir in, out;
    WriteGif(in / "a.gif", {320, 240, {{100, 100, 100}, {0, 0, 0}}, 0, {SolidFrame(320, 240, 0)}});
    // 64 MB of pixels in a file of a few hundred kilobytes.
    kestrune::Bitmap logo(FreeImage_Allocate(8000, 8000, 8));
    ASSERT_TRUE(logo && FreeImage_Save(FIF_PNG, logo.get(), (in / "logo.png").c_str(), 0));

    const struct {
        std::vector<std::string> options;
        std::string budget_mb;  // "" leaves the budget to the limit
        bool converted;
    } cases[] = {
        // A block of about 24000 x 9000 pixels, 0.9 GB a layer when drawn whole.
        {{"--wm-text=Hello", "--wm-font-size=6000", "--wm-back-opacity=255", "--wm-back-color=0000FF"}, "", true},
        {{"--wm-image=" + (in / "logo.png")}, "32", false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-d", "-i", in / "a.gif", "-o", out.path(), "-c", "png"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        RunOptions options;
        options.timeout_seconds = 120;
        if (!c.budget_mb.empty()) options.env["KESTRUNE_MEMORY_BUDGET_MB"] = c.budget_mb;
        fs::remove(out / "a.png");
        const ProcessResult result = RunKestruneLimited(args, {{RLIMIT_AS, uint64_t{1} << 30}}, options);
        ASSERT_FALSE(result.timed_out);
        const std::string label = c.options[0] + " " + c.budget_mb;
        EXPECT_EQ(Verdicts(ConsoleLines(result.out))[in / "a.gif"], c.converted ? "OK" : "Not OK") << label;
        if (!c.converted) continue;
        // The watermark is there: its block covers the top-left corner.
        TestBitmap image = LoadImageFile(out / "a.png");
        ASSERT_TRUE(image) << label;
        EXPECT_NE(PixelAt(image.get(), 0, 0), (Rgba{100, 100, 100, 255})) << label;
    }
}

}  // namespace
}  // namespace robustness
