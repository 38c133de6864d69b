#pragma once

#include "batch/batch_state.h"
#include "batch/run_context.h"
#include "settings/settings.h"

namespace kestrune {

// The run's target bit depth (0: each frame's nearest allowed depth).
void PrepareOutputFormat(BatchState& state, const Settings& s);

// Thread procedure: converts every entry of the input list; the converted
// count ends in batch_progress.file_count.
void ConvertAll();
// The same over the records of `run`; every input's result ends in
// run.results.
void ConvertAll(RunContext& run);
// The current input of batch_state through every selected frame; true when
// every frame saved reached its target.
bool ConvertFile();

}  // namespace kestrune
