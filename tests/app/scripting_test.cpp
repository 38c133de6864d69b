// What scripts get when they ask for it: the exit status, the JSON report
// (read back with jq), waiting for the lock, and the README's GNU parallel
// recipe run as written against a single run.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "support/gif_writer.h"
#include "support/harness.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

const char* const kLockName = "Tarvel GIF to IMAGE 2.5.lock";

// A shell command's exit code; its standard output (and error) in `out`.
int Shell(const std::string& command, std::string* out = nullptr) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    const int status = pclose(pipe);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The report through jq: one compact line per object, as `filter` gives it.
std::vector<std::string> Jq(const std::string& filter, const std::string& report) {
    std::string out;
    EXPECT_EQ(Shell("jq -c " + Quoted(filter) + " " + Quoted(report), &out), 0) << out;
    std::vector<std::string> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// The single-instance lock taken in `runtime` by this process; released by
// Release or at the end.
class HeldLock {
  public:
    explicit HeldLock(const std::string& runtime)
        // Not inherited: the program would hold the lock itself.
        : fd_(open((runtime + "/" + kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        EXPECT_EQ(flock(fd_, LOCK_EX | LOCK_NB), 0);
    }
    ~HeldLock() { Release(); }
    void Release() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

std::string TwoFrames() { return EncodeGif(SimpleAnimation(8, 8, 2)); }

struct StatusCase {
    const char* name;
    std::vector<std::string> files;  // "good", "bad": written into the input folder
    std::vector<std::string> extra_args;
    int lock_release_ms;  // -1: lock free; 0: held throughout; else released after that long
    const char* lock_wait;
    int expected;
};

TEST(ExitStatus, SaysHowTheRunWent) {
    const StatusCase cases[] = {
        {"all converted", {"good", "good"}, {}, -1, "", 0},
        {"some not converted", {"good", "bad"}, {}, -1, "", 1},
        {"none converted", {"bad", "bad"}, {}, -1, "", 2},
        {"no input file found", {}, {}, -1, "", 2},
        {"refused", {"good"}, {"-c", "PNG"}, -1, "", 2},
        {"option error", {"good"}, {"-i"}, -1, "", 2},
        {"lock held", {"good"}, {}, 0, "", 3},
        {"lock held past the wait", {"good"}, {}, 0, "0.3", 3},
        {"lock freed within the wait", {"good"}, {}, 700, "20", 0},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir in, out, runtime;
        for (size_t i = 0; i < c.files.size(); ++i)
            WriteFileBytes(in / (std::to_string(i) + ".gif"), c.files[i] == "good" ? TwoFrames() : "not a GIF");
        std::vector<std::string> args{"-i", in.path() + "/", "-o", out.path(), "-c", "png", "-q"};
        args.insert(args.end(), c.extra_args.begin(), c.extra_args.end());
        RunOptions options;
        options.env = {{"KESTRUNE_EXIT_STATUS", "1"}, {"XDG_RUNTIME_DIR", runtime.path()},
                       {"KESTRUNE_LOCK_WAIT", c.lock_wait}};
        std::unique_ptr<HeldLock> lock;
        std::thread releaser;
        if (c.lock_release_ms >= 0) lock = std::make_unique<HeldLock>(runtime.path());
        if (c.lock_release_ms > 0)
            releaser = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(c.lock_release_ms));
                lock->Release();
            });
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = RunKestrune(args, options);
        const auto took = std::chrono::steady_clock::now() - start;
        if (releaser.joinable()) releaser.join();
        EXPECT_EQ(r.exit_code, c.expected) << DecodeUtf16Le(r.out) << r.err;
        if (c.expected == 3) {
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "kestrunecmd: another run holds the lock (" + runtime / kLockName + ")\n");
        } else {
            EXPECT_EQ(r.err, "");
        }
        if (c.lock_release_ms > 0) {
            EXPECT_GE(took, std::chrono::milliseconds(c.lock_release_ms));
            EXPECT_EQ(ListNames(out.path()).size(), 2u);
        }
        if (std::string_view(c.lock_wait) == "0.3") {
            EXPECT_GE(took, std::chrono::milliseconds(300));
        }
    }
}

// Without the variable the status stays 0 and a second copy silent, whatever
// happened.
TEST(ExitStatus, DefaultStaysZero) {
    TempDir in, runtime;
    WriteFileBytes(in / "a.gif", "not a GIF");
    RunOptions options;
    options.env = {{"KESTRUNE_EXIT_STATUS", ""}, {"XDG_RUNTIME_DIR", runtime.path()}};
    EXPECT_EQ(RunKestrune({"-i", in / "a.gif", "-q"}, options).exit_code, 0);
    HeldLock lock(runtime.path());
    const ProcessResult held = RunKestrune({"-i", in / "a.gif", "-q"}, options);
    EXPECT_EQ(held.exit_code, 0);
    EXPECT_EQ(held.out + held.err, "");
}

