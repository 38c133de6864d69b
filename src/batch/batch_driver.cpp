#include "batch/batch_driver.h"

#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <variant>
#include <vector>

#include "settings/text_table.h"
#include "batch/batch_state.h"
#include "batch/input_list.h"
#include "batch/worker.h"
#include "formats/registry.h"
#include "formats/saving.h"
#include "imaging/watermark.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "settings/run_request.h"
#include "settings/settings.h"

namespace kestrune {
namespace {

using S = Settings;

// One line of the debug listing: a label and the setting it shows. Numbers
// and switches show in decimal, the real with two decimals, texts as
// stored, and a code through its value-name table in lower case. A second
// field makes an "x/y" pair.
struct ListingRow {
    const char* label;
    SettingField field;
    int table = kNoTable;
    bool paired = false;
    SettingField second{};
};

std::string ShowField(const Settings& s, const SettingField& field, int table) {
    return std::visit(
        [&](auto member) -> std::string {
            using T = std::remove_cvref_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return s.*member;
            } else if constexpr (std::is_same_v<T, float>) {
                return FormatFixed(s.*member, 2);
            } else {
                const int value = s.*member;
                if (table != kNoTable) return ToLower(NameOfCode(table, value));
                return std::to_string(value);
            }
        },
        field);
}

void PrintRows(const std::vector<ListingRow>& rows, const Settings& s) {
    for (const ListingRow& row : rows) {
        std::string value = ShowField(s, row.field, row.table);
        if (row.paired) value += "/" + ShowField(s, row.second, kNoTable);
        PrintLine(row.label + value);
    }
}

// The format's encoder settings, listed after its "BPP" line.
void PrintEncoderOptions(const OutputFormat& format, const Settings& s) {
    for (const EncoderOption& option : format.encoder_options) {
        const SettingKey* key = FindSettingKey("Output", option.key);
        if (key) PrintLine(std::string(option.label) + ": " + ShowField(s, key->field, key->table));
    }
}

const std::vector<ListingRow>& TextWatermarkRows() {
    static const std::vector<ListingRow> rows = {
        {"Watermark text: ", &S::text},
        {"Watermark font: ", &S::font},
        {"Watermark font size: ", &S::font_size},
        {"Watermark font leading: ", &S::font_leading},
        {"Watermark font color: ", &S::font_color},
        {"Watermark font style: ", &S::font_style, kTableFontStyle},
        {"Watermark font effect: ", &S::font_effect, kTableFontEffect},
        {"Watermark text antialiasing: ", &S::text_antialiasing},
        {"Watermark text alignment: ", &S::text_alignment, kTableTextAlignment},
        {"Watermark text padding: ", &S::text_padding},
        {"Watermark text opacity: ", &S::text_opacity},
        {"Watermark background color: ", &S::back_color},
        {"Watermark background opacity: ", &S::back_opacity},
        {"Watermark boundary: ", &S::text_boundary, kTableBoundary},
        {"Watermark position: ", &S::text_position, kTablePosition},
        {"Watermark offset (x/y): ", &S::text_x_offset, kNoTable, true, &S::text_y_offset},
        {"Watermark rotation: ", &S::text_rotation},
        {"Watermark size/mode: ", &S::text_size, kTableSizeMode},
    };
    return rows;
}

const std::vector<ListingRow>& ImageWatermarkRows() {
    static const std::vector<ListingRow> rows = {
        {"Watermark image: ", &S::image},
        {"Watermark greyscale: ", &S::image_greyscale},
        {"Watermark opacity: ", &S::image_opacity},
        {"Watermark boundary: ", &S::image_boundary, kTableBoundary},
        {"Watermark position: ", &S::image_position, kTablePosition},
        {"Watermark offset (x/y): ", &S::image_x_offset, kNoTable, true, &S::image_y_offset},
        {"Watermark rotation: ", &S::wm_image_rotation},
        {"Watermark size/mode: ", &S::image_size, kTableSizeMode},
    };
    return rows;
}

const std::vector<ListingRow>& FrameRows() {
    static const std::vector<ListingRow> rows = {
        {"Frame left: ", &S::solid_left},
        {"Frame right: ", &S::solid_right},
        {"Frame top: ", &S::solid_top},
        {"Frame bottom: ", &S::solid_bottom},
        {"Frame left color: ", &S::solid_left_color},
        {"Frame right color: ", &S::solid_right_color},
        {"Frame top color: ", &S::solid_top_color},
        {"Frame bottom color: ", &S::solid_bottom_color},
        {"Frame opacity: ", &S::solid_opacity},
    };
    return rows;
}

std::string Switch(int8_t value) { return std::to_string(value); }

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Input and output folders: ".." is refused outright; a relative folder is
// taken below the program's own folder, not the current directory, so a run
// means the same from wherever it is started. Prints the message and gives
// false when the folder cannot be used.
bool NormaliseFolder(std::string& folder, const char* incorrect, const char* invalid) {
    if (StartsWith(folder, "..")) {
        PrintLine(incorrect);
        return false;
    }
    if (!StartsWith(folder, "/")) {
        if (StartsWith(folder, "./")) folder.erase(0, 2);
        folder = batch_state.program_folder + folder;
    }
    if (folder.empty() || folder.back() != '/') folder += '/';
    if (!IsFolder(folder)) {
        PrintLine(invalid);
        return false;
    }
    return true;
}

// The BPP line and encoder settings of the conversion (debug), then its
// checks; false after printing the first failed check.
bool CheckOutputFormat(const std::string& conversion, const Settings& s, bool debug) {
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
    if (conversion == "jpg" && (s.jpg_quality < 1 || s.jpg_quality > 100)) {
        PrintLine("Error: Invalid jpg-quality value");
        return false;
    }
    return true;
}

// Rotation, resize, flips, tones, greyscale, threshold and frame, in the
// order the pipeline applies them; false after printing a failed check.
bool CheckImageOperations(const Settings& s, bool debug) {
    auto line = [debug](const std::string& text) {
        if (debug) PrintLine(text);
    };
    if (s.do_image_rotation == 1) {
        line("Image Rotation Type: " + ToLower(NameOfCode(kTableRotationType, s.image_rotation_type)));
        line("Image Rotation: " + std::to_string(s.image_rotation));
        line("Image Rotation Back Color: " + s.image_rotation_back_color);
    }
    if (s.do_image_resize == 1) {
        // Only 0 is refused: negative sizes are the resize's own business.
        line("Width: " + std::to_string(s.image_width) + " " +
             ToLower(NameOfCode(kTableUnit, s.image_width_unit)));
        if (s.image_width == 0) {
            PrintLine("Error: Invalid width value");
            return false;
        }
        line("Height: " + std::to_string(s.image_height) + " " +
             ToLower(NameOfCode(kTableUnit, s.image_height_unit)));
        if (s.image_height == 0) {
            PrintLine("Error: Invalid height value");
            return false;
        }
        line("Keep Aspect Ratio: " + Switch(s.keep_aspect_ratio));
        line("Image Resize Type: " + ToLower(NameOfCode(kTableResizeType, s.image_resize_type)));
        line("Image Resize Algorithm: " +
             ToLower(NameOfCode(kTableResizeAlgorithm, s.image_resize_algorithm)));
    }
    line("Flip Horizontal: " + Switch(s.do_image_flip_horizontal));
    line("Flip Vertical: " + Switch(s.do_image_flip_vertical));
    if (s.do_image_color_correction == 1) {
        line("Brightness: " + std::to_string(s.image_brightness));
        if (s.image_brightness < -100 || s.image_brightness > 100) {
            PrintLine("Error: Invalid brightness value");
            return false;
        }
        line("Contrast: " + std::to_string(s.image_contrast));
        if (s.image_contrast < -100 || s.image_contrast > 100) {
            PrintLine("Error: Invalid contrast value");
            return false;
        }
        line("Gamma: " + FormatFixed(s.image_gamma, 2));
        // Compared as single-precision values; NaN fails both tests.
        if (!(s.image_gamma >= 0.01f && s.image_gamma <= 9.99f)) {
            PrintLine("Error: Invalid gamma value");
            return false;
        }
        line("Invert: " + Switch(s.image_invert));
    }
    line("Greyscale: " + Switch(s.do_image_greyscale));
    if (s.do_image_threshold == 1) line("Image Threshold: " + std::to_string(s.image_threshold));
    line(std::string("Frame: ") + (s.do_frame == 0 ? "none" : s.do_frame == 1 ? "solid" : ""));
    if (s.do_frame == 1 && debug) PrintRows(FrameRows(), s);
    return true;
}

// The watermark lines and the check that what it needs is there: the font
// for a text watermark (loaded here for the whole batch), the file for an
// image watermark.
bool CheckWatermark(const Settings& s, bool debug) {
    const int mode = s.do_watermark;
    if (debug)
        PrintLine(std::string("Watermark: ") + (mode == 0 ? "none" : mode == 1 ? "text" : mode == 2 ? "image" : ""));
    if (mode == 1) {
        if (debug) PrintRows(TextWatermarkRows(), s);
        if (!LoadWatermarkFont(batch_layers, s)) {
            PrintLine("Error: Invalid watermark font");
            return false;
        }
    } else if (mode == 2) {
        if (debug) PrintRows(ImageWatermarkRows(), s);
        if (FileSize(s.image) < 1) {
            PrintLine("Error: Invalid watermark image");
            return false;
        }
    }
    return true;
}

void ListNaming(const Settings& s) {
    PrintLine("Filename Mask: " + s.filename_mask);
    PrintLine("File Timestamp: " + ToLower(NameOfCode(kTableTimestamp, s.file_timestamp)));
    if (s.file_timestamp == 2) PrintLine("Custom Timestamp: " + std::to_string(s.custom_timestamp));
    PrintLine("Keep Subfolders: " + Switch(s.keep_subfolders));
}

// One background thread at a time, with a fresh progress record; the driver
// waits for it without a time limit.
void RunThread(void (*procedure)()) {
    {
        std::lock_guard lock(batch_lock);
        batch_progress.taken = 0;
        batch_progress.current_path.clear();
        batch_progress.file_count = 0;
    }
    batch_progress.keep_running.store(1);
    std::thread thread(procedure);
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

}  // namespace

void RunBatch(bool quiet) {
    BatchState& state = batch_state;
    const Settings& s = settings;
    state.command_line = true;
    if (state.program_folder.empty()) state.program_folder = ProgramFolder();

    const bool debug = run_request.mode == "DEBUG";
    auto status = [quiet](const std::string& text) {
        if (!quiet) PrintLine(text);
    };
    status(GetText("General", "Preparing"));

    // Input: a path with an extension names a file (taken as given), any
    // other path a folder.
    const std::string& input = run_request.input_path;
    if (debug) PrintLine("Input: " + VisibleText(input));
    if (!ExtensionPart(input).empty()) {
        state.input_file = input;
        state.input_folder.clear();
        if (FileSize(input) < 1) {
            PrintLine("Error: Invalid input file");
            return;
        }
    } else {
        state.input_file.clear();
        state.input_folder = input;
        if (!NormaliseFolder(state.input_folder, "Error: Incorrect input folder",
                             "Error: Invalid input folder"))
            return;
    }

    // Output: by default beside the input; never created.
    std::string output = run_request.output_folder;
    if (output.empty()) output = state.input_folder.empty() ? FolderPart(state.input_file) : state.input_folder;
    if (debug) PrintLine("Output: " + VisibleText(output));
    if (!NormaliseFolder(output, "Error: Incorrect output folder", "Error: Invalid output folder")) return;
    state.output_folder = output;

    if (state.input_format.empty() && !InputFormatList().empty()) state.input_format = InputFormatList().front();
    state.conversion = run_request.conversion;
    if (state.conversion.empty() && !OutputFormatList().empty()) state.conversion = OutputFormatList().front();
    if (debug) PrintLine("Conversion: " + state.conversion);
    if (!IsOutputFormat(state.conversion)) {
        PrintLine("Error: Invalid conversion type");
        return;
    }

    if (debug && state.input_format == "gif")
        PrintLine("GIF Frame Loading: " + ToLower(NameOfCode(kTableFrameLoading, s.gif_frame_loading)));

    if (!CheckOutputFormat(state.conversion, s, debug)) return;
    if (!CheckImageOperations(s, debug)) return;
    WatermarkFontRelease font_release;
    font_release.armed = s.do_watermark == 1;
    if (!CheckWatermark(s, debug)) return;
    if (debug) ListNaming(s);

    PrepareOutputFormat(state, s);

    status(GetText("General", "Importing"));
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
    const int32_t total = FileCount();
    status(FormatText(GetText("Msg", "Import complete"), std::to_string(total)));
    if (total == 0) {
        PrintLine(GetText("Msg", "Conversion is not complete"));
        PrintLine(GetText("Msg", "Empty input files"));
        return;
    }

    status(GetText("General", "Converting"));
    RunThread(ConvertAll);
    const int32_t converted = FileCount();
    if (converted != 0) {
        status(GetText("Msg", "Conversion complete"));
        status(FormatText(GetText("Msg", "Files converted"), std::to_string(converted),
                          std::to_string(total)));
    } else {
        PrintLine(GetText("Msg", "Conversion is not complete"));
    }
}

}  // namespace kestrune
