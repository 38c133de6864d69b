#include "batch/batch_driver.h"

#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "settings/text_table.h"
#include "batch/batch_state.h"
#include "batch/input_list.h"
#include "batch/run_checks.h"
#include "batch/worker.h"
#include "formats/registry.h"
#include "formats/saving.h"
#include "imaging/watermark.h"
#include "platform/memory_budget.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/temporary_files.h"
#include "platform/text.h"
#include "settings/run_request.h"
#include "settings/settings.h"

namespace kestrune {
namespace {

// The format's encoder settings, listed after its "BPP" line.
void PrintEncoderOptions(const OutputFormat& format, const Settings& s) {
    const FormatSettings& settings_of_format = SettingsOf(format);
    for (const EncoderSetting& setting : settings_of_format.encoder) {
        const SettingKey* key = FindSettingKey("Output", EncoderKey(settings_of_format, setting));
        if (key) PrintLine(std::string(setting.listing) + ": " + ListingValue(s, *key));
    }
}

// Resolves an input or output folder as typed (CheckFolder); prints the
// console's text for a folder that cannot be used and gives false.
bool ResolveFolderOrSay(std::string& folder, const char* incorrect, const char* invalid) {
    const std::string typed = folder;
    switch (CheckFolder(typed, batch_state.program_folder, folder)) {
        case FolderProblem::kParent: PrintLine(incorrect); return false;
        case FolderProblem::kMissing: PrintLine(invalid); return false;
        case FolderProblem::kNone: return true;
    }
    return false;
}

// The BPP line and encoder settings of the conversion (debug), then its
// checks; false after printing the first failed check. `failed` is the
// result of CheckSettings for the run.
bool CheckOutputFormat(const std::string& conversion, const Settings& s, const SettingKey* failed, bool debug) {
    const int32_t bpp = BitDepthOf(conversion, s);
    const OutputFormat* format = FindOutputFormat(conversion);
    if (debug) {
        PrintLine(ToUpperAscii(conversion) + " BPP: " + std::to_string(bpp));
        if (format) PrintEncoderOptions(*format, s);
    }
    if (!IsBitDepthAllowed(conversion, bpp)) {
        PrintLine("Error: Invalid " + conversion + "-bpp value");
        return false;
    }
    if (failed && std::string_view(failed->group) == "Output") {
        PrintLine(std::string("Error: ") + failed->check.message);
        return false;
    }
    return true;
}

// The settings of the input format (debug): the keys of group "Input" named
// after it ("GIF Frame Loading").
void ListInputFormat(const std::string& format, const Settings& s) {
    const std::string prefix = ToUpperAscii(format) + " ";
    for (const SettingKey& key : SettingKeys())
        if (std::string_view(key.group) == "Input" && std::string_view(key.key).starts_with(prefix) &&
            key.listing.label)
            PrintLine(ListingLine(s, key));
}

// The lines of the group's keys in use, in table order (debug), each
// followed by its check: the key CheckSettings found failing prints its
// message after its own line. False after that message.
bool ListGroup(std::string_view group, const Settings& s, const SettingKey* failed, bool debug) {
    for (const SettingKey& key : SettingKeys()) {
        if (group != key.group || !IsInUse(s, key)) continue;
        if (debug && key.listing.label) PrintLine(ListingLine(s, key));
        if (&key == failed) {
            PrintLine(std::string("Error: ") + key.check.message);
            return false;
        }
    }
    return true;
}

// The command line has one message for a missing and an unusable image.
bool CheckWatermark(const Settings& s) {
    switch (CheckWatermarkSource(s)) {
        case WatermarkProblem::kFont: PrintLine("Error: Invalid watermark font"); return false;
        case WatermarkProblem::kNoImage:
        case WatermarkProblem::kImage: PrintLine("Error: Invalid watermark image"); return false;
        case WatermarkProblem::kNone: return true;
    }
    return false;
}

// One background thread at a time, with a fresh progress record; the driver
// waits for it without a time limit.
void RunThread(const std::function<void()>& procedure) {
    {
        std::lock_guard lock(batch_lock);
        batch_progress.taken = 0;
        batch_progress.current_path.clear();
        batch_progress.file_count = 0;
    }
    batch_progress.keep_running.store(1);
    std::thread thread;
    try {
        thread = std::thread(procedure);
    } catch (const std::system_error&) {
        // No thread to be had: the run goes on this one.
        procedure();
        return;
    }
    thread.join();
}

int32_t FileCount() {
    std::lock_guard lock(batch_lock);
    return batch_progress.file_count;
}

// The text watermark's font lives for the whole batch and is released on
// every way out once it was loaded.
struct WatermarkFontRelease {
    bool armed = false;
    ~WatermarkFontRelease() {
        if (armed && IsWatermarkFontLoaded(batch_layers)) ReleaseWatermarkFont(batch_layers);
    }
};

// The checks before a run, each after its line of the debug listing; false
// after printing the first that fails. Loads the text watermark's font.
bool CheckRun(BatchState& state, const Settings& s, bool debug) {
    // Input: a path with an extension names a file (taken as given), any
    // other path a folder.
    const std::string& input = run_request.input_path;
    if (debug) PrintLine("Input: " + VisibleText(input));
    if (!ExtensionPart(input).empty()) {
        state.input_file = input;
        state.input_folder.clear();
        if (FileSize(input) < 1) {
            PrintLine("Error: Invalid input file");
            return false;
        }
    } else {
        state.input_file.clear();
        state.input_folder = input;
        if (!ResolveFolderOrSay(state.input_folder, "Error: Incorrect input folder",
                             "Error: Invalid input folder"))
            return false;
    }

    // Output: by default beside the input; never created.
    std::string output = run_request.output_folder;
    if (output.empty()) output = state.input_folder.empty() ? FolderPart(state.input_file) : state.input_folder;
    if (debug) PrintLine("Output: " + VisibleText(output));
    if (!ResolveFolderOrSay(output, "Error: Incorrect output folder", "Error: Invalid output folder")) return false;
    state.output_folder = output;

    if (state.input_format.empty() && !InputFormatList().empty()) state.input_format = InputFormatList().front();
    state.conversion = run_request.conversion;
    if (state.conversion.empty() && !OutputFormatList().empty()) state.conversion = OutputFormatList().front();
    if (debug) PrintLine("Conversion: " + VisibleText(state.conversion));
    if (!IsOutputFormat(state.conversion)) {
        PrintLine("Error: Invalid conversion type");
        return false;
    }

    if (debug) ListInputFormat(state.input_format, s);

    // The listing shows the settings in the order the pipeline uses them,
    // which is the order of the table; a bad value stops the run after its
    // own line.
    const SettingKey* failed = CheckSettings(s, state.conversion);
    if (!CheckOutputFormat(state.conversion, s, failed, debug)) return false;
    for (const char* group : {"Transform", "Adjustment", "Frame", "Watermark"})
        if (!ListGroup(group, s, failed, debug)) return false;
    if (!CheckWatermark(s)) return false;
    if (debug) ListGroup("Advanced", s, nullptr, true);

    return true;
}

// The run's input files into the input list; the count lands in the
// progress record.
void ImportInputs(const BatchState& state) {
    if (!state.input_folder.empty()) {
        RunThread(ImportFolder);
    } else {
        const std::string kind = ToLower(ExtensionPart(state.input_file));
        if (kind == "txt" || kind == "lst") {
            RunThread(ImportListFile);
        } else {
            const int added = AddInputFile(state.input_file);
            std::lock_guard lock(batch_lock);
            batch_progress.file_count = added;
        }
    }
}

}  // namespace

BatchOutcome RunBatch(bool quiet, const BatchListener& listener) {
    constexpr BatchOutcome kRefused{.refused = true};
    BatchState& state = batch_state;
    const Settings& s = settings;
    state.command_line = true;
    if (state.program_folder.empty()) state.program_folder = ProgramFolder();
    // Under a memory limit the allocation arenas are limited before any
    // thread of the run allocates.
    MemoryBudget::Process();

    const bool debug = run_request.mode == "DEBUG";
    auto status = [quiet](const std::string& text) {
        if (!quiet) PrintLine(text);
    };
    status(GetText("General", "Preparing"));

    WatermarkFontRelease font_release;
    font_release.armed = s.do_watermark == kTextWatermark;
    if (!CheckRun(state, s, debug)) return kRefused;
    PrepareOutputFormat(state, s);
    RemoveStaleTemporaryFiles(state.output_folder);

    status(GetText("General", "Importing"));
    ImportInputs(state);
    const int32_t total = FileCount();
    status(FormatText(GetText("Msg", "Import complete"), std::to_string(total)));
    if (total == 0) {
        PrintLine(GetText("Msg", "Conversion is not complete"));
        PrintLine(GetText("Msg", "Empty input files"));
        return {};
    }

    status(GetText("General", "Converting"));
    if (listener.inputs_collected) listener.inputs_collected(TheInputList());
    RunThread([&listener] {
        RunContext run = ProcessRunContext();
        run.on_result = listener.file_reported;
        ConvertAll(run);
    });
    const int32_t converted = FileCount();
    if (converted != 0) {
        status(GetText("Msg", "Conversion complete"));
        status(FormatText(GetText("Msg", "Files converted"), std::to_string(converted),
                          std::to_string(total)));
    } else {
        PrintLine(GetText("Msg", "Conversion is not complete"));
    }
    return {.total = total, .converted = converted};
}

}  // namespace kestrune
