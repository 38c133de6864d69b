// What the program knows of each format: the 23 output formats with their
// writer, description, allowed bit depths and bit-depth setting, and the
// input extensions. Built once at start-up, read-only afterwards.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "imaging/frame_context.h"
#include "settings/settings.h"

namespace kestrune {

struct OutputFormat {
    int32_t writer_id = 0;          // FREE_IMAGE_FORMAT, or DevIL's type for dds/pcx/psd
    std::string extension;
    std::string description;
    std::string allowed_bpp;        // "1,4,8,16,24,32"
    std::string bpp_setting;        // key in group "Output", e.g. "BMP BPP"
    int32_t Settings::*bpp_field = nullptr;
};

struct InputExtension {
    std::string canonical;
    std::string description;
};

void BuildFormatLists();
void BuildInputExtensionTable();
void BuildOutputFormatTable();
void BuildAcceptedInputExtensions();

const std::vector<std::string>& OutputFormatList();
const std::vector<std::string>& InputFormatList();
const std::map<std::string, OutputFormat>& OutputFormatTable();
const std::unordered_map<std::string, InputExtension>& InputExtensionTable();
const std::vector<std::string>& AcceptedInputExtensions();

// Exact, case-sensitive: "PNG" is not a format.
bool IsOutputFormat(std::string_view name);
int32_t WriterIdOf(const std::string& id);
bool IsBitDepthAllowed(const std::string& id, int32_t bpp);
int32_t NearestAllowedBitDepth(const std::string& id, int32_t bpp);
std::string DescriptionOf(const std::string& id);
std::string BitDepthSettingOf(const std::string& id);
// The BPP setting's current value for the format.
int32_t BitDepthOf(const std::string& id, const Settings& s);

// What the frame operations need to know of the format; save_flags are the
// run's (TIFF's LogLuv encoding holds linear light). The depth is left 0.
FrameFormat FrameFormatOf(const std::string& id, int32_t save_flags);

// DevIL's type numbers of the three formats it writes.
inline constexpr int32_t kDevilDds = 1079;
inline constexpr int32_t kDevilPcx = 1064;
inline constexpr int32_t kDevilPsd = 1081;

}  // namespace kestrune
