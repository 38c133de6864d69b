// What became of one input file of a run, and why a file was not converted.
// The console prints only "OK" or "Not OK"; the window's list and reports
// show the reason.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrune {

enum class FailureReason : uint8_t {
    None,
    CannotOpen,         // the file cannot be opened for reading
    NotDecodable,       // no GIF frame can be read from it
    TooLarge,           // its screen or size is over what the program may hold
    FrameLost,          // memory for a frame could not be had
    RotationRefused,    // the rotated frame would be too large
    ResizeRefused,      // the resized frame would be too large
    OutOfMemory,        // memory ran out while a frame was transformed
    WatermarkNotPlaced, // nothing of the watermark lands on the frame, or its image cannot be held
    SubfolderMissing,   // the output subfolder could not be created
    FolderNotWritable,  // the output folder may not be written
    TargetLocked,       // the output exists and may not be replaced
    DiskFull,           // no room left on the output's disk
    WriterRefused,      // the writer gave up the file
    WriteFailed,        // the writer could not save the frame
};

// The reason in a short English phrase ("the output folder cannot be
// written"); "" for None.
const char* FailureWords(FailureReason reason);

struct FileResult {
    enum class Status : uint8_t { Converted, Failed, NotReached };

    std::string input;
    Status status = Status::NotReached;
    FailureReason reason = FailureReason::None;
    // The last output named for the file: the one written, or the one
    // tried when the file failed ("" when it failed before naming one).
    std::string output;
    int outputs = 0;  // files written
    std::vector<std::string> written;  // their paths
    int frames = 0;   // frames taken through the operations
    int64_t milliseconds = 0;
};

// Called on the run's reporting thread with each file's result as it is
// reported, in input order; `index` is the file's place in the input list.
using FileResultHook = std::function<void(size_t index, const FileResult& result)>;

// Why a frame came out of the named step of the operations empty: the
// rotation and resize refuse sizes too large, the others run out of memory
// (as does a frame that came in empty, step nullptr).
FailureReason StepRefusal(const char* step);

// Why saving to `target` failed, as the file system shows it after the
// fact: the folder missing or not writable, the target locked, the disk
// without room for `frame_bytes`; otherwise the writer failed.
FailureReason DiagnoseSaveFailure(const std::string& target, uint64_t frame_bytes);

}  // namespace kestrune
