// The run state of one batch, and the progress record shared with the one
// background thread that runs at a time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "batch/file_result.h"
#include "imaging/layer_cache.h"

namespace kestrune {

// Run-wide values, written before any thread starts and read-only while
// one runs.
struct RunState {
    std::string program_folder;  // ends with "/"
    std::string input_file;
    std::string input_folder;    // ends with "/" or empty
    std::string output_folder;   // ends with "/"
    std::string input_format;
    std::string conversion;
    int32_t target_bpp = 0;
    // True while the command line's batch runs; the window mode also calls
    // the worker, and its debug lines belong to the command line only.
    bool command_line = false;
};

// The values of one file in hand. Every file converted side by side has its
// own, so no two files share them.
struct FileState {
    std::string current_input;
    std::string current_subfolder;
    std::string output_path;
    int32_t output_width = 0;
    int32_t output_height = 0;
    int32_t source_bpp = 0;
    // The mask's numbers: in a file's state the ones it was named with, in
    // batch_state the ones the next converted file takes.
    int32_t random_number = 1;
    int32_t sequence_number = 1;
    // Files the current input was actually saved to (one per numbered frame),
    // so that the timestamp lands on real files.
    std::vector<std::string> written_outputs;
    // Why the current input was not converted (the first reason met), and
    // how many of its frames went through the operations.
    FailureReason failure = FailureReason::None;
    int32_t frames_done = 0;
};

// What the operations read: the run's values and those of the file they
// work on. The batch keeps one, batch_state; the worker converts each file
// on a copy of the run's part with a file part of its own.
struct BatchState : RunState, FileState {};

inline BatchState batch_state;
// The frame and watermark layers of the running batch, drawn once and laid
// over every frame; the watermark font is loaded into it before the batch.
inline LayerCache batch_layers;

// Shared with the running import, export or conversion thread. taken,
// current_path and file_count are written under BatchLock; keep_running is
// cleared under it by the window mode to stop a run. A conversion also
// counts finished files and frames under it.
struct BatchProgress {
    int32_t taken = 0;
    std::string current_path;
    int32_t file_count = 0;
    // Files and their frames whose end a conversion has reported.
    int32_t finished = 0;
    int32_t frames_finished = 0;
    std::atomic<int8_t> keep_running{1};
};

inline BatchProgress batch_progress;
inline std::mutex batch_lock;

// Pause gate checked by the worker before each file and each frame; the
// window mode closes it while it asks whether to break a run.
class PauseGate {
  public:
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    void Open() {
        {
            std::lock_guard lock(mutex_);
            closed_ = false;
        }
        opened_.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [this] { return !closed_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool closed_ = false;
};
inline PauseGate pause_gate;

}  // namespace kestrune
