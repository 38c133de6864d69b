#include "settings/settings.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <deque>
#include <limits>
#include <type_traits>
#include <vector>

#include "platform/clock.h"
#include "platform/text.h"
#include "settings/mask_tokens.h"

namespace kestrune {
namespace {

using K = SettingKind;
using S = Settings;

constexpr const char* kPalette = "000000,FFFFFF,FF0000,FF8000,FFFF00,008000,00FFFF,0000FF,8000FF";

// The listing names the codes of the two mode switches itself
// (kWatermarkModeNames for "Do Watermark"); no option or profile names them.
constexpr const char* kFrameModes[] = {"none", "solid"};

// Columns after "saved": in use when, listing line, range, check, place in
// the preferences window.
const SettingKey kKeysBeforeFormats[] = {
    // No update service and no recent-files list exist to act on, so "Update
    // Range" and "Clean Recent Files" have no place in the preferences window.
    {"General", "CFG", K::Integer, &S::cfg, "17", kNoTable, true},
    {"General", "Language", K::Text, &S::language, "en", kNoTable, true},
    {"General", "Update Range", K::Integer, &S::update_range, "2", kNoTable, true,
     {}, {}, {0, 365}},
    {"General", "Update Date", K::Integer, &S::update_date, "now", kNoTable, true},
    {"General", "Save Window Position", K::Byte, &S::save_window_position, "1", kNoTable, true,
     {}, {}, {}, {}, {"General", "", 1}},

    {"Window", "IsMaximized", K::Byte, &S::is_maximized, "0", kNoTable, true},
    {"Window", "Width", K::Integer, &S::window_width, "510", kNoTable, true},
    {"Window", "Height", K::Integer, &S::window_height, "330", kNoTable, true},
    {"Window", "X", K::Integer, &S::window_x, "centred", kNoTable, true},
    {"Window", "Y", K::Integer, &S::window_y, "centred", kNoTable, true},
    {"Window", "Hide Passwords", K::Byte, &S::hide_passwords, "0", kNoTable, false},
    {"Window", "Show Single Password", K::Byte, &S::show_single_password, "1", kNoTable, false},
    {"Window", "Show Password List", K::Byte, &S::show_password_list, "1", kNoTable, false},
    {"Window", "Show Character Set", K::Byte, &S::show_character_set, "1", kNoTable, false},
    {"Window", "Show Advanced Options", K::Byte, &S::show_advanced_options, "1", kNoTable, false},
    {"Window", "Show Toolbar", K::Byte, &S::show_toolbar, "1", kNoTable, true},

    {"Interface", "UI Theme", K::Text, &S::ui_theme, "handdrawn", kNoTable, true},
    {"Interface", "UI Size", K::Integer, &S::ui_size, "2", kNoTable, true},

    // Only GIF is read; the load settings of the other input formats have no
    // effect and are left to the preference file.
    {"Input", "Format", K::Text, &S::input_format, "gif", kNoTable, true},
    {"Input", "DDS Load As", K::Integer, &S::dds_load_as, "0", kTableDdsLoadAs, false},
    {"Input", "GIF Frame Loading", K::Integer, &S::gif_frame_loading, "0", kTableFrameLoading, true,
     {}, {.label = "GIF Frame Loading: "}, {}, {}, {"Input", "Frame Loading", 1}},
    {"Input", "ICO Frame Loading", K::Integer, &S::ico_frame_loading, "0", kTableFrameLoading, false},
    {"Input", "TIFF Frame Loading", K::Integer, &S::tiff_frame_loading, "0", kTableFrameLoading, false},
    {"Input", "RAW Load As", K::Integer, &S::raw_load_as, "0", kTableRawLoadAs, false},
    {"Input", "RAW Header Size", K::Integer, &S::raw_header_size, "0", kNoTable, false},
    {"Input", "RAW Image Width", K::Integer, &S::raw_image_width, "0", kNoTable, false},
    {"Input", "RAW Image Height", K::Integer, &S::raw_image_height, "0", kNoTable, false},
    {"Input", "RAW Tone Mapping", K::Integer, &S::raw_tone_mapping, "2", kTableToneMapping, false},

    {"Output", "Format", K::Text, &S::output_format, "bmp", kNoTable, true,
     {}, {}, {}, {}, {"Output"}},
};

// After the keys of each output format's settings (format_settings.h).
const SettingKey kKeysAfterFormats[] = {
    {"Transform", "Do Image Rotation", K::Byte, &S::do_image_rotation, "0", kNoTable, true,
     {}, {}, {}, {}, {"Transform", "Rotation", 1}},
    {"Transform", "Image Rotation Type", K::Byte, &S::image_rotation_type, "0", kTableRotationType, true,
     {&S::do_image_rotation}, {.label = "Image Rotation Type: "}, {}, {}, {"Transform", "Rotation", 2}},
    {"Transform", "Image Rotation", K::Integer, &S::image_rotation, "0", kNoTable, true,
     {&S::do_image_rotation}, {.label = "Image Rotation: "}, {-360, 360}, {}, {"Transform", "Rotation", 3}},
    {"Transform", "Image Rotation Back Color", K::Text, &S::image_rotation_back_color, "000000", kNoTable, true,
     {&S::do_image_rotation}, {.label = "Image Rotation Back Color: "}, {}, {}, {"Transform", "Rotation", 4}},
    {"Transform", "Do Image Resize", K::Byte, &S::do_image_resize, "0", kNoTable, true,
     {}, {}, {}, {}, {"Transform", "Resize", 5}},
    {"Transform", "Image Width", K::Integer, &S::image_width, "0", kNoTable, true,
     {&S::do_image_resize}, {.label = "Width: ", .join_next = " "}, {0, 65535}, {CheckKind::NotZero, "Invalid width value", "Invalid width"}, {"Transform", "Resize", 6}},
    {"Transform", "Image Width Unit", K::Byte, &S::image_width_unit, "0", kTableUnit, true,
     {&S::do_image_resize}, {}, {}, {}, {"Transform", "Resize", 7}},
    {"Transform", "Image Height", K::Integer, &S::image_height, "0", kNoTable, true,
     {&S::do_image_resize}, {.label = "Height: ", .join_next = " "}, {0, 65535}, {CheckKind::NotZero, "Invalid height value", "Invalid height"}, {"Transform", "Resize", 8}},
    {"Transform", "Image Height Unit", K::Byte, &S::image_height_unit, "0", kTableUnit, true,
     {&S::do_image_resize}, {}, {}, {}, {"Transform", "Resize", 9}},
    {"Transform", "Keep Aspect Ratio", K::Byte, &S::keep_aspect_ratio, "0", kNoTable, true,
     {&S::do_image_resize}, {.label = "Keep Aspect Ratio: "}, {}, {}, {"Transform", "Resize", 10}},
    {"Transform", "Image Resize Type", K::Byte, &S::image_resize_type, "0", kTableResizeType, true,
     {&S::do_image_resize}, {.label = "Image Resize Type: "}, {}, {}, {"Transform", "Resize", 11}},
    {"Transform", "Image Resize Algorithm", K::Byte, &S::image_resize_algorithm, "3", kTableResizeAlgorithm, true,
     {&S::do_image_resize}, {.label = "Image Resize Algorithm: "}, {}, {}, {"Transform", "Resize", 12}},
    {"Transform", "Do Image Flip Horizontal", K::Byte, &S::do_image_flip_horizontal, "0", kNoTable, true,
     {}, {.label = "Flip Horizontal: "}, {}, {}, {"Transform", "Flip", 13}},
    {"Transform", "Do Image Flip Vertical", K::Byte, &S::do_image_flip_vertical, "0", kNoTable, true,
     {}, {.label = "Flip Vertical: "}, {}, {}, {"Transform", "Flip", 14}},

    {"Adjustment", "Do Image Color Correction", K::Byte, &S::do_image_color_correction, "0", kNoTable, true,
     {}, {}, {}, {}, {"Adjustment", "Color Correction", 1}},
    {"Adjustment", "Image Brightness", K::Integer, &S::image_brightness, "0", kNoTable, true,
     {&S::do_image_color_correction}, {.label = "Brightness: "}, {-100, 100}, {CheckKind::InRange, "Invalid brightness value"}, {"Adjustment", "Color Correction", 2}},
    {"Adjustment", "Image Contrast", K::Integer, &S::image_contrast, "0", kNoTable, true,
     {&S::do_image_color_correction}, {.label = "Contrast: "}, {-100, 100}, {CheckKind::InRange, "Invalid contrast value"}, {"Adjustment", "Color Correction", 3}},
    {"Adjustment", "Image Gamma", K::Real, &S::image_gamma, "1.0", kNoTable, true,
     {&S::do_image_color_correction}, {.label = "Gamma: "}, {0.01, 9.99}, {CheckKind::InRange, "Invalid gamma value"}, {"Adjustment", "Color Correction", 4}},
    {"Adjustment", "Image Invert", K::Byte, &S::image_invert, "0", kNoTable, true,
     {&S::do_image_color_correction}, {.label = "Invert: "}, {}, {}, {"Adjustment", "Color Correction", 5}},
    {"Adjustment", "Do Image Greyscale", K::Byte, &S::do_image_greyscale, "0", kNoTable, true,
     {}, {.label = "Greyscale: "}, {}, {}, {"Adjustment", "Adjustment", 6}},
    {"Adjustment", "Do Image Threshold", K::Byte, &S::do_image_threshold, "0", kNoTable, true,
     {}, {}, {}, {}, {"Adjustment", "Adjustment", 7}},
    {"Adjustment", "Image Threshold", K::Integer, &S::image_threshold, "0", kNoTable, true,
     {&S::do_image_threshold}, {.label = "Image Threshold: "}, {0, 255}, {}, {"Adjustment", "Adjustment", 8}},

    {"Frame", "Do Frame", K::Byte, &S::do_frame, "0", kNoTable, true,
     {}, {.label = "Frame: ", .names = kFrameModes}, {}, {}, {"Frame", "", 1}},
    {"Frame", "Solid Left", K::Integer, &S::solid_left, "0", kNoTable, true,
     {&S::do_frame}, {.label = "Frame left: "}, {0, 10000}, {}, {"Frame", "", 2}},
    {"Frame", "Solid Right", K::Integer, &S::solid_right, "0", kNoTable, true,
     {&S::do_frame}, {.label = "Frame right: "}, {0, 10000}, {}, {"Frame", "", 3}},
    {"Frame", "Solid Top", K::Integer, &S::solid_top, "0", kNoTable, true,
     {&S::do_frame}, {.label = "Frame top: "}, {0, 10000}, {}, {"Frame", "", 4}},
    {"Frame", "Solid Bottom", K::Integer, &S::solid_bottom, "0", kNoTable, true,
     {&S::do_frame}, {.label = "Frame bottom: "}, {0, 10000}, {}, {"Frame", "", 5}},
    {"Frame", "Solid Left Color", K::Text, &S::solid_left_color, "000000", kNoTable, true,
     {&S::do_frame}, {.label = "Frame left color: "}, {}, {}, {"Frame", "", 6}},
    {"Frame", "Solid Right Color", K::Text, &S::solid_right_color, "000000", kNoTable, true,
     {&S::do_frame}, {.label = "Frame right color: "}, {}, {}, {"Frame", "", 7}},
    {"Frame", "Solid Top Color", K::Text, &S::solid_top_color, "000000", kNoTable, true,
     {&S::do_frame}, {.label = "Frame top color: "}, {}, {}, {"Frame", "", 8}},
    {"Frame", "Solid Bottom Color", K::Text, &S::solid_bottom_color, "000000", kNoTable, true,
     {&S::do_frame}, {.label = "Frame bottom color: "}, {}, {}, {"Frame", "", 9}},
    {"Frame", "Solid Opacity", K::Integer, &S::solid_opacity, "255", kNoTable, true,
     {&S::do_frame}, {.label = "Frame opacity: "}, {0, 255}, {}, {"Frame", "", 10}},

    {"Watermark", "Do Watermark", K::Byte, &S::do_watermark, "0", kNoTable, true,
     {}, {.label = "Watermark: ", .names = kWatermarkModeNames}, {}, {}, {"Watermark", "", 1}},
    {"Watermark", "Text", K::Text, &S::text, kCopyrightNotice, kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark text: "}, {}, {}, {"Watermark", "Text Watermark", 2}},
    {"Watermark", "Fonts", K::Text, &S::fonts, "Arial,Tahoma,Verdana", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {}, {}, {}, {"Watermark", "Text Watermark", 4}},
    {"Watermark", "Font", K::Text, &S::font, "Arial", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark font: "}, {}, {}, {"Watermark", "Text Watermark", 3}},
    {"Watermark", "Font Size", K::Integer, &S::font_size, "14", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark font size: "}, {1, 1000}, {}, {"Watermark", "Text Watermark", 5}},
    {"Watermark", "Font Leading", K::Integer, &S::font_leading, "0", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark font leading: "}, {-1000, 1000}, {}, {"Watermark", "Text Watermark", 6}},
    {"Watermark", "Font Colors", K::Text, &S::font_colors, kPalette, kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {}, {}, {}, {"Watermark", "Text Watermark", 10}},
    {"Watermark", "Font Color", K::Text, &S::font_color, "FFFFFF", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark font color: "}, {}, {}, {"Watermark", "Text Watermark", 9}},
    {"Watermark", "Font Style", K::Byte, &S::font_style, "0", kTableFontStyle, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark font style: "}, {}, {}, {"Watermark", "Text Watermark", 7}},
    {"Watermark", "Font Effect", K::Byte, &S::font_effect, "0", kTableFontEffect, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark font effect: "}, {}, {}, {"Watermark", "Text Watermark", 8}},
    {"Watermark", "Text Antialiasing", K::Byte, &S::text_antialiasing, "0", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark text antialiasing: "}, {}, {}, {"Watermark", "Text Watermark", 11}},
    {"Watermark", "Text Alignment", K::Byte, &S::text_alignment, "0", kTableTextAlignment, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark text alignment: "}, {}, {}, {"Watermark", "Text Watermark", 12}},
    {"Watermark", "Text Padding", K::Integer, &S::text_padding, "0", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark text padding: "}, {0, 1000}, {}, {"Watermark", "Text Watermark", 13}},
    {"Watermark", "Text Opacity", K::Integer, &S::text_opacity, "255", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark text opacity: "}, {0, 255}, {}, {"Watermark", "Text Watermark", 14}},
    {"Watermark", "Back Colors", K::Text, &S::back_colors, kPalette, kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {}, {}, {}, {"Watermark", "Text Watermark", 16}},
    {"Watermark", "Back Color", K::Text, &S::back_color, "000000", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark background color: "}, {}, {}, {"Watermark", "Text Watermark", 15}},
    {"Watermark", "Back Opacity", K::Integer, &S::back_opacity, "1", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark background opacity: "}, {0, 255}, {}, {"Watermark", "Text Watermark", 17}},
    {"Watermark", "Text Boundary", K::Byte, &S::text_boundary, "0", kTableBoundary, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark boundary: "}, {}, {}, {"Watermark", "Placement", 18}},
    {"Watermark", "Text Position", K::Byte, &S::text_position, "8", kTablePosition, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark position: "}, {}, {}, {"Watermark", "Placement", 19}},
    {"Watermark", "Text X Offset", K::Integer, &S::text_x_offset, "10", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark offset (x/y): ", .join_next = "/"}, {}, {}, {"Watermark", "Placement", 20}},
    {"Watermark", "Text Y Offset", K::Integer, &S::text_y_offset, "10", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {}, {}, {}, {"Watermark", "Placement", 21}},
    {"Watermark", "Text Rotation", K::Integer, &S::text_rotation, "0", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark rotation: "}, {-360, 360}, {}, {"Watermark", "Placement", 22}},
    {"Watermark", "Text Size", K::Byte, &S::text_size, "0", kTableSizeMode, true,
     {&S::do_watermark, kTextWatermark}, {.label = "Watermark size/mode: "}, {}, {}, {"Watermark", "Placement", 23}},
    {"Watermark", "Text Scale", K::Integer, &S::text_scale, "10", kNoTable, true,
     {&S::do_watermark, kTextWatermark}, {}, {0, 1000}, {}, {"Watermark", "Placement", 24}},
    {"Watermark", "Image", K::Text, &S::watermark_image, "", kNoTable, true,
     {&S::do_watermark, kImageWatermark}, {.label = "Watermark image: "}, {}, {}, {"Watermark", "Image Watermark", 25}},
    {"Watermark", "Image Greyscale", K::Byte, &S::image_greyscale, "0", kNoTable, true,
     {&S::do_watermark, kImageWatermark}, {.label = "Watermark greyscale: "}, {}, {}, {"Watermark", "Image Watermark", 26}},
    {"Watermark", "Image Opacity", K::Integer, &S::image_opacity, "255", kNoTable, true,
     {&S::do_watermark, kImageWatermark}, {.label = "Watermark opacity: "}, {0, 255}, {}, {"Watermark", "Image Watermark", 27}},
    {"Watermark", "Image Boundary", K::Byte, &S::image_boundary, "0", kTableBoundary, true,
     {&S::do_watermark, kImageWatermark}, {.label = "Watermark boundary: "}, {}, {}, {"Watermark", "Placement", 28}},
    {"Watermark", "Image Position", K::Byte, &S::image_position, "8", kTablePosition, true,
     {&S::do_watermark, kImageWatermark}, {.label = "Watermark position: "}, {}, {}, {"Watermark", "Placement", 29}},
    {"Watermark", "Image X Offset", K::Integer, &S::image_x_offset, "10", kNoTable, true,
     {&S::do_watermark, kImageWatermark}, {.label = "Watermark offset (x/y): ", .join_next = "/"}, {}, {}, {"Watermark", "Placement", 30}},
    {"Watermark", "Image Y Offset", K::Integer, &S::image_y_offset, "10", kNoTable, true,
     {&S::do_watermark, kImageWatermark}, {}, {}, {}, {"Watermark", "Placement", 31}},
    {"Watermark", "Image Rotation", K::Integer, &S::wm_image_rotation, "0", kNoTable, true,
     {&S::do_watermark, kImageWatermark}, {.label = "Watermark rotation: "}, {-360, 360}, {}, {"Watermark", "Placement", 32}},
    {"Watermark", "Image Size", K::Byte, &S::image_size, "0", kTableSizeMode, true,
     {&S::do_watermark, kImageWatermark}, {.label = "Watermark size/mode: "}, {}, {}, {"Watermark", "Placement", 33}},
    {"Watermark", "Image Scale", K::Integer, &S::image_scale, "10", kNoTable, true,
     {&S::do_watermark, kImageWatermark}, {}, {0, 1000}, {}, {"Watermark", "Placement", 34}},

    {"Advanced", "Filename Mask", K::Text, &S::filename_mask, kDefaultFilenameMask, kNoTable, true,
     {}, {.label = "Filename Mask: "}, {}, {}, {"Advanced", "File Names", 1}},
    {"Advanced", "File Timestamp", K::Byte, &S::file_timestamp, "0", kTableTimestamp, true,
     {}, {.label = "File Timestamp: "}, {}, {}, {"Advanced", "Timestamp", 2}},
    {"Advanced", "Custom Timestamp", K::Integer, &S::custom_timestamp, "now", kNoTable, true,
     {&S::file_timestamp, kCustomTimestamp}, {.label = "Custom Timestamp: "}, {}, {}, {"Advanced", "Timestamp", 3}},
    {"Advanced", "Out Folders History", K::Byte, &S::out_folders_history, "1", kNoTable, true,
     {}, {}, {}, {}, {"Advanced", "Folders", 5}},
    {"Advanced", "Out Folders Number", K::Byte, &S::out_folders_number, "5", kNoTable, true,
     {&S::out_folders_history}, {}, {1, 127}, {}, {"Advanced", "Folders", 6}},
    {"Advanced", "Keep Subfolders", K::Byte, &S::keep_subfolders, "1", kNoTable, true,
     {}, {.label = "Keep Subfolders: "}, {}, {}, {"Advanced", "Folders", 4}},

    {"File", "TxtFields", K::Text, &S::txt_fields, "username,password,firstname,lastname,title,sex,notes", kNoTable, false},
    {"File", "CsvDelimiter", K::Text, &S::csv_delimiter, ",", kNoTable, false},
    {"File", "Recent Out Folders", K::Text, &S::recent_out_folders, "", kNoTable, true},
    {"File", "Recent Files", K::Text, &S::recent_files, "", kNoTable, true},

    {"Privacy", "Clean Recent Files", K::Byte, &S::clean_recent_files, "0", kNoTable, true},
};

constexpr ValueName kDdsLoadAsNames[] = {{"AUTO", 0}, {"BGRA", 1}, {"RGBA", 2}};
constexpr ValueName kRawLoadAsNames[] = {{"AUTO", 0}, {"8", 1}, {"16", 2}, {"24", 3}, {"48HS", 4}, {"48", 5}};
constexpr ValueName kFrameLoadingNames[] = {{"ALL", 0}, {"FIRST", 1}, {"MIDDLE", 2}, {"LAST", 3}, {"RANDOM", 4}};
constexpr ValueName kToneMappingNames[] = {{"NONE", 0}, {"LINEAR", 1}, {"AL", 2}, {"DRR", 3}, {"GD", 4}};
constexpr ValueName kCompressionNames[] = {{"NONE", 0},      {"RLE", 1},      {"ZIP", 1},       {"PIZ", 2},
                                           {"PXR24", 3},     {"B44", 4},      {"ZLIB1", 1},     {"ZLIB6", 2},
                                           {"ZLIB9", 3},     {"CCITTFAX3", 1}, {"CCITTFAX4", 2}, {"PACKBITS", 3},
                                           {"DEFLATE", 4},   {"ADOBEDEFLATE", 5}, {"LZW", 6},    {"JPEG", 7},
                                           {"LOGLUV", 8}};
constexpr ValueName kBmpColorTableNames[] = {{"AUTO", 0}, {"EXACT", 1}};
constexpr ValueName kTiffColorModelNames[] = {{"RGB", 0}, {"CMYK", 1}, {"LAB", 2}};
constexpr ValueName kJpgChromaNames[] = {{"NONE", 0}, {"LOW", 1}, {"MEDIUM", 2}, {"HIGH", 3}};
constexpr ValueName kJpgSaveAsNames[] = {{"STANDARD", 0}, {"SIMPLE", 1}, {"OPTIMIZED", 2}, {"PROGRESSIVE", 3}};
constexpr ValueName kRotationTypeNames[] = {{"SIMPLE", 0}, {"ADVANCED", 1}};
constexpr ValueName kUnitNames[] = {{"PIXELS", 0}, {"PERCENT", 1}};
constexpr ValueName kResizeTypeNames[] = {{"ALLIMAGES", 0}, {"LARGEIMAGES", 1}};
constexpr ValueName kResizeAlgorithmNames[] = {{"BOX", 0},        {"BILINEAR", 1}, {"BSPLINE", 2},
                                               {"BICUBIC", 3},    {"CATMULLROM", 4}, {"LANCZOS", 5}};
constexpr ValueName kFontStyleNames[] = {{"REGULAR", 0}, {"BOLD", 1}, {"ITALIC", 2}, {"BOLDITALIC", 3}};
constexpr ValueName kFontEffectNames[] = {{"NONE", 0}, {"UNDERLINE", 1}, {"STRIKETHROUGHT", 2}};
constexpr ValueName kTextAlignmentNames[] = {{"LEFT", 0}, {"CENTER", 1}, {"RIGHT", 2}};
constexpr ValueName kBoundaryNames[] = {{"IMAGE", 0}, {"FRAME", 1}};
constexpr ValueName kPositionNames[] = {{"TOPLEFT", 0},     {"TOPCENTER", 1},    {"TOPRIGHT", 2},
                                        {"MIDDLELEFT", 3},  {"MIDDLECENTER", 4}, {"MIDDLERIGHT", 5},
                                        {"BOTTOMLEFT", 6},  {"BOTTOMCENTER", 7}, {"BOTTOMRIGHT", 8}};
constexpr ValueName kSizeModeNames[] = {{"FIXED", 0}};
constexpr ValueName kTimestampNames[] = {{"CURRENT", 0}, {"ORIGINAL", 1}, {"CUSTOM", 2}};

struct ValueTableRow {
    ValueTable table;
    std::span<const ValueName> names;
};

// Indexed by ValueTable: the rows name their table, and the check below
// refuses a row out of place or a table without its row.
constexpr ValueTableRow kValueTables[] = {
    {kTableDdsLoadAs, kDdsLoadAsNames},
    {kTableRawLoadAs, kRawLoadAsNames},
    {kTableFrameLoading, kFrameLoadingNames},
    {kTableToneMapping, kToneMappingNames},
    {kTableCompression, kCompressionNames},
    {kTableBmpColorTable, kBmpColorTableNames},
    {kTableTiffColorModel, kTiffColorModelNames},
    {kTableJpgChroma, kJpgChromaNames},
    {kTableJpgSaveAs, kJpgSaveAsNames},
    {kTableRotationType, kRotationTypeNames},
    {kTableUnit, kUnitNames},
    {kTableResizeType, kResizeTypeNames},
    {kTableResizeAlgorithm, kResizeAlgorithmNames},
    {kTableFontStyle, kFontStyleNames},
    {kTableFontEffect, kFontEffectNames},
    {kTableTextAlignment, kTextAlignmentNames},
    {kTableBoundary, kBoundaryNames},
    {kTablePosition, kPositionNames},
    {kTableSizeMode, kSizeModeNames},
    {kTableTimestamp, kTimestampNames},
};

constexpr bool EveryTableInPlace() {
    if (std::size(kValueTables) != kValueTableCount) return false;
    for (size_t i = 0; i < std::size(kValueTables); ++i)
        if (kValueTables[i].table != static_cast<int>(i)) return false;
    return true;
}
static_assert(EveryTableInPlace(), "kValueTables needs one row per ValueTable, in enum order");

// Every key in order: the leading groups up to "Output"/"Format", each
// format's depth and encoder settings in the order of its row, the rest.
std::vector<SettingKey> BuildSettingKeys() {
    // Keys and check formats point into these texts for the life of the
    // program.
    static std::deque<std::string> names;
    std::vector<SettingKey> keys(std::begin(kKeysBeforeFormats), std::end(kKeysBeforeFormats));
    for (const FormatSettings& format : kFormatSettings) {
        const SettingField depth = static_cast<int32_t Settings::*>(format.bpp);
        keys.push_back({"Output", names.emplace_back(DepthKey(format)).c_str(), K::Integer, depth, "0", kNoTable,
                        true, {}, {}, {}, {}, {"Output"}});
        for (const EncoderSetting& encoder : format.encoder) {
            SettingKey key{"Output", names.emplace_back(EncoderKey(format, encoder)).c_str(), K::Integer, {},
                           encoder.default_value, encoder.table, true, {}, {}, {}, {}, {"Output"}};
            std::visit(
                [&](auto member) {
                    using T = std::remove_reference_t<decltype(Settings{}.*member)>;
                    key.kind = std::is_same_v<T, int8_t> ? K::Byte : K::Integer;
                    key.field = static_cast<T Settings::*>(member);
                },
                encoder.field);
            if (encoder.invalid) {
                key.range = {static_cast<double>(encoder.low), static_cast<double>(encoder.high)};
                key.check = {CheckKind::InRange, encoder.invalid, nullptr,
                             names.emplace_back(format.extension).c_str()};
            }
            keys.push_back(key);
        }
    }
    keys.insert(keys.end(), std::begin(kKeysAfterFormats), std::end(kKeysAfterFormats));
    return keys;
}


}  // namespace

std::span<const SettingKey> SettingKeys() {
    static const std::vector<SettingKey> keys = BuildSettingKeys();
    return keys;
}

bool IsInUse(const Settings& s, const SettingKey& key) {
    return key.use.when == nullptr || s.*key.use.when == key.use.value;
}

std::string ListingValue(const Settings& s, const SettingKey& key) {
    return std::visit(
        [&](auto member) -> std::string {
            using T = std::decay_t<decltype(s.*member)>;
            // A text may come from a profile someone else wrote: its control
            // characters are shown, never sent to the terminal.
            if constexpr (std::is_same_v<T, std::string>) {
                return VisibleText(s.*member);
            } else if constexpr (std::is_same_v<T, float>) {
                return FormatFixed(s.*member, 2);
            } else {
                const int value = s.*member;
                if (key.table != kNoTable) return ToLower(NameOfCode(key.table, value));
                if (!key.listing.names.empty())
                    return value >= 0 && static_cast<size_t>(value) < key.listing.names.size()
                               ? key.listing.names[value]
                               : "";
                return std::to_string(value);
            }
        },
        key.field);
}

std::string ListingLine(const Settings& s, const SettingKey& key) {
    if (!key.listing.label) return {};
    std::string line = key.listing.label + ListingValue(s, key);
    if (key.listing.join_next) line += key.listing.join_next + ListingValue(s, (&key)[1]);
    return line;
}

const SettingKey* CheckSettings(const Settings& s, std::string_view conversion) {
    for (const SettingKey& k : SettingKeys()) {
        if (k.check.kind == CheckKind::None || !IsInUse(s, k)) continue;
        if (k.check.format && conversion != k.check.format) continue;
        const bool passes = std::visit(
            [&](auto member) {
                using T = std::decay_t<decltype(s.*member)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    return true;
                } else {
                    const T value = s.*member;
                    if (k.check.kind == CheckKind::NotZero) return value != 0;
                    // A real is compared in single precision, so that its
                    // bounds pass ("Gamma" 0.01 and 9.99); NaN fails.
                    if constexpr (std::is_same_v<T, float>)
                        return value >= static_cast<float>(k.range.low) && value <= static_cast<float>(k.range.high);
                    else
                        return value >= k.range.low && value <= k.range.high;
                }
            },
            k.field);
        if (!passes) return &k;
    }
    return nullptr;
}

const SettingKey* FindSettingKey(std::string_view group, std::string_view key) {
    for (const SettingKey& k : SettingKeys())
        if (group == k.group && key == k.key) return &k;
    return nullptr;
}

std::string SettingValueText(const Settings& s, const SettingKey& key) {
    return std::visit(
        [&](auto member) -> std::string {
            const auto& value = s.*member;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return value;
            } else if constexpr (std::is_same_v<T, float>) {
                if (std::isnan(value)) return "NaN";
                if (std::isinf(value)) return value > 0 ? "+Infinity" : "-Infinity";
                return FormatFixed(value, 6);
            } else {
                return std::to_string(static_cast<int>(value));
            }
        },
        key.field);
}

void SetSettingFromText(Settings& s, const SettingKey& key, std::string_view value) {
    std::visit(
        [&](auto member) {
            auto& field = s.*member;
            using T = std::decay_t<decltype(field)>;
            if constexpr (std::is_same_v<T, std::string>) {
                field = std::string(value);
            } else if constexpr (std::is_same_v<T, float>) {
                field = ParseRealOrWord(value);
            } else {
                field = static_cast<T>(ParseLeadingInteger(value));
            }
        },
        key.field);
}

void SetDefaultSettings(Settings& s, bool command_line, int desktop_width, int desktop_height) {
    const auto now = static_cast<int32_t>(LocalTimeNow());
    for (const SettingKey& k : SettingKeys()) {
        std::string_view d = k.default_value;
        if (d == "now") {
            SetSettingFromText(s, k, std::to_string(now));
        } else if (d == "centred") {
            SetSettingFromText(s, k, "100");  // refined below, after Width/Height
        } else {
            SetSettingFromText(s, k, d);
        }
    }
    s.keep_aspect_ratio = command_line ? 0 : 1;
    s.window_x = s.window_width < desktop_width ? (desktop_width - s.window_width) / 2 : 100;
    s.window_y = s.window_height < desktop_height ? (desktop_height - s.window_height) / 2 : 100;
}

std::span<const ValueName> ValueNames(ValueTable table) {
    if (table < 0 || table >= kValueTableCount) return {};
    return kValueTables[table].names;
}

int LookupValueName(std::string_view text, ValueTable table) {
    const std::string upper = ToUpper(std::string(text));
    for (const ValueName& v : ValueNames(table))
        if (upper == v.name) return v.code;
    return 0;
}

std::string NameOfCode(ValueTable table, int code) {
    for (const ValueName& v : ValueNames(table))
        if (v.code == code) return v.name;
    return {};
}

}  // namespace kestrune
