// The 18 tokens of output names, shared by the file-name mask and the
// watermark text, in the order they are expanded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

// What a token stands for; the tokens are expanded in this order.
enum class MaskToken : uint8_t {
    kFilename,
    kFilenameUpper,
    kFilenameLower,
    kFilenameTitle,
    kExt,
    kExtUpper,
    kExtTitle,
    kYear,
    kMonth,
    kDay,
    kHour,
    kMinute,
    kSecond,
    kBpp,
    kWidth,
    kHeight,
    kRandom,
    kCounter,  // the last: kMaskTokens holds one row per token up to it
};

struct MaskTokenRow {
    MaskToken token;
    const char* text;  // lower case: masks and texts are matched lower-cased
    // The value depends on how many files of the run were converted before
    // this one: the random number and the counter.
    bool run_order = false;
};

inline constexpr std::array<MaskTokenRow, 18> kMaskTokens = {{
    {MaskToken::kFilename, "%filename%"},
    {MaskToken::kFilenameUpper, "%filename[u]%"},
    {MaskToken::kFilenameLower, "%filename[l]%"},
    {MaskToken::kFilenameTitle, "%filename[t]%"},
    {MaskToken::kExt, "%ext%"},
    {MaskToken::kExtUpper, "%ext[u]%"},
    {MaskToken::kExtTitle, "%ext[t]%"},
    {MaskToken::kYear, "%yyyy%"},
    {MaskToken::kMonth, "%mm%"},
    {MaskToken::kDay, "%dd%"},
    {MaskToken::kHour, "%hh%"},
    {MaskToken::kMinute, "%ii%"},
    {MaskToken::kSecond, "%ss%"},
    {MaskToken::kBpp, "%bpp%"},
    {MaskToken::kWidth, "%width%"},
    {MaskToken::kHeight, "%height%"},
    {MaskToken::kRandom, "%rnd%", true},
    {MaskToken::kCounter, "%n%", true},
}};

constexpr bool MaskTokensInOrder() {
    if (kMaskTokens.size() != static_cast<size_t>(MaskToken::kCounter) + 1) return false;
    for (size_t i = 0; i < kMaskTokens.size(); ++i)
        if (static_cast<size_t>(kMaskTokens[i].token) != i) return false;
    return true;
}
static_assert(MaskTokensInOrder(), "kMaskTokens needs one row per MaskToken, in enum order");

constexpr const char* MaskTokenText(MaskToken token) { return kMaskTokens[static_cast<size_t>(token)].text; }

// The mask of a run that gives none.
inline constexpr const char* kDefaultFilenameMask = "%filename%.%ext%";

// True when text, in any case, holds a token whose value depends on the
// files converted before (MaskTokenRow::run_order).
bool HasRunOrderToken(std::string_view text);

// True when the lower-cased mask ends with "." and a token of the output
// format's extension, so that every name it gives keeps that extension.
bool EndsWithExtensionToken(std::string_view lower_mask);

// Base name of a path: the name after the last "/" or "\" less its extension;
// empty when the name is empty or has no ".".
std::string BaseName(const std::string& path);

// What the tokens of one output name stand for.
struct TokenValues {
    std::string input_path;
    std::string extension;  // the output format's id
    int32_t bpp = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t random_number = 1;
    int32_t sequence_number = 1;
};

// Value of a token. Date tokens read the clock each time.
std::string MaskTokenValue(MaskToken token, const TokenValues& values);

}  // namespace kestrune
