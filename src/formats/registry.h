// What the program knows of each format: one compile-time row per output
// format with every decision taken per format (writer, depths, encoder
// settings and flags, how pixels are laid out for it, limits), and the input
// extensions. Nothing is built at start-up; the lists below are read from
// the rows on first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/frame_context.h"
#include "settings/row_list.h"
#include "settings/settings.h"

namespace kestrune {

// Which code writes the file.
enum class WriterKind : uint8_t {
    FreeImage,        // FreeImage's plugin numbered writer_id
    Devil,            // DevIL, image type writer_id
    Icon,             // own icon writer
    JpegTwoThousand,  // own OpenJPEG writer; jp2_file chooses the file format over the code stream
    FloatMap,         // own portable float map writer
    JpegXr,           // own jxrlib writer
    Png,              // own libdeflate writer, for the depths a row gives it (depth_writer)
};

// How FreeImage's writer reads the pixels it is given: some store indices
// as they are instead of looking them up in the palette.
enum class PixelOrder : uint8_t {
    AsPalette,
    SetBitBlack,  // 1-bit: a set bit is black
    SetBitWhite,  // 1-bit: a set bit is white
    GreyLevel,    // 8-bit: the index is the grey level
};

// A compression a format's writer understands: its name among the shared
// compression names (whose code is its place in the format's list) and the
// writer's flag for it.
struct Compression {
    const char* name = nullptr;
    int32_t flag = 0;
};

// An own writer that takes some depths over from the row's writer, unless
// the save flags hold one it cannot honour.
struct DepthWriter {
    WriterKind writer = WriterKind::FreeImage;
    RowList<int32_t, 4> bpp{};
    int32_t refused_flags = 0;
};

struct OutputFormat {
    std::string_view extension{};
    std::string_view description{};
    WriterKind writer = WriterKind::FreeImage;
    // FREE_IMAGE_FORMAT, or DevIL's type for the DevIL rows (all > 1000, so
    // the two kinds can never be confused); the own writers keep FreeImage's
    // number of their format.
    int32_t writer_id = 0;
    bool jp2_file = false;  // JPEG 2000: the jp2 file format rather than the j2k code stream
    bool mipmaps = false;   // DevIL builds mipmaps before saving
    // Ascending: the automatic depth is the first at or above the source's.
    RowList<int32_t, 8> allowed_bpp{};
    // The depths written by another writer than `writer` (none when empty).
    DepthWriter depth_writer{};
    // The names the compression setting offers, in code order; empty for a
    // format without one.
    std::span<const Compression> compressions{};
    // The writer's flags from the encoder settings; nullptr for none.
    int32_t (*save_flags)(const Settings&) = nullptr;
    // 16-bit frames are 5-5-5 rather than 5-6-5.
    bool rgb555 = false;
    // An 8-bit frame is made grey rather than given a palette.
    bool grey_at_8_bits = false;
    // A float frame holds linear light, when every bit of linear_light_flags
    // is set in the save flags (0: always).
    bool linear_light = false;
    int32_t linear_light_flags = 0;
    PixelOrder pixel_order = PixelOrder::AsPalette;
    // The save flag that asks for CMYK, whose colours are then separated
    // before FreeImage writes them as they are; 0 for none.
    int32_t cmyk_flag = 0;
    // FreeImage's run-length BMP header sizes are set from what was written.
    bool fix_bmp_sizes = false;
    // 8-bit frames are written with a colour table cut to the entries in use
    // when this setting is 1.
    int32_t Settings::*exact_colour_table = nullptr;
    // The writer runs on reentrant libraries and touches nothing shared, so
    // numbered frames may be saved side by side.
    bool saves_side_by_side = false;
    // Frames wider or taller become size_limit x size_limit; 0 for none.
    int32_t size_limit = 0;
};

struct InputExtension {
    std::string_view key;
    std::string_view canonical;
    std::string_view description;
};

// The 23 output formats, ordered by extension.
std::span<const OutputFormat> OutputFormats();
// Exact, case-sensitive; nullptr when unknown.
const OutputFormat* FindOutputFormat(std::string_view id);
// The format's depth and encoder settings.
const FormatSettings& SettingsOf(const OutputFormat& format);

std::span<const InputExtension> InputExtensions();
const InputExtension* FindInputExtension(std::string_view key);

const std::vector<std::string>& OutputFormatList();
const std::vector<std::string>& InputFormatList();
const std::vector<std::string>& AcceptedInputExtensions();

// Exact, case-sensitive: "PNG" is not a format.
bool IsOutputFormat(std::string_view name);
int32_t WriterIdOf(std::string_view id);
bool IsBitDepthAllowed(std::string_view id, int32_t bpp);
int32_t NearestAllowedBitDepth(std::string_view id, int32_t bpp);
std::string DescriptionOf(std::string_view id);
// The BPP setting's current value for the format.
int32_t BitDepthOf(std::string_view id, const Settings& s);
// The writer's flags for the format from the encoder settings.
int32_t SaveFlagsOf(const OutputFormat& format, const Settings& s);
// The writer of a frame of this depth with these save flags.
WriterKind WriterFor(const OutputFormat& format, int32_t bpp, int32_t save_flags);
// True when a float frame for this format holds linear light.
bool HoldsLinearLight(const OutputFormat& format, int32_t save_flags);

// What the frame operations need to know of the format, from its row;
// save_flags are the run's (TIFF's LogLuv encoding holds linear light). The
// depth is left 0.
FrameFormat FrameFormatOf(std::string_view id, int32_t save_flags);

// DevIL's type numbers of the three formats it writes.
inline constexpr int32_t kDevilDds = 1079;
inline constexpr int32_t kDevilPcx = 1064;
inline constexpr int32_t kDevilPsd = 1081;

}  // namespace kestrune
