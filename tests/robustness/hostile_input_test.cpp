// Inputs and options that ask for more memory than any conversion needs:
// each must fail its own file ("Not OK") before the memory is taken, and the
// batch must go on to the next file and end with its summary.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "robustness/robustness_support.h"

namespace robustness {
namespace {

// A file of `size` bytes that begins with a small valid GIF; the rest is a
// hole, so that even gigabytes cost nothing to make.
void WriteSparseGif(const std::string& path, uint64_t size) {
    WriteGif(path, LetterF(36, 28));
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

struct HostileCase {
    const char* what;
    // Writes the hostile input into the folder and returns its path.
    std::string (*make)(const std::string& folder);
    std::vector<std::string> options;
    uint64_t address_space;             // the limit the run is held to
    std::map<std::string, std::string> env;
    bool hostile_is_list = false;       // the input is a list naming the hostile file and valid.gif
    bool valid_converts = true;         // false when the options refuse every file
};

std::string SmallGif(const std::string& folder) {
    WriteGif(folder + "/hostile.gif", LetterF(36, 28));
    return folder + "/hostile.gif";
}

std::string HugeGif(const std::string& folder) {
    WriteSparseGif(folder + "/hostile.gif", uint64_t{1536} << 20);
    return folder + "/hostile.gif";
}

std::string HugeList(const std::string& folder) {
    // 640 MB without a line end, more than the run may hold, then the line
    // that matters.
    const std::string list = folder + "/hostile.txt";
    WriteFileBytes(list, "");
    EXPECT_EQ(truncate(list.c_str(), off_t{640} << 20), 0);
    const int fd = open(list.c_str(), O_WRONLY | O_APPEND);
    const std::string lines = "\n" + folder + "/valid.gif\n";
    EXPECT_EQ(write(fd, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    close(fd);
    return list;
}

class HostileInput : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileInput, FailsItsOwnFileAndTheBatchGoesOn) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    const HostileCase c = GetParam();
    TempDir in, out;
    const std::string hostile = c.make(in.path());
    // Portrait: resized with the ratio kept, only its height target counts.
    WriteGif(in / "valid.gif", LetterF(30, 40));
    std::vector<std::string> args{"-o", out.path(), "-c", "png", "-d"};
    if (c.hostile_is_list) {
        args.insert(args.begin(), {"-i", hostile});
    } else {
        WriteFileBytes(in / "list.txt", hostile + "\n" + (in / "valid.gif") + "\n");
        args.insert(args.begin(), {"-i", in / "list.txt"});
    }
    args.insert(args.end(), c.options.begin(), c.options.end());

    RunOptions options;
    options.timeout_seconds = 120;
    options.env = c.env;
    ProcessResult result;
    if (kAddressSanitizer) {
        // The sanitizer reports a failed allocation instead of letting the
        // program see it, so a file can only be failed before that.
        if (c.env.contains("KESTRUNE_MEMORY_BUDGET_MB"))
            GTEST_SKIP() << c.what << ": needs an allocation to fail, which AddressSanitizer reports and ends "
                                      "the process for; runs in the build without sanitizers";
        // Its shadow memory rules out an address-space limit: the budget the
        // limit would give is set instead, and its allocator refuses (and
        // reports) any single request above 1 GB.
        options.env["KESTRUNE_MEMORY_BUDGET_MB"] = std::to_string(c.address_space / 2 >> 20);
        const char* inherited = std::getenv("ASAN_OPTIONS");
        options.env["ASAN_OPTIONS"] = std::string(inherited ? inherited : "") +
                                      ":max_allocation_size_mb=1024:allocator_may_return_null=0";
        result = RunKestrune(args, options);
    } else {
        result = RunKestruneLimited(args, {{RLIMIT_AS, c.address_space}}, options);
    }
    ASSERT_FALSE(result.timed_out) << c.what;
    ASSERT_EQ(result.exit_code, 0) << c.what << "\n" << result.err.substr(0, 4000);
    const std::vector<std::string> lines = ConsoleLines(result.out);
    std::map<std::string, std::string> verdicts = Verdicts(lines);
    EXPECT_EQ(verdicts[in / "valid.gif"], c.valid_converts ? "OK" : "Not OK") << c.what;
    const std::vector<std::string> outputs = c.valid_converts ? std::vector<std::string>{"valid.png"}
                                                              : std::vector<std::string>{};
    EXPECT_EQ(FilesBelow(out.path()), outputs) << c.what;
    if (!c.hostile_is_list) {
        EXPECT_EQ(verdicts[hostile], "Not OK") << c.what;
    }
    // The batch ends with its summary.
    const int files = c.hostile_is_list ? 1 : 2;
    if (c.valid_converts) {
        EXPECT_EQ(SummaryCounts(lines), std::make_pair(1, files)) << c.what;
    } else {
        EXPECT_FALSE(lines.empty() || lines.back().find("Conversion") == std::string::npos) << c.what;
    }
}

constexpr uint64_t kGigabyte = uint64_t{1} << 30;

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileInput,
    testing::Values(
        // A 36 x 28 frame resized to 10000000 x 7777778, to 30000000 x
        // 23333333 and to 100000000 x 1: refused before the library allocates
        // anything (the last one refuses every file).
        HostileCase{"resize keeping the ratio", SmallGif,
                    {"--width=10000000", "--height=1", "--keep-aspect-ratio"}, kGigabyte * 7 / 10, {}, false},
        HostileCase{"resize keeping the ratio, wider", SmallGif, {"--width=30000000", "--height=1", "--keep-aspect-ratio"},
                    kGigabyte * 7 / 10, {}, false},
        HostileCase{"resize to one row of 100000000", SmallGif, {"--width=100000000", "--height=1"},
                    kGigabyte * 7 / 10, {}, false, false},
        // A GIF larger than the memory the process may give a file is refused
        // from its size, before it is read.
        HostileCase{"a 1.5 GB GIF", HugeGif, {}, kGigabyte * 6 / 5, {}, false},
        // Memory that cannot be had while a file is read fails that file: the
        // budget claimed here is larger than the limit the run is held to.
        HostileCase{"a 1.5 GB GIF within a budget larger than the memory", HugeGif, {}, kGigabyte * 6 / 5,
                    {{"KESTRUNE_MEMORY_BUDGET_MB", "4096"}}, false},
        // A list file is read line by line, whatever its size.
        HostileCase{"a 640 MB list file", HugeList, {}, kGigabyte * 7 / 10, {}, true}),
    [](const auto& info) { return testing_support::ParamName({info.param.what}); });

}  // namespace
}  // namespace robustness
