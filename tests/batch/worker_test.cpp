// The conversion worker through the real program: frame selection and
// numbering, the per-file debug lines, failing files, and what stays on disk
// after a failure.
#include "batch_support.h"

namespace batch_tests {
namespace {

const Rgba kRed{255, 0, 0, 255};
const Rgba kGreen{0, 255, 0, 255};
const Rgba kBlue{0, 0, 255, 255};
const Rgba kWhite{255, 255, 255, 255};

class WorkerTest : public InOutFolders {
  protected:
    std::vector<std::string> WorkerLines(const Outcome& run) const {
        std::vector<std::string> lines;
        for (const auto& l : run.lines)
            if (l.rfind("Processing: ", 0) == 0 || l.rfind("Saving As: ", 0) == 0 || l == "OK" || l == "Not OK")
                lines.push_back(l);
        return lines;
    }
};

TEST_F(WorkerTest, AllFramesOfAnAnimationAreNumberedBeforeTheExtension) {
    WriteGif(in + "/a.gif", SimpleAnimation(9, 7, 3));
    const Outcome run = Kestrune({"-i", in + "/a.gif", "-o", out, "-c", "png", "-d"});
    // One file: one of each line, and the name without a frame number.
    EXPECT_TRANSCRIPT(WorkerLines(run), (std::vector<std::string>{"Processing: " + in + "/a.gif",
                                                                  "Saving As: " + out + "/a.png", "OK"}));
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"a[1].png", "a[2].png", "a[3].png"}));
    EXPECT_EQ(CentrePixel(out + "/a[1].png"), kRed);
    EXPECT_EQ(CentrePixel(out + "/a[2].png"), kGreen);
    EXPECT_EQ(CentrePixel(out + "/a[3].png"), kBlue);
    EXPECT_EQ(SizeOf(out + "/a[2].png"), (ImageSize{9, 7}));
    EXPECT_TRUE(Contains(run.lines, "Files converted: 1 of 1"));
}

TEST_F(WorkerTest, AStillImageGetsNoFrameNumber) {
    WriteGif(in + "/a.gif", SimpleAnimation(5, 5, 1));
    const Outcome run = Kestrune({"-q", "-i", in + "/a.gif", "-o", out, "-c", "png"});
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"a.png"});
    EXPECT_EQ(CentrePixel(out + "/a.png"), kRed);
}

TEST_F(WorkerTest, SingleFrameSelectionsWriteOneUnnumberedFile) {
    WriteGif(in + "/a.gif", SimpleAnimation(6, 6, 4));
    const std::vector<std::pair<std::string, Rgba>> cases = {
        {"FIRST", kRed}, {"MIDDLE", kGreen}, {"LAST", kWhite}};
    for (const auto& [selection, colour] : cases) {
        fs::remove_all(out);
        MakeFolder(out);
        Kestrune({"-q", "-i", in + "/a.gif", "-o", out, "-c", "png", "--gif-frame-loading=" + selection});
        EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"a.png"}) << selection;
        EXPECT_EQ(CentrePixel(out + "/a.png"), colour) << selection;
    }
    // RANDOM: one of the four frames, still without a number.
    fs::remove_all(out);
    MakeFolder(out);
    Kestrune({"-q", "-i", in + "/a.gif", "-o", out, "-c", "png", "--gif-frame-loading=RANDOM"});
    ASSERT_EQ(FilesBelow(out), std::vector<std::string>{"a.png"});
    const Rgba c = CentrePixel(out + "/a.png");
    EXPECT_TRUE(c == kRed || c == kGreen || c == kBlue || c == kWhite)
        << int(c.r) << "," << int(c.g) << "," << int(c.b);
}

TEST_F(WorkerTest, BrokenFilesAreNotOkAndTheOthersStillConvert) {
    WriteStill(in + "/good1.gif");
    WriteStill(in + "/good2.gif");
    WriteFileBytes(in + "/text.gif", "this is plain text, not a picture\n");
    WriteFileBytes(in + "/cut.gif", TruncatedGif());
    const Outcome run = Kestrune({"-d", "-i", in, "-o", out, "-c", "png"});
    const auto reports = WorkerReports(run.lines);
    ASSERT_EQ(reports.size(), 4u) << Joined(run.lines);
    for (const auto& [path, report] : reports) {
        const bool good = path.find("good") != std::string::npos;
        EXPECT_EQ(report.verdict, good ? "OK" : "Not OK") << path;
        if (good) {
            EXPECT_EQ(report.saving_as, out + "/" + fs::path(path).stem().string() + ".png");
        }
    }
    // The first file's failure shows the path left by nothing: empty.
    if (reports.front().second.verdict == "Not OK") {
        EXPECT_EQ(reports.front().second.saving_as, "");
    }
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"good1.png", "good2.png"}));
    EXPECT_TRUE(Contains(run.lines, "Files converted: 2 of 4"));
    EXPECT_NO_TEMPORARY_FILES(out);
}

