// Every user-facing text by (group, key).
#pragma once

#include <string>
#include <string_view>

namespace kestrune {

void BuildTextTable();
// The text, or "%NO_STRING_ERROR%". Groups and keys ignore case.
std::string GetText(std::string_view group, std::string_view key);
// "%s1%".."%s4%" (any case) replaced by the non-empty arguments.
std::string FormatText(std::string_view text, std::string_view a1 = {}, std::string_view a2 = {},
                       std::string_view a3 = {}, std::string_view a4 = {});

}  // namespace kestrune
