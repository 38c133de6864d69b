#include "batch/worker.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "batch/batch_state.h"
#include "batch/frame_saver.h"
#include "batch/input_list.h"
#include "settings/mask_tokens.h"
#include "batch/naming.h"
#include "batch/run_context.h"
#include "batch/worker_pool.h"
#include "formats/loading.h"
#include "formats/saving.h"
#include "imaging/pipeline.h"
#include "formats/registry.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/memory_budget.h"
#include "platform/temporary_files.h"
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

void RecordWritten(BatchState& state, const std::string& target) {
    auto& written = state.written_outputs;
    if (std::find(written.begin(), written.end(), target) == written.end())
        written.push_back(target);
}

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

// The first reason a file met stays its reason.
void Fail(BatchState& state, FailureReason reason) {
    if (state.failure == FailureReason::None) state.failure = reason;
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

        // The depth the frame is saved at: the format's setting, or the
        // nearest allowed depth at or above the frame's own.
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

        state.output_path = BuildOutputPath(state, s);
        const std::string target =
            numbered ? FramePath(state.output_path, index, state.conversion) : state.output_path;
        // The frame is encoded straight into the staging file; where none
        // can be made beside the target, the frame fails there.
        const std::string staging = CreateTemporaryBeside(target);
        if (staging.empty()) {
            saver.Record(target, SaveResult::Failed);
            continue;
        }
        run.staged->push_back({staging, target});
        saver.Encode(std::move(image), staging, context);
        if (saver.GaveUp()) break;
    }

    // The outcomes in frame order. A file is converted only when every frame
    // saved was written: reporting it so with a frame missing (a full disk,
    // memory running out halfway) would hide the loss. A save that gave up
    // the file ends it there.
    bool result = !lost;
    bool any = false;
    size_t next_staged = 0;
    for (const FrameSaver::Outcome& outcome : saver.Finish()) {
        // Outcomes of frames that got no staging file name their target.
        StagedOutput* staged = nullptr;
        if (next_staged < run.staged->size() && (*run.staged)[next_staged].staging == outcome.target)
            staged = &(*run.staged)[next_staged++];
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

// StageFrames with memory that cannot be had failing this file, never the
// batch.
bool StageFile(BatchState& state, const RunContext& context, const FileRun& run) {
    try {
        return StageFrames(state, context, run);
    } catch (const std::bad_alloc&) {
        Fail(state, FailureReason::OutOfMemory);
        return false;
    }
}

// Renames the staged frames of a file over their targets, in frame order,
// records them as written and returns whether every one got there.
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

// One file alone: staged, then published at once.
bool ConvertFileHere(BatchState& state, const RunContext& context) {
    std::vector<StagedOutput> staged;
    const bool converted = StageFile(state, context, FileRun{nullptr, &staged});
    const bool published = PublishStaged(staged, state);
    return converted && published;
}

// True when the file's names or watermark can show the mask's random number
// or counter, which depend on how many files before it were converted: such
// a file waits for those to end before it starts. A base name can bring the
// tokens in itself ("x%n%.gif").
bool ShowsRunNumbers(const Settings& s, const std::string& path) {
    return HasRunOrderToken(s.filename_mask) || (s.do_watermark == kTextWatermark && HasRunOrderToken(s.text)) ||
           HasRunOrderToken(BaseName(path));
}

// Where the outputs of a run can land: under root (links resolved), and
// with the extension `extension` (lower case) when the mask ends with the
// format's one, which every name and numbered frame then keeps.
struct OutputReach {
    std::string root;  // "" when the folder does not exist: nothing listed lies there
    std::string extension;  // "" for any
};

OutputReach ReachOfOutputs(const BatchState& state, const Settings& s) {
    OutputReach reach;
    // A mask that climbs out of the folder may write anywhere.
    reach.root = ("/" + s.filename_mask + "/").find("/../") != std::string::npos ? "/" : ResolvedPath(state.output_folder);
    const std::string mask = s.filename_mask.empty() ? kDefaultFilenameMask : ToLower(s.filename_mask);
    if (EndsWithExtensionToken(mask)) reach.extension = ToLower(state.conversion);
    return reach;
}

// True when path, as it is read (links followed) or as its folder names it
// (the link itself), is where an output can land.
bool WithinReach(const std::string& path, const OutputReach& reach) {
    if (reach.root.empty() || path.empty()) return false;
    const auto reached = [&](const std::string& p) {
        const bool under = reach.root == "/" || (p.size() > reach.root.size() && p.starts_with(reach.root + "/"));
        return under && (reach.extension.empty() || ToLower(ExtensionPart(p)) == reach.extension);
    };
    const size_t slash = path.rfind('/');
    const std::string folder = ResolvedPath(slash == std::string::npos ? "." : path.substr(0, slash + 1));
    const std::string resolved = ResolvedPath(path);
    return (!resolved.empty() && reached(resolved)) || (!folder.empty() && reached(folder + "/" + path.substr(slash + 1)));
}

// True when the file reads what an earlier file may write: its input or the
// watermark image is where an output can land, whatever case or subfolder
// the mask gives the names. Such a file waits for the files before it to be
// reported, so that it reads what it would one file at a time.
bool ReadsEarlierOutputs(const Settings& s, const std::string& input, const OutputReach& reach) {
    return WithinReach(input, reach) || (s.do_watermark == kImageWatermark && WithinReach(s.watermark_image, reach));
}

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The end of a file as the run reports it: its result kept in input order,
// the progress counts of files and frames finished, and the caller's hook.
void ReportResult(RunContext& run, size_t index, const BatchState& state, bool ok, int64_t milliseconds) {
    FileResult& result = run.results[index];
    result.status = ok ? FileResult::Status::Converted : FileResult::Status::Failed;
    result.reason = ok ? FailureReason::None
                       : (state.failure == FailureReason::None ? FailureReason::WriteFailed : state.failure);
    result.output = state.output_path;
    result.outputs = static_cast<int>(state.written_outputs.size());
    result.written = state.written_outputs;
    result.frames = state.frames_done;
    result.milliseconds = milliseconds;
    {
        std::lock_guard lock(run.progress_lock);
        run.progress.finished += 1;
        run.progress.frames_finished += state.frames_done;
    }
    if (run.on_result) run.on_result(index, result);
}

// One file of a run converted side by side: taken in input order, converted
// on a thread of the pool, reported when every file before it has been.
struct FileJob {
    int64_t index = 0;
    BatchState state;
    std::vector<StagedOutput> staged;
    bool started = false;  // false: the run was broken before it began
    bool ok = false;
    bool done = false;
    int64_t milliseconds = 0;
};

class SideBySideRun {
  public:
    SideBySideRun(RunContext& run, int threads)
        : context_(run),
          window_(static_cast<size_t>(threads) * 4),
          next_(run.inputs.begin()),
          end_(run.inputs.end()),
          numbers_{run.state.random_number, run.state.sequence_number} {
        run_ = run.state;
        committed_ = run.state;
        shown_path_ = run.state.output_path;
        outputs_ = ReachOfOutputs(run.state, run.settings);
        // As many threads as the budget feeds with files like the first.
        const uint64_t per_file = next_ == end_ ? 0 : FileMemory(next_->first, run.budget);
        pool_ = std::make_unique<WorkerPool>(threads, [this] { return NextFile(); }, per_file);
    }

    // Reports every file in input order as it ends; returns the converted
    // count once no file is in hand and none will start.
    int32_t Run() {
        std::unique_lock lock(pool_->Lock());
        // The threads may only take files once pool_ is set.
        open_ = true;
        pool_->Wake();
        for (;;) {
            if (!in_hand_.empty() && in_hand_.front()->done) {
                std::shared_ptr<FileJob> job = std::move(in_hand_.front());
                in_hand_.pop_front();
                lock.unlock();
                pool_->Wake();  // room for one more file in hand
                // A paused run reports nothing either.
                context_.pause.Wait();
                Report(*job);
                lock.lock();
                committed_index_ = job->index + 1;
                numbers_ = {committed_.random_number, committed_.sequence_number};
                reported_.notify_all();
                continue;
            }
            if (in_hand_.empty() && (next_ == end_ || stopped_ || context_.progress.keep_running.load() != 1)) break;
            // The window mode clears keep_running without telling the run.
            ended_.wait_for(lock, std::chrono::milliseconds(20));
        }
        lock.unlock();
        pool_.reset();
        // The run's numbers and the last file's values, as after converting
        // one file after another.
        static_cast<FileState&>(context_.state) = static_cast<const FileState&>(committed_);
        context_.state.output_path = shown_path_;
        return converted_;
    }

  private:
    // Under the pool's lock.
    std::function<void()> NextFile() {
        if (!open_ || next_ == end_ || stopped_ || in_hand_.size() >= window_ ||
            context_.progress.keep_running.load() != 1)
            return {};
        auto job = std::make_shared<FileJob>();
        job->index = taken_++;
        static_cast<RunState&>(job->state) = run_;
        job->state.current_input = next_->first;
        job->state.current_subfolder = next_->second.subfolder;
        ++next_;
        in_hand_.push_back(job);
        return [this, job] { Convert(*job); };
    }

    void Convert(FileJob& job) {
        BatchState& state = job.state;
        // The window mode holds the gate while it asks whether to stop, and
        // clears the flag before opening it when the answer is yes.
        context_.pause.Wait();
        const bool in_turn = ShowsRunNumbers(context_.settings, state.current_input) ||
                             ReadsEarlierOutputs(context_.settings, state.current_input, outputs_);
        {
            std::unique_lock lock(pool_->Lock());
            // Once the run is broken no file starts, except one whose
            // successor has started already: the files started stay the
            // first ones of the list, as when they are taken one by one.
            if (job.index > highest_started_ && (stopped_ || context_.progress.keep_running.load() != 1)) {
                stopped_ = true;
                job.done = true;
                ended_.notify_all();
                return;
            }
            highest_started_ = std::max(highest_started_, job.index);
            job.started = true;
            if (in_turn) {
                reported_.wait(lock, [&] { return committed_index_ == job.index; });
                state.random_number = numbers_.first;
                state.sequence_number = numbers_.second;
            }
        }
        {
            std::lock_guard lock(context_.progress_lock);
            // Files start side by side; the window shows the furthest one.
            if (job.index + 1 > context_.progress.taken) {
                context_.progress.taken = static_cast<int32_t>(job.index + 1);
                context_.progress.current_path = state.current_input;
            }
        }
        const auto start = std::chrono::steady_clock::now();
        if (context_.settings.keep_subfolders == 1) EnsureOutputSubfolder(state);
        job.ok = StageFile(state, context_, FileRun{pool_.get(), &job.staged});
        job.milliseconds = MillisecondsSince(start);
        std::lock_guard lock(pool_->Lock());
        job.done = true;
        ended_.notify_all();
    }

    // The lines and the end of a file, exactly as when it is converted alone.
    void Report(FileJob& job) {
        if (!job.started) {
            PublishStaged(job.staged, job.state);
            return;
        }
        BatchState& state = job.state;
        const bool published = PublishStaged(job.staged, state);
        const bool ok = job.ok && published;
        // A file that failed before naming a frame shows the name left by
        // the one before it.
        if (!state.output_path.empty()) shown_path_ = state.output_path;
        if (context_.debug) {
            PrintLine("Processing: " + VisibleText(state.current_input));
            PrintLine("Saving As: " + VisibleText(shown_path_));
            PrintLine(ok ? "OK" : "Not OK");
        }
        if (ok) ++converted_;
        ReportResult(context_, static_cast<size_t>(job.index), state, ok, job.milliseconds);
        // The numbers advance here, in input order, from this one thread.
        const int32_t random_number = committed_.random_number;
        const int32_t sequence_number = committed_.sequence_number;
        static_cast<FileState&>(committed_) = static_cast<const FileState&>(state);
        committed_.random_number = random_number;
        committed_.sequence_number = sequence_number;
        FinishOutputFile(ok, committed_, context_.settings, committed_.written_outputs);
    }

    RunContext& context_;
    const size_t window_;
    RunState run_;
    OutputReach outputs_;
    // Touched by the reporting thread only (Run, Report).
    BatchState committed_;
    std::string shown_path_;
    int32_t converted_ = 0;
    // Under the pool's lock.
    InputList::const_iterator next_;
    const InputList::const_iterator end_;
    std::deque<std::shared_ptr<FileJob>> in_hand_;
    int64_t taken_ = 0;
    int64_t highest_started_ = -1;
    int64_t committed_index_ = 0;
    std::pair<int32_t, int32_t> numbers_;
    bool stopped_ = false;
    bool open_ = false;
    std::condition_variable ended_;
    std::condition_variable reported_;
    // Last: its threads use everything above, and it is the first to go.
    std::unique_ptr<WorkerPool> pool_;
};

// One file after another on this thread, every frame saved here.
int32_t ConvertOneAtATime(RunContext& run) {
    BatchState& state = run.state;
    int32_t taken = 0;
    int32_t converted = 0;

    for (const auto& [path, entry] : run.inputs) {
        // The window mode holds the gate while it asks whether to stop, and
        // clears the flag before opening it when the answer is yes.
        run.pause.Wait();
        if (run.progress.keep_running.load() != 1) break;
        ++taken;
        state.current_input = path;
        state.current_subfolder = entry.subfolder;
        {
            std::lock_guard lock(run.progress_lock);
            run.progress.taken = taken;
            run.progress.current_path = path;
        }
        const auto start = std::chrono::steady_clock::now();
        if (run.settings.keep_subfolders == 1) EnsureOutputSubfolder(state);
        if (run.debug) PrintLine("Processing: " + VisibleText(path));

        const bool ok = ConvertFileHere(state, run);

        if (run.debug) {
            PrintLine("Saving As: " + VisibleText(state.output_path));
            PrintLine(ok ? "OK" : "Not OK");
        }
        if (ok) ++converted;
        ReportResult(run, static_cast<size_t>(taken - 1), state, ok, MillisecondsSince(start));
        FinishOutputFile(ok, state, run.settings, state.written_outputs);
    }
    return converted;
}

}  // namespace

