// The favourite output folders of the output-folder drop-down, kept in the
// setting "Recent Out Folders" of group "File".
//
// The folders are stored in one text, most recent first, separated by "|".
// Linux allows every character but "/" and NUL in a name, so no separator is
// safe in principle; "|" is rare in folder names, readable in "config.ini",
// and a folder that contains it is simply not remembered rather than stored
// in a way that would split it into two wrong entries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/settings.h"

namespace kestrune {

inline constexpr char kOutFolderSeparator = '|';
// The drop-down never holds more than this many favourites.
inline constexpr int kMaxOutFolders = 128;

// What makes two folders the same favourite: "/a/out", "/a/out/" and
// "/a//out" are one folder.
std::string OutFolderKey(std::string_view folder);

// The stored favourites, one per folder (the first spelling kept), empty entries dropped, at most kMaxOutFolders.
std::vector<std::string> SplitOutFolders(const std::string& stored);
std::string JoinOutFolders(const std::vector<std::string>& folders);

// How many folders are kept: "Out Folders Number" limited to 1..128.
int OutFoldersLimit(const Settings& s);

// Puts `folder` at the front of the favourites (an equal entry moves there)
// and cuts the list to the limit. With "Out Folders History" off nothing is
// kept and the favourites are cleared.
void RememberOutFolder(Settings& s, const std::string& folder);

}  // namespace kestrune
