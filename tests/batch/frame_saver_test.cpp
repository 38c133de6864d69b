// Frames of one file saved side by side: the files, the console and the
// file's result must be exactly those of saving one frame after another.
#include <map>
#include <random>

#include "batch/frame_saver.h"
#include "batch_support.h"

namespace batch_tests {
namespace {

// Frames of noise over part of the screen, every disposal in turn, so that
// the frames differ and take different times to encode.
GifImage NoisyAnimation(int frames) {
    GifImage gif;
    gif.width = 96;
    gif.height = 64;
    gif.global_palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {0, 0, 0}};
    std::mt19937 random(7);
    for (int k = 0; k < frames; ++k) {
        GifFrame f;
        f.left = k % 5 * 7;
        f.top = k % 3 * 5;
        f.width = 96 - f.left - k % 4;
        f.height = 64 - f.top - k % 2;
        f.disposal = k % 4;
        f.transparent = k % 2 ? 4 : -1;
        const int spread = 1 + k % 5;
        for (int i = 0; i < f.width * f.height; ++i) f.indices.push_back(static_cast<uint8_t>(random() % spread));
        gif.frames.push_back(f);
    }
    return gif;
}

std::map<std::string, std::string> ContentsBelow(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& name : FilesBelow(folder)) contents[name] = ReadFileBytes(folder + "/" + name);
    return contents;
}

class FrameSaverTest : public ::testing::Test {
  protected:
    // Converts the input into a fresh folder with the given number of saves
    // at once; returns the console lines.
    std::vector<std::string> Convert(const std::string& input, const std::string& output, int threads,
                                     const std::vector<std::string>& extra) {
        MakeFolder(output);
        std::vector<std::string> args{"-i", input, "-o", output, "-d"};
        args.insert(args.end(), extra.begin(), extra.end());
        RunOptions options;
        options.env["KESTRUNE_THREADS"] = std::to_string(threads);
        return Kestrune(args, options).lines;
    }
    TempDir dir;
};

TEST_F(FrameSaverTest, SideBySideWritesTheSameFilesAsOneAfterAnother) {
    const std::string input = dir / "anim.gif";
    WriteGif(input, NoisyAnimation(17));
    for (const std::string ext : {"png", "jpg", "tiff", "bmp", "webp", "tga"}) {
        SCOPED_TRACE(ext);
        // The same output folder both times, so that the transcripts compare.
        const std::string out = dir / "out";
        const auto alone = Convert(input, out, 1, {"-c", ext, "--width=80", "--height=70"});
        const auto expected = ContentsBelow(out);
        fs::remove_all(out);
        const auto together = Convert(input, out, 4, {"-c", ext, "--width=80", "--height=70"});
        EXPECT_TRANSCRIPT(together, alone);
        EXPECT_EQ(expected.size(), 17u);
        EXPECT_TRUE(ContentsBelow(out) == expected);
        fs::remove_all(out);
    }
}

// A folder standing where a frame's file would go makes that frame fail,
// and with it the file: a file with a frame missing is never "OK", whichever
// frame failed and whenever its save ended.
TEST_F(FrameSaverTest, AFailedFrameCountsAsItWouldOneAfterAnother) {
    const std::string input = dir / "anim.gif";
    WriteGif(input, NoisyAnimation(9));
    for (const int blocked : {4, 9}) {
        for (const int threads : {1, 3}) {
            SCOPED_TRACE("frame " + std::to_string(blocked) + ", " + std::to_string(threads) + " at once");
            const std::string out = dir / ("out" + std::to_string(blocked) + "-" + std::to_string(threads));
            MakeFolder(out + "/anim[" + std::to_string(blocked) + "].png");
            const auto lines = Convert(input, out, threads, {"-c", "png"});
            EXPECT_TRUE(Contains(lines, "Not OK")) << Joined(lines);
            EXPECT_FALSE(Contains(lines, "OK")) << Joined(lines);
            EXPECT_TRUE(Contains(lines, "Conversion stopped")) << Joined(lines);
            // Eight frame files and the folder; no temporary file is left.
            EXPECT_EQ(FilesBelow(out).size(), 8u);
            EXPECT_TRUE(fs::is_directory(out + "/anim[" + std::to_string(blocked) + "].png"));
        }
    }
}