// A file name with line breaks must not forge lines of the transcript: each
// file is one "Processing: " line, with its control characters escaped.
TEST_F(WorkerTest, ControlCharactersInNamesCannotForgeConsoleLines) {
    const std::string forged = "bad\r\nSaving As: x.png\r\nOK\r\nProcessing: other.gif";
    WriteFileBytes(in + "/" + forged + ".gif", "not a picture");
    WriteStill(in + "/\x1b[1mgood\t.gif");
    const Outcome run = Kestrune({"-d", "-i", in, "-o", out, "-c", "png"});
    const auto reports = WorkerReports(run.lines);
    ASSERT_EQ(reports.size(), 2u) << Joined(run.lines);
    // Files in byte order: ESC (0x1b) before "b".
    EXPECT_EQ(reports[1].first, in + "/bad\\r\\nSaving As: x.png\\r\\nOK\\r\\nProcessing: other.gif.gif");
    EXPECT_EQ(reports[1].second.verdict, "Not OK");
    EXPECT_EQ(reports[0].first, in + "/\\x1b[1mgood\\t.gif");
    EXPECT_EQ(reports[0].second.saving_as, out + "/\\x1b[1mgood\\t.png");
    EXPECT_EQ(reports[0].second.verdict, "OK");
    EXPECT_EQ(CountOf(run.lines, "OK"), 1);
    EXPECT_FALSE(Contains(run.lines, "Processing: other.gif"));
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"\x1b[1mgood\t.png"});
}

TEST_F(WorkerTest, IconsAreLimitedTo128AndNamesSeeTheLimitedSize) {
    WriteStill(in + "/big.gif", 300, 200);
    const Outcome run = Kestrune({"-q", "-i", in + "/big.gif", "-o", out, "-c", "ico",
                              "--filename-mask=%filename%_%width%x%height%.%ext%"});
    ASSERT_EQ(FilesBelow(out), std::vector<std::string>{"big_128x128.ico"}) << Joined(run.lines);
    EXPECT_EQ(SizeOf(out + "/big_128x128.ico"), (ImageSize{128, 128}));
}

TEST_F(WorkerTest, AFailingFileLeavesAnEarlierOutputOfTheSameNameIntact) {
    WriteFileBytes(in + "/b.gif", TruncatedGif());
    WriteFileBytes(out + "/b.png", "earlier output");
    WriteFileBytes(out + "/other.txt", "unrelated");
    const Outcome run = Kestrune({"-q", "-i", in, "-o", out, "-c", "png"});
    EXPECT_TRANSCRIPT(run.lines, std::vector<std::string>{"Conversion stopped"});
    EXPECT_EQ(ReadFileBytes(out + "/b.png"), "earlier output");
    EXPECT_EQ(ReadFileBytes(out + "/other.txt"), "unrelated");
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"b.png", "other.txt"}));
}

TEST_F(WorkerTest, UnwritableOutputFolderFailsEveryFileWithoutLeftovers) {
    WriteStill(in + "/a.gif");
    WriteGif(in + "/b.gif", SimpleAnimation(4, 4, 2));
    ASSERT_EQ(chmod(out.c_str(), 0555), 0);
    if (access(out.c_str(), W_OK) == 0) {
        chmod(out.c_str(), 0755);
        GTEST_SKIP() << "running with privileges that ignore folder permissions";
    }
    const Outcome run = Kestrune({"-d", "-i", in, "-o", out, "-c", "png"});
    chmod(out.c_str(), 0755);
    EXPECT_EQ(CountOf(run.lines, "Not OK"), 2) << Joined(run.lines);
    EXPECT_EQ(run.lines.back(), "Conversion stopped");
    EXPECT_TRUE(FilesBelow(out).empty());
}

