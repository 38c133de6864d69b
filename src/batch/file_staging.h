// Converting one file: its frames encoded into staging files beside their
// targets, then renamed over the targets once the file's turn comes. The
// run (worker.cpp) decides when and on which thread each step happens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "batch/batch_state.h"
#include "batch/run_context.h"
#include "batch/worker_pool.h"
#include "platform/memory_budget.h"

namespace kestrune {

// What converting a file holds at once: its bytes, the canvas frames are
// composed on, the frame being transformed and the one being saved.
// 0 when the file must not be read at all: its screen is over the bound, or
// it is larger than the memory the process may give it (a GIF that size
// could never be converted, and reading it whole would take the memory the
// other files need).
uint64_t FileMemory(const std::string& path, const MemoryBudget& budget);

// A frame saved under a temporary name beside its target, and renamed over
// the target only once the file's frames are all saved, or, for files
// converted side by side, when the file's turn comes, in input order. A
// later file that maps to the same name is therefore the one that stays,
// however the files' ends interleave, and a target that is the very input
// being read is not replaced while its frames are still needed.
struct StagedOutput {
    std::string staging;
    std::string target;
    bool saved = false;
};

// How the file is converted: its frames saved side by side on the run's
// threads (or the saver's own), and where its staged outputs are kept.
struct FileRun {
    WorkerPool* pool = nullptr;
    std::vector<StagedOutput>* staged = nullptr;
};

// Converts the current input of `state` into staging files; memory that
// cannot be had fails this file, never the batch. True when no frame was
// lost and every frame saved was written.
bool StageFile(BatchState& state, const RunContext& context, const FileRun& run);

// Renames the staged frames of a file over their targets, in frame order,
// records them as written and returns whether every one got there.
bool PublishStaged(std::vector<StagedOutput>& staged, BatchState& state);

}  // namespace kestrune