TEST(FrameSaver, OutcomesComeInTheOrderOfSavingWhateverFinishesFirst) {
    kestrune::Settings s;
    kestrune::SetDefaultSettings(s, true);
    kestrune::FrameContext state(s);
    state.format = kestrune::OutputFrameFormat("png", s);
    TempDir out;
    kestrune::FrameSaver saver(3);
    std::vector<std::string> targets;
    for (int i = 0; i < 7; ++i) {
        // The first frame is by far the slowest to encode; the fourth goes
        // to a folder that does not exist.
        const int side = i == 0 ? 1500 : 8;
        kestrune::Bitmap frame(FreeImage_Allocate(side, side, 32));
        targets.push_back(i == 3 ? out / "missing/f3.png" : out / ("f" + std::to_string(i) + ".png"));
        // The saver encodes into files made beforehand, as the worker's
        // staging files are.
        if (i != 3) WriteFileBytes(targets.back(), "");
        saver.Encode(std::move(frame), targets.back(), state);
        EXPECT_FALSE(saver.GaveUp());
    }
    const auto outcomes = saver.Finish();
    ASSERT_EQ(outcomes.size(), targets.size());
    for (size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcomes[i].target, targets[i]);
        EXPECT_EQ(outcomes[i].result == kestrune::SaveResult::Saved, i != 3) << i;
        EXPECT_EQ(fs::exists(targets[i]), i != 3) << i;
    }
    EXPECT_EQ(FilesBelow(out.path()).size(), 6u);
}

// Frames saved side by side reserve their memory from the budget: with room
// for two, no more than two run at once; with room for none, each frame
// waits for the one before and is saved right here. None is ever lost.
TEST(FrameSaver, TheMemoryBudgetBoundsTheFramesInFlight) {
    kestrune::Settings s;
    kestrune::SetDefaultSettings(s, true);
    kestrune::FrameContext state(s);
    state.format = kestrune::OutputFrameFormat("png", s);
    const int side = 300;
    const uint64_t one_frame = kestrune::FrameSaveMemory(kestrune::Bitmap(FreeImage_Allocate(side, side, 32)));
    ASSERT_GT(one_frame, 0u);
    for (const auto& [room_for, peak] : {std::pair{2, 2}, std::pair{0, 1}, std::pair{20, 8}}) {
        SCOPED_TRACE("room for " + std::to_string(room_for));
        kestrune::MemoryBudget budget(one_frame * room_for + one_frame / 2);
        TempDir out;
        std::vector<std::string> targets;
        {
            kestrune::FrameSaver saver(8, budget);
            for (int i = 0; i < 12; ++i) {
                targets.push_back(out / ("f" + std::to_string(i) + ".png"));
                WriteFileBytes(targets.back(), "");
                saver.Encode(kestrune::Bitmap(FreeImage_Allocate(side, side, 32)), targets.back(), state);
                EXPECT_LE(budget.Reserved(), budget.Total());
            }
            const auto outcomes = saver.Finish();
            ASSERT_EQ(outcomes.size(), targets.size());
            for (const auto& outcome : outcomes) EXPECT_EQ(outcome.result, kestrune::SaveResult::Saved);
            EXPECT_LE(saver.PeakSideBySide(), peak);
            if (room_for >= 2) {
                EXPECT_GE(saver.PeakSideBySide(), 2);
            }
        }
        EXPECT_EQ(budget.Reserved(), 0u);
        EXPECT_EQ(FilesBelow(out.path()).size(), targets.size());
    }
}

TEST(FrameSaver, OnlyNumberedFramesOfStatelessWritersGoSideBySide) {
    setenv("KESTRUNE_THREADS", "5", 1);
    EXPECT_EQ(kestrune::FrameSaveParallelism("png", true), 5);
    EXPECT_EQ(kestrune::FrameSaveParallelism("png", false), 1);  // one name: the last frame must win
    EXPECT_EQ(kestrune::FrameSaveParallelism("dds", true), 1);   // DevIL: one image for the process
    EXPECT_EQ(kestrune::FrameSaveParallelism("jxr", true), 1);
    setenv("KESTRUNE_THREADS", "x", 1);
    EXPECT_GE(kestrune::FrameSaveParallelism("jpg", true), 1);
    unsetenv("KESTRUNE_THREADS");
}

}  // namespace
}  // namespace batch_tests
