// The one record of every conversion and interface setting and the table
// that describes its keys. The settings of each output format, and their
// keys, come from format_settings.h; the names of codes from value_names.h.
//
// A key's row says everything its readers need: group, key, kind, default,
// value-name table, whether the preference file keeps it, when it is in use,
// its debug-listing line, its range and the check of that range, and where
// the preferences window puts it. The defaults, the preference file, the
// debug listing, CheckSettings and the preferences window walk SettingKeys()
// instead of keeping their own lists, so a key added here appears
// everywhere. Profiles name settings through the option table (options.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "settings/format_settings.h"
#include "settings/value_names.h"

namespace kestrune {

// The codes of "Do Watermark", as the preference file keeps them.
enum WatermarkMode : int8_t { kNoWatermark = 0, kTextWatermark = 1, kImageWatermark = 2 };
// How the debug listing names each mode, indexed by the code.
inline constexpr const char* kWatermarkModeNames[] = {"none", "text", "image"};
static_assert(std::size(kWatermarkModeNames) == kImageWatermark + 1);

// The time an output file is given: the time it was written, its input's,
// or "Custom Timestamp".
enum FileTimestamp : int8_t { kCurrentTimestamp = 0, kOriginalTimestamp = 1, kCustomTimestamp = 2 };

// Each output format's depth and encoder settings are the FormatFields.
struct Settings : FormatFields {
    // General
    int32_t cfg = 0;
    std::string language;
    int32_t update_range = 0;
    int32_t update_date = 0;
    int8_t save_window_position = 0;
    // Window
    int8_t is_maximized = 0;
    int32_t window_width = 0;
    int32_t window_height = 0;
    int32_t window_x = 0;
    int32_t window_y = 0;
    int8_t hide_passwords = 0;
    int8_t show_single_password = 0;
    int8_t show_password_list = 0;
    int8_t show_character_set = 0;
    int8_t show_advanced_options = 0;
    int8_t show_toolbar = 1;  // the main window's toolbar, hidden by the user or not
    // Interface
    std::string ui_theme;
    int32_t ui_size = 0;
    // Input
    std::string input_format;
    int32_t dds_load_as = 0;
    int32_t gif_frame_loading = 0;
    int32_t ico_frame_loading = 0;
    int32_t tiff_frame_loading = 0;
    int32_t raw_load_as = 0;
    int32_t raw_header_size = 0;
    int32_t raw_image_width = 0;
    int32_t raw_image_height = 0;
    int32_t raw_tone_mapping = 0;
    // Output
    std::string output_format;
    // Transform
    int8_t do_image_rotation = 0;
    int8_t image_rotation_type = 0;
    int32_t image_rotation = 0;
    std::string image_rotation_back_color;
    int8_t do_image_resize = 0;
    int32_t image_width = 0;
    int8_t image_width_unit = 0;
    int32_t image_height = 0;
    int8_t image_height_unit = 0;
    int8_t keep_aspect_ratio = 0;
    int8_t image_resize_type = 0;
    int8_t image_resize_algorithm = 0;
    int8_t do_image_flip_horizontal = 0;
    int8_t do_image_flip_vertical = 0;
    // Adjustment
    int8_t do_image_color_correction = 0;
    int32_t image_brightness = 0;
    int32_t image_contrast = 0;
    float image_gamma = 0;
    int8_t image_invert = 0;
    int8_t do_image_greyscale = 0;
    int8_t do_image_threshold = 0;
    int32_t image_threshold = 0;
    // Frame
    int8_t do_frame = 0;
    int32_t solid_left = 0;
    int32_t solid_right = 0;
    int32_t solid_top = 0;
    int32_t solid_bottom = 0;
    std::string solid_left_color;
    std::string solid_right_color;
    std::string solid_top_color;
    std::string solid_bottom_color;
    int32_t solid_opacity = 0;
    // Watermark
    int8_t do_watermark = kNoWatermark;  // a WatermarkMode
    std::string text;
    std::string fonts;
    std::string font;
    int32_t font_size = 0;
    int32_t font_leading = 0;
    std::string font_colors;
    std::string font_color;
    int8_t font_style = 0;
    int8_t font_effect = 0;
    int8_t text_antialiasing = 0;
    int8_t text_alignment = 0;
    int32_t text_padding = 0;
    int32_t text_opacity = 0;
    std::string back_colors;
    std::string back_color;
    int32_t back_opacity = 0;
    int8_t text_boundary = 0;
    int8_t text_position = 0;
    int32_t text_x_offset = 0;
    int32_t text_y_offset = 0;
    int32_t text_rotation = 0;
    int8_t text_size = 0;
    int32_t text_scale = 0;
    std::string watermark_image;
    int8_t image_greyscale = 0;
    int32_t image_opacity = 0;
    int8_t image_boundary = 0;
    int8_t image_position = 0;
    int32_t image_x_offset = 0;
    int32_t image_y_offset = 0;
    int32_t wm_image_rotation = 0;  // "Image Rotation" of group "Watermark"
    int8_t image_size = 0;
    int32_t image_scale = 0;
    // Advanced
    std::string filename_mask;
    int8_t file_timestamp = kCurrentTimestamp;  // a FileTimestamp
    int32_t custom_timestamp = 0;
    int8_t out_folders_history = 0;
    int8_t out_folders_number = 0;
    int8_t keep_subfolders = 0;
    // File
    std::string txt_fields;
    std::string csv_delimiter;
    std::string recent_out_folders;
    std::string recent_files;
    // Privacy
    int8_t clean_recent_files = 0;

