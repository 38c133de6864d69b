#include "batch/worker.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "batch/batch_state.h"
#include "batch/file_staging.h"
#include "batch/input_list.h"
#include "batch/naming.h"
#include "batch/run_context.h"
#include "batch/worker_pool.h"
#include "formats/saving.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/memory_budget.h"
#include "platform/text.h"
#include "settings/mask_tokens.h"
#include "settings/run_request.h"
#include "settings/settings.h"

namespace kestrune {
namespace {

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
