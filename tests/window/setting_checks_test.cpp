// The command line and the window refuse the same setting values, through
// the one CheckSettings: the console prints "Error: " and the words of the
// settings row, the window shows the same words, or its own text where the
// text table has one.
#include <QString>

#include "settings/text_table.h"
#include "settings/options.h"
#include "settings/run_request.h"
#include "settings/settings.h"
#include "support/harness.h"
#include "window/main_window.h"

namespace {

using testing_support::ConsoleLines;
using testing_support::RunKestrune;
using testing_support::TempDir;

struct CheckCase {
    std::vector<std::string> options;
    std::string console;  // the error line; "" when the values pass
    std::string window;   // the warning; "" when the values pass
};

const CheckCase kCases[] = {
    {{"--brightness=101"}, "Error: Invalid brightness value", "Invalid brightness value"},
    {{"--brightness=-101"}, "Error: Invalid brightness value", "Invalid brightness value"},
    {{"--brightness=-100", "--contrast=100"}, "", ""},
    {{"--contrast=-101"}, "Error: Invalid contrast value", "Invalid contrast value"},
    {{"--gamma=10"}, "Error: Invalid gamma value", "Invalid gamma value"},
    {{"--gamma=NaN"}, "Error: Invalid gamma value", "Invalid gamma value"},
    {{"--gamma=0.01"}, "", ""},
    {{"--gamma=9.99"}, "", ""},
    {{"--width=0", "--height=0"}, "Error: Invalid width value", "Invalid resize width value!"},
    {{"--width=5", "--height=0"}, "Error: Invalid height value", "Invalid resize height value!"},
    {{"--width=-5", "--height=-5"}, "", ""},
    {{"-c", "jpg", "--jpg-quality=0"}, "Error: Invalid jpg-quality value", "Invalid jpg-quality value"},
    {{"-c", "jpg", "--jpg-quality=101"}, "Error: Invalid jpg-quality value", "Invalid jpg-quality value"},
    {{"-c", "png", "--jpg-quality=0"}, "", ""},
    // The first bad setting in the order of the pipeline is the one named.
    {{"--gamma=0", "--width=0", "--height=0"}, "Error: Invalid width value", "Invalid resize width value!"},
};

TEST(SettingChecks, CommandLineAndWindowRefuseTheSameValues) {
    kestrune::BuildTextTable();
    TempDir empty;  // no GIF in it: a run that passes the checks stops at the import
    for (const CheckCase& c : kCases) {
        SCOPED_TRACE(c.options.front());
        std::vector<std::string> args = {"-i", empty.path() + "/", "-o", empty.path() + "/", "-q"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const std::vector<std::string> lines = ConsoleLines(RunKestrune(args).out);
        ASSERT_FALSE(lines.empty());
        if (c.console.empty()) {
            for (const std::string& line : lines) EXPECT_FALSE(line.starts_with("Error: ")) << line;
        } else {
            EXPECT_EQ(lines, std::vector<std::string>{c.console});
        }

        // The window's record, set to the same values.
        kestrune::SetDefaultSettings(kestrune::settings, false);
        kestrune::run_request = kestrune::RunRequest{};
        ASSERT_EQ(kestrune::ParseOptions(c.options).error, "");
        const std::string format = kestrune::run_request.conversion.empty() ? "bmp" : kestrune::run_request.conversion;
        EXPECT_EQ(kestrune::SettingsWarning(kestrune::settings, format).toStdString(), c.window);
    }
}

}  // namespace
