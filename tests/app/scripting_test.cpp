// What scripts get when they ask for it: the exit status, waiting for the
// lock, the JSON report (read back with jq), the README's parallel recipe.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include "support/gif_writer.h"
#include "support/harness.h"

namespace {

using namespace testing_support;
using std::chrono::milliseconds;

std::string Quoted(const std::string& text) { return "'" + std::regex_replace(text, std::regex("'"), "'\\''") + "'"; }

// A shell command's exit code, with its output (and errors) in `out`.
int Shell(const std::string& command, std::string& out) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    out.clear();
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RunOptions WithEnv(std::map<std::string, std::string> env) {
    RunOptions options;
    options.env = std::move(env);
    return options;
}

// What jq makes of the report, in compact lines.
std::string Jq(const std::string& filter, const std::string& report, const std::string& flags = "-c") {
    std::string out;
    EXPECT_EQ(Shell("jq " + flags + " " + Quoted(filter) + " " + Quoted(report), out), 0) << out;
    return out;
}

TEST(ExitStatus, SaysHowTheRunWent) {
    // The input folder's GIFs, more options, when the lock is freed (-1: never held, 0: never freed).
    struct Case { std::vector<std::string> files, extra_args; int free_after_ms; const char* wait; int expected; };
    const std::string gif = EncodeGif(SimpleAnimation(8, 8, 2));
    const Case cases[] = {
        {{gif, gif}, {}, -1, "", 0},        {{gif, "text"}, {}, -1, "", 1},   {{"text", "text"}, {}, -1, "", 2},
        {{}, {}, -1, "", 2},                {{gif}, {"-c", "PNG"}, -1, "", 2}, {{gif}, {"-i"}, -1, "", 2},
        {{gif}, {}, 0, "", 3},              {{gif}, {}, 0, "0.3", 3},          {{gif}, {}, 700, "20", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "expected " << c.expected << ", lock wait " << c.wait);
        TempDir in, out, runtime;
        for (size_t i = 0; i < c.files.size(); ++i) WriteFileBytes(in / (std::to_string(i) + ".gif"), c.files[i]);
        std::vector<std::string> args{"-i", in.path() + "/", "-o", out.path(), "-c", "png", "-q"};
        args.insert(args.end(), c.extra_args.begin(), c.extra_args.end());
        const std::string lock_path = runtime / "Tarvel GIF to IMAGE 2.5.lock";
        // Not inherited by the program, which would then hold the lock itself.
        const int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_TRUE(c.free_after_ms < 0 || flock(lock, LOCK_EX | LOCK_NB) == 0);
        std::thread freer([&] {
            std::this_thread::sleep_for(milliseconds(std::max(c.free_after_ms, 0)));
            if (c.free_after_ms != 0) close(lock);
        });
        const RunOptions options = WithEnv(
            {{"KESTRUNE_EXIT_STATUS", "1"}, {"XDG_RUNTIME_DIR", runtime.path()}, {"KESTRUNE_LOCK_WAIT", c.wait}});
        const ProcessResult r = RunKestrune(args, options);
        freer.join();
        if (c.free_after_ms == 0) close(lock);
        EXPECT_EQ(r.exit_code, c.expected) << DecodeUtf16Le(r.out) << r.err;
        EXPECT_EQ(r.err, c.expected == 3 ? "kestrunecmd: another run holds the lock (" + lock_path + ")\n" : "");
        EXPECT_TRUE(c.free_after_ms <= 0 || ListNames(out.path()).size() == 2);  // converted once free
    }
}

TEST(Report, NamesEveryInputWithItsOutcome) {
    TempDir in, out;
    const std::string good = EncodeGif(SimpleAnimation(8, 8, 2));
    std::string huge = good;
    huge[6] = huge[7] = huge[8] = huge[9] = '\xff';  // a 65535 x 65535 screen
    // A folder's files are taken by name.
    for (const auto& [name, bytes] : std::map<std::string, std::string>{
             {"good.gif", good}, {"text.gif", "not a GIF"}, {"truncated.gif", good.substr(0, 20)},
             {"huge.gif", huge}, {"blocked.gif", EncodeGif(LetterF(8, 8))}, {"name\xff\xfe.gif", good}})
        WriteFileBytes(in / name, bytes);
    std::filesystem::create_directories(out / "blocked.png/inside");  // not even root may put the output there
    const std::string report = out / "report.jsonl";
    WriteFileBytes(report, "left from an earlier run\n");
    const RunOptions options = WithEnv({{"KESTRUNE_REPORT", report}, {"KESTRUNE_EXIT_STATUS", "1"}});
    EXPECT_EQ(RunKestrune({"-i", in.path() + "/", "-o", out.path(), "-c", "png", "-q"}, options).exit_code, 1);

    // Names as jq shows them (U+FFFD for a byte that is not UTF-8), and the keys.
    const auto failed = [](const char* frames) {
        return R"(","failed",[],)" + std::string(frames) +
               R"(,"input subfolder status reason outputs frames ms"])" "\n";
    };
    const std::string converted = R"(,2,"input subfolder status outputs frames ms"])" "\n";
    EXPECT_EQ(Jq("if .summary then [.converted, .total] else [(.input | split(\"/\") | last), .status, (.outputs | "
                 "map(split(\"/\") | last)), .frames, (to_entries | map(.key) | join(\" \"))] end",
                 report),
              R"(["blocked.gif)" + failed("1") + R"(["good.gif","converted",["good[1].png","good[2].png"])" +
                  converted + R"(["huge.gif)" + failed("0") +
                  "[\"name\ufffd\ufffd.gif\",\"converted\",[\"name\ufffd\ufffd[1].png\",\"name\ufffd\ufffd[2].png\"]" +
                  converted + R"(["text.gif)" + failed("0") + R"(["truncated.gif)" + failed("0") + "[2,6]\n");
    // Unreadable, too large, not put in place: three reasons.
    EXPECT_EQ(Jq("map(select(.status == \"failed\").reason) | unique | length", report, "-s"), "3\n");
    // The bytes that are not UTF-8 can be had back exactly.
    EXPECT_NE(ReadFileBytes(report).find("name\\udcff\\udcfe[2].png"), std::string::npos);
}

