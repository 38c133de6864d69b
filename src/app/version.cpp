#include "app/version.h"

namespace kestrune {

std::string VersionDisplay(int number) {
    // "." after the first digit and after the (new) third character; a
    // trailing "0" keeps only the first three characters.
    std::string s = std::to_string(number);
    if (s.size() > 1) s.insert(1, ".");
    if (s.size() > 3) s.insert(3, ".");
    if (!s.empty() && s.back() == '0') s = s.substr(0, 3);
    return s;
}

std::string TitleWithVersion() { return std::string(kProductTitle) + " " + VersionDisplay(kVersionNumber); }

}  // namespace kestrune
