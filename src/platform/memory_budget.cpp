#include "platform/memory_budget.h"

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
        const uint64_t asked = BudgetFromEnvironment();
        return asked != 0 ? asked : ProcessMemoryLimit() / 2;
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
        return reserved_ <= held_by_waiters_ || bytes <= total_ - std::min(total_, reserved_);
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