// Broken by SIGTERM part-way, the report names the inputs not reached and
// ends with its summary; killed outright, it keeps whole lines.
TEST(Report, BrokenOrKilledRunLeavesWholeLines) {
    for (const int sig : {SIGTERM, SIGKILL}) {
        TempDir in, out;
        const GifImage big = SimpleAnimation(400, 400, 12);
        for (int i = 0; i < 40; ++i) WriteGif(in / ("f" + std::to_string(100 + i) + ".gif"), big);
        const std::string report = out / "report.jsonl";
        StartedKestrune run({"-i", in.path() + "/", "-o", out.path(), "-c", "tiff", "-q"},
                            WithEnv({{"KESTRUNE_REPORT", report}, {"KESTRUNE_EXIT_STATUS", "1"},
                                     {"KESTRUNE_THREADS", "1"}}));
        for (int i = 0; i < 3000 && ReadFileBytes(report).empty(); ++i) std::this_thread::sleep_for(milliseconds(5));
        run.Signal(sig);
        EXPECT_EQ(run.Wait(), sig == SIGKILL ? 128 + SIGKILL : 1);
        // Every line is read; killed, there is no summary.
        EXPECT_EQ(Jq(sig == SIGKILL ? "[.[0].status, map(select(.summary)) == []]"
                                    : "[.[0].status, .[-2].status, .[-1].converted == (map(select(.status == "
                                      "\"converted\")) | length), .[-1].total, length]",
                     report, "-cs"),
                  sig == SIGKILL ? "[\"converted\",true]\n" : "[\"converted\",\"not reached\",true,40,41]\n");
    }
}

// The README's recipes as written, /data/gifs and /shared moved into a
// temporary folder: the shards converted by GNU parallel on this machine,
// their reports merged, against one run over the whole list.
TEST(ManyMachines, ParallelRecipeGivesWhatOneRunGives) {
    const std::string readme = ReadFileBytes(std::string(KESTRUNE_SOURCE_DIR) + "/README.md");
    TempDir root;
    const auto recipe = [&](const std::string& marker) {
        const size_t at = readme.find(marker), begin = readme.rfind("```sh\n", at) + 6;
        const std::string text = std::regex_replace(readme.substr(begin, readme.find("```", at) - begin),
                                                    std::regex("/data/gifs"), root / "gifs");
        return "sh -ec " + Quoted(std::regex_replace(text, std::regex("/shared"), root / "shared"));
    };
    for (const char* folder : {"gifs/deeper", "tmp", "single"}) std::filesystem::create_directories(root / folder);
    for (int i = 0; i < 13; ++i)
        WriteGif(root / ("gifs/" + std::string(i % 3 ? "" : "deeper/") + "g" + std::to_string(i) + ".gif"),
                 SimpleAnimation(6 + i, 6, 1 + i % 3));
    WriteFileBytes(root / "gifs/broken.gif", "not a GIF");
    // The recipe's lock folders (mktemp -d) go into the temporary folder too.
    const std::string env = "TMPDIR=" + Quoted(root / "tmp") + " PATH=" +
                            Quoted(std::filesystem::path(KestruneBinary()).parent_path()) + ":\"$PATH\" ";
    std::string log;
    ASSERT_EQ(Shell(env + recipe("split -n"), log), 0) << log;
    EXPECT_EQ(Shell(env + recipe("| parallel"), log), 1) << log;  // one shard holds the broken file
    EXPECT_EQ(Shell(recipe("jq -r"), log), 0) << log;
    EXPECT_NE(log.find(root / "gifs/broken.gif\tfailed\t"), std::string::npos) << log;
    EXPECT_NE(log.find(R"({"shards":8,"converted":13,"total":14})"), std::string::npos) << log;

    RunKestrune({"-i", root / "shared/all.txt", "-o", root / "single", "-c", "png", "-q"},
                WithEnv({{"KESTRUNE_REPORT", root / "single.jsonl"}}));
    // Per input the same line but for the time, and outputs of the same names.
    const std::string lines =
        "<(jq -c -s 'map(select(.summary | not) | del(.ms) | .outputs |= map(split(\"/\") | last)) | sort_by(.input)' ";
    EXPECT_EQ(Shell("cd " + Quoted(root.path()) + " && bash -c " +
                        Quoted("diff " + lines + "shared/reports/shard-*.jsonl) " + lines + "single.jsonl)"),
                    log), 0) << log;
    EXPECT_EQ(ListNames(root / "single").size(), 25u);  // 13 files of 1, 2 or 3 frames
}

}  // namespace
