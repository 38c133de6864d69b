#include "app/command_line.h"

#include <algorithm>
#include <random>
#include <vector>
#include <string_view>

#include "settings/text_table.h"
#include "app/scripting.h"
#include "app/version.h"
#include "batch/batch_driver.h"
#include "batch/batch_state.h"
#include "batch/naming.h"
#include "formats/registry.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/text.h"
#include "settings/options.h"
#include "settings/run_request.h"
#include "settings/settings.h"

namespace kestrune {
namespace {

// The help text around the options' own lines: %s1% is the program name;
// %s2% an input extension on the first three examples and the default output
// format on the last one. Blank lines are one blank, as every blank console
// line.
constexpr const char* kUsage[] = {
    " ",
    "Usage: %s1% -i <filename> [options]",
    " ",
};
constexpr const char* kExamples[] = {
    "  %s1% -i example.%s2%",
    "  %s1% -i c:\\tmp\\example.%s2%",
    "  %s1% -i c:\\tmp\\example.%s2% -o d:\\converted",
    "  %s1% -i c:\\tmp\\filelist.txt",
    "  %s1% -i c:\\tmp\\ -o d:\\converted --jpg-quality=95",
    "  %s1% -i c:\\tmp\\ -o d:\\converted -c %s2% --jpg-quality=95",
};

// The sections of the options' lines, in the order printed.
struct HelpPart {
    HelpSection section;
    const char* heading;
    const char* closing;  // a line after the options, nullptr for none
};

constexpr HelpPart kHelpParts[] = {
    {HelpSection::Options, "Options:", nullptr},
    {HelpSection::Advanced, "Advanced options:",
     "    ...                     Refer documentation for all available options"},
    {HelpSection::Other, "Other options:", nullptr},
};

std::string RandomInputExtension() {
    const std::vector<std::string>& list = InputFormatList();
    if (list.empty()) return std::string();
    std::random_device device;
    std::uniform_int_distribution<size_t> pick(0, list.size() - 1);
    return list[pick(device)];
}

void PrintHelp() {
    const std::string program = ProgramName();
    const std::string output = OutputFormatList().empty() ? std::string() : OutputFormatList().front();
    for (const char* line : kUsage) PrintLine(FormatText(line, program));
    for (size_t i = 0; i < std::size(kExamples); ++i) {
        std::string extension;
        if (i < 3) extension = RandomInputExtension();
        else if (i + 1 == std::size(kExamples)) extension = output;
        PrintLine(FormatText(kExamples[i], program, extension));
    }
    for (const HelpPart& part : kHelpParts) {
        PrintLine(" ");
        PrintLine(part.heading);
        PrintLine(" ");
        std::vector<const OptionRow*> rows;
        for (const OptionRow& row : OptionTable())
            if (row.help && row.help_section == part.section) rows.push_back(&row);
        std::ranges::stable_sort(rows, {}, &OptionRow::help_place);
        for (const OptionRow* row : rows) PrintLine(row->help);
        if (part.closing) PrintLine(part.closing);
    }
}

}  // namespace

bool OpensMainWindow(const std::vector<std::string>& args) {
    if (args.empty()) return true;
    const std::string command = OptionName(args.front());
    if (command == "-U" || command == "-T") return false;
    if (const OptionRow* first = FindOption(command);
        first && (first->form == OptionForm::Version || first->form == OptionForm::Help))
        return false;
    run_request = RunRequest{};
    SetDefaultSettings(settings, true);
    BuildTextTable();
    return ParseOptions(args).error.empty() && !run_request.input_given;
}

bool CommandLineMain(const std::vector<std::string>& args, int& exit_status) {
    exit_status = kAllConverted;
    if (args.empty()) return true;

    batch_state = BatchState{};
    batch_state.program_folder = ProgramFolder();
    ResetNaming(batch_state);
    run_request = RunRequest{};
    SetDefaultSettings(settings, true);
    BuildTextTable();

    const std::string command = OptionName(args.front());
    // The feedback window and the screenshot aid belong to the window mode,
    // which reads its parameters itself; "T" is the screenshot mode.
    if (command == "-U") return true;
    if (command == "-T") {
        run_request.mode.assign(1, 'T');  // not = "T": GCC 12 warns falsely (-Wrestrict) on that
        return true;
    }
    const OptionRow* first = FindOption(command);
    if (first && first->form == OptionForm::Version) {
        SetConsoleTitle(TitleWithVersion());
        PrintLine(VersionDisplay(kVersionNumber));
        return false;
    }
    if (first && first->form == OptionForm::Help) {
        SetConsoleTitle(TitleWithVersion());
        PrintHelp();
        return false;
    }

    const ParseResult parsed = ParseOptions(args);
    if (!parsed.error.empty()) {
        SetConsoleTitle(TitleWithVersion());
        PrintLine("Error: " + parsed.error);
        if (parsed.pause) WaitForKey();
        exit_status = kNothingConverted;
        return false;
    }
    if (!run_request.input_given) return true;

    BatchListener listener;
    if (!StartRunRecord(listener)) {
        SetConsoleTitle(TitleWithVersion());
        PrintLine("Error: Invalid report file");
        if (parsed.pause) WaitForKey();
        exit_status = kNothingConverted;
        return false;
    }

    SetConsoleTitle(TitleWithVersion());
    if (!parsed.quiet) {
        PrintLine(TitleWithVersion());
        PrintLine(kCopyrightNoticeAscii);
        PrintLine(kWebAddress);
        PrintLine(" ");
    }
    exit_status = ExitStatusOf(RunBatch(parsed.quiet, listener));
    FinishRunRecord(listener);
    if (parsed.pause) {
        PrintLine("Press any key to exit.");
        WaitForKey();
    }
    return false;
}

}  // namespace kestrune
