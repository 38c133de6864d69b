// Saving the frames of one file, several at once where the writer allows it.
// Composing a frame costs little next to encoding it, so an animation keeps
// every core busy when its frames are encoded side by side; the outcomes
// are still taken in frame order, so the file's result, its list of written
// outputs and its timestamps are those of saving one frame after another.
#pragma once

#include <atomic>
#include <deque>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "batch/worker_pool.h"
#include "formats/saving.h"
#include "platform/bitmap.h"
#include "platform/memory_budget.h"
#include "settings/settings.h"

namespace kestrune {

// Writers built on reentrant libraries that touch nothing shared between
// two calls. The others save one frame at a time in the whole process,
// whichever file it belongs to.
bool WriterRunsSideBySide(const std::string& conversion);

// How many frames of one file may be saved at once: 1 unless every frame
// goes to a name of its own and the format's writer keeps no state between
// calls; then the run's parallelism (RunParallelism).
int FrameSaveParallelism(const std::string& conversion, bool numbered);

// Encodes one frame into a temporary file the caller made (EncodeFrameInto)
// and later publishes; writers that cannot run side by side take turns.
SaveResult EncodeFrameInTurn(const Bitmap& image, const std::string& temporary, const FrameContext& context);

class FrameSaver {
  public:
    struct Outcome {
        std::string target;
        SaveResult result;
    };

    // Frames saved side by side go to the idle threads of `pool` (or, without
    // one, of a pool of its own) and reserve their memory from the budget; a
    // frame that finds no idle thread or no room is saved right here, within
    // the memory of its file.
    explicit FrameSaver(int parallelism, MemoryBudget& budget = MemoryBudget::Process(),
                        WorkerPool* pool = nullptr);
    // Waits for every save still running.
    ~FrameSaver();
    FrameSaver(const FrameSaver&) = delete;
    FrameSaver& operator=(const FrameSaver&) = delete;

    // Encodes the frame into the temporary file `target`: on another thread
    // when saves may run side by side (waiting first for the oldest one when
    // this file has as many running as it may), else right here. The context
    // is copied for the other thread.
    void Encode(Bitmap image, const std::string& target, const FrameContext& context);
    // Takes the outcome of a frame that was not saved at all, in its place
    // in the order.
    void Record(const std::string& target, SaveResult result);
    // True once a save has given up the whole file (only saves that run
    // right here can); no further frame should be saved.
    bool GaveUp() const;
    // The most saves that held memory at once.
    int PeakSideBySide() const { return peak_; }
    // Waits for every save and returns all outcomes in the order of Encode.
    std::vector<Outcome> Finish();

  private:
    struct Running {
        std::string target;
        std::future<SaveResult> result;
    };
    void RetireOldest();
    // Starts the saver's own threads for frames of `frame_cost` bytes, as
    // many as the budget feeds; false when none can be had (every frame is
    // then saved right here).
    bool StartOwnSavers(uint64_t frame_cost);
    void EncodeOnThisThread(const Bitmap& image, const std::string& target, const FrameContext& context);

    int parallelism_;
    MemoryBudget& budget_;
    std::unique_ptr<WorkerPool> own_pool_;
    bool wants_own_pool_ = false;
    WorkerPool* pool_;
    std::deque<Running> running_;
    std::vector<Outcome> done_;
    std::atomic<int> in_flight_{0};
    int peak_ = 0;
};

// What saving an image costs in memory beyond the image itself: the writers
// convert depth or order on copies, and the encoders keep buffers of their
// own.
uint64_t FrameSaveMemory(const Bitmap& image);

}  // namespace kestrune
