// Writing one processed frame in the run's output format: FreeImage for 15
// formats, DevIL for dds (with mipmaps), pcx and psd, jxrlib for jxr,
// OpenJPEG for j2k and jp2, and own writers for ico, pfm, 8-bit BMP files
// with an exact colour table and 24- and 32-bit PNG files (png_writer.h).
#pragma once

#include <cstdint>
#include <string>

#include "imaging/frame_context.h"
#include "platform/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

int32_t SaveFlagsFor(const std::string& extension, const Settings& s);
// The format's facts for the frames of a run: its table row, the save flags
// and the depth setting (0: each frame's nearest allowed depth).
FrameFormat OutputFrameFormat(const std::string& id, const Settings& s);

enum class SaveResult {
    Saved,
    Failed,
    GiveUpFile,  // the DevIL writer could not get its pixel buffer
};
// Saves in context.format at context.format.bpp: encodes into a temporary
// file beside the target and publishes it (PublishFrame); a failed save
// leaves neither a temporary file nor a changed target.
SaveResult SaveFrame(const Bitmap& image, const std::string& target, const FrameContext& context);
// The encoding alone, into a temporary file the caller made (with
// CreateTemporaryBeside) and publishes (PublishFrame) or discards.
SaveResult EncodeFrameInto(const Bitmap& image, const std::string& temporary, const FrameContext& context);

enum class Published {
    Done,
    TargetLocked,  // the target may not be written; it stays as it is
    Failed,        // the rename failed
};
// Renames a temporary file holding a saved frame over target, or removes it
// when that cannot be done. A target that may not be written stays as it
// is, as FreeImage and the own writers would leave it when writing to it
// themselves; DevIL's writer replaces a read-only target on purpose.
Published PublishFrame(const std::string& temporary, const std::string& target, const std::string& format_id);

}  // namespace kestrune
