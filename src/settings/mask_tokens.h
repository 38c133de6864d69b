// The 18 tokens of output names, shared by the file-name mask and the
// watermark text, in the order they are expanded.
#pragma once

#include <array>
#include <string>

#include <cstdint>

namespace kestrune {

inline constexpr std::array<const char*, 18> kMaskTokens = {
    "%filename%", "%filename[u]%", "%filename[l]%", "%filename[t]%", "%ext%", "%ext[u]%",
    "%ext[t]%",   "%yyyy%",        "%mm%",          "%dd%",          "%hh%",  "%ii%",
    "%ss%",       "%bpp%",         "%width%",       "%height%",      "%rnd%", "%n%"};

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

// Value of token number `index` (0-based, table order). Date tokens read the
// clock each time.
std::string MaskTokenValue(size_t index, const TokenValues& values);

}  // namespace kestrune
