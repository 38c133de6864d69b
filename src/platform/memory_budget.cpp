#include "platform/memory_budget.h"

#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {
namespace {

// The first number in a control-group file; "max" and missing files give
// no limit.
uint64_t ControlGroupLimit(const char* path) {
    std::ifstream file(path);
    std::string word;
    if (!(file >> word) || word.empty() || word[0] < '0' || word[0] > '9') return UINT64_MAX;
    return std::strtoull(word.c_str(), nullptr, 10);
}

uint64_t ResourceLimit(int resource) {
    struct rlimit limit {};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    return limit.rlim_cur;
}

uint64_t BudgetFromEnvironment() {
    const char* asked = std::getenv("KESTRUNE_MEMORY_BUDGET_MB");
    if (!asked) return 0;
    char* end = nullptr;
    const unsigned long long mb = std::strtoull(asked, &end, 10);
    if (end == asked || *end != '\0' || mb == 0 || mb > (UINT64_MAX >> 20)) return 0;
    return mb << 20;
}

// What the waiting reservations of this thread hold, per budget.
thread_local std::vector<std::pair<const MemoryBudget*, uint64_t>> held_here;

uint64_t& HeldHere(const MemoryBudget* budget) {
    for (auto& [b, bytes] : held_here)
        if (b == budget) return bytes;
    return held_here.emplace_back(budget, 0).second;
}

}  // namespace

uint64_t ThreadStackBytes() {
    static const uint64_t bytes = [] {
        pthread_attr_t attributes;
        size_t size = 0;
        if (pthread_getattr_default_np(&attributes) != 0) return uint64_t{8} << 20;
        if (pthread_attr_getstacksize(&attributes, &size) != 0 || size == 0) size = size_t{8} << 20;
        pthread_attr_destroy(&attributes);
        return static_cast<uint64_t>(size);
    }();
    return bytes;
}

uint64_t LimitAllocationArenas() {
    static const uint64_t reserved = [] {
        const uint64_t limit = std::min(ResourceLimit(RLIMIT_AS), ResourceLimit(RLIMIT_DATA));
        if (limit == UINT64_MAX) return uint64_t{0};
        // Each arena beside the main one reserves 64 MB of address space
        // (touched or not); under a tight limit the threads' attempts to
        // make their own fail by the thousand and slow every allocation.
        // One arena per 1 GB of the limit, at most 8; 1 means the main
        // arena only, which grows by brk and mmap as far as the limit goes.
        constexpr uint64_t kArena = uint64_t{64} << 20;
        const uint64_t arenas = std::clamp<uint64_t>(limit >> 30, 1, 8);
        mallopt(M_ARENA_MAX, static_cast<int>(arenas));
        return (arenas - 1) * kArena;
    }();
    return reserved;
}

uint64_t ProcessMemoryLimit() {
    uint64_t limit = UINT64_MAX;
    const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_size > 0) limit = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
    limit = std::min({limit, ResourceLimit(RLIMIT_AS), ResourceLimit(RLIMIT_DATA),
                      ControlGroupLimit("/sys/fs/cgroup/memory.max"),
                      ControlGroupLimit("/sys/fs/cgroup/memory/memory.limit_in_bytes")});
    return limit;
}

MemoryBudget::MemoryBudget(uint64_t total_bytes) : total_(total_bytes) {}

MemoryBudget& MemoryBudget::Process() {
    // Half of the limit: the libraries, the program and the one frame each
    // file is working on live beside what the budget counts.
    static MemoryBudget budget([] {
        const uint64_t arenas = LimitAllocationArenas();
        const uint64_t asked = BudgetFromEnvironment();
        if (asked != 0) return asked;
        const uint64_t limit = ProcessMemoryLimit();
        return (limit - std::min(limit, arenas)) / 2;
    }());
    return budget;
}

uint64_t MemoryBudget::Reserved() const {
    std::lock_guard lock(mutex_);
    return reserved_;
}

void MemoryBudget::Acquire(uint64_t bytes, uint64_t held_by_caller) {
    std::unique_lock lock(mutex_);
    held_by_waiters_ += held_by_caller;
    released_.wait(lock, [&] {
        return reserved_ <= held_by_waiters_ + withheld_ || bytes <= total_ - std::min(total_, reserved_);
    });
    held_by_waiters_ -= held_by_caller;
    reserved_ += bytes;
}

bool MemoryBudget::TryAcquire(uint64_t bytes) {
    std::lock_guard lock(mutex_);
    if (reserved_ > total_ || bytes > total_ - reserved_) return false;
    reserved_ += bytes;
    return true;
}

void MemoryBudget::Withhold(uint64_t bytes) {
    std::lock_guard lock(mutex_);
    reserved_ += bytes;
    withheld_ += bytes;
}

void MemoryBudget::Restore(uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        bytes = std::min(bytes, withheld_);
        withheld_ -= bytes;
        reserved_ -= std::min(reserved_, bytes);
    }
    released_.notify_all();
}

int MemoryBudget::ThreadsThatFit(int wanted, uint64_t each) const {
    std::lock_guard lock(mutex_);
    const uint64_t room = total_ - std::min(total_, reserved_);
    const uint64_t fit = each == 0 ? static_cast<uint64_t>(wanted) : room / each;
    return static_cast<int>(std::min<uint64_t>(fit, static_cast<uint64_t>(std::max(0, wanted))));
}

void MemoryBudget::Release(uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        reserved_ -= std::min(reserved_, bytes);
    }
    released_.notify_all();
}

MemoryReservation::MemoryReservation(MemoryBudget& budget, uint64_t bytes)
    : budget_(&budget), bytes_(bytes), held_by_thread_(true) {
    uint64_t& held = HeldHere(&budget);
    budget.Acquire(bytes, held);
    held += bytes;
}

MemoryReservation MemoryReservation::IfRoom(MemoryBudget& budget, uint64_t bytes) {
    MemoryReservation reservation;
    if (budget.TryAcquire(bytes)) {
        reservation.budget_ = &budget;
        reservation.bytes_ = bytes;
    }
    return reservation;
}

MemoryReservation::MemoryReservation(MemoryReservation&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)),
      bytes_(std::exchange(other.bytes_, 0)),
      held_by_thread_(std::exchange(other.held_by_thread_, false)) {}

MemoryReservation& MemoryReservation::operator=(MemoryReservation&& other) noexcept {
    if (this != &other) {
        Release();
        budget_ = std::exchange(other.budget_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
        held_by_thread_ = std::exchange(other.held_by_thread_, false);
    }
    return *this;
}

void MemoryReservation::Release() {
    if (budget_ && held_by_thread_) {
        uint64_t& held = HeldHere(budget_);
        held -= std::min(held, bytes_);
    }
    if (budget_) budget_->Release(bytes_);
    held_by_thread_ = false;
    budget_ = nullptr;
    bytes_ = 0;
}

}  // namespace kestrune
