// A GIF header may declare a logical screen of up to 65535 x 65535 pixels in
// a few dozen bytes; every frame is composed on the whole screen, so such a
// file must be refused from its header instead of making the program ask for
// gigabytes. Checked with the program under a memory limit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "formats/loading.h"
#include "robustness/robustness_support.h"

namespace robustness {
namespace {

// A valid GIF with a 1 x 1 frame in the corner of a w x h screen.
std::string TinyFrameOnScreen(int width, int height) {
    GifImage gif;
    gif.width = width;
    gif.height = height;
    gif.global_palette = {{255, 0, 0}, {0, 0, 255}};
    GifFrame frame = SolidFrame(1, 1, 1);
    gif.frames.push_back(frame);
    return EncodeGif(gif);
}

TEST(ResourceLimits, HugeLogicalScreensFailCleanlyUnderAMemoryLimit) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    TempDir in, out;
    std::vector<std::string> huge;
    // Just past the documented limit, and the largest screen a header can
    // declare.
    const int just_past_height = static_cast<int>(kestrune::kMaxScreenPixels / 65535 + 1);
    WriteFileBytes(in / "just_past_limit.gif", TinyFrameOnScreen(65535, just_past_height));
    WriteFileBytes(in / "largest_screen.gif", TinyFrameOnScreen(65535, 65535));
    huge.push_back(in / "just_past_limit.gif");
    huge.push_back(in / "largest_screen.gif");
    // The corpus files whose headers declare such screens, by path.
    if (!CorpusDir().empty()) {
        for (const CorpusFile& f : CorpusTable()) {
            const std::string path = CorpusDir() + "/" + f.name;
            const GifLayout layout = ReadGifLayout(ReadFileBytes(path));
            if (static_cast<long long>(layout.screen_width) * layout.screen_height > kestrune::kMaxScreenPixels)
                huge.push_back(path);
        }
    }
    // A valid file among them, which must still convert under the same limit.
    WriteGif(in / "valid.gif", LetterF(40, 30));

    std::string list;
    for (const std::string& path : huge) list += path + "\n";
    list += in / "valid.gif\n";
    WriteFileBytes(in / "inputs.txt", list);
    const std::vector<std::string> args{"-i", in / "inputs.txt", "-o", out.path(), "-c", "png", "-d"};

    ProcessResult result;
    if (kAddressSanitizer) {
        // The sanitizer's shadow memory rules out an address-space limit; its
        // allocator refuses (and reports) any single request above 1 GB instead.
        RunOptions options;
        const char* inherited = std::getenv("ASAN_OPTIONS");
        options.env["ASAN_OPTIONS"] = std::string(inherited ? inherited : "") +
                                      ":max_allocation_size_mb=1024:allocator_may_return_null=0";
        options.timeout_seconds = 120;
        result = RunKestrune(args, options);
    } else {
        // 1 GB of address space: room for the program and a 100-megapixel
        // canvas, far from the 17 GB a 65535 x 65535 screen would need.
        RunOptions options;
        options.timeout_seconds = 120;
        result = RunKestruneLimited(args, {{RLIMIT_AS, uint64_t{1} << 30}}, options);
    }
    ASSERT_FALSE(result.timed_out);
    ASSERT_EQ(result.exit_code, 0) << result.err.substr(0, 4000);

    const std::vector<std::string> lines = ConsoleLines(result.out);
    std::map<std::string, std::string> verdicts = Verdicts(lines);
    for (const std::string& path : huge) EXPECT_EQ(verdicts[path], "Not OK") << path;
    EXPECT_EQ(verdicts[in / "valid.gif"], "OK");
    EXPECT_EQ(SummaryCounts(lines), std::make_pair(1, static_cast<int>(huge.size()) + 1));
    EXPECT_EQ(FilesBelow(out.path()), std::vector<std::string>{"valid.png"});
}

}  // namespace
}  // namespace robustness
