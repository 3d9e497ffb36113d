#include "engine/EventQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

TimedEvent at(std::int64_t time, std::uint8_t note = 60) {
    TimedEvent timed;
    timed.time = time;
    timed.event.type = EventType::NoteOn;
    timed.event.note = note;
    return timed;
}

// (note, frame offset) of every event of a drain.
std::vector<std::pair<int, std::uint32_t>> drained(EventQueue& queue, std::int64_t clock, int frames) {
    std::vector<std::pair<int, std::uint32_t>> out;
    for (const Event& e : queue.drain(clock, frames)) {
        out.emplace_back(e.note, e.frameOffset);
    }
    return out;
}

TEST(EventQueueCapacity, FullRingOrFullPendingListRefusesAndCountsTheDrop) {
    auto queue = std::make_unique<EventQueue>();
    for (int i = 0; i < 1024; ++i) {
        ASSERT_TRUE(queue->push(at(100000)));
    }
    EXPECT_FALSE(queue->push(at(100000)));
    EXPECT_EQ(queue->dropped(), 1u);
    EXPECT_TRUE(queue->drain(0, 512).empty());  // all 1024 move to the pending list
    ASSERT_TRUE(queue->push(at(100000)));
    queue->drain(512, 512);  // the pending list is full: dropped on the audio side
    EXPECT_EQ(queue->dropped(), 2u);
    EXPECT_EQ(queue->drain(100000, 1).size(), 1024u);
}

TEST(EventQueueTiming, EventsComeOutInTheirBlockAtTheirOffsetLateOnesAtTheStart) {
    auto queue = std::make_unique<EventQueue>();
    queue->push(at(1000, 1));
    queue->push(at(1024, 2));
    queue->push(at(-1, 3));   // as soon as possible: never late
    queue->push(at(100, 4));  // already past
    using Seen = std::vector<std::pair<int, std::uint32_t>>;
    EXPECT_EQ(drained(*queue, 512, 512), (Seen{{3, 0}, {4, 0}, {1, 488}}));
    EXPECT_EQ(queue->late(), 1u);
    EXPECT_EQ(drained(*queue, 1024, 512), (Seen{{2, 0}}));
    EXPECT_TRUE(queue->drain(1536, 512).empty());
}

TEST(EventQueueTiming, EventsKeepEveryFieldButTheOffset) {
    auto queue = std::make_unique<EventQueue>();
    TimedEvent timed = at(10);
    timed.event.type = EventType::ParamChange;
    timed.event.channel = 3;
    timed.event.param = 7;
    timed.event.value = 0.25f;
    timed.event.rampFrames = 480;
    timed.event.frameOffset = 999;
    queue->push(timed);
    const auto events = queue->drain(0, 64);
    ASSERT_EQ(events.size(), 1u);
    const Event& e = events[0];
    EXPECT_TRUE(e.type == EventType::ParamChange && e.channel == 3 && e.note == 60 && e.param == 7 &&
                e.value == 0.25f && e.rampFrames == 480);
    EXPECT_EQ(e.frameOffset, 10u);
}

TEST(EventQueueOrder, EarlierTimesFirstAndEqualTimesInPushOrderAcrossDrains) {
    auto queue = std::make_unique<EventQueue>();
    for (auto [time, note] : {std::pair{300, 1}, {300, 2}, {200, 3}, {-1, 4}, {300, 5}}) {
        queue->push(at(time, static_cast<std::uint8_t>(note)));
    }
    using Seen = std::vector<std::pair<int, std::uint32_t>>;
    EXPECT_EQ(drained(*queue, 0, 512), (Seen{{4, 0}, {3, 200}, {1, 300}, {2, 300}, {5, 300}}));

    std::mt19937 random(5);
    std::int64_t lastAbsolute = -1;
    int received = 0;
    for (std::int64_t clock = 0; clock < 60 * 512; clock += 512) {
        for (int i = 0; i < 10; ++i) {
            queue->push(at(clock + std::uniform_int_distribution<std::int64_t>(0, 20000)(random)));
        }
        for (const Event& e : queue->drain(clock, 512)) {
            EXPECT_GE(clock + e.frameOffset, lastAbsolute);
            lastAbsolute = clock + e.frameOffset;
            ++received;
        }
    }
    EXPECT_GT(received, 0);
    EXPECT_EQ(queue->dropped(), 0u);
}

TEST(EventQueueMemory, PushAndDrainNeverAllocate) {
    auto queue = std::make_unique<EventQueue>();
    test::AllocationCounter counter;
    for (int i = 0; i < 1024; ++i) {
        queue->push(at((i * 7919) % 4096));
    }
    std::size_t received = 0;
    for (std::int64_t clock = 0; clock < 8192; clock += 256) {
        received += queue->drain(clock, 256).size();
    }
    EXPECT_EQ(received, 1024u);
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
