// Runs that meet each other or the machine's limits: outputs that are later
// inputs, a killed run's leftovers, no thread, a file-size limit, an input
// turned into a FIFO.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "robustness/robustness_support.h"

namespace robustness {
namespace {

RunOptions Threads(const char* n) { RunOptions o; o.env["KESTRUNE_THREADS"] = n; return o; }

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
            for (int i = 0; i < 8; ++i, name += "x") WriteGif(dir / (name + ".gif"), SimpleAnimation(40, 30 + i, 1));
            std::vector<std::string> args{"-i", dir.path() + "/", "-o", dir.path(), "-c", "gif",
                                          "--filename-mask=%filename%x.gif"};
            if (logo) {
                WriteGif(dir / "0.png", SimpleAnimation(8, 8, 1));  // replaced by the first file's output
                args = {"-i", dir.path() + "/", "-o", dir.path(), "-c", "png", "--wm-image=" + dir / "0.png"};
                WriteGif(dir / "0.gif", LetterF(40, 40));
            }
            RunDebugBatch(args, 120, Threads(threads));
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
        // AddressSanitizer's shadow memory cannot be mapped under an
        // address-space limit.
        if (kAddressSanitizer && c.limits.size() > 1) continue;
        TempDir in, out;
        WriteGif(in / "a.gif", SimpleAnimation(60, 40, 3));
        WriteGif(in / "big.gif", SimpleAnimation(400, 400, 1));
        WriteGif(in / "c.gif", LetterF(30, 20));
        BatchRun run = RunDebugBatch({"-i", in.path() + "/", "-o", out.path(), "-c", "bmp"}, 120, Threads("4"), c.limits);
        for (const char* name : {"a.gif", "big.gif", "c.gif"})
            EXPECT_EQ(run.verdicts[in / name], name == c.failing ? "Not OK" : "OK") << name;
        EXPECT_EQ(SummaryCounts(run.lines).first, c.failing.empty() ? 3 : 2);
        EXPECT_EQ(UnexpectedFiles(out.path(), {"a", "c", c.failing.empty() ? "big" : "a"}, "bmp").size(), 0u);
    }
}

// An input that became a FIFO after it was listed fails at once.
TEST(RunLimits, AnInputTurnedIntoAFifoFailsWithoutHangingTheRun) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    TempDir in, out;
    WriteGif(in / "a.gif", SimpleAnimation(700, 700, 20));
    for (const char* name : {"b.gif", "c.gif"}) WriteGif(in / name, LetterF(30, 20));
    ASSERT_EQ(mkfifo((in / "fifo").c_str(), 0600), 0);
    WriteFileBytes(in / "list.txt", in / "a.gif\n" + in / "b.gif\n" + in / "c.gif\n");
    // "%n%" makes b.gif wait for a.gif, which is still being converted when
    // b.gif is replaced.
    std::thread replace([&] {
        for (int ms = 0; ms < 30000 && ListNames(out.path()).empty(); ++ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rename((in / "fifo").c_str(), (in / "b.gif").c_str());
    });
    const BatchRun run = RunDebugBatch({"-i", in / "list.txt", "-o", out.path(), "-c", "png",
                                        "--filename-mask=%filename%-%n%.%ext%"}, 60, Threads("2"));
    replace.join();
    EXPECT_EQ(run.verdicts, (std::map<std::string, std::string>{
                                {in / "a.gif", "OK"}, {in / "b.gif", "Not OK"}, {in / "c.gif", "OK"}}));
}

}  // namespace
}  // namespace robustness