TEST_F(WorkerTest, ConvertingToGifInItsOwnFolderReplacesTheInputOnlyByAWholeOutput) {
    const std::string still = in + "/still.gif";
    WriteGif(still, SimpleAnimation(10, 8, 1));
    const std::string animation = in + "/anim.gif";
    WriteGif(animation, SimpleAnimation(10, 8, 3));
    const std::string animation_bytes = ReadFileBytes(animation);

    const Outcome run = Kestrune({"-i", in, "-c", "gif"});
    EXPECT_TRUE(Contains(run.lines, "Files converted: 2 of 2")) << Joined(run.lines);
    // The still input was rewritten as a complete GIF of the same picture.
    EXPECT_EQ(SizeOf(still), (ImageSize{10, 8}));
    EXPECT_EQ(CentrePixel(still), kRed);
    // The animation's frames went to numbered files; the input is untouched.
    EXPECT_EQ(ReadFileBytes(animation), animation_bytes);
    EXPECT_EQ(FilesBelow(in),
              (std::vector<std::string>{"anim.gif", "anim[1].gif", "anim[2].gif", "anim[3].gif", "still.gif"}));
    EXPECT_EQ(CentrePixel(in + "/anim[3].gif"), kBlue);
}

// The mask may name a folder; one that does not exist is not created, and
// the save fails with the name shown.
TEST_F(WorkerTest, AMaskNamingAMissingFolderFailsTheSave) {
    WriteStill(in + "/a.gif");
    const Outcome run = Kestrune({"-d", "-i", in + "/a.gif", "-o", out, "-c", "png",
                              "--filename-mask=missing/%filename%.%ext%"});
    const auto reports = WorkerReports(run.lines);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].second.saving_as, out + "/missing/a.png");
    EXPECT_EQ(reports[0].second.verdict, "Not OK");
    EXPECT_TRUE(FilesBelow(out).empty());
}

TEST_F(WorkerTest, TheReadmeSampleConvertsToOnePngPerFrame) {
    const std::string sample = std::string(KESTRUNE_SOURCE_DIR) + "/samples/bouncing-ball.gif";
    ASSERT_TRUE(fs::exists(sample));
    const Outcome run = Kestrune({"-i", sample, "-o", out, "-c", "png", "-d"});
    EXPECT_TRUE(Contains(run.lines, "Files converted: 1 of 1")) << Joined(run.lines);
    std::vector<std::string> expected;
    for (int k = 1; k <= 6; ++k) expected.push_back("bouncing-ball[" + std::to_string(k) + "].png");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesBelow(out), expected);
    EXPECT_EQ(SizeOf(out + "/bouncing-ball[4].png"), (ImageSize{64, 48}));
    // The ball moves: the first and the last frame differ.
    EXPECT_NE(ReadFileBytes(out + "/bouncing-ball[1].png"), ReadFileBytes(out + "/bouncing-ball[6].png"));
}

// Every GIF of the shared corpus, broken ones included: the program must not
// crash or hang, must account for every file, and must leave no temporary.
// "LAST" still makes the decoder compose every frame of a file, but writes
// one picture per file instead of one per frame, which keeps the run short
// enough for the sanitizer build.
TEST_F(WorkerTest, CorpusConvertsWithoutCrashingOrLeftovers) {
    KESTRUNE_REQUIRE_CORPUS();
    RunOptions options;
    options.timeout_seconds = 500;
    const Outcome run = Kestrune(
        {"-d", "-i", CorpusDir(), "-o", out, "-c", "png", "--no-subfolders", "--gif-frame-loading=LAST"}, options);
    ASSERT_FALSE(run.lines.empty());
    const auto reports = WorkerReports(run.lines);
    int added = -1;
    for (const auto& l : run.lines)
        if (l.rfind("Import complete, new files added: ", 0) == 0) added = std::stoi(l.substr(34));
    EXPECT_GT(added, 0);
    EXPECT_EQ(static_cast<int>(reports.size()), added);
    int ok = 0;
    for (const auto& [path, report] : reports) ok += report.verdict == "OK";
    EXPECT_GT(ok, 0);
    EXPECT_EQ(run.lines.back(), "Files converted: " + std::to_string(ok) + " of " + std::to_string(added));
    EXPECT_NO_TEMPORARY_FILES(out);
}

}  // namespace
}  // namespace batch_tests
