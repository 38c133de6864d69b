#include "batch/worker_pool.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace kestrune {

int RunParallelism() {
    if (const char* asked = std::getenv("KESTRUNE_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(asked, &end, 10);
        if (end != asked && *end == '\0' && n > 0) return static_cast<int>(std::min(n, 64L));
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

WorkerPool::WorkerPool(int threads, Source source, uint64_t work_per_thread) : source_(std::move(source)) {
    MemoryBudget& budget = MemoryBudget::Process();
    const uint64_t stack = ThreadStackBytes();
    const int wanted = budget.ThreadsThatFit(std::max(1, threads), stack + work_per_thread);
    // Not even one thread beside the work in hand: it is done on the
    // calling thread, as when no thread can be started.
    if (wanted == 0) throw std::system_error(std::make_error_code(std::errc::not_enough_memory));
    threads_.reserve(static_cast<size_t>(wanted));
    for (int i = 0; i < wanted; ++i) {
        try {
            threads_.emplace_back([this] { Loop(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked: the run goes on with those it has.
            if (threads_.empty()) throw;
            break;
        }
    }
    stacks_ = stack * threads_.size();
    budget.Withhold(stacks_);
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
    MemoryBudget::Process().Restore(stacks_);
}

bool WorkerPool::TryRun(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        // Every queued task has an idle thread counted for it.
        if (idle_ <= static_cast<int>(tasks_.size())) return false;
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
    return true;
}

void WorkerPool::Run(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void WorkerPool::Wake() { wake_.notify_all(); }

void WorkerPool::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        std::function<void()> work;
        if (!tasks_.empty()) {
            work = std::move(tasks_.front());
            tasks_.pop_front();
        } else if (!stopping_) {
            work = source_();
        }
        if (work) {
            lock.unlock();
            work();
            work = nullptr;
            lock.lock();
            continue;
        }
        if (stopping_ && tasks_.empty()) return;
        ++idle_;
        wake_.wait(lock);
        --idle_;
    }
}

}  // namespace kestrune
