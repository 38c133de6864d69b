#include "settings/mask_tokens.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/text.h"

namespace kestrune {
namespace {

std::string TwoDigits(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

// Right-aligned in five characters filled with "0"; a longer number keeps
// only its first five characters.
std::string FiveDigits(int32_t v) {
    std::string s = std::to_string(v);
    if (s.size() >= 5) return s.substr(0, 5);
    return std::string(5 - s.size(), '0') + s;
}

}  // namespace

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (name.empty() || dot == std::string::npos) return {};
    return name.substr(0, dot);
}

std::string MaskTokenValue(size_t index, const TokenValues& values) {
    switch (index) {
        case 0: return BaseName(values.input_path);
        case 1: return ToUpper(BaseName(values.input_path));
        case 2: return ToLower(BaseName(values.input_path));
        case 3: return ToFirstUpper(BaseName(values.input_path));
        case 4: return values.extension;
        case 5: return ToUpper(values.extension);
        case 6: return ToFirstUpper(values.extension);
        case 7: {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%04d", LocalNow().tm_year + 1900);
            return buf;
        }
        case 8: return TwoDigits(LocalNow().tm_mon + 1);
        case 9: return TwoDigits(LocalNow().tm_mday);
        case 10: return TwoDigits(LocalNow().tm_hour);
        case 11: return TwoDigits(LocalNow().tm_min);
        case 12: return TwoDigits(LocalNow().tm_sec);
        case 13: return std::to_string(values.bpp);
        case 14: return std::to_string(values.width);
        case 15: return std::to_string(values.height);
        case 16: return FiveDigits(values.random_number);
        case 17: return FiveDigits(values.sequence_number);
        default: return {};
    }
}

}  // namespace kestrune
