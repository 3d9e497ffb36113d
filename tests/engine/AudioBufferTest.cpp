#include "engine/AudioBuffer.h"

#include <gtest/gtest.h>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

AudioBuffer filled(int channels, int frames, float base) {
    AudioBuffer buffer(channels, frames);
    for (int c = 0; c < channels; ++c) {
        for (int i = 0; i < frames; ++i) {
            buffer.channel(c)[i] = base + static_cast<float>(c * 10000 + i);
        }
    }
    return buffer;
}

TEST(AudioBufferResize, NegativeChannelCountGivesAnEmptyBuffer) {
    AudioBuffer buffer;
    buffer.resize(-1, 512);
    EXPECT_EQ(buffer.channels, 0);
    EXPECT_EQ(buffer.frames, 512);
    EXPECT_TRUE(buffer.data.empty());
}

TEST(AudioBufferResize, KeepsExistingValuesAndZeroesNewOnes) {
    AudioBuffer buffer(1, 4);
    buffer.data = {1, 2, 3, 4};
    buffer.resize(2, 4);
    ASSERT_EQ(buffer.data.size(), 8u);
    EXPECT_EQ(buffer.data[3], 4.0f);
    EXPECT_EQ(buffer.channel(1)[0], 0.0f);
    EXPECT_EQ(buffer.channel(1)[3], 0.0f);
}

TEST(AudioBufferClear, CountBeyondTheBufferClearsEveryFrameOfEveryChannel) {
    AudioBuffer buffer = filled(2, 512, 1.0f);
    buffer.clear(10000);
    for (float v : buffer.data) {
        EXPECT_EQ(v, 0.0f);
    }
}

TEST(AudioBufferClear, ClearsOnlyTheFirstFramesOfEachChannel) {
    AudioBuffer buffer = filled(2, 8, 1.0f);
    buffer.clear(3);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(buffer.channel(c)[2], 0.0f);
        EXPECT_NE(buffer.channel(c)[3], 0.0f);
    }
}

TEST(AudioBufferClear, ZeroOrNegativeCountChangesNothing) {
    AudioBuffer buffer = filled(2, 64, 1.0f);
    const std::vector<float> before = buffer.data;
    buffer.clear(0);
    buffer.clear(-5);
    EXPECT_EQ(buffer.data, before);
}

TEST(AudioBufferCopyFrom, CopiesOnlyWhatBothBuffersHold) {
    const AudioBuffer source = filled(2, 4096, 1.0f);
    AudioBuffer target(1, 512);
    target.copyFrom(source, 4096);
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(target.channel(0)[i], source.channel(0)[i]);
    }
}

TEST(AudioBufferCopyFrom, LeavesChannelsTheSourceLacksAlone) {
    const AudioBuffer source = filled(1, 16, 1.0f);
    AudioBuffer target = filled(2, 16, 500.0f);
    const std::vector<float> secondBefore(target.channel(1), target.channel(1) + 16);
    target.copyFrom(source, 8);
    EXPECT_EQ(target.channel(0)[7], source.channel(0)[7]);
    EXPECT_EQ(target.channel(0)[8], 508.0f);
    EXPECT_EQ(std::vector<float>(target.channel(1), target.channel(1) + 16), secondBefore);
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
