// What became of each input of a run, told to whoever listens as the batch
// reports the files (the console lines say the same, in fewer words).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "batch/input_list.h"

namespace kestrune {

enum class FileStatus { Converted, Failed, NotReached };

struct FileResult {
    std::string input;
    std::string subfolder;
    FileStatus status = FileStatus::NotReached;
    std::string reason;                // why it failed, in a few words; empty otherwise
    std::vector<std::string> outputs;  // the files written for it, also when it failed
    int32_t frames = 0;                // frames written, in place
    int64_t ms = 0;                    // from its start to its end
};

// Listeners of the command line's batch; unset, nobody listens.
struct BatchListener {
    // The input list, complete, before the first file starts; it stays as it
    // is until the run ends. Called on the thread that runs the batch.
    std::function<void(const InputList&)> inputs_collected;
    // Each file, in input order, once its outputs are in place; called on the
    // one thread that reports the files.
    std::function<void(const FileResult&)> file_reported;
};
inline BatchListener batch_listener;

}  // namespace kestrune
