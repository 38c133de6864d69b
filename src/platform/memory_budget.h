// One memory budget for the whole process: the files being converted and
// the frames being saved side by side reserve what they will need, and a
// reservation that does not fit waits for room instead of letting the
// allocations fail halfway through a file.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kestrune {

class MemoryBudget {
  public:
    explicit MemoryBudget(uint64_t total_bytes);
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // The process's budget: $KESTRUNE_MEMORY_BUDGET_MB when set, else half
    // of the smallest of the physical memory, the address-space and data
    // limits and the control group's memory limit.
    static MemoryBudget& Process();

    uint64_t Total() const { return total_; }
    uint64_t Reserved() const;
    // Waits until bytes fit beside everything reserved. A request that
    // does not fit is let through once all that is reserved belongs to
    // callers waiting here (`held_by_caller` is what this caller holds
    // already): it runs alone rather than never, and two callers each
    // holding memory never wait for each other.
    void Acquire(uint64_t bytes, uint64_t held_by_caller = 0);
    // Takes bytes only when they fit now.
    bool TryAcquire(uint64_t bytes);
    void Release(uint64_t bytes);

  private:
    const uint64_t total_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    uint64_t reserved_ = 0;
    uint64_t held_by_waiters_ = 0;
};

// Bytes of a budget, given back when the reservation ends.
class MemoryReservation {
  public:
    MemoryReservation() = default;
    // Waits for room (MemoryBudget::Acquire), counting what the reservations
    // of this thread made this way hold already; such a reservation is
    // expected to end on the thread that made it.
    MemoryReservation(MemoryBudget& budget, uint64_t bytes);
    // Empty when the bytes do not fit now (MemoryBudget::TryAcquire).
    static MemoryReservation IfRoom(MemoryBudget& budget, uint64_t bytes);
    MemoryReservation(MemoryReservation&& other) noexcept;
    MemoryReservation& operator=(MemoryReservation&& other) noexcept;
    ~MemoryReservation() { Release(); }

    explicit operator bool() const { return budget_ != nullptr; }
    void Release();

  private:
    MemoryBudget* budget_ = nullptr;
    uint64_t bytes_ = 0;
    bool held_by_thread_ = false;
};

// The memory limit of this process in bytes (physical memory, address-space
// and data limits, control group), whichever is smallest.
uint64_t ProcessMemoryLimit();

}  // namespace kestrune
