#include "engine/EventQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace ostrel::engine {
namespace {

// Regression: a drain kept reading a ring that refilled under it. The GUI thread pushes
// numbered events as fast as it can while the audio thread drains blocks: every
// event arrives once, intact and in push order (all carry the same time), and every
// refusal of a full ring is counted.
TEST(EventQueueThreads, EveryEventArrivesOnceInOrderWhileTheProducerKeepsPushing) {
    constexpr std::uint32_t kEvents = 200000;
    auto queue = std::make_unique<EventQueue>();
    std::atomic<bool> done{false};
    std::uint32_t refused = 0;

    std::thread producer([&] {
        for (std::uint32_t i = 0; i < kEvents;) {
            const TimedEvent timed{-1, {0, EventType::ParamChange, 0, 0, 0, i, static_cast<float>(i % 1000), 0}};
            if (queue->push(timed)) {
                ++i;
            } else {
                ++refused;
                std::this_thread::yield();
            }
        }
        done.store(true, std::memory_order_release);
    });

    std::uint32_t expected = 0;
    bool intact = true;
    std::int64_t clock = 0;
    while (true) {
        const bool finished = done.load(std::memory_order_acquire);
        const auto events = queue->drain(clock, 256);
        for (const Event& e : events) {
            intact = intact && e.param == expected && e.value == static_cast<float>(expected % 1000) &&
                     e.type == EventType::ParamChange;
            ++expected;
        }
        clock += 256;
        // Once the producer is done, one empty drain proves nothing is left.
        if (finished && events.empty()) {
            break;
        }
    }
    producer.join();
    EXPECT_TRUE(intact);
    EXPECT_EQ(expected, kEvents);
    EXPECT_EQ(queue->dropped(), refused);
}

}  // namespace
}  // namespace ostrel::engine
