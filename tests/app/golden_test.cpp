// Exact texts of the program compared with the files in tests/golden/: the
// help, the version, debug listings and "config.ini" as written.
//
// A golden file holds the text as UTF-8 with LF line ends and "{IN}" / "{OUT}"
// where a run's temporary folders stand; the test turns it back into the exact
// bytes expected (UTF-16LE with CR LF for redirected console output, UTF-8
// with CR LF for "config.ini"). To rewrite the files after an intended change
// of a text, run the test with KESTRUNE_UPDATE_GOLDENS=1 and read the diff:
//   KESTRUNE_UPDATE_GOLDENS=1 ctest --test-dir build -R Golden
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "settings/preferences.h"
#include "settings/settings.h"
#include "support/gif_writer.h"
#include "support/harness.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string Utf16Le(const std::string& utf8) {
    std::string bytes;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = utf8[i];
        char32_t cp;
        int length;
        if (c < 0x80) cp = c, length = 1;
        else if (c < 0xE0) cp = c & 0x1F, length = 2;
        else if (c < 0xF0) cp = c & 0x0F, length = 3;
        else cp = c & 0x07, length = 4;
        for (int k = 1; k < length && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
        i += length;
        auto unit = [&](char16_t u) {
            bytes.push_back(static_cast<char>(u & 0xFF));
            bytes.push_back(static_cast<char>(u >> 8));
        };
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(static_cast<char16_t>(0xD800 + (cp >> 10)));
            unit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            unit(static_cast<char16_t>(cp));
        }
    }
    return bytes;
}

// Where a case's input GIFs and outputs go, named in the golden files as
// "{IN}" and "{OUT}".
struct Folders {
    std::string in, out;
};

struct Produced {
    std::string text;  // UTF-8, CR LF line ends, real folder names
    std::string raw;   // the exact bytes the program wrote
    bool utf16 = true;
};

struct GoldenCase {
    const char* name;  // test name
    const char* file;  // below tests/golden/
    std::function<Produced(const Folders&)> produce;
};

std::ostream& operator<<(std::ostream& os, const GoldenCase& c) { return os << c.name; }

