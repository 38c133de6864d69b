#include "batch/file_result.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace kestrune {

const char* FailureWords(FailureReason reason) {
    switch (reason) {
        case FailureReason::None: return "";
        case FailureReason::CannotOpen: return "the file cannot be opened";
        case FailureReason::NotDecodable: return "no GIF frame can be read from the file";
        case FailureReason::TooLarge: return "the picture is larger than the memory the program may use";
        case FailureReason::FrameLost: return "memory for a frame could not be had";
        case FailureReason::RotationRefused: return "the rotated picture would be too large";
        case FailureReason::ResizeRefused: return "the resized picture would be too large";
        case FailureReason::OutOfMemory: return "memory ran out while the picture was transformed";
        case FailureReason::WatermarkNotPlaced: return "the watermark cannot be placed on the picture";
        case FailureReason::SubfolderMissing: return "the output subfolder cannot be created";
        case FailureReason::FolderNotWritable: return "the output folder cannot be written";
        case FailureReason::TargetLocked: return "the output file exists and cannot be replaced";
        case FailureReason::DiskFull: return "the disk is full";
        case FailureReason::WriterRefused: return "the writer refused the picture";
        case FailureReason::WriteFailed: return "the writer could not save the picture";
    }
    return "";
}

FailureReason StepRefusal(const char* step) {
    if (step && std::strcmp(step, "rotate") == 0) return FailureReason::RotationRefused;
    if (step && std::strcmp(step, "resize") == 0) return FailureReason::ResizeRefused;
    // The watermark empties a frame when none of it would land on the
    // picture, or when its image is too large to hold.
    if (step && std::strcmp(step, "watermark") == 0) return FailureReason::WatermarkNotPlaced;
    return FailureReason::OutOfMemory;
}

FailureReason DiagnoseSaveFailure(const std::string& target, uint64_t frame_bytes) {
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    if (access(folder.c_str(), F_OK) != 0) return FailureReason::SubfolderMissing;
    if (access(folder.c_str(), W_OK | X_OK) != 0) return FailureReason::FolderNotWritable;
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) return FailureReason::TargetLocked;
    struct statvfs fs {};
    // A failed save has removed its partial file by now, so the room that
    // stopped it may be back in part: a disk with less room than the frame's
    // pixels is taken as full.
    if (statvfs(folder.c_str(), &fs) == 0) {
        const uint64_t room = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
        if (room < std::max<uint64_t>(frame_bytes, 64 * 1024)) return FailureReason::DiskFull;
    }
    return FailureReason::WriteFailed;
}

}  // namespace kestrune
