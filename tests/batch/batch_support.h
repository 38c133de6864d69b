// Helpers of the batch tests: running a conversion and reading its console
// lines, comparing transcripts whole, and looking at what a run left behind.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "support/gif_writer.h"
#include "support/harness.h"

namespace batch_tests {

using namespace testing_support;
namespace fs = std::filesystem;

struct Outcome {
    ProcessResult process;
    std::vector<std::string> lines;
};

inline Outcome Kestrune(const std::vector<std::string>& args, const RunOptions& options = {}) {
    Outcome run;
    run.process = RunKestrune(args, options);
    run.lines = ConsoleLines(run.process.out);
    EXPECT_FALSE(run.process.timed_out);
    EXPECT_EQ(run.process.exit_code, 0) << run.process.err;
    return run;
}

// The four lines printed before every batch that is not quiet.
inline std::vector<std::string> Banner() {
    return {"Tarvel GIF to IMAGE 2.5", kestrune::kCopyrightNoticeAscii, kestrune::kWebAddress, " "};
}

inline std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += "  |" + l + "|\n";
    return text;
}

// Transcripts are compared whole; a mismatch shows both.
#define EXPECT_TRANSCRIPT(actual, expected)                                           \
    EXPECT_EQ(actual, expected) << "actual:\n"                                        \
                                << ::batch_tests::Joined(actual) << "expected:\n"     \
                                << ::batch_tests::Joined(expected)

inline bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline int CountOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// Every file below a folder, as paths relative to it, sorted.
inline std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_directory(ec)) files.push_back(fs::relative(it->path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The writers publish a finished file by renaming a ".kestrune..." temporary;
// none may stay behind, whatever happened to the file.
#define EXPECT_NO_TEMPORARY_FILES(folder)                                                  \
    do {                                                                                   \
        for (const std::string& f : ::batch_tests::FilesBelow(folder))                     \
            EXPECT_EQ(fs::path(f).filename().string().rfind(".kestrune", 0), std::string::npos) \
                << "temporary file left: " << f;                                           \
    } while (0)

inline void WriteStill(const std::string& path, int w = 12, int h = 10) { WriteGif(path, LetterF(w, h)); }

inline void MakeFolder(const std::string& path) { fs::create_directories(path); }

// The first bytes of a GIF with a valid header but nothing decodable after.
inline std::string TruncatedGif() {
    const std::string whole = EncodeGif(SimpleAnimation(16, 16, 3));
    return whole.substr(0, 20);
}

struct ImageSize {
    int width = 0, height = 0;
    bool operator==(const ImageSize&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const ImageSize& s) {
    return os << s.width << "x" << s.height;
}
inline ImageSize SizeOf(const std::string& path) {
    TestBitmap image = LoadImageFile(path);
    if (!image) return {};
    return {static_cast<int>(FreeImage_GetWidth(image.get())), static_cast<int>(FreeImage_GetHeight(image.get()))};
}

inline Rgba CentrePixel(const std::string& path) {
    TestBitmap image = LoadImageFile(path);
    if (!image) return {0, 0, 0, 0};
    return PixelAt(image.get(), static_cast<int>(FreeImage_GetWidth(image.get())) / 2,
                   static_cast<int>(FreeImage_GetHeight(image.get())) / 2);
}

inline time_t ModificationTime(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    return st.st_mtim.tv_sec;
}

inline void SetModificationTime(const std::string& path, time_t when) {
    struct timespec times[2];
    times[0].tv_sec = when;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The lines of each file's three worker lines, keyed by its input path: the
// input list is visited in its own order, so tests look files up by name.
struct FileReport {
    std::string saving_as;
    std::string verdict;
};
inline std::vector<std::pair<std::string, FileReport>> WorkerReports(const std::vector<std::string>& lines) {
    std::vector<std::pair<std::string, FileReport>> reports;
    for (size_t i = 0; i + 2 < lines.size(); ++i) {
        if (lines[i].rfind("Processing: ", 0) != 0) continue;
        FileReport r;
        if (lines[i + 1].rfind("Saving As: ", 0) == 0) r.saving_as = lines[i + 1].substr(11);
        r.verdict = lines[i + 2];
        reports.emplace_back(lines[i].substr(12), r);
    }
    return reports;
}

// A run's input and output folders, fresh for every test.
class InOutFolders : public ::testing::Test {
  protected:
    void SetUp() override {
        in = dir / "in";
        out = dir / "out";
        MakeFolder(in);
        MakeFolder(out);
    }
    TempDir dir;
    std::string in, out;
};

}  // namespace batch_tests