Produced Console(const std::vector<std::string>& args) {
    const ProcessResult r = RunKestrune(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_FALSE(r.timed_out);
    return {DecodeUtf16Le(r.out), r.out, true};
}

// "{IN}" and "{OUT}" in the arguments replaced by the folders.
std::vector<std::string> WithFolders(std::vector<std::string> args, const Folders& f) {
    for (std::string& a : args) a = ReplaceAll(ReplaceAll(a, "{IN}", f.in), "{OUT}", f.out);
    return args;
}

std::function<Produced(const Folders&)> Run(std::vector<std::string> args) {
    return [args](const Folders&) { return Console(args); };
}

std::function<Produced(const Folders&)> RunInFolders(std::vector<std::string> args) {
    return [args](const Folders& f) { return Console(WithFolders(args, f)); };
}

// A run over one 40 x 30 still "{IN}/a.gif".
std::function<Produced(const Folders&)> RunOnStill(std::vector<std::string> args) {
    return [args](const Folders& f) {
        WriteGif(f.in + "/a.gif", LetterF(40, 30));
        return Console(WithFolders(args, f));
    };
}

Produced WrittenPreferences(const Folders& f) {
    kestrune::SetDefaultSettings(kestrune::settings, false);
    // The two defaults taken from the clock.
    kestrune::settings.update_date = 1600000000;
    kestrune::settings.custom_timestamp = 1600000000;
    const std::string path = f.out + "/config.ini";
    EXPECT_TRUE(kestrune::SavePreferences(path));
    const std::string bytes = ReadFileBytes(path);
    return {bytes, bytes, false};
}

const GoldenCase kCases[] = {
    {"Help", "help.txt", Run({"--help"})},
    {"HelpShort", "help.txt", Run({"-h"})},
    {"HelpQuestionMark", "help.txt", Run({"-?"})},
    {"HelpBeforeAnInput", "help.txt", Run({"-H", "-i"})},
    {"HelpAnyCaseBeforeOtherOptions", "help.txt", Run({"--HELP", "-v"})},
    {"Version", "version.txt", Run({"-v"})},
    {"VersionUpperCase", "version.txt", Run({"-V"})},
    {"VersionLongWithAValue", "version.txt", Run({"--VERSION=x"})},
    {"DebugListingOfADefaultPngRun", "debug-png-defaults.txt",
     RunOnStill({"-i", "{IN}/a.gif", "-o", "{OUT}", "-c", "png", "-d"})},
    {"DebugListingOfEveryImageOperationAndNamingSetting", "debug-every-operation.txt",
     RunOnStill({"-q", "-d", "-i", "{IN}/a.gif", "-o", "{OUT}/", "-c", "jpg", "--jpg-quality=80",
                 "--jpg-chroma=MEDIUM", "--jpg-save-as=PROGRESSIVE", "--gif-frame-loading=LAST", "--rotation=90",
                 "--rotation-type=ADVANCED", "--rotation-back-color=FF0000", "--width=50", "--width-unit=PERCENT",
                 "--height=40", "--keep-aspect-ratio", "--resize-type=LARGEIMAGES", "--resize-algorithm=LANCZOS",
                 "--flip-horizontal", "--brightness=10", "--contrast=-20", "--gamma=1.5", "--invert", "--greyscale",
                 "--threshold=128", "--fr-solid-left=2", "--fr-solid-right=3", "--fr-solid-top=4",
                 "--fr-solid-bottom=5", "--fr-solid-left-color=112233", "--fr-solid-right-color=445566",
                 "--fr-solid-top-color=778899", "--fr-solid-bottom-color=AABBCC", "--fr-solid-opacity=128",
                 "--filename-mask=Out_%n%.%ext%", "--file-timestamp=CUSTOM", "--file-timestamp-custom=1000000000",
                 "--no-subfolders"})},
    // A text watermark lists its settings; an empty input folder then stops the run.
    {"DebugListingOfATextWatermarkThenAnEmptyFolder", "debug-text-watermark.txt",
     RunInFolders({"-q", "-d", "-i", "{IN}", "-o", "{OUT}", "-c", "png", "--wm-text=Hello %n%", "--wm-font=Arial",
                   "--wm-font-size=20", "--wm-font-style=BOLDITALIC", "--wm-font-effect=UNDERLINE",
                   "--wm-text-alignment=CENTER", "--wm-text-position=MIDDLECENTER", "--wm-text-x-offset=-3",
                   "--wm-text-y-offset=7", "--wm-text-boundary=FRAME", "--wm-text-antialiasing"})},
    {"ConfigIniAsWrittenWithTheWindowDefaults", "config-defaults.ini", WrittenPreferences},
};

class GoldenTest : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenTest, OutputMatchesTheGoldenFile) {
    const GoldenCase& c = GetParam();
    TempDir dir;
    const Folders folders{dir / "in", dir / "out"};
    fs::create_directories(folders.in);
    fs::create_directories(folders.out);
    const Produced produced = c.produce(folders);

    // The golden form: LF line ends, folders by name.
    std::string golden_form = ReplaceAll(produced.text, "\r\n", "\n");
    golden_form = ReplaceAll(ReplaceAll(golden_form, folders.out, "{OUT}"), folders.in, "{IN}");

    const std::string path = std::string(KESTRUNE_SOURCE_DIR) + "/tests/golden/" + c.file;
    if (const char* update = std::getenv("KESTRUNE_UPDATE_GOLDENS"); update && *update == '1') {
        WriteFileBytes(path, golden_form);
        GTEST_SKIP() << "rewrote " << path;
    }
    ASSERT_TRUE(fs::is_regular_file(path)) << path << " is missing; run with KESTRUNE_UPDATE_GOLDENS=1";
    const std::string golden = ReadFileBytes(path);
    EXPECT_EQ(golden_form, golden) << "--- got ---\n" << golden_form << "--- expected (" << path << ") ---\n" << golden;

    // And the bytes themselves: the encoding and the CR LF line ends.
    std::string expected_text = ReplaceAll(ReplaceAll(golden, "{IN}", folders.in), "{OUT}", folders.out);
    expected_text = ReplaceAll(expected_text, "\n", "\r\n");
    EXPECT_EQ(produced.raw, produced.utf16 ? Utf16Le(expected_text) : expected_text);
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
