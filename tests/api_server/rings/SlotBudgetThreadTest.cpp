#include "api_server/rings/SlotBudget.h"

#include "api_server/rings/MessageRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace ostrel::api_server {
namespace {

TEST(SlotBudgetThreadTest, GivesOutNoMoreClaimsThanItsCapacity) {
    SlotBudget budget(3);
    EXPECT_TRUE(budget.tryTake());
    EXPECT_TRUE(budget.tryTake());
    EXPECT_TRUE(budget.tryTake());
    EXPECT_FALSE(budget.tryTake());
    budget.give(2);
    EXPECT_EQ(budget.taken(), 1u);
    EXPECT_TRUE(budget.tryTake());
    budget.give(0);
    EXPECT_EQ(budget.taken(), 2u);
}

// Two claimants (as the network thread claims for replies and the GUI thread for
// notifications) and one ring: a push made with a claim never finds the ring full.
TEST(SlotBudgetThreadTest, APushWithAClaimAlwaysFindsRoom) {
    constexpr int kRounds = 20000;
    auto ring = std::make_unique<MessageRing<8>>();
    SlotBudget budget(8);
    std::atomic<int> reserved{0};  // claims handed from the reserving thread to the producer
    std::atomic<bool> reserverDone{false};
    std::atomic<bool> done{false};
    std::atomic<int> failedPushes{0};

    std::thread reserver([&] {
        for (int i = 0; i < kRounds; ++i) {
            while (!budget.tryTake()) {
                std::this_thread::yield();
            }
            reserved.fetch_add(1, std::memory_order_release);
        }
        reserverDone.store(true, std::memory_order_release);
    });
    std::thread producer([&] {
        int ownPushes = 0;
        for (;;) {
            // A claim made by the other thread, else one taken here.
            int waiting = reserved.load(std::memory_order_acquire);
            const bool handedOver =
                waiting > 0 && reserved.compare_exchange_strong(waiting, waiting - 1, std::memory_order_acquire);
            const bool ownClaim = !handedOver && ownPushes < kRounds && budget.tryTake();
            if (handedOver || ownClaim) {
                failedPushes += ring->tryPush("m", 1) ? 0 : 1;
                ownPushes += ownClaim ? 1 : 0;
            } else if (ownPushes == kRounds && reserverDone.load(std::memory_order_acquire) &&
                       reserved.load(std::memory_order_acquire) == 0) {
                break;
            } else {
                std::this_thread::yield();
            }
        }
        done.store(true, std::memory_order_release);
    });
    MessageSlot slot;
    while (!done.load(std::memory_order_acquire) || !ring->empty()) {
        if (ring->tryPop(slot)) {
            budget.give(1);
        } else {
            std::this_thread::yield();
        }
    }
    reserver.join();
    producer.join();
    EXPECT_EQ(failedPushes.load(), 0);
    EXPECT_EQ(budget.taken(), 0u);
}

}  // namespace
}  // namespace ostrel::api_server
