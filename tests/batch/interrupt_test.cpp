// A run ended by Ctrl-C, SIGTERM or SIGHUP in the middle of its saves: when
// the process has ended no temporary file is left, and every output of an
// earlier run is either untouched or replaced by a complete file.
#include <signal.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "batch_support.h"

namespace batch_tests {
namespace {

using Clock = std::chrono::steady_clock;

// Large, noisy frames, so that most of a run is spent saving them.
GifImage BusyAnimation() {
    GifImage gif;
    gif.width = 160;
    gif.height = 160;
    gif.global_palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {0, 0, 0}, {90, 40, 200}};
    std::mt19937 random(11);
    for (int k = 0; k < 4; ++k) {
        GifFrame f;
        f.width = gif.width;
        f.height = gif.height;
        for (int i = 0; i < f.width * f.height; ++i) f.indices.push_back(static_cast<uint8_t>(random() % 6));
        gif.frames.push_back(f);
    }
    return gif;
}

std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& name : FilesBelow(folder)) contents[name] = ReadFileBytes(folder + "/" + name);
    return contents;
}

// True once the process catches SIGTERM: its close handlers are in place
// (before that, the system's default action would end it).
bool CatchesCloseSignals(int pid) {
    for (int i = 0; i < 5000; ++i) {
        const std::string status = ReadFileBytes("/proc/" + std::to_string(pid) + "/status");
        const size_t at = status.find("SigCgt:");
        if (at == std::string::npos) return false;  // it has ended already
        const unsigned long long caught = std::stoull(status.substr(at + 7), nullptr, 16);
        if (caught & (1ull << (SIGTERM - 1))) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

struct WriterCase {
    const char* conversion;
    const char* kind;
};

// One format per writer: FreeImage's with frames saved side by side, its
// other encoders one frame at a time, DevIL through its library-wide image,
// JPEG XR, and the BMP writer with an exact colour table.
const WriterCase kWriters[] = {
    {"png", "frames side by side"}, {"gif", "one frame at a time"}, {"psd", "DevIL"},
    {"jxr", "JPEG XR"},             {"bmp", "exact colour table"},
};

std::vector<std::string> ConversionArgs(const std::string& input, const std::string& output,
                                        const std::string& conversion) {
    std::vector<std::string> args{"-i", input, "-o", output, "-c", conversion, "-q", "--width=480", "--height=480"};
    if (conversion == "bmp") args.insert(args.end(), {"--bmp-bpp=8", "--bmp-color-table=EXACT"});
    return args;
}

TEST(Interrupt, CloseSignalsMidSaveLeaveNoTemporaryFileAndNoDamagedOutput) {
    TempDir dir;
    const std::string input = dir / "anim.gif";
    WriteGif(input, BusyAnimation());
    RunOptions options;
    // Several saves in flight at once, whatever the machine.
    options.env["KESTRUNE_THREADS"] = "4";

    const auto seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("random seed " + std::to_string(seed));
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    int runs = 0;

    for (const WriterCase& writer : kWriters) {
        SCOPED_TRACE(std::string(writer.conversion) + " (" + writer.kind + ")");
        // A whole run gives the reference outputs and how long a run takes.
        const std::string reference = dir / (std::string("reference-") + writer.conversion);
        MakeFolder(reference);
        const auto started = Clock::now();
        Kestrune(ConversionArgs(input, reference, writer.conversion), options);
        const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
        const auto expected = Contents(reference);
        ASSERT_EQ(expected.size(), BusyAnimation().frames.size());

        // Some runs write over the outputs of a finished run, some into an
        // empty folder.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const std::string output = dir / (std::string(writer.conversion) + "-" + std::to_string(attempt));
            MakeFolder(output);
            const bool over_earlier = attempt % 2 == 0;
            if (over_earlier)
                for (const auto& [name, bytes] : expected) WriteFileBytes(output + "/" + name, bytes);

            StartedKestrune run(ConversionArgs(input, output, writer.conversion), options);
            ASSERT_TRUE(CatchesCloseSignals(run.pid()));
            std::uniform_int_distribution<long long> moment(0, whole.count() * 9 / 10);
            std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
            const int sig = signals[runs++ % 3];
            run.Signal(sig);
            ASSERT_EQ(run.Wait(), 0) << "signal " << sig;

            for (const auto& [name, bytes] : Contents(output)) {
                EXPECT_FALSE(name.starts_with(".kestrune")) << "temporary file left: " << name << " (signal " << sig << ")";
                const auto it = expected.find(name);
                if (it == expected.end()) continue;
                EXPECT_TRUE(bytes == it->second) << name << " is not the complete output (signal " << sig << ")";
            }
            if (over_earlier) {
                EXPECT_EQ(Contents(output).size(), expected.size()) << "an earlier output was lost";
            }
        }
    }
}

}  // namespace
}  // namespace batch_tests
