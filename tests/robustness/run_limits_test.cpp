// Runs that meet each other or the machine's limits: outputs that are later
// inputs, a killed run's leftovers, no thread to be had, a file-size limit,
// an input that turns into a FIFO. Every file gets its verdict and the run
// ends with its summary.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "robustness/robustness_support.h"

namespace robustness {
namespace {

GifImage Solid(int side, uint8_t r, uint8_t g, uint8_t b) {
    GifImage gif;
    gif.width = gif.height = side;
    gif.global_palette = {{r, g, b}, {0, 0, 0}};
    gif.frames.push_back(SolidFrame(side, side, 0));
    return gif;
}

// Name -> hash of the bytes of every file below folder.
std::map<std::string, size_t> Contents(const std::string& folder) {
    std::map<std::string, size_t> contents;
    for (const std::string& name : FilesBelow(folder))
        contents[name] = std::hash<std::string>()(ReadFileBytes(folder + "/" + name));
    return contents;
}

// Whatever the number of threads, an output that lands on a later file's
// input (a chain of names, or the watermark image) is what that file reads.
TEST(RunLimits, OutputsReadByLaterFilesGiveTheResultOfOneAtATime) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    for (const bool logo : {false, true}) {
        std::map<std::string, size_t> one_at_a_time;
        for (const char* threads : {"1", "2", "8"}) {
            SCOPED_TRACE(std::string(logo ? "logo" : "chain") + ", threads " + threads);
            TempDir dir;
            std::string name = "n";
            for (int i = 0; i < 8; ++i, name += "x") WriteGif(dir / (name + ".gif"), Solid(40, 30 * i, 255 - 30 * i, 9));
            std::vector<std::string> args{"-i", dir.path() + "/", "-o", dir.path(), "-c", "gif",
                                          "--filename-mask=%filename%x.gif"};
            if (logo) {
                WriteGif(dir / "0.png", Solid(8, 255, 0, 0));  // replaced by the first file's output
                args = {"-i", dir.path() + "/", "-o", dir.path(), "-c", "png", "--wm-image=" + dir / "0.png"};
                WriteGif(dir / "0.gif", Solid(40, 0, 0, 255));
            }
            RunOptions options;
            options.env["KESTRUNE_THREADS"] = threads;
            RunDebugBatch(args, 120, options);
            if (one_at_a_time.empty()) one_at_a_time = Contents(dir.path());
            else EXPECT_EQ(Contents(dir.path()), one_at_a_time);
        }
    }
}

// A run killed outright leaves staging files; the next run into the folder
// takes none of them for an input and removes them.
TEST(RunLimits, AKilledRunsStagingFilesAreNeitherImportedNorKept) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    TempDir in, out;
    for (int i = 0; i < 4; ++i) WriteGif(in / ("a" + std::to_string(i) + ".gif"), SimpleAnimation(600, 600, 6));
    const auto staging = [&] {
        std::vector<std::string> names;
        for (const std::string& name : ListNames(out.path()))
            if (name.find("kestrune") != std::string::npos) names.push_back(name);
        return names;
    };
    for (int attempt = 0; attempt < 5 && staging().empty(); ++attempt) {
        StartedKestrune first({"-i", in.path() + "/", "-o", out.path(), "-c", "gif"});
        while (staging().empty() && kill(first.pid(), 0) == 0) std::this_thread::yield();
        first.Signal(SIGKILL);
        first.Wait();
    }
    ASSERT_FALSE(staging().empty()) << "no run was caught with a staging file";
    const BatchRun second = RunDebugBatch({"-i", out.path() + "/", "-o", out.path(), "-c", "gif"});
    for (const auto& [input, verdict] : second.verdicts) EXPECT_EQ(input.find("kestrune"), std::string::npos) << input;
    EXPECT_TRUE(staging().empty()) << staging().front();
}

// Limits of the machine fail only what they must: a file too large for the
// file-size limit; with no thread to be had (every stack refused), nothing.
TEST(RunLimits, ThreadAndFileSizeLimitsFailOnlyWhatTheyMust) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    const struct {
        Limits limits;
        std::string failing;
    } cases[] = {{{{RLIMIT_FSIZE, 40000}}, "big.gif"},
                 {{{RLIMIT_STACK, uint64_t{3} << 30}, {RLIMIT_AS, uint64_t{2} << 30}}, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE("failing " + c.failing);
        TempDir in, out;
        WriteGif(in / "a.gif", SimpleAnimation(60, 40, 3));
        WriteGif(in / "big.gif", SimpleAnimation(400, 400, 1));
        WriteGif(in / "c.gif", LetterF(30, 20));
        RunOptions options;
        options.env["KESTRUNE_THREADS"] = "4";
        BatchRun run = RunDebugBatch({"-i", in.path() + "/", "-o", out.path(), "-c", "bmp"}, 120, options, c.limits);
        for (const char* name : {"a.gif", "big.gif", "c.gif"})
            EXPECT_EQ(run.verdicts[in / name], name == c.failing ? "Not OK" : "OK") << name;
        EXPECT_EQ(SummaryCounts(run.lines).first, c.failing.empty() ? 3 : 2);
        EXPECT_EQ(UnexpectedFiles(out.path(), {"a", "c", c.failing.empty() ? "big" : "a"}, "bmp"),
                  std::vector<std::string>{});
    }
}

// An input that became a FIFO after it was listed fails at once.
TEST(RunLimits, AnInputTurnedIntoAFifoFailsWithoutHangingTheRun) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    TempDir in, out;
    WriteGif(in / "a.gif", SimpleAnimation(700, 700, 20));
    WriteGif(in / "b.gif", LetterF(30, 20));
    WriteGif(in / "c.gif", LetterF(30, 20));
    ASSERT_EQ(mkfifo((in / "fifo").c_str(), 0600), 0);
    WriteFileBytes(in / "list.txt", in / "a.gif\n" + in / "b.gif\n" + in / "c.gif\n");
    // "%n%" makes b.gif wait for a.gif, which is still being converted when
    // b.gif is replaced.
    std::thread replace([&] {
        for (int ms = 0; ms < 30000 && ListNames(out.path()).empty(); ++ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rename((in / "fifo").c_str(), (in / "b.gif").c_str());
    });
    RunOptions options;
    options.env["KESTRUNE_THREADS"] = "2";
    BatchRun run =
        RunDebugBatch({"-i", in / "list.txt", "-o", out.path(), "-c", "png", "--filename-mask=%filename%-%n%.%ext%"}, 60, options);
    replace.join();
    EXPECT_EQ(run.verdicts[in / "a.gif"], "OK");
    EXPECT_EQ(run.verdicts[in / "b.gif"], "Not OK");
    EXPECT_EQ(run.verdicts[in / "c.gif"], "OK");
}

}  // namespace
}  // namespace robustness
