#include "audiofile/Peaks.h"
#include "audiofile/Resample.h"

#include <gtest/gtest.h>

using namespace ostrel::engine;

namespace {

// Frame f holds f on every channel.
AudioData ramp(std::int64_t frames, int channels, double rate) {
    AudioData d;
    d.channels = channels;
    d.sampleRate = rate;
    d.frames = frames;
    d.samples.resize(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < d.samples.size(); ++i) {
        d.samples[i] = static_cast<float>(i / static_cast<std::size_t>(channels));
    }
    return d;
}

}  // namespace

TEST(ResampleTest, LengthFollowsTheRateRatioValuesInterpolateAndTheLastFrameIsCapped) {
    const AudioData out = resampleAudio(ramp(44100, 2, 44100.0), 48000.0);
    EXPECT_EQ(out.frames, 48000);
    EXPECT_EQ(out.sampleRate, 48000.0);
    ASSERT_EQ(out.samples.size(), 96000u);
    EXPECT_FLOAT_EQ(out.samples[2], 0.91875f);  // frame 1 sits 0.91875 source frames in
    EXPECT_EQ(out.samples[95998], 44099.0f);
    EXPECT_EQ(out.samples[95999], 44099.0f);
    EXPECT_EQ(resampleAudio(ramp(48000, 1, 48000.0), 44100.0).frames, 44099) << "the count is floored";
    const AudioData source = ramp(10, 1, 48000.0);
    const AudioData bad = resampleAudio(source, -1.0);
    EXPECT_EQ(bad.samples, source.samples) << "a target that is no rate gives a copy";
    EXPECT_EQ(bad.sampleRate, 48000.0);
}

TEST(PeaksTest, LargestAbsoluteSampleOfEveryChannelPerBinAndZeroWhereABinHasNoFrame) {
    AudioData d;
    d.channels = 2;
    d.frames = 4;
    d.samples = {0.1f, -0.9f, 0.2f, 0.3f, -0.5f, 0.4f, 0.0f, 0.6f};
    EXPECT_EQ(computePeaks(d, 2), (std::vector<float>{0.9f, 0.6f}));
    d.channels = 1;
    d.frames = 2;
    d.samples = {0.5f, -0.25f};
    EXPECT_EQ(computePeaks(d, 4), (std::vector<float>{0.5f, 0.0f, 0.25f, 0.0f}));
    EXPECT_TRUE(computePeaks(d, 0).empty());
    EXPECT_EQ(computePeaks(ramp(0, 1, 48000.0), 3), (std::vector<float>(3, 0.0f)));
}
