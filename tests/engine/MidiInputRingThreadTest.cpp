#include "engine/MidiInputRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace ostrel::engine {
namespace {

// A producer thread stands in for the MIDI driver's, pushing numbered notes while this one drains.
TEST(MidiInputRingThreads, EveryAcceptedMessageArrivesOnceIntactAndInOrder) {
    constexpr std::uint32_t kMessages = 250000;  // below 2^18, the most the words below can number
    auto ring = std::make_unique<MidiInputRing>();
    std::atomic<bool> done{false};
    std::uint32_t refused = 0;

    // Message i carries i in its two data bytes (14 bits) and i's high bits in the channel.
    const auto wordFor = [](std::uint32_t i) {
        const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(0x90 | ((i >> 14) & 0x0F)),
                                       static_cast<std::uint8_t>(i & 0x7F), static_cast<std::uint8_t>((i >> 7) & 0x7F)};
        return packMidiInputWord(bytes, 3);
    };

    std::thread producer([&] {
        for (std::uint32_t i = 0; i < kMessages; ++i) {
            if (!ring->push(wordFor(i))) {
                ++refused;
                std::this_thread::yield();
            }
        }
        done.store(true, std::memory_order_release);
    });

    std::uint32_t received = 0;
    std::uint32_t lastIndex = 0;
    bool intact = true;  // every word arrives once, whole and in order
    bool ordered = true;
    std::uint8_t bytes[3];
    MidiInputWord word = 0;
    while (true) {
        const bool finished = done.load(std::memory_order_acquire);
        bool any = false;
        while (ring->pop(word)) {
            any = true;
            intact = intact && unpackMidiInputWord(word, bytes) == 3 && (bytes[0] & 0xF0) == 0x90;
            const std::uint32_t index = (bytes[1] & 0x7Fu) | ((bytes[2] & 0x7Fu) << 7) | ((bytes[0] & 0x0Fu) << 14);
            ordered = ordered && (received == 0 || index > lastIndex);
            lastIndex = index;
            ++received;
        }
        if (finished && !any) break;  // after the producer ended, one empty drain proves the ring empty
        if (!any) std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(intact);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(received + refused, kMessages);
    EXPECT_EQ(ring->waiting(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
