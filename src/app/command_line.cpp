#include "app/command_line.h"

#include <random>
#include <string_view>

#include "settings/text_table.h"
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

// The help lines as printed: %s1% is the program name; %s2% an input
// extension on the first three example lines and the default output format
// on the last one. Blank lines are one blank, as every blank console line.
constexpr const char* kHelpLines[] = {
    " ",
    "Usage: %s1% -i <filename> [options]",
    " ",
    "  %s1% -i example.%s2%",
    "  %s1% -i c:\\tmp\\example.%s2%",
    "  %s1% -i c:\\tmp\\example.%s2% -o d:\\converted",
    "  %s1% -i c:\\tmp\\filelist.txt",
    "  %s1% -i c:\\tmp\\ -o d:\\converted --jpg-quality=95",
    "  %s1% -i c:\\tmp\\ -o d:\\converted -c %s2% --jpg-quality=95",
    " ",
    "Options:",
    " ",
    "  -h, -?, --help            Display this help and exit",
    "  -i FILE, --input=FILE     Set input file/list/folder",
    "  -o PATH, --output=PATH    Set output folder",
    "  -c STR, --conversion=STR  Set output extension, STR = (jpg | bmp | ...)",
    " ",
    "Advanced options:",
    " ",
    "  --width=NUM               Set output image width",
    "  --height=NUM              Set output image height",
    "  --filename-mask=STR       Define output filename format",
    "  --flip-horizontal         Flip output image horizontally",
    "  --flip-vertical           Flip output image vertically",
    "  --brightness=NUM          Set output image brightness, NUM = -100..100",
    "  --contrast=NUM            Set output image contrast, NUM = -100..100",
    "  --gamma=NUM               Set output image gamma, NUM = 0.01..9.99",
    "  --invert                  Invert output image",
    "  --greyscale               Greyscale output image",
    "  --profile=FILE            Set configuration file with required settings",
    "    ...                     Refer documentation for all available options",
    " ",
    "Other options:",
    " ",
    "  -q, --quiet               Don't print status messages to stdout",
    "  -d, --debug               Print debug information to stdout",
    "  -p, --pause               Pause at exit",
    "  -v, --version             Display version information and exit",
};

// Upper-cased option name of a parameter: the part before "=" of a long
// option, a short option whole, nothing for a word without a leading "-".
std::string OptionNameOf(const std::string& parameter) {
    const std::string trimmed = Trim(parameter);
    if (trimmed.starts_with("--")) return ToUpperAscii(trimmed.substr(0, trimmed.find('=')));
    if (trimmed.starts_with("-")) return ToUpperAscii(trimmed);
    return std::string();
}

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
    for (size_t i = 0; i < std::size(kHelpLines); ++i) {
        const size_t number = i + 1;
        std::string extension;
        if (number >= 4 && number <= 6) extension = RandomInputExtension();
        else if (number == 9) extension = output;
        PrintLine(FormatText(kHelpLines[i], program, extension));
    }
}

}  // namespace

bool CommandLineMain(const std::vector<std::string>& args) {
    if (args.empty()) return true;

    batch_state = BatchState{};
    batch_state.program_folder = ProgramFolder();
    ResetNaming(batch_state);
    run_request = RunRequest{};
    SetDefaultSettings(settings, true);
    BuildTextTable();

    const std::string command = OptionNameOf(args.front());
    // The feedback window and the screenshot aid belong to the window mode,
    // which reads its parameters itself; "T" is the screenshot mode.
    if (command == "-U") return true;
    if (command == "-T") {
        run_request.mode.assign(1, 'T');  // not = "T": GCC 12 warns falsely (-Wrestrict) on that
        return true;
    }
    if (command == "-V" || command == "--VERSION") {
        SetConsoleTitle(TitleWithVersion());
        PrintLine(VersionDisplay(kVersionNumber));
        return false;
    }
    if (command == "-H" || command == "-?" || command == "--HELP") {
        SetConsoleTitle(TitleWithVersion());
        PrintHelp();
        return false;
    }

    const ParseResult parsed = ParseOptions(args);
    if (!parsed.error.empty()) {
        SetConsoleTitle(TitleWithVersion());
        PrintLine("Error: " + parsed.error);
        if (parsed.pause) WaitForKey();
        return false;
    }
    if (!run_request.input_given) return true;

    SetConsoleTitle(TitleWithVersion());
    if (!parsed.quiet) {
        PrintLine(TitleWithVersion());
        PrintLine(kCopyrightNoticeAscii);
        PrintLine(kWebAddress);
        PrintLine(" ");
    }
    RunBatch(parsed.quiet);
    if (parsed.pause) {
        PrintLine("Press any key to exit.");
        WaitForKey();
    }
    return false;
}

}  // namespace kestrune