TEST(Report, NamesEveryInputWithItsOutcome) {
    TempDir in, out;
    const std::string good = TwoFrames();
    std::string huge = good;
    huge[6] = huge[7] = huge[8] = huge[9] = '\xff';  // a 65535 x 65535 screen
    const std::vector<std::pair<std::string, std::string>> files = {
        {"good.gif", good},
        {"text.gif", "not a GIF at all"},
        {"truncated.gif", good.substr(0, 20)},
        {"huge.gif", huge},
        {"blocked.gif", EncodeGif(LetterF(8, 8))},
        {"name\xff\xfe.gif", good},
    };
    std::string list;
    for (const auto& [name, bytes] : files) {
        WriteFileBytes(in / name, bytes);
        list += in / name + "\n";
    }
    WriteFileBytes(in / "list.txt", list);
    // A folder where the output of blocked.gif would go: not even root may
    // put a file there.
    fs::create_directories(out / "blocked.png/inside");
    const std::string report = out / "report.jsonl";
    WriteFileBytes(report, "left from an earlier run\n");

    RunOptions options;
    options.env = {{"KESTRUNE_REPORT", report}, {"KESTRUNE_EXIT_STATUS", "1"}};
    const ProcessResult r = RunKestrune({"-i", in / "list.txt", "-o", out.path(), "-c", "png", "-q"}, options);
    EXPECT_EQ(r.exit_code, 1) << DecodeUtf16Le(r.out) << r.err;

    const std::vector<std::string> got =
        Jq("if .summary then [.converted, .total] else [(.input | split(\"/\") | last), .subfolder, .status, "
           "(.reason | type), (.outputs | map(split(\"/\") | last)), .frames, (.ms | type)] end",
           report);
    const std::vector<std::string> expected = {
        R"(["good.gif","","converted","null",["good[1].png","good[2].png"],2,"number"])",
        R"(["text.gif","","failed","string",[],0,"number"])",
        R"(["truncated.gif","","failed","string",[],0,"number"])",
        R"(["huge.gif","","failed","string",[],0,"number"])",
        R"(["blocked.gif","","failed","string",[],0,"number"])",
        "[\"name\xef\xbf\xbd\xef\xbf\xbd.gif\",\"\",\"converted\",\"null\",[\"name\xef\xbf\xbd\xef\xbf\xbd[1].png\","
        "\"name\xef\xbf\xbd\xef\xbf\xbd[2].png\"],2,\"number\"]",
        "[2,6]",
    };
    EXPECT_EQ(got, expected);
    // The reasons tell the failures apart.
    const std::vector<std::string> reasons = Jq("select(.status == \"failed\") | .reason", report);
    EXPECT_EQ(std::set<std::string>(reasons.begin(), reasons.end()).size(), 3u) << testing::PrintToString(reasons);
    // The bytes that are not UTF-8 are there to be had back exactly.
    const std::string raw = ReadFileBytes(report);
    EXPECT_NE(raw.find("name\\udcff\\udcfe.gif"), std::string::npos) << raw;
    EXPECT_NE(raw.find("name\\udcff\\udcfe[2].png"), std::string::npos) << raw;
}

// Broken by SIGTERM part-way, the report names the inputs not reached and
// ends with its summary; killed outright it keeps its whole lines.
TEST(Report, BrokenRunEndsItWholeAndKilledRunLeavesWholeLines) {
    for (const int sig : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(sig);
        TempDir in, out;
        GifImage big = SimpleAnimation(400, 400, 12);
        for (int i = 0; i < 40; ++i) WriteGif(in / ("f" + std::to_string(100 + i) + ".gif"), big);
        const std::string report = out / "report.jsonl";
        RunOptions options;
        options.env = {{"KESTRUNE_REPORT", report}, {"KESTRUNE_EXIT_STATUS", "1"}, {"KESTRUNE_THREADS", "1"}};
        StartedKestrune run({"-i", in.path() + "/", "-o", out.path(), "-c", "tiff", "-q"}, options);
        // Once a file has been reported, the run is broken.
        for (int i = 0; i < 3000 && ReadFileBytes(report).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        run.Signal(sig);
        const int code = run.Wait();
        const std::vector<std::string> statuses = Jq(".status // \"summary\"", report);
        ASSERT_FALSE(statuses.empty());
        if (sig == SIGKILL) {
            EXPECT_EQ(code, 128 + SIGKILL);
            EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "\"summary\""), 0);
            continue;
        }
        EXPECT_EQ(code, 1);
        ASSERT_EQ(statuses.size(), 41u);
        EXPECT_EQ(statuses.front(), "\"converted\"");
        EXPECT_EQ(statuses.back(), "\"summary\"");
        EXPECT_EQ(statuses[39], "\"not reached\"");
        const std::vector<std::string> summary = Jq("select(.summary) | [.converted, .total]", report);
        const auto converted = std::count(statuses.begin(), statuses.end(), "\"converted\"");
        EXPECT_EQ(summary, std::vector<std::string>{"[" + std::to_string(converted) + ",40]"});
    }
}

