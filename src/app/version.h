#pragma once

#include <string>

namespace kestrune {

inline constexpr const char* kProductTitle = "Tarvel GIF to IMAGE";
inline constexpr int kVersionNumber = 250;

// 250 -> "2.5", 251 -> "2.5.1", 300 -> "3.0".
std::string VersionDisplay(int number);
// "Tarvel GIF to IMAGE 2.5"
std::string TitleWithVersion();

}  // namespace kestrune
