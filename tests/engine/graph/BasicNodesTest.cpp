#include "engine/graph/BasicNodes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>


namespace ostrel::engine {
namespace {

// Runs a node from position start for total frames in blocks (cycled) and returns channel 0.
std::vector<float> render(Node& node, double rate, std::int64_t start, int total, const std::vector<int>& blocks,
                          double bpm = 120.0, int beatsPerBar = 4) {
    std::vector<float> out;
    AudioBuffer buffer(2, 4096);
    for (std::size_t b = 0; static_cast<int>(out.size()) < total; ++b) {
        const int n = std::min(blocks[b % blocks.size()], total - static_cast<int>(out.size()));
        node.process(ProcessContext{n, rate, start + static_cast<std::int64_t>(out.size()), true, bpm, beatsPerBar, {}},
                     {}, buffer);
        EXPECT_TRUE(std::equal(buffer.channel(0), buffer.channel(0) + n, buffer.channel(1))) << "channels differ";
        out.insert(out.end(), buffer.channel(0), buffer.channel(0) + n);
    }
    return out;
}

// Frames at which a click starts: cos(0) times its level, 0.5 or 0.8, after silence.
std::vector<std::int64_t> clickStarts(const std::vector<float>& signal, std::int64_t start) {
    std::vector<std::int64_t> starts;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        if ((i == 0 || signal[i - 1] == 0.0f) && (signal[i] == 0.5f || signal[i] == 0.8f)) {
            starts.push_back(start + static_cast<std::int64_t>(i));
        }
    }
    return starts;
}

TEST(SineNode, MeasuresItsFrequencyOnEveryChannelAtEverySampleRate) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        SineNode sine(440.0f, 0.5f);
        sine.prepare(rate);
        const auto out = render(sine, rate, 0, static_cast<int>(rate), {64, 1000, 333});
        int upward = 0;
        for (std::size_t i = 1; i < out.size(); ++i) {
            upward += out[i - 1] < 0.0f && out[i] >= 0.0f ? 1 : 0;
        }
        EXPECT_NEAR(upward, 440, 1) << "at " << rate << " Hz";
    }
}

// Beats fall on the ceiling of their exact frame whatever the rate and the blocks; a
// render that starts past a beat waits for the next one.
TEST(MetronomeNode, BeatsFallOnTheCeilingOfTheirExactFrameWhateverTheBlocks) {
    std::mt19937 random(7);
    std::vector<int> randomBlocks(200);
    for (int& b : randomBlocks) {
        b = std::uniform_int_distribution<int>(1, 1024)(random);
    }
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const int frames = static_cast<int>(2 * rate);  // three and a bit beats
        std::vector<std::int64_t> expected;
        for (int beat = 1; beat * 60.0 / 97.0 * rate < frames; ++beat) {
            expected.push_back(static_cast<std::int64_t>(std::ceil(beat * 60.0 * rate / 97.0)));
        }
        for (const std::vector<int>& blocks : {std::vector<int>{512}, randomBlocks}) {
            MetronomeNode metronome;
            metronome.prepare(rate);
            const auto out = render(metronome, rate, 100, frames - 100, blocks, 97.0, 3);
            EXPECT_EQ(out[0], 0.0f);
            ASSERT_EQ(clickStarts(out, 100), expected) << "at " << rate << " Hz";
            EXPECT_EQ(out[static_cast<std::size_t>(expected[2] - 100)], 0.8f) << "beat 3 opens a bar of three";
        }
    }
}

// Regression: a tempo of zero used to compute an infinite beat length.
TEST(MetronomeNode, StoppingMidClickOrATempoWithoutABeatGridIsSilent) {
    MetronomeNode metronome;
    metronome.prepare(48000.0);
    AudioBuffer out(2, 256);
    metronome.process(ProcessContext{256, 48000.0, 0, true, 120.0, 4, {}}, {}, out);
    metronome.process(ProcessContext{256, 48000.0, 256, false, 120.0, 4, {}}, {}, out);
    EXPECT_EQ(out.data, std::vector<float>(512, 0.0f));
    out.data.assign(512, 1.0f);
    metronome.process(ProcessContext{256, 48000.0, 0, true, 0.0, 4, {}}, {}, out);
    EXPECT_EQ(out.data, std::vector<float>(512, 0.0f));
}

// Frame f, channel c holds f + c / 2.
std::shared_ptr<std::vector<float>> ramp(int frames, int channels) {
    auto samples = std::make_shared<std::vector<float>>();
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            samples->push_back(static_cast<float>(f) + 0.5f * static_cast<float>(c));
        }
    }
    return samples;
}

TEST(BufferSourceNode, PlaysTheFramesUnderThePositionAsFarAsItsSamplesGoMonoOnEveryChannel) {
    BufferSourceNode source(ramp(10, 2), 2, 1000);  // claims more frames than it holds
    AudioBuffer out(2, 32);
    source.process(ProcessContext{32, 48000.0, -5, true, 120.0, 4, {}}, {}, out);
    for (int i = 0; i < 32; ++i) {
        const bool inside = i >= 5 && i < 15;
        EXPECT_EQ(out.channel(0)[i], inside ? static_cast<float>(i - 5) : 0.0f) << i;
        EXPECT_EQ(out.channel(1)[i], inside ? static_cast<float>(i - 5) + 0.5f : 0.0f) << i;
    }
    BufferSourceNode mono(ramp(100, 1), 1, 100);
    mono.process(ProcessContext{16, 48000.0, 20, true, 120.0, 4, {}}, {}, out);
    EXPECT_EQ(out.channel(0)[3], 23.0f);
    EXPECT_EQ(out.channel(1)[3], 23.0f);
}

}  // namespace
}  // namespace ostrel::engine
