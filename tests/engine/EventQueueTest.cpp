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
    timed.event.velocity = 100;
    return timed;
}

std::vector<std::uint8_t> notes(std::span<const Event> events) {
    std::vector<std::uint8_t> out;
    for (const Event& e : events) {
        out.push_back(e.note);
    }
    return out;
}

TEST(EventQueueCapacity, FullRingRefusesAndCountsTheDrop) {
    auto queue = std::make_unique<EventQueue>();
    for (int i = 0; i < 1024; ++i) {
        ASSERT_TRUE(queue->push(at(5000)));
    }
    EXPECT_FALSE(queue->push(at(5000)));
    EXPECT_EQ(queue->dropped(), 1u);
    EXPECT_TRUE(queue->drain(0, 512).empty());
    EXPECT_TRUE(queue->push(at(5000)));
}

TEST(EventQueueCapacity, FullPendingListDropsOnTheAudioSide) {
    auto queue = std::make_unique<EventQueue>();
    for (int i = 0; i < 1024; ++i) {
        ASSERT_TRUE(queue->push(at(100000)));
    }
    queue->drain(0, 512);
    ASSERT_TRUE(queue->push(at(100000)));
    queue->drain(512, 512);
    EXPECT_EQ(queue->dropped(), 1u);
    EXPECT_EQ(queue->drain(100000, 1).size(), 1024u);
}

TEST(EventQueueTiming, AsSoonAsPossibleComesOutAtOnceAndIsNotLate) {
    auto queue = std::make_unique<EventQueue>();
    queue->push(at(-1));
    const auto events = queue->drain(4096, 512);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].frameOffset, 0u);
    EXPECT_EQ(queue->late(), 0u);
}

TEST(EventQueueTiming, EventInsideTheBlockGetsItsOffset) {
    auto queue = std::make_unique<EventQueue>();
    queue->push(at(1000, 1));
    queue->push(at(1024, 2));
    auto events = queue->drain(512, 512);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].note, 1);
    EXPECT_EQ(events[0].frameOffset, 488u);
    events = queue->drain(1024, 512);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].note, 2);
    EXPECT_EQ(events[0].frameOffset, 0u);
}

TEST(EventQueueTiming, PastEventComesOutAtTheBlockStartAndCountsAsLate) {
    auto queue = std::make_unique<EventQueue>();
    queue->push(at(100));
    const auto events = queue->drain(512, 512);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].frameOffset, 0u);
    EXPECT_EQ(queue->late(), 1u);
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
    EXPECT_EQ(events[0].type, EventType::ParamChange);
    EXPECT_EQ(events[0].channel, 3);
    EXPECT_EQ(events[0].param, 7u);
    EXPECT_EQ(events[0].value, 0.25f);
    EXPECT_EQ(events[0].rampFrames, 480);
    EXPECT_EQ(events[0].frameOffset, 10u);
}

TEST(EventQueueOrder, EqualTimesKeepPushOrderAndEarlierTimesGoFirst) {
    auto queue = std::make_unique<EventQueue>();
    queue->push(at(300, 1));
    queue->push(at(300, 2));
    queue->push(at(200, 3));
    queue->push(at(-1, 4));
    queue->push(at(300, 5));
    EXPECT_EQ(notes(queue->drain(0, 512)), (std::vector<std::uint8_t>{4, 3, 1, 2, 5}));
}

TEST(EventQueueOrder, EventsPushedAcrossDrainsStillComeOutSorted) {
    auto queue = std::make_unique<EventQueue>();
    std::mt19937 random(5);
    std::uniform_int_distribution<std::int64_t> time(0, 20000);
    std::int64_t clock = 0;
    std::int64_t lastAbsolute = -1;
    int received = 0;
    for (int block = 0; block < 60; ++block) {
        for (int i = 0; i < 10; ++i) {
            queue->push(at(clock + time(random)));
        }
        for (const Event& e : queue->drain(clock, 512)) {
            const std::int64_t absolute = clock + e.frameOffset;
            EXPECT_GE(absolute, lastAbsolute);
            lastAbsolute = absolute;
            ++received;
        }
        clock += 512;
    }
    EXPECT_GT(received, 0);
    EXPECT_EQ(queue->dropped(), 0u);
}

TEST(EventQueueOrder, DrainWithNothingPendingIsEmpty) {
    auto queue = std::make_unique<EventQueue>();
    EXPECT_TRUE(queue->drain(0, 512).empty());
    queue->push(at(10));
    queue->drain(0, 512);
    EXPECT_TRUE(queue->drain(512, 512).empty());
}

TEST(EventQueueMemory, QueueIsAlignedForItsCacheLines) {
    auto queue = std::make_unique<EventQueue>();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(queue.get()) % 64, 0u);
}

TEST(EventQueueMemory, PushAndDrainNeverAllocate) {
    auto queue = std::make_unique<EventQueue>();
    test::AllocationCounter counter;
    for (int i = 0; i < 1024; ++i) {
        queue->push(at((i * 7919) % 4096));
    }
    std::int64_t clock = 0;
    std::size_t received = 0;
    while (clock < 8192) {
        received += queue->drain(clock, 256).size();
        clock += 256;
    }
    EXPECT_EQ(received, 1024u);
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
