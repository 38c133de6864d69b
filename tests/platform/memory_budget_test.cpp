// The process's memory budget: reservations that do not fit wait for room,
// one larger than the whole budget runs alone, and nothing is counted twice.
#include "platform/memory_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <chrono>
#include <thread>

namespace kestrune {
namespace {

using namespace std::chrono_literals;

TEST(MemoryBudget, TryAcquireTakesOnlyWhatFits) {
    MemoryBudget budget(100);
    MemoryReservation a = MemoryReservation::IfRoom(budget, 60);
    EXPECT_TRUE(a);
    EXPECT_FALSE(MemoryReservation::IfRoom(budget, 41));
    MemoryReservation b = MemoryReservation::IfRoom(budget, 40);
    EXPECT_TRUE(b);
    EXPECT_EQ(budget.Reserved(), 100u);
    a.Release();
    a.Release();  // given back once only
    EXPECT_EQ(budget.Reserved(), 40u);
    MemoryReservation moved = std::move(b);
    EXPECT_EQ(budget.Reserved(), 40u);
    moved = MemoryReservation();
    EXPECT_EQ(budget.Reserved(), 0u);
}

// A reservation that does not fit waits until another one ends; one larger
// than the whole budget waits until nothing else is reserved, then runs.
TEST(MemoryBudget, AcquireWaitsForRoomInsteadOfFailing) {
    for (const uint64_t wanted : {uint64_t{70}, uint64_t{1000}}) {
        MemoryBudget budget(100);
        auto held = std::make_unique<MemoryReservation>(budget, 50);
        std::atomic<bool> admitted{false};
        std::thread waiter([&] {
            MemoryReservation r(budget, wanted);
            admitted = true;
        });
        std::this_thread::sleep_for(100ms);
        EXPECT_FALSE(admitted) << wanted << " admitted beside 50 of 100";
        held.reset();
        waiter.join();
        EXPECT_TRUE(admitted) << wanted;
        EXPECT_EQ(budget.Reserved(), 0u);
    }
}

// Threads that each hold a reservation and each wait for more than is left
// never wait for each other: once all that is reserved is held by waiters,
// one of them goes on, then the other.
TEST(MemoryBudget, WaitersHoldingMemoryDoNotWaitForEachOther) {
    MemoryBudget budget(100);
    std::atomic<int> done{0};
    auto worker = [&] {
        MemoryReservation file(budget, 40);
        std::this_thread::sleep_for(50ms);  // both hold theirs before asking for more
        MemoryReservation more(budget, 80);
        ++done;
    };
    std::thread a(worker), b(worker);
    a.join();
    b.join();
    EXPECT_EQ(done, 2);
    EXPECT_EQ(budget.Reserved(), 0u);
}

TEST(MemoryBudget, TheProcessBudgetFollowsTheMemoryLimit) {
    const uint64_t limit = ProcessMemoryLimit();
    EXPECT_GT(limit, 0u);
    if (std::getenv("KESTRUNE_MEMORY_BUDGET_MB") == nullptr) {
        EXPECT_EQ(MemoryBudget::Process().Total(), (limit - LimitAllocationArenas()) / 2);
    }
}

}  // namespace
}  // namespace kestrune
