#include "engine/AudioBuffer.h"

#include <gtest/gtest.h>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

// Channel c, frame i holds base + c * 10000 + i.
AudioBuffer filled(int channels, int frames, float base) {
    AudioBuffer buffer(channels, frames);
    for (int c = 0; c < channels; ++c) {
        for (int i = 0; i < frames; ++i) {
            buffer.channel(c)[i] = base + static_cast<float>(c * 10000 + i);
        }
    }
    return buffer;
}

TEST(AudioBufferResize, KeepsExistingValuesZeroesNewOnesAndTreatsNegativeCountsAsZero) {
    AudioBuffer buffer(1, 4);
    buffer.data = {1, 2, 3, 4};
    buffer.resize(2, 4);
    EXPECT_EQ(buffer.data, (std::vector<float>{1, 2, 3, 4, 0, 0, 0, 0}));
    buffer.resize(-1, 512);
    EXPECT_EQ(buffer.channels, 0);
    EXPECT_TRUE(buffer.data.empty());
}

TEST(AudioBufferClear, ClearsOnlyTheFirstFramesOfEachChannelWithinTheBuffer) {
    AudioBuffer buffer = filled(2, 8, 1.0f);
    const std::vector<float> before = buffer.data;
    buffer.clear(0);
    buffer.clear(-5);
    EXPECT_EQ(buffer.data, before);
    buffer.clear(3);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(buffer.channel(c)[2], 0.0f);
        EXPECT_NE(buffer.channel(c)[3], 0.0f);
    }
    buffer.clear(10000);
    EXPECT_EQ(buffer.data, std::vector<float>(16, 0.0f));
}

TEST(AudioBufferCopyFrom, CopiesOnlyWhatBothBuffersHoldAndLeavesTheRestAlone) {
    const AudioBuffer source = filled(1, 16, 1.0f);
    AudioBuffer target = filled(2, 8, 500.0f);
    const std::vector<float> second(target.channel(1), target.channel(1) + 8);
    target.copyFrom(source, 4);
    EXPECT_EQ(target.channel(0)[3], source.channel(0)[3]);
    EXPECT_EQ(target.channel(0)[4], 504.0f);
    target.copyFrom(source, 4096);
    EXPECT_EQ(target.channel(0)[7], source.channel(0)[7]);
    EXPECT_EQ(std::vector<float>(target.channel(1), target.channel(1) + 8), second);
}

TEST(AudioBufferCopyFrom, ClearAndCopyNeverAllocate) {
    const AudioBuffer source = filled(2, 256, 1.0f);
    AudioBuffer target(2, 256);
    test::AllocationCounter counter;
    target.clear(256);
    target.copyFrom(source, 256);
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
