#include "formats/registry.h"

#include <FreeImage.h>

#include <algorithm>

namespace kestrune {

namespace {

using S = Settings;

// FreeImage's constant values, kept by name so the flag functions read like
// the encoder documentation.
constexpr int32_t JpegChromaFlags(int32_t code) {
    switch (code) {
        case 0: return JPEG_SUBSAMPLING_444;
        case 1: return JPEG_SUBSAMPLING_422;
        case 2: return JPEG_SUBSAMPLING_420;
        case 3: return JPEG_SUBSAMPLING_411;
        default: return 0;
    }
}

constexpr int32_t JpegModeFlags(int32_t code) {
    switch (code) {
        case 1: return JPEG_BASELINE;
        case 2: return JPEG_OPTIMIZE;
        case 3: return JPEG_PROGRESSIVE;
        default: return 0;
    }
}

// Each format's compressions: the names the preferences window offers and
// the flag each one gives FreeImage. A name's code (from the shared
// compression names) is its place in the list.
constexpr Compression kBmpCompressions[] = {{"NONE", 0}, {"RLE", BMP_SAVE_RLE}};
constexpr Compression kExrCompressions[] = {
    {"NONE", EXR_NONE}, {"ZIP", EXR_ZIP}, {"PIZ", EXR_PIZ}, {"PXR24", EXR_PXR24}, {"B44", EXR_B44}};
constexpr Compression kPngCompressions[] = {{"NONE", PNG_Z_NO_COMPRESSION},
                                            {"ZLIB1", PNG_Z_BEST_SPEED},
                                            {"ZLIB6", PNG_Z_DEFAULT_COMPRESSION},
                                            {"ZLIB9", PNG_Z_BEST_COMPRESSION}};
constexpr Compression kTgaCompressions[] = {{"NONE", 0}, {"RLE", TARGA_SAVE_RLE}};
constexpr Compression kTiffCompressions[] = {
    {"NONE", TIFF_NONE},         {"CCITTFAX3", TIFF_CCITTFAX3}, {"CCITTFAX4", TIFF_CCITTFAX4},
    {"PACKBITS", TIFF_PACKBITS}, {"DEFLATE", TIFF_DEFLATE},     {"ADOBEDEFLATE", TIFF_ADOBE_DEFLATE},
    {"LZW", TIFF_LZW},           {"JPEG", TIFF_JPEG},           {"LOGLUV", TIFF_LOGLUV}};

// The flag of the compression with this code; 0 for a code the format does
// not know.
constexpr int32_t FlagOf(std::span<const Compression> compressions, int32_t code) {
    return code >= 0 && static_cast<size_t>(code) < compressions.size() ? compressions[code].flag : 0;
}

int32_t BmpFlags(const Settings& s) { return FlagOf(kBmpCompressions, s.bmp_compression); }
int32_t ExrSaveFlags(const Settings& s) { return FlagOf(kExrCompressions, s.exr_compression); }
int32_t JpegFlags(const Settings& s) {
    return s.jpg_quality | JpegChromaFlags(s.jpg_chroma) | JpegModeFlags(s.jpg_save_as);
}
int32_t JxrFlags(const Settings&) { return JXR_LOSSLESS; }
int32_t PngFlags(const Settings& s) {
    return FlagOf(kPngCompressions, s.png_compression) | (s.png_interlaced != 0 ? PNG_INTERLACED : 0);
}
int32_t TgaFlags(const Settings& s) { return FlagOf(kTgaCompressions, s.tga_compression); }
int32_t TiffFlags(const Settings& s) {
    return FlagOf(kTiffCompressions, s.tiff_compression) | (s.tiff_color_model == 1 ? TIFF_CMYK : 0);
}
int32_t WebpFlags(const Settings&) { return WEBP_LOSSLESS; }

using W = WriterKind;

// The one table every per-format decision is taken from. Rows are ordered
// by extension: the lists, the help and the manual show them in this order.
constexpr OutputFormat kOutputFormats[] = {
    {.extension = "bmp", .description = "Windows or OS/2 Bitmap", .writer = W::FreeImage, .writer_id = FIF_BMP,
     .allowed_bpp = {1, 4, 8, 16, 24, 32}, .compressions = kBmpCompressions,
     .save_flags = BmpFlags, .fix_bmp_sizes = true, .exact_colour_table = &S::bmp_color_table,
     .saves_side_by_side = true},
    {.extension = "dds", .description = "DirectDraw Surface", .writer = W::Devil, .writer_id = kDevilDds,
     .mipmaps = true, .allowed_bpp = {32}},
    {.extension = "exr", .description = "ILM OpenEXR", .writer = W::FreeImage, .writer_id = FIF_EXR,
     .allowed_bpp = {96}, .compressions = kExrCompressions, .save_flags = ExrSaveFlags,
     .linear_light = true},
    {.extension = "gif", .description = "Graphics Interchange Format", .writer = W::FreeImage, .writer_id = FIF_GIF,
     .allowed_bpp = {8}},
    {.extension = "hdr", .description = "High Dynamic Range Image", .writer = W::FreeImage, .writer_id = FIF_HDR,
     .allowed_bpp = {96}, .linear_light = true},
    {.extension = "ico", .description = "Windows Icon", .writer = W::Icon, .writer_id = FIF_ICO,
     .allowed_bpp = {1, 4, 8, 16, 24, 32}, .rgb555 = true,
     .size_limit = 128},
    {.extension = "j2k", .description = "JPEG-2000 Codestream", .writer = W::JpegTwoThousand, .writer_id = FIF_J2K,
     .allowed_bpp = {8, 24, 32, 48}, .grey_at_8_bits = true},
    {.extension = "jng", .description = "JPEG Network Graphics", .writer = W::FreeImage, .writer_id = FIF_JNG,
     .allowed_bpp = {24, 32} },
    {.extension = "jp2", .description = "JPEG-2000 File Format", .writer = W::JpegTwoThousand, .writer_id = FIF_JP2,
     .jp2_file = true, .allowed_bpp = {8, 24, 32, 48}, .grey_at_8_bits = true},
    {.extension = "jpg", .description = "JPEG File Format", .writer = W::FreeImage, .writer_id = FIF_JPEG,
     .allowed_bpp = {8, 24}, .save_flags = JpegFlags, .grey_at_8_bits = true, .saves_side_by_side = true},
    {.extension = "jxr", .description = "JPEG XR Image Format", .writer = W::JpegXr, .writer_id = FIF_JXR,
     .allowed_bpp = {1, 8, 16, 24, 32, 48, 96}, .save_flags = JxrFlags, .grey_at_8_bits = true},
    {.extension = "pbm", .description = "Portable Bitmap", .writer = W::FreeImage, .writer_id = FIF_PBM,
     .allowed_bpp = {1}, .pixel_order = PixelOrder::SetBitBlack, .saves_side_by_side = true},
    {.extension = "pcx", .description = "ZSoft Paintbrush", .writer = W::Devil, .writer_id = kDevilPcx,
     .allowed_bpp = {24}},
    {.extension = "pfm", .description = "Portable Floatmap", .writer = W::FloatMap, .writer_id = FIF_PFM,
     .allowed_bpp = {96}},
    {.extension = "pgm", .description = "Portable Greymap", .writer = W::FreeImage, .writer_id = FIF_PGM,
     .allowed_bpp = {8}, .pixel_order = PixelOrder::GreyLevel,
     .saves_side_by_side = true},
    {.extension = "png", .description = "Portable Network Graphics", .writer = W::FreeImage, .writer_id = FIF_PNG,
     .allowed_bpp = {1, 4, 8, 24, 32, 48},
     // Not interlaced; FreeImage's writer keeps the other depths.
     .depth_writer = {.writer = W::Png, .bpp = {24, 32}, .refused_flags = PNG_INTERLACED},
     .compressions = kPngCompressions,
     .save_flags = PngFlags, .saves_side_by_side = true},
    {.extension = "ppm", .description = "Portable Pixelmap", .writer = W::FreeImage, .writer_id = FIF_PPM,
     .allowed_bpp = {24, 48}, .saves_side_by_side = true},
    {.extension = "psd", .description = "Adobe Photoshop", .writer = W::Devil, .writer_id = kDevilPsd,
     .allowed_bpp = {32}},
    {.extension = "tga", .description = "Truevision Targa", .writer = W::FreeImage, .writer_id = FIF_TARGA,
     .allowed_bpp = {8, 16, 24, 32}, .compressions = kTgaCompressions, .save_flags = TgaFlags, .rgb555 = true,
     .saves_side_by_side = true},
    {.extension = "tiff", .description = "Tagged Image File Format", .writer = W::FreeImage, .writer_id = FIF_TIFF,
     .allowed_bpp = {1, 4, 8, 24, 32, 48, 96}, .compressions = kTiffCompressions,
     .save_flags = TiffFlags, .linear_light = true, .linear_light_flags = TIFF_LOGLUV, .cmyk_flag = TIFF_CMYK,
     .saves_side_by_side = true},
    {.extension = "wbmp", .description = "Wireless Bitmap", .writer = W::FreeImage, .writer_id = FIF_WBMP,
     .allowed_bpp = {1}, .pixel_order = PixelOrder::SetBitWhite},
    {.extension = "webp", .description = "Google WebP Image Format", .writer = W::FreeImage, .writer_id = FIF_WEBP,
     .allowed_bpp = {24, 32}, .save_flags = WebpFlags,
     .saves_side_by_side = true},
    {.extension = "xpm", .description = "X11 Pixmap Format", .writer = W::FreeImage, .writer_id = FIF_XPM,
     .allowed_bpp = {24}},
};

constexpr bool RowsAreOrdered() {
    for (size_t i = 1; i < std::size(kOutputFormats); ++i)
        if (!(kOutputFormats[i - 1].extension < kOutputFormats[i].extension)) return false;
    for (const OutputFormat& row : kOutputFormats) {
        if (row.allowed_bpp.empty()) return false;
        for (size_t i = 1; i < row.allowed_bpp.size(); ++i)
            if (row.allowed_bpp[i - 1] >= row.allowed_bpp[i]) return false;
    }
    return true;
}
static_assert(RowsAreOrdered(), "output formats are ordered by extension, their depths ascending");

// A format's settings come from its row in kFormatSettings, at the same place.
constexpr bool EveryFormatHasSettings() {
    if (std::size(kOutputFormats) != std::size(kFormatSettings)) return false;
    for (size_t i = 0; i < std::size(kOutputFormats); ++i)
        if (kOutputFormats[i].extension != kFormatSettings[i].extension) return false;
    return true;
}
static_assert(EveryFormatHasSettings(), "every output format has its row of settings, and only those");

constexpr InputExtension kInputExtensions[] = {
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

}  // namespace

std::span<const OutputFormat> OutputFormats() { return kOutputFormats; }

const OutputFormat* FindOutputFormat(std::string_view id) {
    const auto it = std::lower_bound(std::begin(kOutputFormats), std::end(kOutputFormats), id,
                                     [](const OutputFormat& row, std::string_view key) { return row.extension < key; });
    return it != std::end(kOutputFormats) && it->extension == id ? &*it : nullptr;
}

const FormatSettings& SettingsOf(const OutputFormat& format) {
    return kFormatSettings[&format - std::begin(kOutputFormats)];
}

std::span<const InputExtension> InputExtensions() { return kInputExtensions; }

const InputExtension* FindInputExtension(std::string_view key) {
    for (const InputExtension& row : kInputExtensions)
        if (row.key == key) return &row;
    return nullptr;
}

const std::vector<std::string>& OutputFormatList() {
    static const std::vector<std::string> list = [] {
        std::vector<std::string> ids;
        for (const OutputFormat& row : kOutputFormats) ids.emplace_back(row.extension);
        return ids;
    }();
    return list;
}

const std::vector<std::string>& InputFormatList() {
    static const std::vector<std::string> list = {"gif"};
    return list;
}

const std::vector<std::string>& AcceptedInputExtensions() {
    // Every extension of every input format; a list that finds none still
    // holds one empty entry, as its comma-separated form would give.
    static const std::vector<std::string> list = [] {
        std::vector<std::string> accepted;
        for (const std::string& format : InputFormatList())
            for (const InputExtension& row : kInputExtensions)
                if (row.canonical == format) accepted.emplace_back(row.key);
        if (accepted.empty()) accepted.emplace_back();
        return accepted;
    }();
    return list;
}

bool IsOutputFormat(std::string_view name) { return FindOutputFormat(name) != nullptr; }

int32_t WriterIdOf(std::string_view id) {
    const OutputFormat* row = FindOutputFormat(id);
    return row ? row->writer_id : FIF_UNKNOWN;
}

bool IsBitDepthAllowed(std::string_view id, int32_t bpp) {
    if (bpp == 0) return true;
    const OutputFormat* row = FindOutputFormat(id);
    return row && std::find(row->allowed_bpp.begin(), row->allowed_bpp.end(), bpp) != row->allowed_bpp.end();
}

int32_t NearestAllowedBitDepth(std::string_view id, int32_t bpp) {
    const OutputFormat* row = FindOutputFormat(id);
    if (!row) return 0;
    int32_t result = 0;
    for (int32_t depth : row->allowed_bpp) {
        result = depth;
        if (result >= bpp) break;
    }
    return result;
}

std::string DescriptionOf(std::string_view id) {
    const OutputFormat* row = FindOutputFormat(id);
    return row ? std::string(row->description) : std::string();
}

int32_t BitDepthOf(std::string_view id, const Settings& s) {
    const OutputFormat* row = FindOutputFormat(id);
    return row ? s.*(SettingsOf(*row).bpp) : 0;
}

int32_t SaveFlagsOf(const OutputFormat& format, const Settings& s) {
    return format.save_flags ? format.save_flags(s) : 0;
}

WriterKind WriterFor(const OutputFormat& format, int32_t bpp, int32_t save_flags) {
    const DepthWriter& own = format.depth_writer;
    if ((save_flags & own.refused_flags) == 0 && std::find(own.bpp.begin(), own.bpp.end(), bpp) != own.bpp.end())
        return own.writer;
    return format.writer;
}

bool HoldsLinearLight(const OutputFormat& format, int32_t save_flags) {
    return format.linear_light && (save_flags & format.linear_light_flags) == format.linear_light_flags;
}

FrameFormat FrameFormatOf(std::string_view id, int32_t save_flags) {
    FrameFormat frame;
    frame.id = std::string(id);
    frame.save_flags = save_flags;
    if (const OutputFormat* row = FindOutputFormat(id)) {
        frame.size_limit = row->size_limit;
        frame.rgb555 = row->rgb555;
        frame.grey_at_8_bits = row->grey_at_8_bits;
        frame.linear_floats = HoldsLinearLight(*row, save_flags);
        frame.allowed_bpp.assign(row->allowed_bpp.begin(), row->allowed_bpp.end());
    }
    return frame;
}

}  // namespace kestrune
