// Inputs found by the fuzz targets in fuzz/, kept as regression cases
// through the real program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "robustness/robustness_support.h"

namespace robustness {
namespace {

// 132 bytes declaring a 64258 x 1 screen with four small frames. Rotated by
// 30 degrees its bounding box is about 55650 x 32130 pixels: the rotation
// asked for more than 8 GB.
const unsigned char kWideThinScreen[] = {
  0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x02, 0xfb, 0x01, 0x00, 0x83, 0x00,
  0x00, 0x00, 0x00, 0xff, 0x11, 0x00, 0xff, 0x22, 0x00, 0xff, 0x33, 0x00,
  0xff, 0x44, 0x00, 0xff, 0x55, 0x00, 0xff, 0x66, 0x00, 0xff, 0x77, 0x00,
  0xff, 0x00, 0x88, 0xff, 0x00, 0x99, 0xff, 0x00, 0xaa, 0xff, 0x00, 0xbb,
  0xff, 0x00, 0xcc, 0xff, 0x00, 0xdd, 0xff, 0x00, 0xee, 0xff, 0x00, 0xff,
  0xff, 0x2c, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x04,
  0x03, 0x41, 0x8c, 0x08, 0x00, 0x2c, 0x00, 0x01, 0x01, 0x00, 0x02, 0x00,
  0x02, 0x00, 0x00, 0x04, 0x04, 0x28, 0xa9, 0x15, 0x01, 0x00, 0x2c, 0x00,
  0x00, 0x04, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x04, 0x02, 0x2e, 0x02,
  0x00, 0x2c, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x03, 0x00, 0x00, 0x04,
  0x09, 0xa4, 0x98, 0x83, 0x92, 0x5a, 0xac, 0xb9, 0x17, 0x01, 0x00, 0x3b
};

// Runs the program with every single allocation bounded: under an address-
// space limit, or, under AddressSanitizer (whose shadow memory rules that
// out), through its allocator's own size limit.
ProcessResult RunBounded(const std::vector<std::string>& args) {
    RunOptions options;
    options.timeout_seconds = 120;
    if (kAddressSanitizer) {
        const char* inherited = std::getenv("ASAN_OPTIONS");
        options.env["ASAN_OPTIONS"] = std::string(inherited ? inherited : "") +
                                      ":max_allocation_size_mb=1024:allocator_may_return_null=0";
        return RunKestrune(args, options);
    }
    return RunKestruneLimited(args, {{RLIMIT_AS, uint64_t{1} << 30}}, options);
}

TEST(FuzzRegressions, RotatingAWideThinScreenFailsWithoutHugeAllocation) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    TempDir in, out;
    WriteFileBytes(in / "wide.gif", std::string(reinterpret_cast<const char*>(kWideThinScreen),
                                                sizeof kWideThinScreen));
    WriteGif(in / "valid.gif", LetterF(40, 30));
    const ProcessResult result =
        RunBounded({"-i", in.path() + "/", "-o", out.path(), "-c", "bmp", "--rotation=30", "-d"});
    ASSERT_FALSE(result.timed_out);
    ASSERT_EQ(result.exit_code, 0) << result.err.substr(0, 4000);
    const std::vector<std::string> lines = ConsoleLines(result.out);
    std::map<std::string, std::string> verdicts = Verdicts(lines);
    EXPECT_EQ(verdicts[in / "wide.gif"], "Not OK");
    EXPECT_EQ(verdicts[in / "valid.gif"], "OK");
    EXPECT_EQ(SummaryCounts(lines), std::make_pair(1, 2));
    EXPECT_EQ(FilesBelow(out.path()), std::vector<std::string>{"valid.bmp"});
}

// The same frame without rotation is small enough to convert.
TEST(FuzzRegressions, WideThinScreenConvertsWithoutRotation) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    TempDir in, out;
    WriteFileBytes(in / "wide.gif", std::string(reinterpret_cast<const char*>(kWideThinScreen),
                                                sizeof kWideThinScreen));
    const ProcessResult result =
        RunBounded({"-i", in / "wide.gif", "-o", out.path(), "-c", "bmp", "--gif-frame-loading=LAST", "-d"});
    ASSERT_FALSE(result.timed_out);
    ASSERT_EQ(result.exit_code, 0) << result.err.substr(0, 4000);
    EXPECT_EQ(SummaryCounts(ConsoleLines(result.out)), std::make_pair(1, 1));
    EXPECT_EQ(ImageSizeOf(out / "wide.bmp"), std::make_pair(64258, 1));
}

}  // namespace
}  // namespace robustness
