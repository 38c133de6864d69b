// Helpers of the robustness tests: the corpus table, an independent reading
// of a GIF's block structure, batch runs with their per-file verdicts, and a
// look at what a run left in its output folder.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/gif_writer.h"
#include "support/harness.h"

namespace robustness {

using namespace testing_support;
namespace fs = std::filesystem;

// One row of the corpus's SOURCES.md table.
struct CorpusFile {
    std::string name;    // file name in the corpus folder
    std::string status;  // "ok", "odd" or "BROKEN"
    int screen_width = 0, screen_height = 0;
    int frames = 0;
};

// The rows of SOURCES.md; empty when the table cannot be read.
std::vector<CorpusFile> CorpusTable();
std::vector<CorpusFile> CorpusFilesWithStatus(const std::string& status);

// What the block structure of a GIF says, read without any image library:
// the logical screen, and the image descriptors met before the trailer, the
// end of the data or anything that is not a block.
struct GifLayout {
    bool valid_header = false;
    int screen_width = 0, screen_height = 0;
    int frames = 0;
    bool frames_inside_screen = true;
};
GifLayout ReadGifLayout(const std::string& bytes);

// Size of a file in bytes, -1 when there is none.
int64_t BytesOf(const std::string& path);

// The base name of a path without its last extension.
std::string StemOf(const std::string& name);

struct BatchRun {
    ProcessResult process;
    std::vector<std::string> lines;
    // Input path -> "OK" / "Not OK", from the debug lines.
    std::map<std::string, std::string> verdicts;
    int taken = 0;  // number of "Processing: " lines
};

// Soft resource limits of a child: {RLIMIT_..., value}.
using Limits = std::vector<std::pair<int, uint64_t>>;

// kestrunecmd with the given arguments in debug mode (under the limits),
// per-file verdicts parsed; expects a normal exit within the time bound.
BatchRun RunDebugBatch(std::vector<std::string> args, int timeout_seconds = 600,
                       const RunOptions& base = {}, const Limits& limits = {});

// Input path -> the verdict line ("OK" / "Not OK") two lines after its
// "Processing: " line in a debug transcript.
std::map<std::string, std::string> Verdicts(const std::vector<std::string>& lines);

// The "Files converted: X of Y" line as {X, Y}; {-1, -1} when absent.
std::pair<int, int> SummaryCounts(const std::vector<std::string>& lines);

// Files below `folder` (relative paths, sorted), and those among them that a
// run may not leave behind: temporary files of the writers (".kestrune*") and
// anything not named like an output of one of `stems` for `extension`
// ("stem.ext" or "stem[n].ext").
std::vector<std::string> FilesBelow(const std::string& folder);
std::vector<std::string> UnexpectedFiles(const std::string& folder, const std::set<std::string>& stems,
                                         const std::string& extension);

// The outputs a converted file of `frames` frames gets with "ALL": one name
// without a number for a still, numbered names otherwise.
std::vector<std::string> ExpectedOutputs(const std::string& stem, int frames, const std::string& extension);

// Width and height of an image file as FreeImage reads it (by content, else
// by extension for formats without a signature); {0, 0} when unreadable.
std::pair<int, int> ImageSizeOf(const std::string& path);

// kestrunecmd under the limits, through a child that sets them before it
// starts the program.
ProcessResult RunKestruneLimited(const std::vector<std::string>& args, const Limits& limits,
                                 const RunOptions& options = {});

// True when this build runs under AddressSanitizer, whose shadow memory makes
// an address-space limit meaningless.
constexpr bool kAddressSanitizer =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

// Skips the test when the program has not been built.
#define ROBUSTNESS_REQUIRE_PROGRAM()                                                  \
    do {                                                                              \
        if (access(::testing_support::KestruneBinary().c_str(), X_OK) != 0)           \
            GTEST_SKIP() << "kestrunecmd not built: " << ::testing_support::KestruneBinary(); \
    } while (0)

}  // namespace robustness
