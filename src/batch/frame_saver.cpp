#include "batch/frame_saver.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <thread>

#include "formats/registry.h"

namespace kestrune {

int FrameSaveParallelism(const std::string& conversion, bool numbered) {
    // DevIL keeps one current image for the whole process; the format's row
    // says which writers touch nothing shared between two calls.
    const OutputFormat* format = FindOutputFormat(conversion);
    if (!numbered || !format || !format->saves_side_by_side) return 1;
    if (const char* asked = std::getenv("KESTRUNE_SAVE_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(asked, &end, 10);
        if (end != asked && *end == '\0' && n > 0) return static_cast<int>(std::min(n, 64L));
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

uint64_t FrameSaveMemory(const Bitmap& image) {
    if (!image) return 0;
    const uint64_t bytes = static_cast<uint64_t>(FreeImage_GetPitch(image.get())) * FreeImage_GetHeight(image.get());
    // The frame, a converted copy and the encoder's own rows or tiles.
    return 3 * bytes;
}

FrameSaver::FrameSaver(int parallelism, MemoryBudget& budget)
    : parallelism_(std::max(1, parallelism)), budget_(budget) {}

FrameSaver::~FrameSaver() {
    for (Running& r : running_)
        if (r.result.valid()) r.result.wait();
}

void FrameSaver::Save(Bitmap image, const std::string& target, const FrameContext& context) {
    if (parallelism_ > 1) {
        // A name still being written waits for that save, so the later frame
        // is the one that stays, as when saving one after another.
        const bool busy_target = std::any_of(running_.begin(), running_.end(),
                                             [&](const Running& r) { return r.target == target; });
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
            peak_ = std::max(peak_, 1);
            done_.push_back({target, SaveFrame(image, target, context)});
            return;
        }
        // Shared, so that the frame is still here if no thread can be had.
        auto frame = std::make_shared<Bitmap>(std::move(image));
        auto reservation = std::make_shared<MemoryReservation>(std::move(room));
        try {
            std::atomic<int>& in_flight = in_flight_;
            peak_ = std::max(peak_, ++in_flight);
            running_.push_back({target, std::async(std::launch::async, [frame, reservation, target, context,
                                                                        &in_flight] {
                                    const SaveResult result = SaveFrame(*frame, target, context);
                                    // The memory goes back as soon as the save
                                    // is over, not when its outcome is taken.
                                    frame->reset();
                                    reservation->Release();
                                    --in_flight;
                                    return result;
                                })});
            return;
        } catch (const std::system_error&) {
            --in_flight_;
            // This and the later frames are saved right here.
            parallelism_ = 1;
            while (!running_.empty()) RetireOldest();
            done_.push_back({target, SaveFrame(*frame, target, context)});
            return;
        }
    }
    peak_ = std::max(peak_, 1);
    done_.push_back({target, SaveFrame(image, target, context)});
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
