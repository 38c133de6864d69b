// The settings of each output format, written down once: the fields of the
// settings record, and a row per format giving its depth setting and the
// encoder settings beside it. The keys of group "Output" after "Format",
// the --xxx-bpp and encoder options, their captions in the preferences
// window, their labels in the debug listing and the format registry's depth
// setting are all made from these rows; the registry adds what the writer
// does with them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "settings/row_list.h"
#include "settings/value_names.h"

namespace kestrune {

// The per-format part of the settings record (Settings derives from it).
struct FormatFields {
    int32_t bmp_bpp = 0;
    int32_t bmp_compression = 0;
    int32_t bmp_color_table = 0;
    int32_t dds_bpp = 0;
    int32_t exr_bpp = 0;
    int32_t exr_compression = 0;
    int32_t gif_bpp = 0;
    int32_t hdr_bpp = 0;
    int32_t ico_bpp = 0;
    int32_t j2k_bpp = 0;
    int32_t jng_bpp = 0;
    int32_t jp2_bpp = 0;
    int32_t jpg_bpp = 0;
    int32_t jpg_quality = 0;
    int32_t jpg_chroma = 0;
    int32_t jpg_save_as = 0;
    int32_t jxr_bpp = 0;
    int32_t pbm_bpp = 0;
    int32_t pcx_bpp = 0;
    int32_t pfm_bpp = 0;
    int32_t pgm_bpp = 0;
    int32_t png_bpp = 0;
    int32_t png_compression = 0;
    int8_t png_interlaced = 0;
    int32_t ppm_bpp = 0;
    int32_t psd_bpp = 0;
    int32_t tga_bpp = 0;
    int32_t tga_compression = 0;
    int32_t tiff_bpp = 0;
    int32_t tiff_compression = 0;
    int32_t tiff_color_model = 0;
    int32_t wbmp_bpp = 0;
    int32_t webp_bpp = 0;
    int32_t xpm_bpp = 0;

    bool operator==(const FormatFields&) const = default;
};

using FormatField = std::variant<int32_t FormatFields::*, int8_t FormatFields::*>;

// One encoder setting: key "<EXT> <name>" of group "Output".
struct EncoderSetting {
    const char* name = nullptr;  // "Compression": key "PNG Compression", option --PNG-COMPRESSION
    FormatField field{};         // a byte field is an on/off switch
    const char* default_value = "0";
    ValueTable table = kNoTable; // value-name table of the option and the listing
    const char* listing = nullptr;  // label in the debug listing, "JPG Chroma Subsampling"
    const char* caption = nullptr;  // label in the preferences window, "JPG chroma subsampling:"
    // A run into the format stops with this message unless low <= value <= high.
    const char* invalid = nullptr;
    int32_t low = 0;
    int32_t high = 0;
};

// A format's depth ("BPP": 0 chooses by the image) and its encoder settings,
// listed in this order after the depth.
struct FormatSettings {
    std::string_view extension;
    int32_t FormatFields::*bpp = nullptr;
    RowList<EncoderSetting, 3> encoder{};
};

// Ordered by extension, as the registry's rows are.
inline constexpr FormatSettings kFormatSettings[] = {
    {"bmp", &FormatFields::bmp_bpp,
     {{"Compression", &FormatFields::bmp_compression, "0", kTableCompression, "BMP Compression", "BMP compression:"},
      {"Color Table", &FormatFields::bmp_color_table, "0", kTableBmpColorTable, "BMP Color Table",
       "BMP color table:"}}},
    {"dds", &FormatFields::dds_bpp},
    {"exr", &FormatFields::exr_bpp,
     {{"Compression", &FormatFields::exr_compression, "0", kTableCompression, "EXR Compression",
       "EXR compression:"}}},
    {"gif", &FormatFields::gif_bpp},
    {"hdr", &FormatFields::hdr_bpp},
    {"ico", &FormatFields::ico_bpp},
    {"j2k", &FormatFields::j2k_bpp},
    {"jng", &FormatFields::jng_bpp},
    {"jp2", &FormatFields::jp2_bpp},
    {"jpg", &FormatFields::jpg_bpp,
     {{"Quality", &FormatFields::jpg_quality, "95", kNoTable, "JPG Quality", "JPG quality (1..100):",
       "Invalid jpg-quality value", 1, 100},
      {"Chroma", &FormatFields::jpg_chroma, "0", kTableJpgChroma, "JPG Chroma Subsampling", "JPG chroma subsampling:"},
      {"Save As", &FormatFields::jpg_save_as, "0", kTableJpgSaveAs, "JPG Save As", "Save JPG as:"}}},
    {"jxr", &FormatFields::jxr_bpp},
    {"pbm", &FormatFields::pbm_bpp},
    {"pcx", &FormatFields::pcx_bpp},
    {"pfm", &FormatFields::pfm_bpp},
    {"pgm", &FormatFields::pgm_bpp},
    {"png", &FormatFields::png_bpp,
     {{"Compression", &FormatFields::png_compression, "0", kTableCompression, "PNG Compression", "PNG compression:"},
      {"Interlaced", &FormatFields::png_interlaced, "0", kNoTable, "PNG Interlaced", "Interlaced PNG"}}},
    {"ppm", &FormatFields::ppm_bpp},
    {"psd", &FormatFields::psd_bpp},
    {"tga", &FormatFields::tga_bpp,
     {{"Compression", &FormatFields::tga_compression, "0", kTableCompression, "TGA Compression", "TGA compression:"}}},
    {"tiff", &FormatFields::tiff_bpp,
     {{"Compression", &FormatFields::tiff_compression, "0", kTableCompression, "TIFF Compression",
       "TIFF compression:"},
      {"Color Model", &FormatFields::tiff_color_model, "0", kTableTiffColorModel, "TIFF Color Model",
       "TIFF color model:"}}},
    {"wbmp", &FormatFields::wbmp_bpp},
    {"webp", &FormatFields::webp_bpp},
    {"xpm", &FormatFields::xpm_bpp},
};

// nullptr when the extension has no row (exact, lower case).
const FormatSettings* FindFormatSettings(std::string_view extension);

// "PNG BPP" and "PNG Compression": the keys of group "Output".
std::string DepthKey(const FormatSettings& format);
std::string EncoderKey(const FormatSettings& format, const EncoderSetting& setting);
// "--PNG-BPP" and "--PNG-COMPRESSION".
std::string DepthOptionName(const FormatSettings& format);
std::string EncoderOptionName(const FormatSettings& format, const EncoderSetting& setting);
// The preferences window's caption of the depth, "PNG bits per pixel:".
std::string DepthCaption(const FormatSettings& format);

// The format and encoder setting whose key of group "Output" this is;
// {nullptr, nullptr} when none, {format, nullptr} for a depth key.
struct FormatKey {
    const FormatSettings* format = nullptr;
    const EncoderSetting* setting = nullptr;
};
FormatKey FindFormatKey(std::string_view key);

}  // namespace kestrune
