// The program as a subprocess: informational commands, the single-instance
// rule, the banner and the error path; the help against the option table.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "platform/text.h"
#include "settings/options.h"
#include "support/harness.h"

namespace {

using testing_support::ConsoleLines;
using testing_support::DecodeUtf16Le;
using testing_support::ProcessResult;
using testing_support::RunKestrune;
using testing_support::RunOptions;
using testing_support::TempDir;

std::string Utf16Le(const std::string& ascii) {
    std::string bytes;
    for (char c : ascii) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

// Environment in which no display can be opened, so that a run that falls
// through to the window mode ends instead of waiting for a user.
RunOptions NoDisplay() {
    RunOptions options;
    options.env["QT_QPA_PLATFORM"] = "xcb";
    options.env["DISPLAY"] = "";
    options.env["WAYLAND_DISPLAY"] = "";
    options.timeout_seconds = 60;
    return options;
}

TEST(VersionCommand, OnlyCountsAsFirstParameter) {
    TempDir dir;
    const ProcessResult r = RunKestrune({"-i", dir / "missing.gif", "-v", "-q"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.find(Utf16Le("2.5\r\n")), std::string::npos) << DecodeUtf16Le(r.out);
}

TEST(SingleInstance, SecondCopyPrintsNothing) {
    TempDir runtime;
    const int fd = open((runtime / "Tarvel GIF to IMAGE 2.5.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    RunOptions options;
    options.env["XDG_RUNTIME_DIR"] = runtime.path();
    for (const char* option : {"-v", "--help"}) {
        const ProcessResult r = RunKestrune({option}, options);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, "") << DecodeUtf16Le(r.out);
        EXPECT_EQ(r.err, "");
    }
    close(fd);
    // With the lock free again the same run prints.
    const ProcessResult r = RunKestrune({"-v"}, options);
    EXPECT_EQ(r.out, Utf16Le("2.5\r\n"));
}

TEST(WindowModeFallThrough, NoParametersPrintNothing) {
    const ProcessResult r = RunKestrune({}, NoDisplay());
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
}

TEST(WindowModeFallThrough, ParametersWithoutInputPrintNothing) {
    TempDir dir;
    const ProcessResult r = RunKestrune({"-o", dir.path(), "--foo=1", "word", "-q=1"}, NoDisplay());
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
}

TEST(OptionErrors, PrintOneErrorLine) {
    const ProcessResult r = RunKestrune({"-q", "-i"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(ConsoleLines(r.out), std::vector<std::string>{"Error: Incorrect number of parameters"});
}

TEST(OptionErrors, PauseWaitsWithoutThePrompt) {
    // Standard input is a pipe, so the key wait ends at once.
    const ProcessResult r = RunKestrune({"-p", "--profile=/nonexistent/folder/p.ini", "-i", "x.gif"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(ConsoleLines(r.out), std::vector<std::string>{"Error: Invalid profile file"});
}

TEST(BatchRun, BannerComesFirstUnlessQuiet) {
    TempDir dir;
    const ProcessResult r = RunKestrune({"-i", dir / "missing.gif", "-o", dir.path()});
    EXPECT_EQ(r.exit_code, 0);
    const std::vector<std::string> lines = ConsoleLines(r.out);
    ASSERT_GE(lines.size(), 4u) << DecodeUtf16Le(r.out);
    EXPECT_EQ(lines[0], "Tarvel GIF to IMAGE 2.5");
    EXPECT_EQ(lines[1], "Copyright (c) 2026 Tarvel Software");
    EXPECT_EQ(lines[2], "https://kestrune.tarvel.example/");
    EXPECT_EQ(lines[3], " ");

    const ProcessResult quiet = RunKestrune({"-i", dir / "missing.gif", "-o", dir.path(), "-q"});
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(DecodeUtf16Le(quiet.out).find("Tarvel GIF to IMAGE"), std::string::npos);
}

TEST(BatchRun, PausePromptComesLast) {
    TempDir dir;
    const ProcessResult r = RunKestrune({"-i", dir / "missing.gif", "-o", dir.path(), "-q", "-p"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(r.timed_out);
    const std::vector<std::string> lines = ConsoleLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Press any key to exit.");
}

// Every option the help names is a row of the option table, shown with that
// row's own line; every row with a help line is in the help, and no other.
TEST(HelpText, NamesTheOptionsOfTheTableAndNoOthers) {
    using kestrune::OptionRow;
    std::istringstream help(testing_support::ReadFileBytes(std::string(KESTRUNE_SOURCE_DIR) + "/tests/golden/help.txt"));
    std::set<const OptionRow*> shown;
    int option_lines = 0;
    for (std::string line; std::getline(help, line);) {
        if (!line.starts_with("  -")) continue;
        ++option_lines;
        // "  -i FILE, --input=FILE     Set input ...": the names before the
        // description, each up to its value word.
        std::istringstream names(line.substr(2, line.find("  ", 2) - 2));
        for (std::string name; std::getline(names, name, ',');) {
            name = kestrune::Trim(name);
            name = name.substr(0, name.find_first_of(" ="));
            const OptionRow* row = kestrune::FindOption(kestrune::ToUpperAscii(name));
            ASSERT_NE(row, nullptr) << name;
            EXPECT_STREQ(row->help, line.c_str()) << name;
            shown.insert(row);
        }
    }
    EXPECT_EQ(option_lines, 19);
    for (const OptionRow& row : kestrune::OptionTable())
        EXPECT_EQ(row.help != nullptr, shown.count(&row) == 1) << row.name;
}

}  // namespace
