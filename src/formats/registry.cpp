#include "formats/registry.h"

#include <FreeImage.h>

#include <cstdlib>

namespace kestrune {

namespace {

std::vector<std::string> output_format_list;
std::vector<std::string> input_format_list;
std::map<std::string, OutputFormat> output_format_table;
std::unordered_map<std::string, InputExtension> input_extension_table;
std::vector<std::string> accepted_input_extensions;

struct OutputRow {
    const char* extension;
    int32_t writer_id;
    const char* description;
    const char* allowed_bpp;
    const char* bpp_setting;
    int32_t Settings::*bpp_field;
};

// The one table every output decision is taken from; the FreeImage rows use
// its format numbers, the three DevIL rows DevIL's image types (all > 1000,
// which is how the two kinds can never be confused).
constexpr OutputRow kOutputRows[] = {
    {"bmp", FIF_BMP, "Windows or OS/2 Bitmap", "1,4,8,16,24,32", "BMP BPP", &Settings::bmp_bpp},
    {"dds", kDevilDds, "DirectDraw Surface", "32", "DDS BPP", &Settings::dds_bpp},
    {"exr", FIF_EXR, "ILM OpenEXR", "96", "EXR BPP", &Settings::exr_bpp},
    {"gif", FIF_GIF, "Graphics Interchange Format", "8", "GIF BPP", &Settings::gif_bpp},
    {"hdr", FIF_HDR, "High Dynamic Range Image", "96", "HDR BPP", &Settings::hdr_bpp},
    {"ico", FIF_ICO, "Windows Icon", "1,4,8,16,24,32", "ICO BPP", &Settings::ico_bpp},
    {"j2k", FIF_J2K, "JPEG-2000 Codestream", "8,24,32,48", "J2K BPP", &Settings::j2k_bpp},
    {"jng", FIF_JNG, "JPEG Network Graphics", "24,32", "JNG BPP", &Settings::jng_bpp},
    {"jp2", FIF_JP2, "JPEG-2000 File Format", "8,24,32,48", "JP2 BPP", &Settings::jp2_bpp},
    {"jpg", FIF_JPEG, "JPEG File Format", "8,24", "JPG BPP", &Settings::jpg_bpp},
    {"jxr", FIF_JXR, "JPEG XR Image Format", "1,8,16,24,32,48,96", "JXR BPP", &Settings::jxr_bpp},
    {"pbm", FIF_PBM, "Portable Bitmap", "1", "PBM BPP", &Settings::pbm_bpp},
    {"pcx", kDevilPcx, "ZSoft Paintbrush", "24", "PCX BPP", &Settings::pcx_bpp},
    {"pfm", FIF_PFM, "Portable Floatmap", "96", "PFM BPP", &Settings::pfm_bpp},
    {"pgm", FIF_PGM, "Portable Greymap", "8", "PGM BPP", &Settings::pgm_bpp},
    {"png", FIF_PNG, "Portable Network Graphics", "1,4,8,24,32,48", "PNG BPP", &Settings::png_bpp},
    {"ppm", FIF_PPM, "Portable Pixelmap", "24,48", "PPM BPP", &Settings::ppm_bpp},
    {"psd", kDevilPsd, "Adobe Photoshop", "32", "PSD BPP", &Settings::psd_bpp},
    {"tga", FIF_TARGA, "Truevision Targa", "8,16,24,32", "TGA BPP", &Settings::tga_bpp},
    {"tiff", FIF_TIFF, "Tagged Image File Format", "1,4,8,24,32,48,96", "TIFF BPP",
     &Settings::tiff_bpp},
    {"wbmp", FIF_WBMP, "Wireless Bitmap", "1", "WBMP BPP", &Settings::wbmp_bpp},
    {"webp", FIF_WEBP, "Google WebP Image Format", "24,32", "WEBP BPP", &Settings::webp_bpp},
    {"xpm", FIF_XPM, "X11 Pixmap Format", "24", "XPM BPP", &Settings::xpm_bpp},
};

struct InputRow {
    const char* key;
    const char* canonical;
    const char* description;
};

constexpr InputRow kInputRows[] = {
    {"bmp", "bmp", "Windows or OS/2 Bitmap"},
    {"rle", "bmp", "Windows or OS/2 Bitmap"},
    {"dib", "bmp", "Windows or OS/2 Bitmap"},
    {"dds", "dds", "DirectDraw Surface File"},
    {"emf", "emf", "Enhanced Metafile Format"},
    {"emz", "emf", "Enhanced Metafile Format"},
    {"gif", "gif", "GIF File"},
    {"hdr", "hdr", "High Dynamic Range File"},
    {"hdri", "hdr", "High Dynamic Range File"},
    {"ico", "ico", "Windows Icon"},
    {"jpg", "jpg", "JPEG File"},
    {"jpeg", "jpg", "JPEG File"},
    {"jpe", "jpg", "JPEG File"},
    {"jif", "jpg", "JPEG File"},
    {"pcd", "pcd", "Kodak PhotoCD File"},
    {"pcd1", "pcd", "Kodak PhotoCD File"},
    {"pcds", "pcd", "Kodak PhotoCD File"},
    {"ppcd", "pcd", "Kodak PhotoCD File"},
    {"pcx", "pcx", "ZSoft Paintbrush File"},
    {"pic", "pic", "Macintosh PICT"},
    {"pict", "pic", "Macintosh PICT"},
    {"pct", "pic", "Macintosh PICT"},
    {"png", "png", "Portable Network Graphics"},
    {"psd", "psd", "Adobe Photoshop File"},
    {"tga", "tga", "Truevision Targa"},
    {"targa", "tga", "Truevision Targa"},
    {"tiff", "tiff", "Tagged Image File Format"},
    {"tif", "tiff", "Tagged Image File Format"},
    {"wmf", "wmf", "Windows Metafile Format"},
    {"wmz", "wmf", "Windows Metafile Format"},
    {"apm", "wmf", "Aldus Placeable Metafile"},
    {"raw", "raw", "Camera RAW Image"},
    {"raw1", "raw", "Camera RAW Image"},
    {"raw2", "raw", "Camera RAW Image"},
    {"3fr", "raw", "Hasselblad Camera RAW Image"},
    {"arw", "raw", "Sony Camera RAW Image"},
    {"sr2", "raw", "Sony Camera RAW Image"},
    {"srf", "raw", "Sony Camera RAW Image"},
    {"bay", "raw", "Casio Camera RAW Image"},
    {"bmq", "raw", "NuCore RAW Image"},
    {"cap", "raw", "Phase One Camera RAW Image"},
    {"iiq", "raw", "Phase One Camera RAW Image"},
    {"eip", "raw", "Phase One Camera RAW Image"},
    {"cine", "raw", "Phantom Camera RAW Image"},
    {"cr2", "raw", "Canon Camera RAW Image"},
    {"crw", "raw", "Canon Camera RAW Image"},
    {"cs1", "raw", "Sinar Camera RAW Image"},
    {"dc2", "raw", "Kodak Camera RAW Image"},
    {"dcr", "raw", "Kodak Camera RAW Image"},
    {"drf", "raw", "Kodak Camera RAW Image"},
    {"dsc", "raw", "Kodak Camera RAW Image"},
    {"k25", "raw", "Kodak Camera RAW Image"},
    {"kc2", "raw", "Kodak Camera RAW Image"},
    {"kdc", "raw", "Kodak Camera RAW Image"},
    {"dcs", "raw", "Kodak Camera RAW Image"},
    {"dng", "raw", "Adobe Digital Negative RAW Image"},
    {"erf", "raw", "Epson Camera RAW Image"},
    {"fff", "raw", "Imacon Camera RAW Image"},
    {"ia", "raw", "Sinar RAW Image"},
    {"sti", "raw", "Sinar Camera RAW Image"},
    {"mdc", "raw", "Minolta Camera RAW Image"},
    {"mrw", "raw", "Minolta Camera RAW Image"},
    {"mef", "raw", "Mamiya Camera RAW Image"},
    {"mos", "raw", "Leaf Camera RAW Image"},
    {"nef", "raw", "Nikon Camera RAW Image"},
    {"nrw", "raw", "Nikon Camera RAW Image"},
    {"orf", "raw", "Olympus Camera RAW Image"},
    {"pef", "raw", "Pentax Camera RAW Image"},
    {"ptx", "raw", "Pentax Camera RAW Image"},
    {"pxn", "raw", "Logitech Camera RAW Image"},
    {"qtk", "raw", "Apple QuickTake Camera RAW Image"},
    {"raf", "raw", "Fujifilm Camera RAW Image"},
    {"rdc", "raw", "Ricoh Camera RAW Image"},
    {"rw2", "raw", "Panasonic Camera RAW Image"},
    {"rwz", "raw", "Rawzor RAW Image"},
    {"x3f", "raw", "Sigma Camera RAW Image"},
    {"ari", "raw", "ARRI Camera RAW Image"},
    {"r3d", "raw", "RED Camera RAW Image"},
    {"rwl", "raw", "Leica Camera RAW Image"},
};

const OutputFormat* FindOutputFormat(const std::string& id) {
    const auto it = output_format_table.find(id);
    return it == output_format_table.end() ? nullptr : &it->second;
}

// The comma-separated depth fields of a row, read leniently like every
// number of the program (leading digits only).
std::vector<int32_t> DepthFields(const std::string& list) {
    std::vector<int32_t> depths;
    size_t start = 0;
    while (true) {
        const size_t comma = list.find(',', start);
        const std::string field = list.substr(start, comma == std::string::npos ? std::string::npos
                                                                                : comma - start);
        depths.push_back(static_cast<int32_t>(std::strtol(field.c_str(), nullptr, 10)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return depths;
}

}  // namespace

void BuildFormatLists() {
    output_format_list.clear();
    for (const OutputRow& row : kOutputRows) output_format_list.emplace_back(row.extension);
    input_format_list.assign({"gif"});
}

void BuildInputExtensionTable() {
    input_extension_table.clear();
    for (const InputRow& row : kInputRows)
        input_extension_table[row.key] = InputExtension{row.canonical, row.description};
}

void BuildOutputFormatTable() {
    output_format_table.clear();
    for (const OutputRow& row : kOutputRows) {
        output_format_table[row.extension] = OutputFormat{
            row.writer_id, row.extension, row.description, row.allowed_bpp, row.bpp_setting,
            row.bpp_field};
    }
}

void BuildAcceptedInputExtensions() {
    // Joined and split again rather than appended directly, so that the
    // derived list is what the comma-separated form would give (an empty
    // input list still yields one empty entry).
    std::string joined;
    for (const std::string& format : input_format_list) {
        for (const auto& [key, row] : input_extension_table) {
            if (row.canonical == format) joined += key + ",";
        }
    }
    if (!joined.empty() && joined.back() == ',') joined.pop_back();
    accepted_input_extensions.clear();
    size_t start = 0;
    while (true) {
        const size_t comma = joined.find(',', start);
        if (comma == std::string::npos) {
            accepted_input_extensions.push_back(joined.substr(start));
            break;
        }
        accepted_input_extensions.push_back(joined.substr(start, comma - start));
        start = comma + 1;
    }
}

const std::vector<std::string>& OutputFormatList() { return output_format_list; }
const std::vector<std::string>& InputFormatList() { return input_format_list; }
const std::map<std::string, OutputFormat>& OutputFormatTable() { return output_format_table; }
const std::unordered_map<std::string, InputExtension>& InputExtensionTable() {
    return input_extension_table;
}
const std::vector<std::string>& AcceptedInputExtensions() { return accepted_input_extensions; }

bool IsOutputFormat(std::string_view name) {
    for (const std::string& id : output_format_list) {
        if (id == name) return true;
    }
    return false;
}

int32_t WriterIdOf(const std::string& id) {
    const OutputFormat* row = FindOutputFormat(id);
    return row ? row->writer_id : FIF_UNKNOWN;
}

bool IsBitDepthAllowed(const std::string& id, int32_t bpp) {
    if (bpp == 0) return true;
    const OutputFormat* row = FindOutputFormat(id);
    if (!row) return false;
    for (int32_t depth : DepthFields(row->allowed_bpp)) {
        if (depth == bpp) return true;
    }
    return false;
}

int32_t NearestAllowedBitDepth(const std::string& id, int32_t bpp) {
    const OutputFormat* row = FindOutputFormat(id);
    if (!row) return 0;
    int32_t result = 0;
    for (int32_t depth : DepthFields(row->allowed_bpp)) {
        result = depth;
        if (result >= bpp) break;
    }
    return result;
}

std::string DescriptionOf(const std::string& id) {
    const OutputFormat* row = FindOutputFormat(id);
    return row ? row->description : std::string();
}

std::string BitDepthSettingOf(const std::string& id) {
    const OutputFormat* row = FindOutputFormat(id);
    return row ? row->bpp_setting : std::string();
}

FrameFormat FrameFormatOf(const std::string& id, int32_t save_flags) {
    FrameFormat format;
    format.id = id;
    format.save_flags = save_flags;
    format.size_limit = id == "ico" ? 128 : 0;
    format.sixteen_bits_555 = id == "ico" || id == "tga";
    format.grey_eight_bits = id == "j2k" || id == "jp2" || id == "jpg" || id == "jxr";
    format.linear_floats = id == "exr" || id == "hdr" || (id == "tiff" && (save_flags & TIFF_LOGLUV));
    return format;
}

int32_t BitDepthOf(const std::string& id, const Settings& s) {
    const OutputFormat* row = FindOutputFormat(id);
    return row && row->bpp_field ? s.*(row->bpp_field) : 0;
}

}  // namespace kestrune