// The README's recipes, as written, on this machine: the shards split from
// one list, converted by GNU parallel, their reports merged, against one run
// over the whole list. Only the folders (/data/gifs, /shared) are moved into
// a temporary folder.
TEST(ManyMachines, ParallelRecipeGivesWhatOneRunGives) {
    const std::string readme = ReadFileBytes(std::string(KESTRUNE_SOURCE_DIR) + "/README.md");
    const auto block = [&](const std::string& marker) {
        const size_t at = readme.find(marker);
        EXPECT_NE(at, std::string::npos) << marker;
        const size_t begin = readme.rfind("```sh\n", at) + 6;
        return readme.substr(begin, readme.find("```", at) - begin);
    };
    TempDir root;
    const auto moved = [&](std::string text) {
        text = std::regex_replace(text, std::regex("/data/gifs"), root / "gifs");
        return std::regex_replace(text, std::regex("/shared"), root / "shared");
    };
    const std::string split = moved(block("split -n"));
    const std::string parallel = moved(block("| parallel"));
    const std::string failed = moved(block("jq -r"));

    fs::create_directories(root / "gifs/deeper");
    fs::create_directories(root / "shared");
    for (int i = 0; i < 13; ++i)
        WriteGif(root / ("gifs/" + std::string(i % 3 ? "" : "deeper/") + "g" + std::to_string(i) + ".gif"),
                 SimpleAnimation(6 + i, 6, 1 + i % 3));
    WriteFileBytes(root / "gifs/broken.gif", "not a GIF");
    // The recipe's lock folders (mktemp -d) go into the test's folder.
    fs::create_directories(root / "tmp");
    const std::string path = "TMPDIR=" + Quoted(root / "tmp") + " PATH=" +
                             Quoted(fs::path(KestruneBinary()).parent_path().string()) + ":\"$PATH\" ";
    std::string log;
    ASSERT_EQ(Shell(path + "sh -ec " + Quoted(split), &log), 0) << split << log;
    // One shard holds the broken file, so parallel counts one failed job.
    EXPECT_EQ(Shell(path + "sh -ec " + Quoted(parallel), &log), 1) << parallel << log;
    EXPECT_EQ(Shell("sh -c " + Quoted(failed), &log), 0) << log;
    EXPECT_NE(log.find(root / "gifs/broken.gif\tfailed\t"), std::string::npos) << log;
    EXPECT_NE(std::regex_replace(log, std::regex("\\s"), "").find(R"({"shards":8,"converted":13,"total":14})"),
              std::string::npos)
        << log;

    // The same list in one run.
    fs::create_directories(root / "single");
    RunOptions options;
    options.env = {{"KESTRUNE_REPORT", root / "single.jsonl"}, {"KESTRUNE_EXIT_STATUS", "1"}};
    EXPECT_EQ(RunKestrune({"-i", root / "shared/all.txt", "-o", root / "single", "-c", "png", "-q"}, options).exit_code,
              1);
    std::string merged, single;
    const std::string per_file = "jq -c -s 'map(select(.summary | not) | del(.ms, .outputs)) | sort_by(.input)' ";
    ASSERT_EQ(Shell(per_file + Quoted(root / "shared/reports") + "/shard-*.jsonl", &merged), 0) << merged;
    ASSERT_EQ(Shell(per_file + Quoted(root / "single.jsonl"), &single), 0) << single;
    EXPECT_EQ(merged, single);
    std::multiset<std::string> sharded_outputs;
    for (const auto& shard : ListNames(root / "shared/out"))
        for (const auto& name : ListNames(root / "shared/out/" + shard)) sharded_outputs.insert(name);
    const std::vector<std::string> one_run = ListNames(root / "single");
    EXPECT_EQ(sharded_outputs, std::multiset<std::string>(one_run.begin(), one_run.end()));
    EXPECT_EQ(one_run.size(), 25u);  // 13 files of 1, 2 or 3 frames
}

}  // namespace
