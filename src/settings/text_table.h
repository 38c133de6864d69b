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
// Number of the group found by the last lookup (1 for the first group of the
// table), 0 after a lookup of a group that is not in the table.
int CurrentTextGroup();

}  // namespace kestrune