    bool operator==(const Settings&) const = default;
};

// The process-wide record. Written on the main thread before a batch starts,
// only read while the worker runs.
inline Settings settings;

enum class SettingKind { Integer, Byte, Real, Text };

using SettingField = std::variant<int32_t Settings::*, int8_t Settings::*, float Settings::*,
                                  std::string Settings::*>;

// When a setting is in use: while a switch of the record has a value (the
// rotation keys while "Do Image Rotation" is 1, ...). The debug listing shows
// only settings in use; the preferences window greys out the others.
struct SettingUse {
    int8_t Settings::*when = nullptr;  // nullptr: always
    int8_t value = 1;
};

// The setting's line in the debug listing.
struct SettingListing {
    const char* label = nullptr;  // "Brightness: "; nullptr: not listed
    // The next key's value follows on the same line after this text ("Width:
    // 10 pixels", "Watermark offset (x/y): 10/10").
    const char* join_next = nullptr;
    // Names of the codes of a switch that no value-name table names ("Frame:
    // solid"); a code without a name shows as an empty text.
    std::span<const char* const> names{};
};

// The values a setting may take. An editor keeps to [low, high]; a checked
// setting outside its range stops a run.
struct SettingRange {
    double low = -100000;
    double high = 100000;
};

enum class CheckKind {
    None,
    InRange,  // low <= value <= high (a real compared in single precision)
    NotZero,  // only 0 is refused; the range applies to the editor only
};

struct SettingCheck {
    CheckKind kind = CheckKind::None;
    // What is wrong, "Invalid brightness value"; the console prints it after
    // "Error: ", the window shows it in its warning box.
    const char* message = nullptr;
    // Key of group "Msg" of the text table the window shows instead, where
    // it has a text of its own ("Invalid width").
    const char* window_key = nullptr;
    // Checked only for a run into this output format ("jpg"); nullptr: always
    // while the setting is in use.
    const char* format = nullptr;
};

// Where the preferences window puts the setting's editor: its page, the box
// on the page (a key of group "Preferences", "" for a box without caption)
// and its place among the page's editors. The output page lays out each
// format's settings as the format registry lists them, so its rows name only
// the page.
struct SettingPage {
    const char* page = nullptr;  // nullptr: no editor
    const char* box = "";
    int place = 0;
};

struct SettingKey {
    const char* group;
    const char* key;
    SettingKind kind;
    SettingField field;
    // Default as text, parsed by kind. "now" and "centred" are computed when
    // the defaults are set; "Keep Aspect Ratio" differs between the modes.
    const char* default_value;
    ValueTable table;  // kNoTable for none
    // Written to the preference file. Some keys are read but never written
    // ("Hide Passwords", "TxtFields", the input keys of other formats, ...).
    bool saved;
    SettingUse use{};
    SettingListing listing{};
    SettingRange range{};
    SettingCheck check{};
    SettingPage page{};
};

// Every key, in the order of the record, of the preference file and of the
// debug listing.
std::span<const SettingKey> SettingKeys();

// Whether the switch the key depends on (if any) has the value that puts it
// in use.
bool IsInUse(const Settings& s, const SettingKey& key);

// The value as the debug listing shows it: numbers in decimal, the real with
// two decimals, texts with their control characters escaped (VisibleText), a code by the lower-case name its table or
// the listing's names give it.
std::string ListingValue(const Settings& s, const SettingKey& key);

// The key's listing line, its label and value (and the joined key's value);
// empty when the key is not listed.
std::string ListingLine(const Settings& s, const SettingKey& key);

// The first key, in table order, whose check fails for a run into
// `conversion`; nullptr when all pass. Only keys in use are checked.
const SettingKey* CheckSettings(const Settings& s, std::string_view conversion);

// The key row of (group, key), compared exactly; nullptr when unknown.
const SettingKey* FindSettingKey(std::string_view group, std::string_view key);

// Value of a field as text ("%d" for numbers, six decimals for the real).
std::string SettingValueText(const Settings& s, const SettingKey& key);

// Sets a field from text: integers and bytes from their leading decimal digits
// (optional sign, no digits give 0), reals with "+Infinity", "-Infinity" and
// "NaN", texts unchanged.
void SetSettingFromText(Settings& s, const SettingKey& key, std::string_view value);

// Fills every field with its default: command line (true) or window mode
// (false). The sets differ only in "Keep Aspect Ratio". "X"/"Y" centre a
// window of "Width" x "Height" on a desktop of the given size.
void SetDefaultSettings(Settings& s, bool command_line, int desktop_width = 0,
                        int desktop_height = 0);

// The product's copyright notice: the default watermark text and the
// banner's second line (with "(c)" in place of the sign there).
inline constexpr const char* kCopyrightNotice = "Copyright \xC2\xA9 2026 Tarvel Software";
inline constexpr const char* kCopyrightNoticeAscii = "Copyright (c) 2026 Tarvel Software";
inline constexpr const char* kWebAddress = "https://kestrune.tarvel.example/";

}  // namespace kestrune
