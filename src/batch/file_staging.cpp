#include "batch/file_staging.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "batch/file_result.h"
#include "batch/frame_saver.h"
#include "batch/naming.h"
#include "formats/loading.h"
#include "formats/saving.h"
#include "imaging/frame_context.h"
#include "imaging/pipeline.h"
#include "platform/bitmap.h"
#include "platform/files.h"
#include "platform/temporary_files.h"
#include "settings/settings.h"

namespace kestrune {

uint64_t FileMemory(const std::string& path, const MemoryBudget& budget) {
    // A FIFO or device put in the file's place is never opened for good.
    const int fd = OpenRegularFile(path);
    FILE* file = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (!file) {
        if (fd >= 0) close(fd);
        return 1;  // the loader finds it unreadable and fails it
    }
    unsigned char header[10] = {};
    const size_t got = std::fread(header, 1, sizeof header, file);
    struct stat st {};
    const bool sized = fstat(fileno(file), &st) == 0;
    std::fclose(file);
    const uint64_t size = sized && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    // FreeImage's memory streams count in 32 bits.
    if (size > std::min<uint64_t>(INT_MAX, budget.Total())) return 0;
    uint64_t screen = 0;
    if (got == sizeof header && std::memcmp(header, "GIF", 3) == 0) {
        screen = static_cast<uint64_t>(header[6] | header[7] << 8) * (header[8] | header[9] << 8);
        if (screen > static_cast<uint64_t>(kMaxScreenPixels)) return 0;
    }
    return size + screen * 4 * 5 + 1;
}

namespace {

void RecordWritten(BatchState& state, const std::string& target) {
    auto& written = state.written_outputs;
    if (std::find(written.begin(), written.end(), target) == written.end())
        written.push_back(target);
}

// The first reason a file met stays its reason.
void Fail(BatchState& state, FailureReason reason) {
    if (state.failure == FailureReason::None) state.failure = reason;
}

// Runs a frame through the operations at the depth it is saved at: the
// format's setting, or the nearest allowed depth at or above the frame's
// own. Returns it empty, the file failed, when an operation refused it.
Bitmap TransformFrame(Bitmap image, const FrameFormat& format, BatchState& state, FrameContext& context) {
    state.target_bpp = FrameBitDepth(format, state.source_bpp);
    context.format.bpp = state.target_bpp;
    context.tokens = FileTokens(state);

    const FrameStep* emptied_by = nullptr;
    image = RunFramePipeline(std::move(image), context, &emptied_by);
    if (!image) Fail(state, StepRefusal(emptied_by ? emptied_by->name : nullptr));
    ++state.frames_done;
    // The size the frames and watermarks kept, for "%width%" and
    // "%height%" of the name.
    state.output_width = context.width;
    state.output_height = context.height;
    return image;
}

// Marks each staged output saved or not from the saver's outcomes, which
// come in frame order. A file is converted only when every frame saved was
// written: reporting it so with a frame missing (a full disk, memory running
// out halfway) would hide the loss. A save that gave up the file ends it
// there.
bool SettleOutcomes(BatchState& state, const std::vector<FrameSaver::Outcome>& outcomes,
                    std::vector<StagedOutput>& staged_outputs) {
    bool result = true;
    bool any = false;
    size_t next_staged = 0;
    for (const FrameSaver::Outcome& outcome : outcomes) {
        // Outcomes of frames that got no staging file name their target.
        StagedOutput* staged = nullptr;
        if (next_staged < staged_outputs.size() && staged_outputs[next_staged].staging == outcome.target)
            staged = &staged_outputs[next_staged++];
        if (staged) staged->saved = outcome.result == SaveResult::Saved;
        if (outcome.result == SaveResult::GiveUpFile) {
            Fail(state, FailureReason::WriterRefused);
            return false;
        }
        any = true;
        if (outcome.result != SaveResult::Saved) {
            result = false;
            const uint64_t frame_bytes = static_cast<uint64_t>(state.output_width) * state.output_height *
                                         static_cast<uint64_t>(std::max(state.target_bpp, 8)) / 8;
            Fail(state, DiagnoseSaveFailure(staged ? staged->target : outcome.target, frame_bytes));
        }
    }
    if (!any) Fail(state, FailureReason::NotDecodable);
    return result && any;
}

// Converts the file's frames into staging files; what cannot be had in
// memory throws.
bool StageFrames(BatchState& state, const RunContext& context_of_run, const FileRun& run) {
    const Settings& s = context_of_run.settings;
    MemoryBudget& budget = context_of_run.budget;
    state.written_outputs.clear();
    state.failure = FailureReason::None;
    state.frames_done = 0;

    // Refused from its header and size, before it is read.
    const uint64_t memory = FileMemory(state.current_input, budget);
    if (memory == 0) {
        Fail(state, FailureReason::TooLarge);
        return false;
    }
    // Waits while other files hold the memory this one needs.
    MemoryReservation room(budget, memory);

    FrameSource source = OpenFrameSource(state.current_input);
    if (source.frame_count == 0) {
        const bool readable = access(state.current_input.c_str(), R_OK) == 0;
        Fail(state, readable ? FailureReason::NotDecodable : FailureReason::CannotOpen);
        return false;
    }

    const auto [first, last] = SelectFrameRange(source.frame_count, s.gif_frame_loading);
    // Numbered names only for "ALL" with several frames; any other code
    // gives one name, so an unknown code keeps only the last frame.
    const bool numbered = s.gif_frame_loading == 0 && source.frame_count > 1;
    FrameSaver saver(FrameSaveParallelism(state.conversion, numbered), budget, run.pool);
    // What the operations read: the settings, the format's facts, and per
    // frame its size, depth and the file's token values.
    const FrameFormat format = OutputFrameFormat(state.conversion, s);
    FrameContext context(s);
    context.format = format;
    context.layers = &context_of_run.layers;
    // A frame that could not be taken (its memory could not be had) is lost:
    // the file is then not converted, whatever the other frames did.
    bool lost = false;

    for (int index = first; index <= last; ++index) {
        context_of_run.pause.Wait();
        Bitmap image = TakeFrame(source, index);
        int w = WidthOf(image);
        int h = HeightOf(image);
        state.source_bpp = BppOf(image);
        if (!image) {
            lost = true;
            Fail(state, FailureReason::FrameLost);
            continue;
        }
        if (w == 0 || h == 0) continue;  // nothing saved; the result stands

        image = TransformFrame(std::move(image), format, state, context);
        state.output_path = BuildOutputPath(state, s);
        const std::string target =
            numbered ? FramePath(state.output_path, index, state.conversion) : state.output_path;
        // The frame is encoded straight into the staging file; a frame the
        // operations refused, or one with no staging file beside its
        // target, fails there.
        const std::string staging = image ? CreateTemporaryBeside(target) : std::string();
        if (staging.empty()) {
            saver.Record(target, SaveResult::Failed);
            continue;
        }
        run.staged->push_back({staging, target});
        saver.Encode(std::move(image), staging, context);
        if (saver.GaveUp()) break;
    }
    return SettleOutcomes(state, saver.Finish(), *run.staged) && !lost;
}

}  // namespace

bool StageFile(BatchState& state, const RunContext& context, const FileRun& run) {
    try {
        return StageFrames(state, context, run);
    } catch (const std::bad_alloc&) {
        Fail(state, FailureReason::OutOfMemory);
        return false;
    }
}

bool PublishStaged(std::vector<StagedOutput>& staged, BatchState& state) {
    bool all = true;
    for (StagedOutput& output : staged) {
        if (!output.saved) {
            DiscardTemporaryFile(output.staging);
            continue;
        }
        const Published published = PublishFrame(output.staging, output.target, state.conversion);
        if (published == Published::Done) {
            RecordWritten(state, output.target);
        } else {
            Fail(state, published == Published::TargetLocked ? FailureReason::TargetLocked
                                                             : DiagnoseSaveFailure(output.target, 0));
            all = false;
        }
    }
    staged.clear();
    return all;
}

}  // namespace kestrune
