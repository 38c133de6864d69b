// The 18 tokens of output names, shared by the file-name mask and the
// watermark text, in the order they are expanded.
#pragma once

#include <array>
#include <string>

#include "batch/batch_state.h"
#include "settings/settings.h"

namespace kestrune {

inline constexpr std::array<const char*, 18> kMaskTokens = {
    "%filename%", "%filename[u]%", "%filename[l]%", "%filename[t]%", "%ext%", "%ext[u]%",
    "%ext[t]%",   "%yyyy%",        "%mm%",          "%dd%",          "%hh%",  "%ii%",
    "%ss%",       "%bpp%",         "%width%",       "%height%",      "%rnd%", "%n%"};

// Base name of a path: the name after the last "/" or "\" less its extension;
// empty when the name is empty or has no ".".
std::string BaseName(const std::string& path);

// Value of token number `index` (0-based, table order) for the current file.
// Date tokens read the clock each time.
std::string MaskTokenValue(size_t index, const BatchState& state);

}  // namespace kestrune
