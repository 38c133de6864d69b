#include "batch/worker.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <mutex>
#include <string>

#include "batch/batch_state.h"
#include "batch/frame_saver.h"
#include "batch/input_list.h"
#include "batch/naming.h"
#include "formats/loading.h"
#include "formats/saving.h"
#include "imaging/bit_depth.h"
#include "imaging/frame.h"
#include "imaging/resize.h"
#include "imaging/rotate.h"
#include "imaging/tones.h"
#include "imaging/size_limit.h"
#include "imaging/watermark.h"
#include "formats/registry.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/memory_budget.h"
#include "platform/text.h"
#include "settings/run_request.h"
#include "settings/settings.h"

namespace kestrune {
namespace {

// What converting a file holds at once: its bytes, the canvas frames are
// composed on, the frame being transformed and the one being saved.
// 0 when the file must not be read at all: its screen is over the bound, or
// it is larger than the memory the process may give it (a GIF that size
// could never be converted, and reading it whole would take the memory the
// other files need).
uint64_t FileMemory(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return 1;  // the loader finds it unreadable and fails it
    unsigned char header[10] = {};
    const size_t got = std::fread(header, 1, sizeof header, file);
    struct stat st {};
    const bool sized = fstat(fileno(file), &st) == 0;
    std::fclose(file);
    const uint64_t size = sized && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    // FreeImage's memory streams count in 32 bits.
    if (size > std::min<uint64_t>(INT_MAX, MemoryBudget::Process().Total())) return 0;
    uint64_t screen = 0;
    if (got == sizeof header && std::memcmp(header, "GIF", 3) == 0) {
        screen = static_cast<uint64_t>(header[6] | header[7] << 8) * (header[8] | header[9] << 8);
        if (screen > static_cast<uint64_t>(kMaxScreenPixels)) return 0;
    }
    return size + screen * 4 * 5 + 1;
}

void RecordWritten(BatchState& state, const std::string& target) {
    auto& written = state.written_outputs;
    if (std::find(written.begin(), written.end(), target) == written.end())
        written.push_back(target);
}

bool ConvertFileWithin() {
    BatchState& state = batch_state;
    const Settings& s = settings;
    state.written_outputs.clear();

    // Refused from its header and size, before it is read.
    const uint64_t memory = FileMemory(state.current_input);
    if (memory == 0) return false;
    // Waits while other files hold the memory this one needs.
    MemoryReservation room(MemoryBudget::Process(), memory);

    FrameSource source = OpenFrameSource(state.current_input);
    if (source.frame_count == 0) return false;

    const auto [first, last] = SelectFrameRange(source.frame_count, s.gif_frame_loading);
    // Numbered names only for "ALL" with several frames; any other code
    // gives one name, so an unknown code keeps only the last frame.
    const bool numbered = s.gif_frame_loading == 0 && source.frame_count > 1;
    FrameSaver saver(FrameSaveParallelism(state.conversion, numbered));
    // What the operations read: the settings, the format's facts, and per
    // frame its size, depth and the file's token values.
    const FrameFormat format = OutputFrameFormat(state.conversion, s);
    FrameContext context(s);
    context.format = format;
    context.layers = &batch_layers;
    // A frame that could not be taken (its memory could not be had) is lost:
    // the file is then not converted, whatever the other frames did.
    bool lost = false;

    for (int index = first; index <= last; ++index) {
        pause_gate.Wait();
        Bitmap image = TakeFrame(source, index);
        int w = WidthOf(image);
        int h = HeightOf(image);
        state.source_bpp = BppOf(image);
        if (!image) {
            lost = true;
            continue;
        }
        if (w == 0 || h == 0) continue;  // nothing saved; the result stands

        // The depth the frame is saved at: the format's setting, or the
        // nearest allowed depth at or above the frame's own.
        state.target_bpp = format.bpp != 0 ? format.bpp : NearestAllowedBitDepth(state.conversion, state.source_bpp);
        context.format.bpp = state.target_bpp;
        context.tokens = FileTokens(state);

        image = RotateImage(std::move(image), context);
        if (s.do_image_resize) image = DropUnusedAlpha(std::move(image), context);
        image = ResizeImage(std::move(image), context);
        image = LimitSize(std::move(image), context);
        // The size is final here: frames and watermarks keep it. Recording it
        // now lets "%width%" and "%height%" of a watermark text show this
        // frame's values instead of the previous file's (or 0 on the first
        // file).
        w = WidthOf(image);
        h = HeightOf(image);
        context.width = state.output_width = w;
        context.height = state.output_height = h;
        image = FlipImage(std::move(image), context);
        image = AdjustTones(std::move(image), context);
        image = MakeGreyscale(std::move(image), context);
        image = ApplyThreshold(std::move(image), context);
        image = DrawSolidFrame(std::move(image), context);
        image = DrawWatermark(std::move(image), context);
        image = ConvertBitDepth(std::move(image), context);

        state.output_path = BuildOutputPath(state, s);
        const std::string target =
            numbered ? FramePath(state.output_path, index, state.conversion) : state.output_path;
        saver.Save(std::move(image), target, context);
        if (saver.GaveUp()) break;
    }

    // The outcomes in frame order. A file is converted only when every frame
    // saved was written: reporting it so with a frame missing (a full disk,
    // memory running out halfway) would hide the loss. A save that gave up
    // the file ends it there.
    bool result = !lost;
    bool any = false;
    for (const FrameSaver::Outcome& outcome : saver.Finish()) {
        if (outcome.result == SaveResult::GiveUpFile) return false;
        any = true;
        if (outcome.result == SaveResult::Saved) RecordWritten(state, outcome.target);
        else result = false;
    }
    return result && any;
}

}  // namespace

void PrepareOutputFormat(BatchState& state, const Settings& s) {
    const FrameFormat format = OutputFrameFormat(state.conversion, s);
    state.writer_id = WriterIdOf(state.conversion);
    state.target_bpp = format.bpp;
    state.save_flags = format.save_flags;
    state.automatic_bpp = format.bpp == 0;
}

bool ConvertFile() {
    // Memory that cannot be had fails this file, never the batch.
    try {
        return ConvertFileWithin();
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void ConvertAll() {
    BatchState& state = batch_state;
    const bool debug = state.command_line && run_request.mode == "DEBUG";
    int32_t taken = 0;
    int32_t converted = 0;

    for (const auto& [path, entry] : TheInputList()) {
        // The window mode holds the gate while it asks whether to stop, and
        // clears the flag before opening it when the answer is yes.
        pause_gate.Wait();
        if (batch_progress.keep_running.load() != 1) break;
        ++taken;
        state.current_input = path;
        state.current_subfolder = entry.subfolder;
        {
            std::lock_guard lock(batch_lock);
            batch_progress.taken = taken;
            batch_progress.current_path = path;
        }
        if (settings.keep_subfolders == 1) EnsureOutputSubfolder(state);
        if (debug) PrintLine("Processing: " + VisibleText(path));

        const bool ok = ConvertFile();

        if (debug) {
            PrintLine("Saving As: " + VisibleText(state.output_path));
            PrintLine(ok ? "OK" : "Not OK");
        }
        if (ok) ++converted;
        FinishOutputFile(ok, state, settings, state.written_outputs);
    }

    std::lock_guard lock(batch_lock);
    batch_progress.file_count = converted;
}

}  // namespace kestrune
