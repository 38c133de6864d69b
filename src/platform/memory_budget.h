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
    // limits and the control group's memory limit, less the C library's
    // allocation arenas. Under an address-space or data limit the arenas
    // are first limited (LimitAllocationArenas).
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
    // Standing reservations (the stacks of threads while they live):
    // counted against the room like any other, but a request larger than
    // the whole budget still runs once nothing else is reserved.
    void Withhold(uint64_t bytes);
    void Restore(uint64_t bytes);
    // How many of `wanted` threads the room left now can give `each` bytes
    // (0: not even one): a thread the budget cannot feed only waits for
    // room or makes the allocations of the others fail.
    int ThreadsThatFit(int wanted, uint64_t each) const;

  private:
    const uint64_t total_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    uint64_t reserved_ = 0;
    uint64_t held_by_waiters_ = 0;
    uint64_t withheld_ = 0;  // the standing part of reserved_
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

// Address space a new thread takes for its stack (the C library's default).
uint64_t ThreadStackBytes();

// Under an address-space or data limit, the C library's per-thread
// allocation arenas (each reserving 64 MB of address space) are limited to
// what the limit leaves room for; their reservations are returned. 0 when
// no such limit is set. Runs once; later calls return the first answer.
uint64_t LimitAllocationArenas();

// The memory limit of this process in bytes (physical memory, address-space
// and data limits, control group), whichever is smallest.
uint64_t ProcessMemoryLimit();

}  // namespace kestrune
