#include "batch/frame_saver.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <system_error>

#include "formats/registry.h"

namespace kestrune {

namespace {

// Saves of the writers that keep state between calls. DevIL keeps one
// current image for the whole process (its writer takes a turn of its own
// as well, inside this one), and the JPEG XR and remaining writers are left
// to run one at a time.
std::mutex one_at_a_time_writers;

}  // namespace

bool WriterRunsSideBySide(const std::string& conversion) {
    // The format's row says which writers touch nothing shared between two
    // calls.
    const OutputFormat* format = FindOutputFormat(conversion);
    return format && format->saves_side_by_side;
}

int FrameSaveParallelism(const std::string& conversion, bool numbered) {
    if (!numbered || !WriterRunsSideBySide(conversion)) return 1;
    return RunParallelism();
}

SaveResult EncodeFrameInTurn(const Bitmap& image, const std::string& temporary, const FrameContext& context) {
    if (WriterRunsSideBySide(context.format.id)) return EncodeFrameInto(image, temporary, context);
    std::lock_guard turn(one_at_a_time_writers);
    return EncodeFrameInto(image, temporary, context);
}

uint64_t FrameSaveMemory(const Bitmap& image) {
    if (!image) return 0;
    const uint64_t bytes = static_cast<uint64_t>(FreeImage_GetPitch(image.get())) * FreeImage_GetHeight(image.get());
    // The frame, a converted copy and the encoder's own rows or tiles.
    return 3 * bytes;
}

FrameSaver::FrameSaver(int parallelism, MemoryBudget& budget, WorkerPool* pool)
    : parallelism_(std::max(1, parallelism)), budget_(budget), pool_(pool) {
    // Alone (no run around it, one file at a time), the saver brings its own
    // savers, one per frame it may have in flight, and this thread only
    // composes the frames: it waits for the oldest save when they are all
    // busy rather than encoding one itself, which would leave them idle
    // until it is done (composing costs little next to encoding).
    // They start with the first frame, whose size says how many of them
    // the memory budget can feed.
    wants_own_pool_ = parallelism_ > 1 && !pool_;
}

bool FrameSaver::StartOwnSavers(uint64_t frame_cost) {
    wants_own_pool_ = false;
    try {
        own_pool_ = std::make_unique<WorkerPool>(parallelism_, [] { return std::function<void()>(); }, frame_cost);
    } catch (const std::system_error&) {
        // No thread to be had: every frame is saved on this one.
        parallelism_ = 1;
        return false;
    }
    pool_ = own_pool_.get();
    parallelism_ = std::min(parallelism_, own_pool_->Size());
    return true;
}

FrameSaver::~FrameSaver() {
    for (Running& r : running_)
        if (r.result.valid()) r.result.wait();
}

void FrameSaver::EncodeOnThisThread(const Bitmap& image, const std::string& target, const FrameContext& context) {
    peak_ = std::max(peak_, 1);
    Record(target, EncodeFrameInTurn(image, target, context));
}

void FrameSaver::Record(const std::string& target, SaveResult result) {
    if (running_.empty()) {
        done_.push_back({target, result});
        return;
    }
    // Behind saves still running: it takes its place in the order.
    std::promise<SaveResult> ready;
    ready.set_value(result);
    running_.push_back({target, ready.get_future()});
    if (result == SaveResult::GiveUpFile)
        while (!running_.empty()) RetireOldest();
}

void FrameSaver::Encode(Bitmap image, const std::string& target, const FrameContext& context) {
    if ((parallelism_ <= 1 && !own_pool_) || (wants_own_pool_ && !StartOwnSavers(FrameSaveMemory(image)))) {
        EncodeOnThisThread(image, target, context);
        return;
    }
    // A name still being written waits for that save, so the later frame
    // is the one that stays, as when saving one after another.
    const bool busy_target =
        std::any_of(running_.begin(), running_.end(), [&](const Running& r) { return r.target == target; });
    while (!running_.empty() && (busy_target || static_cast<int>(running_.size()) >= parallelism_))
        RetireOldest();
    // Room in the budget for this frame, waiting for the oldest saves to
    // end when there is none. With none of ours left running, the frame
    // is saved right here: the file's own reservation covers one frame.
    const uint64_t cost = FrameSaveMemory(image);
    MemoryReservation room = MemoryReservation::IfRoom(budget_, cost);
    while (!room && !running_.empty()) {
        RetireOldest();
        room = MemoryReservation::IfRoom(budget_, cost);
    }
    if (!room) {
        EncodeOnThisThread(image, target, context);
        return;
    }
    // Shared, so that the frame is still here if no thread takes it.
    auto frame = std::make_shared<Bitmap>(std::move(image));
    auto reservation = std::make_shared<MemoryReservation>(std::move(room));
    auto outcome = std::make_shared<std::promise<SaveResult>>();
    std::future<SaveResult> result = outcome->get_future();
    std::atomic<int>& in_flight = in_flight_;
    const int now = ++in_flight;
    std::function<void()> task = [frame, reservation, outcome, target, context, &in_flight] {
        const SaveResult saved = EncodeFrameInTurn(*frame, target, context);
        // The memory goes back as soon as the save is over, not when its
        // outcome is taken.
        frame->reset();
        reservation->Release();
        --in_flight;
        outcome->set_value(saved);
    };
    // Its own savers number the frames it may have in flight, so one of
    // them takes this one as soon as it is free.
    bool handed = true;
    if (own_pool_) own_pool_->Run(std::move(task));
    else handed = pool_->TryRun(std::move(task));
    if (!handed) {
        // Every thread is busy (with this file's frames or other files):
        // this thread saves it, so no more run than the run may use.
        --in_flight;
        reservation->Release();
        EncodeOnThisThread(*frame, target, context);
        return;
    }
    peak_ = std::max(peak_, now);
    running_.push_back({target, std::move(result)});
}

bool FrameSaver::GaveUp() const {
    return !done_.empty() && done_.back().result == SaveResult::GiveUpFile;
}

void FrameSaver::RetireOldest() {
    Running oldest = std::move(running_.front());
    running_.pop_front();
    done_.push_back({std::move(oldest.target), oldest.result.get()});
}

std::vector<FrameSaver::Outcome> FrameSaver::Finish() {
    while (!running_.empty()) RetireOldest();
    return std::move(done_);
}

}  // namespace kestrune
