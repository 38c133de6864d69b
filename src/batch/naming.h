// Output names: folder, optional subfolder, and a file name from the mask.
#pragma once

#include <string>
#include <vector>

#include "batch/batch_state.h"
#include "settings/mask_tokens.h"
#include "settings/settings.h"

namespace kestrune {

// What the name tokens stand for with the current file of the state.
TokenValues FileTokens(const BatchState& state);
std::string BuildOutputName(const BatchState& state, const Settings& s);
std::string BuildOutputPath(const BatchState& state, const Settings& s);
// "[k+1]" in front of the last Len(extension)+1 characters.
std::string FramePath(const std::string& path, int index, const std::string& extension);
void EnsureOutputSubfolder(const BatchState& state);
// After a file: new random number, next sequence number and the file
// timestamp on every file in `written`, only when the file was converted.
void FinishOutputFile(bool ok, BatchState& state, const Settings& s,
                      const std::vector<std::string>& written);
// Draws a new random number and restarts the counter (a new batch).
void ResetNaming(BatchState& state);

}  // namespace kestrune
