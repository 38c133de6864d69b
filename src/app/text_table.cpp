#include "app/text_table.h"

namespace kestrune {

void BuildTextTable() {}
std::string GetText(std::string_view, std::string_view) { return "%NO_STRING_ERROR%"; }
std::string FormatText(std::string_view text, std::string_view, std::string_view, std::string_view, std::string_view) {
    return std::string(text);
}

}  // namespace kestrune
