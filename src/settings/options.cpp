#include "settings/options.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <type_traits>
#include <vector>

#include "platform/text.h"
#include "settings/preferences.h"

namespace kestrune {
namespace {

using S = Settings;
using F = OptionForm;

constexpr const char* kIncorrectParameters = "Incorrect number of parameters";
constexpr const char* kInvalidProfile = "Invalid profile file";

// An option that a profile may carry under its own name.
constexpr OptionRow Row(const char* name, OptionForm form, OptionTarget target, ValueTable table = kNoTable) {
    OptionRow row{name, nullptr, form, target};
    row.table = table;
    row.profile_key = name;
    return row;
}

constexpr OptionRow Switch(const char* name, int8_t S::*target, const char* fixed = "1") {
    OptionRow row = Row(name, F::Switch, target);
    row.fixed = fixed;
    return row;
}

constexpr OptionRow Also(OptionRow row, OptionSideEffect field, int8_t value) {
    row.also = field;
    row.also_value = value;
    return row;
}

// -i, -o and -c: the short form reads the next parameter, the long form its
// own "=" value; neither may start with "-", so a forgotten value is not
// mistaken for the option that follows it.
constexpr OptionRow RequestPath(const char* name, const char* short_name, OptionForm form,
                      std::string RunRequest::*target) {
    OptionRow row{name, short_name, form, target};
    row.separate_value = true;
    return row;
}

// The row's line in the help text.
constexpr OptionRow Help(OptionRow row, HelpSection section, int place, const char* line) {
    row.help_section = section;
    row.help_place = place;
    row.help = line;
    return row;
}

constexpr OptionRow FirstOnly(const char* name, const char* short_name, OptionForm form,
                              const char* other_name = nullptr) {
    OptionRow row{name, short_name, form, std::monostate{}};
    row.other_name = other_name;
    return row;
}

constexpr OptionRow CommandLineSwitch(const char* name, const char* short_name, OptionTarget target,
                            const char* fixed = nullptr) {
    OptionRow row{name, short_name, F::Switch, target};
    row.fixed = fixed;
    return row;
}

using H = HelpSection;

constexpr OptionRow kOptionsBeforeFormats[] = {
    Help(FirstOnly("--HELP", "-H", F::Help, "-?"), H::Options, 1,
         "  -h, -?, --help            Display this help and exit"),
    Help(FirstOnly("--VERSION", "-V", F::Version), H::Other, 4,
         "  -v, --version             Display version information and exit"),
    Help(Also(RequestPath("--INPUT", "-I", F::QuotedText, &RunRequest::input_path), &RunRequest::input_given, 1),
         H::Options, 2, "  -i FILE, --input=FILE     Set input file/list/folder"),
    Help(RequestPath("--OUTPUT", "-O", F::QuotedText, &RunRequest::output_folder), H::Options, 3,
         "  -o PATH, --output=PATH    Set output folder"),
    Help(RequestPath("--CONVERSION", "-C", F::StrippedText, &RunRequest::conversion), H::Options, 4,
         "  -c STR, --conversion=STR  Set output extension, STR = (jpg | bmp | ...)"),

    Row("--DDS-LOAD-AS", F::Name, &S::dds_load_as, kTableDdsLoadAs),
    Row("--GIF-FRAME-LOADING", F::Name, &S::gif_frame_loading, kTableFrameLoading),
    Row("--ICO-FRAME-LOADING", F::Name, &S::ico_frame_loading, kTableFrameLoading),
    Row("--TIFF-FRAME-LOADING", F::Name, &S::tiff_frame_loading, kTableFrameLoading),
    Row("--RAW-LOAD-AS", F::Name, &S::raw_load_as, kTableRawLoadAs),
    Row("--RAW-HEADER-SIZE", F::Integer, &S::raw_header_size),
    Row("--RAW-WIDTH", F::Integer, &S::raw_image_width),
    Row("--RAW-HEIGHT", F::Integer, &S::raw_image_height),
    Row("--RAW-TONE-MAPPING", F::Name, &S::raw_tone_mapping, kTableToneMapping),
};

// After the options of each output format's settings (format_settings.h).
constexpr OptionRow kOptionsAfterFormats[] = {
    Row("--ROTATION-TYPE", F::Name, &S::image_rotation_type, kTableRotationType),
    Also(Row("--ROTATION", F::Integer, &S::image_rotation), &S::do_image_rotation, 1),
    Row("--ROTATION-BACK-COLOR", F::QuotedText, &S::image_rotation_back_color),
    Help(Also(Row("--WIDTH", F::Integer, &S::image_width), &S::do_image_resize, 1),
         H::Advanced, 1, "  --width=NUM               Set output image width"),
    Row("--WIDTH-UNIT", F::Name, &S::image_width_unit, kTableUnit),
    Help(Also(Row("--HEIGHT", F::Integer, &S::image_height), &S::do_image_resize, 1),
         H::Advanced, 2, "  --height=NUM              Set output image height"),
    Row("--HEIGHT-UNIT", F::Name, &S::image_height_unit, kTableUnit),
    Switch("--KEEP-ASPECT-RATIO", &S::keep_aspect_ratio),
    Row("--RESIZE-TYPE", F::Name, &S::image_resize_type, kTableResizeType),
    Row("--RESIZE-ALGORITHM", F::Name, &S::image_resize_algorithm, kTableResizeAlgorithm),
    Help(Switch("--FLIP-HORIZONTAL", &S::do_image_flip_horizontal),
         H::Advanced, 4, "  --flip-horizontal         Flip output image horizontally"),
    Help(Switch("--FLIP-VERTICAL", &S::do_image_flip_vertical),
         H::Advanced, 5, "  --flip-vertical           Flip output image vertically"),

    Help(Also(Row("--BRIGHTNESS", F::Integer, &S::image_brightness), &S::do_image_color_correction, 1),
         H::Advanced, 6, "  --brightness=NUM          Set output image brightness, NUM = -100..100"),
    Help(Also(Row("--CONTRAST", F::Integer, &S::image_contrast), &S::do_image_color_correction, 1),
         H::Advanced, 7, "  --contrast=NUM            Set output image contrast, NUM = -100..100"),
    Help(Also(Row("--GAMMA", F::Real, &S::image_gamma), &S::do_image_color_correction, 1),
         H::Advanced, 8, "  --gamma=NUM               Set output image gamma, NUM = 0.01..9.99"),
    Help(Also(Switch("--INVERT", &S::image_invert), &S::do_image_color_correction, 1),
         H::Advanced, 9, "  --invert                  Invert output image"),
    Help(Switch("--GREYSCALE", &S::do_image_greyscale),
         H::Advanced, 10, "  --greyscale               Greyscale output image"),
    Also(Row("--THRESHOLD", F::Integer, &S::image_threshold), &S::do_image_threshold, 1),

    Also(Row("--FR-SOLID-LEFT", F::Integer, &S::solid_left), &S::do_frame, 1),
    Also(Row("--FR-SOLID-RIGHT", F::Integer, &S::solid_right), &S::do_frame, 1),
    Also(Row("--FR-SOLID-TOP", F::Integer, &S::solid_top), &S::do_frame, 1),
    Also(Row("--FR-SOLID-BOTTOM", F::Integer, &S::solid_bottom), &S::do_frame, 1),
    Row("--FR-SOLID-LEFT-COLOR", F::QuotedText, &S::solid_left_color),
    Row("--FR-SOLID-RIGHT-COLOR", F::QuotedText, &S::solid_right_color),
    Row("--FR-SOLID-TOP-COLOR", F::QuotedText, &S::solid_top_color),
    Row("--FR-SOLID-BOTTOM-COLOR", F::QuotedText, &S::solid_bottom_color),
    // Profiles have always spelt this one with the watermark prefix; existing
    // profile files depend on it.
    [] {
        OptionRow row = Row("--FR-SOLID-OPACITY", F::Integer, &S::solid_opacity);
        row.profile_key = "--WM-SOLID-OPACITY";
        return row;
    }(),

    Also(Row("--WM-TEXT", F::QuotedText, &S::text), &S::do_watermark, kTextWatermark),
    Row("--WM-FONT", F::QuotedText, &S::font),
    Row("--WM-FONT-SIZE", F::Integer, &S::font_size),
    Row("--WM-FONT-LEADING", F::Integer, &S::font_leading),
    Row("--WM-FONT-COLOR", F::QuotedText, &S::font_color),
    Row("--WM-FONT-STYLE", F::Name, &S::font_style, kTableFontStyle),
    Row("--WM-FONT-EFFECT", F::Name, &S::font_effect, kTableFontEffect),
    Switch("--WM-TEXT-ANTIALIASING", &S::text_antialiasing),
    Row("--WM-TEXT-ALIGNMENT", F::Name, &S::text_alignment, kTableTextAlignment),
    Row("--WM-TEXT-PADDING", F::Integer, &S::text_padding),
    Row("--WM-TEXT-OPACITY", F::Integer, &S::text_opacity),
    Row("--WM-BACK-COLOR", F::QuotedText, &S::back_color),
    Row("--WM-BACK-OPACITY", F::Integer, &S::back_opacity),
    Row("--WM-TEXT-BOUNDARY", F::Name, &S::text_boundary, kTableBoundary),
    Row("--WM-TEXT-POSITION", F::Name, &S::text_position, kTablePosition),
    Row("--WM-TEXT-X-OFFSET", F::Integer, &S::text_x_offset),
    Row("--WM-TEXT-Y-OFFSET", F::Integer, &S::text_y_offset),
    Row("--WM-TEXT-ROTATION", F::Integer, &S::text_rotation),
    Row("--WM-TEXT-SIZE", F::Name, &S::text_size, kTableSizeMode),
    Also(Row("--WM-IMAGE", F::QuotedText, &S::watermark_image), &S::do_watermark, kImageWatermark),
    Switch("--WM-IMAGE-GREYSCALE", &S::image_greyscale),
    Row("--WM-IMAGE-OPACITY", F::Integer, &S::image_opacity),
    Row("--WM-IMAGE-BOUNDARY", F::Name, &S::image_boundary, kTableBoundary),
    Row("--WM-IMAGE-POSITION", F::Name, &S::image_position, kTablePosition),
    Row("--WM-IMAGE-X-OFFSET", F::Integer, &S::image_x_offset),
    Row("--WM-IMAGE-Y-OFFSET", F::Integer, &S::image_y_offset),
    Row("--WM-IMAGE-ROTATION", F::Integer, &S::wm_image_rotation),
    Row("--WM-IMAGE-SIZE", F::Name, &S::image_size, kTableSizeMode),

    // A mask is a file name, so quotes around it in a profile can only be
    // quoting; a watermark text may want to show them.
    [] {
        OptionRow row = Row("--FILENAME-MASK", F::QuotedText, &S::filename_mask);
        row.profile_text = ProfileText::QuotesRemoved;
        return Help(row, H::Advanced, 3, "  --filename-mask=STR       Define output filename format");
    }(),
    Row("--FILE-TIMESTAMP", F::Name, &S::file_timestamp, kTableTimestamp),
    Row("--FILE-TIMESTAMP-CUSTOM", F::Integer, &S::custom_timestamp),
    Switch("--NO-SUBFOLDERS", &S::keep_subfolders, "0"),

    Help(OptionRow{"--PROFILE", nullptr, F::Profile, std::monostate{}}, H::Advanced, 11,
         "  --profile=FILE            Set configuration file with required settings"),
    Help(CommandLineSwitch("--DEBUG", "-D", &RunRequest::mode, "DEBUG"), H::Other, 2,
         "  -d, --debug               Print debug information to stdout"),
    Help(CommandLineSwitch("--QUIET", "-Q", &ParseResult::quiet), H::Other, 1,
         "  -q, --quiet               Don't print status messages to stdout"),
    Help(CommandLineSwitch("--PAUSE", "-P", &ParseResult::pause), H::Other, 3,
         "  -p, --pause               Pause at exit"),
};

static_assert(std::ranges::all_of(kOptionsBeforeFormats, FormFitsTarget) &&
                  std::ranges::all_of(kOptionsAfterFormats, FormFitsTarget),
              "an option's form does not fit its target");

// The option of a format's encoder setting: a name from its table, an on/off
// switch for a byte, a number otherwise.
OptionRow EncoderRow(const char* name, const EncoderSetting& setting) {
    return std::visit(
        [&](auto member) {
            using T = std::remove_reference_t<decltype(Settings{}.*member)>;
            const auto target = static_cast<T Settings::*>(member);
            if constexpr (std::is_same_v<T, int8_t>) return Switch(name, target);
            else return Row(name, setting.table == kNoTable ? F::Integer : F::Name, target, setting.table);
        },
        setting.field);
}

// Every option in order: the leading rows, then each format's depth, the
// compressions, the other encoder settings (each in format order), the rest.
std::vector<OptionRow> BuildOptionTable() {
    static std::deque<std::string> names;  // the rows' names point here
    std::vector<OptionRow> rows(std::begin(kOptionsBeforeFormats), std::end(kOptionsBeforeFormats));
    for (const FormatSettings& format : kFormatSettings)
        rows.push_back(Row(names.emplace_back(DepthOptionName(format)).c_str(), F::Integer,
                           static_cast<int32_t Settings::*>(format.bpp)));
    for (const bool compression : {true, false})
        for (const FormatSettings& format : kFormatSettings)
            for (const EncoderSetting& setting : format.encoder)
                if ((setting.table == kTableCompression) == compression) {
                    const std::string& name = names.emplace_back(EncoderOptionName(format, setting));
                    rows.push_back(EncoderRow(name.c_str(), setting));
                }
    rows.insert(rows.end(), std::begin(kOptionsAfterFormats), std::end(kOptionsAfterFormats));
    return rows;
}

void ApplySideEffect(const OptionRow& row) {
    std::visit(
        [&](auto field) {
            if constexpr (std::is_same_v<decltype(field), int8_t Settings::*>)
                settings.*field = row.also_value;
            else if constexpr (std::is_same_v<decltype(field), bool RunRequest::*>)
                run_request.*field = row.also_value != 0;
        },
        row.also);
}

bool EndsWithQuote(const std::string& s) { return !s.empty() && s.back() == '"'; }

}  // namespace

std::span<const OptionRow> OptionTable() {
    static const std::vector<OptionRow> rows = BuildOptionTable();
    return rows;
}

const OptionRow* FindOption(std::string_view upper_name) {
    if (upper_name.empty()) return nullptr;
    for (const OptionRow& row : OptionTable())
        if (upper_name == row.name || (row.short_name && upper_name == row.short_name) ||
            (row.other_name && upper_name == row.other_name))
            return &row;
    return nullptr;
}

const OptionRow* FindProfileOption(std::string_view upper_key) {
    if (upper_key.empty()) return nullptr;
    for (const OptionRow& row : OptionTable())
        if (row.profile_key && upper_key == row.profile_key) return &row;
    return nullptr;
}

std::string OptionName(std::string_view param) {
    std::string p = Trim(param);
    if (p.starts_with("--")) {
        const size_t eq = p.find('=');
        if (eq != std::string::npos) p.resize(eq);
    } else if (!p.starts_with("-")) {
        p.clear();
    }
    return ToUpper(p);
}

std::string OptionValue(std::string_view param) {
    std::string p = Trim(param);
    if (p.starts_with("--")) {
        const size_t eq = p.find('=');
        if (eq != std::string::npos) return p.substr(eq + 1);
    }
    return p;
}

int32_t ConvertInteger(std::string_view text) { return ParseLeadingInteger(TrimLeft(text, " \t"), true); }

float ConvertReal(std::string_view text) { return ParseRealOrWord(Trim(text, " \t")); }

std::string StripQuotes(std::string_view text) { return Trim(text, "\""); }

void ApplyOption(const OptionRow& row, std::string_view value, ParseResult& result) {
    std::visit(
        [&](auto field) {
            using T = decltype(field);
            if constexpr (std::is_same_v<T, int32_t Settings::*>) {
                settings.*field = row.form == F::Name ? LookupValueName(Trim(value), row.table)
                                                      : ConvertInteger(value);
            } else if constexpr (std::is_same_v<T, int8_t Settings::*>) {
                settings.*field = static_cast<int8_t>(
                    row.form == F::Switch ? ConvertInteger(row.fixed) : LookupValueName(Trim(value), row.table));
            } else if constexpr (std::is_same_v<T, float Settings::*>) {
                settings.*field = ConvertReal(value);
            } else if constexpr (std::is_same_v<T, std::string Settings::*>) {
                settings.*field = std::string(value);
            } else if constexpr (std::is_same_v<T, std::string RunRequest::*>) {
                run_request.*field = row.form == F::Switch ? std::string(row.fixed) : std::string(value);
            } else if constexpr (std::is_same_v<T, bool ParseResult::*>) {
                result.*field = true;
            }
        },
        row.target);
    ApplySideEffect(row);
}

ParseResult ParseOptions(const std::vector<std::string>& params) {
    ParseResult result;
    const size_t count = params.size();
    for (size_t i = 0; i < count; ++i) {
        const std::string name = OptionName(params[i]);
        const OptionRow* row = FindOption(name);
        // Unknown options and stray words pass silently, and so do -h and -v
        // after the first parameter.
        if (!row || row->form == F::Help || row->form == F::Version) continue;
        // "Input given" is known as soon as -i is met, even if its value then
        // turns out to be missing.
        ApplySideEffect(*row);
        if (row->form == F::Switch) {
            ApplyOption(*row, {}, result);
            continue;
        }

        std::string value;
        if (row->short_name && name == row->short_name) {
            if (i + 1 >= count) {
                result.error = kIncorrectParameters;
                return result;
            }
            const std::string next = Trim(params[i + 1]);
            if (next.empty() || next.front() == '-') {
                result.error = kIncorrectParameters;
                return result;
            }
            value = OptionValue(params[++i]);
        } else {
            value = OptionValue(params[i]);
            // Only -i, -o and -c refuse a single "-": elsewhere it is the
            // sign of a negative number.
            const bool missing = value.empty() || (row->separate_value ? value.front() == '-'
                                                                       : value.starts_with("--"));
            if (missing) {
                result.error = kIncorrectParameters;
                return result;
            }
        }

        if (row->form == F::QuotedText || row->form == F::Profile) {
            // A quoted value the runtime split at blanks is put back together.
            if (value.front() == '"' && !EndsWithQuote(value)) {
                while (!EndsWithQuote(value) && i + 1 < count) value += " " + params[++i];
            }
            value = StripQuotes(value);
        } else if (row->form == F::StrippedText) {
            value = StripQuotes(value);
        }

        if (row->form == F::Profile) {
            if (!LoadProfile(value)) {
                result.error = kInvalidProfile;
                return result;
            }
            continue;
        }
        ApplyOption(*row, value, result);
    }
    return result;
}

}  // namespace kestrune