RunContext ProcessRunContext() {
    return RunContext{settings,     batch_state,
                      TheInputList(), batch_progress,
                      batch_lock,   pause_gate,
                      batch_layers, MemoryBudget::Process(),
                      batch_state.command_line && run_request.mode == "DEBUG",
                      {},           {}};
}

void PrepareOutputFormat(BatchState& state, const Settings& s) {
    state.target_bpp = OutputFrameFormat(state.conversion, s).bpp;
}

bool ConvertFile() {
    RunContext run = ProcessRunContext();
    return ConvertFileHere(batch_state, run);
}

void ConvertAll(RunContext& run) {
    run.results.assign(run.inputs.size(), FileResult{});
    size_t index = 0;
    for (const auto& entry : run.inputs) run.results[index++].input = entry.first;
    {
        std::lock_guard lock(run.progress_lock);
        run.progress.finished = 0;
        run.progress.frames_finished = 0;
    }
    const int threads = RunParallelism();
    int32_t converted = 0;
    // A single file needs no second thread for itself: its frames still go
    // side by side.
    std::unique_ptr<SideBySideRun> side_by_side;
    if (threads > 1 && run.inputs.size() > 1) {
        try {
            side_by_side = std::make_unique<SideBySideRun>(run, threads);
        } catch (const std::system_error&) {
            // No thread to be had: one file after another on this one.
        }
    }
    converted = side_by_side ? side_by_side->Run() : ConvertOneAtATime(run);
    side_by_side.reset();
    // The files a broken run never reached are reported too, so that every
    // input has a result.
    if (run.on_result) {
        for (size_t i = 0; i < run.results.size(); ++i) {
            if (run.results[i].status == FileResult::Status::NotReached) run.on_result(i, run.results[i]);
        }
    }
    std::lock_guard lock(run.progress_lock);
    run.progress.file_count = converted;
}

void ConvertAll() {
    RunContext run = ProcessRunContext();
    ConvertAll(run);
}

}  // namespace kestrune
