#pragma once

#include "batch/batch_state.h"
#include "batch/run_context.h"
#include "settings/settings.h"

namespace kestrune {

// Writer id, target bit depth, automatic flag and save flags for the run.
void PrepareOutputFormat(BatchState& state, const Settings& s);

// Thread procedure: converts every entry of the input list; the converted
// count ends in batch_progress.file_count.
void ConvertAll();
// The same over the records of `run`; every input's result ends in
// run.results.
void ConvertAll(RunContext& run);
// The current input of batch_state through every selected frame; true when
// the last save of the file succeeded.
bool ConvertFile();

}  // namespace kestrune
