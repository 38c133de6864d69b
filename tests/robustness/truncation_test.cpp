// Every valid corpus file cut short at many lengths, all cuts of one file
// converted in one run from a folder: each cut either converts or fails
// cleanly, and the summary counts exactly the files that were written.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "robustness/robustness_support.h"

namespace robustness {
namespace {

// The cut lengths of a file of `size` bytes: every 37 bytes for small files;
// larger files are cut at about 40 places, always including the first bytes
// past the header, where the structure is cut rather than the pixel data.
std::vector<size_t> CutLengths(size_t size) {
    std::set<size_t> cuts;
    const size_t step = size <= 2048 ? 37 : size / 40 + 1;
    for (size_t n = 1; n < size; n += step) cuts.insert(n);
    for (size_t n : {6u, 10u, 13u, 14u, 20u, 40u, 800u}) {
        if (n < size) cuts.insert(n);
    }
    if (size > 1) cuts.insert(size - 1);
    return {cuts.begin(), cuts.end()};
}

class TruncationSweep : public ::testing::TestWithParam<std::string> {};

TEST_P(TruncationSweep, EveryCutConvertsOrFailsCleanly) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    KESTRUNE_REQUIRE_CORPUS();
    std::vector<CorpusFile> valid = CorpusFilesWithStatus("ok");
    if (valid.empty()) GTEST_SKIP() << "the corpus has no readable SOURCES.md table";
    // The parameter picks a slice of the valid files, so that the work is
    // spread over several test cases of bounded length.
    const std::string slice = GetParam();
    const size_t first = slice[0] - '0', slices = slice[2] - '0';

    for (size_t i = first; i < valid.size(); i += slices) {
        const CorpusFile& f = valid[i];
        SCOPED_TRACE(f.name);
        const std::string whole = ReadFileBytes(CorpusDir() + "/" + f.name);
        ASSERT_FALSE(whole.empty());
        TempDir in, out;
        std::set<std::string> stems;
        const std::vector<size_t> cuts = CutLengths(whole.size());
        for (size_t n : cuts) {
            const std::string stem = "cut" + std::to_string(n);
            WriteFileBytes(in / (stem + ".gif"), whole.substr(0, n));
            stems.insert(stem);
        }
        // The last frame only: it is composed from every frame before it, so the
        // whole cut is decoded, with one save per file.
        const BatchRun run = RunDebugBatch(
            {"-i", in.path() + "/", "-o", out.path(), "-c", "bmp", "--gif-frame-loading=LAST"}, 300);
        EXPECT_EQ(run.taken, static_cast<int>(cuts.size()));
        int ok = 0;
        for (const auto& [path, verdict] : run.verdicts) {
            EXPECT_TRUE(verdict == "OK" || verdict == "Not OK") << path << ": " << verdict;
            const std::string output = out / (StemOf(path) + ".bmp");
            if (verdict == "OK") {
                ++ok;
                EXPECT_GT(ImageSizeOf(output).first, 0) << "unreadable output " << output;
            } else {
                EXPECT_EQ(BytesOf(output), -1) << "a failed file left " << output;
            }
        }
        EXPECT_EQ(UnexpectedFiles(out.path(), stems, "bmp"), std::vector<std::string>{});
        EXPECT_EQ(static_cast<int>(FilesBelow(out.path()).size()), ok);
        const auto [converted, total] = SummaryCounts(run.lines);
        if (ok > 0) {
            EXPECT_EQ(converted, ok);
            EXPECT_EQ(total, static_cast<int>(cuts.size()));
        } else {
            EXPECT_EQ(converted, -1) << "a summary of converted files when none was";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, TruncationSweep, ::testing::Values("0/4", "1/4", "2/4", "3/4"),
                         [](const auto& info) { return "Slice" + std::to_string(info.index + 1); });

}  // namespace
}  // namespace robustness
