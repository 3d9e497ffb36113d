#include "engine/AudioBuffer.h"

#include <gtest/gtest.h>

namespace ostrel::engine {
namespace {

TEST(AudioBuffer, ResizeKeepsValuesAndClearAndCopyTouchOnlyWhatBothBuffersHold) {
    AudioBuffer buffer(1, 4);
    buffer.data = {1, 2, 3, 4};
    buffer.resize(2, 4);
    EXPECT_EQ(buffer.data, (std::vector<float>{1, 2, 3, 4, 0, 0, 0, 0}));

    AudioBuffer source(1, 16);
    source.data.assign(16, 7.0f);
    buffer.copyFrom(source, 3);
    EXPECT_EQ(buffer.data, (std::vector<float>{7, 7, 7, 4, 0, 0, 0, 0})) << "the second channel has no source";
    buffer.copyFrom(source, 4096);
    buffer.clear(-5);
    EXPECT_EQ(buffer.data, (std::vector<float>{7, 7, 7, 7, 0, 0, 0, 0}));
    buffer.data.assign(8, 1.0f);
    buffer.clear(10000);
    EXPECT_EQ(buffer.data, std::vector<float>(8, 0.0f));
    buffer.resize(-1, 512);
    EXPECT_TRUE(buffer.channels == 0 && buffer.data.empty());
}

}  // namespace
}  // namespace ostrel::engine
