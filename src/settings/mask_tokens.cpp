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

bool HasRunOrderToken(std::string_view text) {
    const std::string lower = ToLower(text);
    for (const MaskTokenRow& row : kMaskTokens)
        if (row.run_order && lower.find(row.text) != std::string::npos) return true;
    return false;
}

bool EndsWithExtensionToken(std::string_view lower_mask) {
    for (const MaskToken token : {MaskToken::kExt, MaskToken::kExtUpper, MaskToken::kExtTitle})
        if (lower_mask.ends_with("." + std::string(MaskTokenText(token)))) return true;
    return false;
}

std::string MaskTokenValue(MaskToken token, const TokenValues& values) {
    using T = MaskToken;
    switch (token) {
        case T::kFilename: return BaseName(values.input_path);
        case T::kFilenameUpper: return ToUpper(BaseName(values.input_path));
        case T::kFilenameLower: return ToLower(BaseName(values.input_path));
        case T::kFilenameTitle: return ToFirstUpper(BaseName(values.input_path));
        case T::kExt: return values.extension;
        case T::kExtUpper: return ToUpper(values.extension);
        case T::kExtTitle: return ToFirstUpper(values.extension);
        case T::kYear: {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%04d", LocalNow().tm_year + 1900);
            return buf;
        }
        case T::kMonth: return TwoDigits(LocalNow().tm_mon + 1);
        case T::kDay: return TwoDigits(LocalNow().tm_mday);
        case T::kHour: return TwoDigits(LocalNow().tm_hour);
        case T::kMinute: return TwoDigits(LocalNow().tm_min);
        case T::kSecond: return TwoDigits(LocalNow().tm_sec);
        case T::kBpp: return std::to_string(values.bpp);
        case T::kWidth: return std::to_string(values.width);
        case T::kHeight: return std::to_string(values.height);
        case T::kRandom: return FiveDigits(values.random_number);
        case T::kCounter: return FiveDigits(values.sequence_number);
    }
    return {};
}

}  // namespace kestrune
