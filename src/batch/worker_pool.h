// The threads of one conversion run, shared by the files converted side by
// side and the frames those files save side by side: never more of them busy
// than the run may use, however the work is split.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/memory_budget.h"

namespace kestrune {

// How many threads a run may keep busy: the positive number in
// $KESTRUNE_THREADS (at most 64), else the processors, at most 8.
// 1 converts one file and saves one frame at a time.
int RunParallelism();

class WorkerPool {
  public:
    // Asked, under the pool's lock, for the next piece of work when no task
    // waits; an empty function when there is none to start now. Wake() after
    // changing, under Lock(), anything that may let it give one.
    using Source = std::function<std::function<void()>()>;

    // At most `threads` threads, fewer when the process's memory budget
    // cannot give each its stack and `work_per_thread` bytes, or when no
    // more can be started; throws std::system_error when none can (or the
    // budget cannot feed even one). The stacks are withheld from the budget
    // while the pool lives.
    WorkerPool(int threads, Source source, uint64_t work_per_thread = 0);
    // Stops taking work from the source and waits for every thread.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Hands the task to a thread that is idle now; false when none is (the
    // caller then does it itself). A queued task is taken before any work of
    // the source, so it never waits behind a whole file.
    bool TryRun(std::function<void()> task);
    // Queues the task for the next thread that is free, idle or not now.
    void Run(std::function<void()> task);
    void Wake();
    // The lock the source is asked under; state the source reads is changed
    // under it.
    std::mutex& Lock() { return mutex_; }
    int Size() const { return static_cast<int>(threads_.size()); }

  private:
    void Loop();

    Source source_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    int idle_ = 0;
    bool stopping_ = false;
    uint64_t stacks_ = 0;  // withheld from the process's budget
    std::vector<std::thread> threads_;
};

}  // namespace kestrune
