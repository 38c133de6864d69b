// Shared test helpers: temporary folders, running kestrunecmd, decoding its
// console output, reading images back, the shared GIF corpus.
#pragma once

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder, removed with everything in it (read-only parts included).
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path + "/" + name
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

struct ProcessResult {
    std::string out;   // raw bytes of standard output
    std::string err;   // raw bytes of standard error
    int exit_code = -1;
    bool timed_out = false;
};

struct RunOptions {
    std::map<std::string, std::string> env;  // added to (or replacing) the environment
    std::string stdin_data;                  // written to standard input, then closed
    std::string working_dir;
    int timeout_seconds = 120;
};

// Runs the built kestrunecmd with its own XDG_RUNTIME_DIR and
// XDG_CONFIG_HOME (unless `options.env` names them), stdout and stderr
// captured through pipes.
ProcessResult RunKestrune(const std::vector<std::string>& args, const RunOptions& options = {});
std::string KestruneBinary();

// kestrunecmd started in the background, its console output discarded, with
// the same environment as RunKestrune; killed and reaped if still running
// when this ends.
class StartedKestrune {
  public:
    StartedKestrune(const std::vector<std::string>& args, const RunOptions& options = {});
    ~StartedKestrune();
    StartedKestrune(const StartedKestrune&) = delete;
    StartedKestrune& operator=(const StartedKestrune&) = delete;
    int pid() const { return pid_; }
    void Signal(int sig) const;
    // Exit code, or 128 + signal number when a signal ended it; -1 when it
    // did not end within the limit (it is then killed).
    int Wait(int limit_seconds = 120);

  private:
    std::unique_ptr<TempDir> runtime_;
    int pid_ = -1;
};

// UTF-16LE bytes to UTF-8.
std::string DecodeUtf16Le(const std::string& bytes);
// Console lines of redirected output: decoded, split at CR LF (the last CR LF
// ends the last line).
std::vector<std::string> ConsoleLines(const std::string& bytes);

// The shared GIF corpus folder, or "" when it is not there.
std::string CorpusDir();
#define KESTRUNE_REQUIRE_CORPUS()                                                     \
    do {                                                                              \
        if (::testing_support::CorpusDir().empty())                                   \
            GTEST_SKIP() << "GIF corpus (../shared/testdata/gif) not found; skipped"; \
    } while (0)

struct BitmapFree {
    void operator()(FIBITMAP* b) const {
        if (b) FreeImage_Unload(b);
    }
};
using TestBitmap = std::unique_ptr<FIBITMAP, BitmapFree>;

// Any image FreeImage reads, by its content.
TestBitmap LoadImageFile(const std::string& path);

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};
// Pixel (x, y) with y counted from the top, whatever the depth (palette,
// 16, 24, 32 bits; 1-bit and 8-bit through the palette).
Rgba PixelAt(FIBITMAP* image, int x, int y);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Names of the entries of a folder, sorted.
std::vector<std::string> ListNames(const std::string& folder);

// A parameterised test's name from words: letters and digits kept, every
// other run of characters one "_", the same in every build for ctest -R.
inline std::string ParamName(const std::vector<std::string>& words) {
    std::string name;
    for (const std::string& word : words)
        for (const char c : word + " ")
            if (std::isalnum(static_cast<unsigned char>(c))) name += c;
            else if (!name.empty() && name.back() != '_') name += '_';
    return name.substr(0, name.find_last_not_of('_') + 1);
}

}  // namespace testing_support

inline std::ostream& operator<<(std::ostream& os, const testing_support::Rgba& c) {
    return os << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << "," << int(c.a) << ")";
}
