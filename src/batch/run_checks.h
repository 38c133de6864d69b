#pragma once

#include <string>
#include <string_view>

#include "settings/settings.h"

// What stops a run before it starts, decided once for the command line and
// the window; each of them words the problem in its own way.
namespace kestrune {

// A folder as typed, made a path ending in "/": "~" is the home folder, and
// a relative folder lies below `program_folder`, not the current directory,
// so a run means the same from wherever it is started.
std::string ResolveFolder(std::string_view typed, const std::string& program_folder);

enum class FolderProblem { kNone, kParent, kMissing };
// ".." as typed is refused outright; otherwise the resolved folder (put in
// `resolved`) must exist, as it is never created.
FolderProblem CheckFolder(std::string_view typed, const std::string& program_folder, std::string& resolved);

enum class WatermarkProblem { kNone, kFont, kNoImage, kImage };
// What the watermark needs is there: the font of a text watermark, loaded
// into batch_layers here for the whole batch, or the file of an image
// watermark.
WatermarkProblem CheckWatermarkSource(const Settings& s);

}  // namespace kestrune
