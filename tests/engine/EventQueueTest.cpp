#include "engine/EventQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "EngineTestSupport.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

using test::noteOn;
using Seen = std::vector<std::pair<int, std::uint32_t>>;

// (note, frame offset) of every event of a drain.
Seen drained(EventQueue& queue, std::int64_t clock, int frames) {
    Seen out;
    for (const Event& e : queue.drain(clock, frames)) {
        out.emplace_back(e.note, e.frameOffset);
    }
    return out;
}

TEST(EventQueueCapacity, FullRingOrPendingListRefusesAndCountsTheDropAndNothingAllocates) {
    auto queue = std::make_unique<EventQueue>();
    test::AllocationCounter counter;
    for (int i = 0; i < 1024; ++i) {
        ASSERT_TRUE(queue->push(noteOn(100000)));
    }
    EXPECT_FALSE(queue->push(noteOn(100000)));
    EXPECT_EQ(queue->dropped(), 1u);
    EXPECT_TRUE(queue->drain(0, 512).empty());  // all 1024 move to the pending list
    ASSERT_TRUE(queue->push(noteOn(100000)));
    queue->drain(512, 512);  // the pending list is full: dropped on the audio side
    EXPECT_EQ(queue->dropped(), 2u);
    EXPECT_EQ(queue->drain(100000, 1).size(), 1024u);
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

TEST(EventQueueTiming, EventsComeOutInTheirBlockInTimeOrderAtTheirOffsetLateOnesAtTheStart) {
    auto queue = std::make_unique<EventQueue>();
    for (auto [time, note] : {std::pair{1000, 1}, {1024, 2}, {-1, 3}, {100, 4}, {700, 5}, {700, 6}, {600, 7}}) {
        ASSERT_TRUE(queue->push(noteOn(time, note)));
    }
    // -1 is as soon as possible and never late; 100 is already past.
    EXPECT_EQ(drained(*queue, 512, 512), (Seen{{3, 0}, {4, 0}, {7, 88}, {5, 188}, {6, 188}, {1, 488}}));
    EXPECT_EQ(queue->late(), 1u);
    EXPECT_EQ(drained(*queue, 1024, 512), (Seen{{2, 0}}));
    EXPECT_TRUE(queue->drain(1536, 512).empty());
}

}  // namespace
}  // namespace ostrel::engine
