#include "batch/run_checks.h"

#include "batch/batch_state.h"
#include "imaging/watermark.h"
#include "platform/files.h"
#include "platform/process.h"

namespace kestrune {

std::string ResolveFolder(std::string_view typed, const std::string& program_folder) {
    std::string folder(typed);
    // A shell expands "~" itself, except in quotes or after "=" ("-o=~/out"),
    // and the window's field never sees a shell.
    if (folder == "~" || folder.starts_with("~/")) folder = HomeFolder() + folder.substr(1);
    if (!folder.starts_with('/')) {
        if (folder.starts_with("./")) folder.erase(0, 2);
        folder = program_folder + folder;
    }
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

FolderProblem CheckFolder(std::string_view typed, const std::string& program_folder, std::string& resolved) {
    if (typed.starts_with("..")) return FolderProblem::kParent;
    resolved = ResolveFolder(typed, program_folder);
    return IsFolder(resolved) ? FolderProblem::kNone : FolderProblem::kMissing;
}

WatermarkProblem CheckWatermarkSource(const Settings& s) {
    if (s.do_watermark == kTextWatermark && !LoadWatermarkFont(batch_layers, s)) return WatermarkProblem::kFont;
    if (s.do_watermark == kImageWatermark) {
        if (s.watermark_image.empty()) return WatermarkProblem::kNoImage;
        if (FileSize(s.watermark_image) < 1) return WatermarkProblem::kImage;
    }
    return WatermarkProblem::kNone;
}

}  // namespace kestrune
