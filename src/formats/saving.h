// Writing one processed frame in the run's output format: FreeImage for 15
// formats, DevIL for dds (with mipmaps), pcx and psd, jxrlib for jxr,
// OpenJPEG for j2k and jp2, and own writers for ico, pfm and 8-bit BMP files
// with an exact colour table.
#pragma once

#include <cstdint>
#include <string>

#include "batch/batch_state.h"
#include "imaging/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

int32_t SaveFlagsFor(const std::string& extension, const Settings& s);
// Writer id, target bit depth, automatic flag, save flags and the depth
// rules of the bit-depth conversion for the run.
void PrepareOutputFormat(BatchState& state, const Settings& s);
std::string TemporaryOutputPath(const BatchState& state, const Settings& s);
std::string TemporaryName(const std::string& prefix, const std::string& suffix);

enum class SaveResult {
    Saved,
    Failed,
    GiveUpFile,  // the DevIL writer could not get its pixel buffer
};
// Every writer writes a temporary file beside the target (named like
// TemporaryOutputPath) and renames it over the target only on success; a
// failed save leaves neither a temporary file nor a changed target.
SaveResult SaveFrame(const Bitmap& image, const std::string& target, const BatchState& state,
                     const Settings& s);

}  // namespace kestrune
