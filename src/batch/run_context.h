// Everything a conversion run reads and writes besides the files: passed in
// as one object, so that a run depends on nothing it is not handed. The
// command line and the window hand the process's own records
// (ProcessRunContext); a caller adds a hook to hear of each file's end.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "batch/batch_state.h"
#include "batch/file_result.h"
#include "batch/input_list.h"
#include "imaging/layer_cache.h"
#include "platform/memory_budget.h"
#include "settings/settings.h"

namespace kestrune {

struct RunContext {
    const Settings& settings;
    // The run's values on entry; on return the run's numbers and the last
    // file's values.
    BatchState& state;
    const InputList& inputs;
    // Written under progress_lock; keep_running is read to stop the run.
    BatchProgress& progress;
    std::mutex& progress_lock;
    PauseGate& pause;
    LayerCache& layers;
    MemoryBudget& budget;
    // The debug listing ("Processing:", "Saving As:", "OK") on the console.
    bool debug = false;
    // Called with each file's result as it is reported, then once for each
    // file the run did not reach.
    FileResultHook on_result;
    // One result per input, in input order, once the run has returned.
    std::vector<FileResult> results;
};

// The process's records: settings, batch_state, the input list,
// batch_progress, pause_gate, batch_layers and the memory budget; debug
// lines when the command line runs in DEBUG mode.
RunContext ProcessRunContext();

}  // namespace kestrune
