#include "app/version.h"

namespace kestrune {

std::string VersionDisplay(int number) {
    // "." after the first digit and after the (new) third character; a
    // trailing "0" keeps only the first three characters.
    // Built by concatenation rather than insert(): GCC 12 reports a false
    // -Wrestrict overlap in an optimised insert() into a short string.
    std::string s = std::to_string(number);
    if (s.size() > 1) s = s.substr(0, 1) + "." + s.substr(1);
    if (s.size() > 3) s = s.substr(0, 3) + "." + s.substr(3);
    if (!s.empty() && s.back() == '0') s = s.substr(0, 3);
    return s;
}

std::string TitleWithVersion() { return std::string(kProductTitle) + " " + VersionDisplay(kVersionNumber); }

}  // namespace kestrune
