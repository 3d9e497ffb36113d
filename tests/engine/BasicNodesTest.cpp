#include "engine/BasicNodes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

// Runs a node from position start for total frames in blocks and returns each channel.
std::vector<std::vector<float>> render(Node& node, double rate, std::int64_t start, int total,
                                       const std::vector<int>& blocks, double bpm = 120.0, int beatsPerBar = 4,
                                       int channels = 1) {
    std::vector<std::vector<float>> out(static_cast<std::size_t>(channels));
    AudioBuffer buffer(channels, 4096);
    std::int64_t pos = start;
    std::size_t b = 0;
    int done = 0;
    while (done < total) {
        const int n = std::min(blocks[b++ % blocks.size()], total - done);
        ProcessContext context{n, rate, pos, true, bpm, beatsPerBar, {}};
        node.process(context, {}, buffer);
        for (int c = 0; c < channels; ++c) {
            out[static_cast<std::size_t>(c)].insert(out[static_cast<std::size_t>(c)].end(), buffer.channel(c),
                                                    buffer.channel(c) + n);
        }
        pos += n;
        done += n;
    }
    return out;
}

// Frames at which a click starts in a rendered metronome signal.
std::vector<std::int64_t> clickStarts(const std::vector<float>& signal, std::int64_t start) {
    std::vector<std::int64_t> starts;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const bool silentBefore = i == 0 || signal[i - 1] == 0.0f;
        // A click starts at cos(0) times its amplitude: 0.5 or 0.8.
        if (silentBefore && (signal[i] == 0.5f || signal[i] == 0.8f)) {
            starts.push_back(start + static_cast<std::int64_t>(i));
        }
    }
    return starts;
}

TEST(SineNode, GainChangeRampsOverOneBlockThenHolds) {
    SineNode sine;
    sine.prepare(48000.0);
    sine.gain = 0.1f;
    // A frequency of zero with phase 0.25 holds sin at 1, so the output is the gain itself.
    sine.frequency = 0.0f;
    sine.phase = 0.25;
    AudioBuffer out(1, 4);
    sine.process(ProcessContext{4, 48000.0, 0, false, 120.0, 4, {}}, {}, out);
    EXPECT_FLOAT_EQ(out.channel(0)[0], 0.025f);
    EXPECT_FLOAT_EQ(out.channel(0)[1], 0.05f);
    EXPECT_FLOAT_EQ(out.channel(0)[2], 0.075f);
    EXPECT_FLOAT_EQ(out.channel(0)[3], 0.1f);
    sine.process(ProcessContext{4, 48000.0, 4, false, 120.0, 4, {}}, {}, out);
    EXPECT_FLOAT_EQ(out.channel(0)[0], 0.1f);
    EXPECT_FLOAT_EQ(out.channel(0)[3], 0.1f);
}

TEST(SineNode, MeasuresItsFrequencyAtEverySampleRate) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        SineNode sine(440.0f, 0.5f);
        sine.prepare(rate);
        const int total = static_cast<int>(rate);  // one second
        const auto out = render(sine, rate, 0, total, {64, 1000, 333});
        int upward = 0;
        for (std::size_t i = 1; i < out[0].size(); ++i) {
            upward += out[0][i - 1] < 0.0f && out[0][i] >= 0.0f ? 1 : 0;
        }
        EXPECT_NEAR(upward, 440, 1) << "at " << rate << " Hz";
    }
}

TEST(SineNode, CopiesTheSignalToEveryChannel) {
    SineNode sine(440.0f, 0.3f);
    sine.prepare(48000.0);
    const auto out = render(sine, 48000.0, 0, 256, {256}, 120.0, 4, 3);
    EXPECT_EQ(out[0], out[1]);
    EXPECT_EQ(out[0], out[2]);
}

TEST(MetronomeNode, ClicksOnEveryBeatAndAccentsTheFirstOfEachBar) {
    MetronomeNode metronome;
    metronome.prepare(48000.0);
    const auto out = render(metronome, 48000.0, 0, 24000 * 9, {512});
    const auto starts = clickStarts(out[0], 0);
    ASSERT_EQ(starts.size(), 9u);
    for (std::size_t k = 0; k < starts.size(); ++k) {
        EXPECT_EQ(starts[k], static_cast<std::int64_t>(k) * 24000);
        const float first = out[0][static_cast<std::size_t>(starts[k])];
        EXPECT_EQ(first, k % 4 == 0 ? 0.8f : 0.5f) << "beat " << k;
    }
}

TEST(MetronomeNode, ClickShapeIsTheDecayingToneOfItsBeat) {
    MetronomeNode metronome;
    metronome.prepare(48000.0);
    EXPECT_EQ(metronome.clickLength, 2880);
    const auto out = render(metronome, 48000.0, 0, 24000 + 3000, {4096});
    const double t = 100.0 / 48000.0;
    EXPECT_NEAR(out[0][100], std::exp(-60.0 * t) * 0.8 * std::cos(2.0 * std::numbers::pi * 1500.0 * t), 1e-6);
    EXPECT_NEAR(out[0][24100], std::exp(-60.0 * t) * 0.5 * std::cos(2.0 * std::numbers::pi * 1000.0 * t), 1e-6);
    EXPECT_NE(out[0][2879], 0.0f);
    EXPECT_EQ(out[0][2880], 0.0f);
}

TEST(MetronomeNode, BlockStartingAfterABeatWaitsForTheNextOne) {
    MetronomeNode metronome;
    metronome.prepare(48000.0);
    const auto out = render(metronome, 48000.0, 100, 30000, {512});
    const auto starts = clickStarts(out[0], 100);
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.front(), 24000);
    EXPECT_EQ(out[0][0], 0.0f);
}

TEST(MetronomeNode, BeatOnTheFirstFrameOfABlockClicksOnThatFrame) {
    MetronomeNode metronome;
    metronome.prepare(48000.0);
    AudioBuffer out(1, 256);
    metronome.process(ProcessContext{256, 48000.0, 24000, true, 120.0, 4, {}}, {}, out);
    EXPECT_EQ(out.channel(0)[0], 0.5f);
    metronome.process(ProcessContext{256, 48000.0, 96000, true, 120.0, 4, {}}, {}, out);
    EXPECT_EQ(out.channel(0)[0], 0.8f);
}

TEST(MetronomeNode, BeatsFallOnTheCeilingOfTheirExactFrame) {
    MetronomeNode metronome;
    metronome.prepare(44100.0);
    const auto out = render(metronome, 44100.0, 0, 60000, {441}, 97.0);
    const auto starts = clickStarts(out[0], 0);
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[1], 27279);
    EXPECT_EQ(starts[2], 54557);
}

TEST(MetronomeNode, OutputDoesNotDependOnTheBlockSize) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> size(1, 1024);
    std::vector<int> randomBlocks(200);
    for (int& b : randomBlocks) {
        b = size(random);
    }
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        MetronomeNode whole;
        whole.prepare(rate);
        const auto reference = render(whole, rate, 0, 100000, {4096}, 133.0, 3);
        for (const std::vector<int>& blocks : {std::vector<int>{64}, std::vector<int>{1024}, randomBlocks}) {
            MetronomeNode chunked;
            chunked.prepare(rate);
            EXPECT_EQ(render(chunked, rate, 0, 100000, blocks, 133.0, 3), reference) << "at " << rate << " Hz";
        }
    }
}

TEST(MetronomeNode, StoppingDuringAClickSilencesTheNextBlock) {
    MetronomeNode metronome;
    metronome.prepare(48000.0);
    AudioBuffer out(2, 256);
    metronome.process(ProcessContext{256, 48000.0, 0, true, 120.0, 4, {}}, {}, out);
    EXPECT_GE(metronome.clickPos, 0);
    metronome.process(ProcessContext{256, 48000.0, 256, false, 120.0, 4, {}}, {}, out);
    EXPECT_EQ(metronome.clickPos, -1);
    for (float v : out.data) {
        EXPECT_EQ(v, 0.0f);
    }
    metronome.process(ProcessContext{256, 48000.0, 512, true, 120.0, 4, {}}, {}, out);
    for (float v : out.data) {
        EXPECT_EQ(v, 0.0f);
    }
}

TEST(MetronomeNode, ZeroTempoStaysSilentInsteadOfComputingAnInfiniteBeat) {
    MetronomeNode metronome;
    metronome.prepare(48000.0);
    AudioBuffer out(1, 64);
    out.data.assign(64, 1.0f);
    metronome.process(ProcessContext{64, 48000.0, 0, true, 0.0, 4, {}}, {}, out);
    for (float v : out.data) {
        EXPECT_EQ(v, 0.0f);
    }
}

std::shared_ptr<std::vector<float>> ramp(int frames, int channels) {
    auto samples = std::make_shared<std::vector<float>>();
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            samples->push_back(static_cast<float>(f) + 0.5f * static_cast<float>(c));
        }
    }
    return samples;
}

TEST(BufferSourceNode, PlaysTheFramesUnderThePositionAndSilenceOutside) {
    BufferSourceNode source(ramp(1000, 2), 2, 1000);
    AudioBuffer out(2, 64);
    source.process(ProcessContext{64, 48000.0, -10, true, 120.0, 4, {}}, {}, out);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(out.channel(0)[i], 0.0f);
    }
    for (int i = 10; i < 64; ++i) {
        EXPECT_EQ(out.channel(0)[i], static_cast<float>(i - 10));
        EXPECT_EQ(out.channel(1)[i], static_cast<float>(i - 10) + 0.5f);
    }
    for (std::int64_t position : {1000, 5000}) {
        out.data.assign(out.data.size(), 9.0f);
        source.process(ProcessContext{64, 48000.0, position, true, 120.0, 4, {}}, {}, out);
        for (float v : out.data) {
            EXPECT_EQ(v, 0.0f);
        }
    }
}

TEST(BufferSourceNode, MonoSourceFeedsEveryOutputChannel) {
    BufferSourceNode source(ramp(100, 1), 1, 100);
    AudioBuffer out(2, 16);
    source.process(ProcessContext{16, 48000.0, 20, true, 120.0, 4, {}}, {}, out);
    EXPECT_EQ(out.channel(0)[3], 23.0f);
    EXPECT_EQ(out.channel(1)[3], 23.0f);
}

TEST(BufferSourceNode, ExtraSourceChannelsAreNotHeard) {
    BufferSourceNode source(ramp(100, 3), 3, 100);
    AudioBuffer out(1, 4);
    source.process(ProcessContext{4, 48000.0, 0, true, 120.0, 4, {}}, {}, out);
    EXPECT_EQ(out.channel(0)[2], 2.0f);
}

TEST(BufferSourceNode, FrameCountBeyondTheSamplesNeverReadsPastThem) {
    BufferSourceNode source(ramp(10, 2), 2, 1000);
    AudioBuffer out(2, 32);
    source.process(ProcessContext{32, 48000.0, 0, true, 120.0, 4, {}}, {}, out);
    EXPECT_EQ(out.channel(0)[9], 9.0f);
    EXPECT_EQ(out.channel(0)[10], 0.0f);
    EXPECT_EQ(out.channel(1)[31], 0.0f);
}

TEST(BufferSourceNode, WithoutSamplesTheBlockIsSilent) {
    BufferSourceNode source;
    AudioBuffer out(2, 8);
    out.data.assign(16, 1.0f);
    source.process(ProcessContext{8, 48000.0, 0, true, 120.0, 4, {}}, {}, out);
    for (float v : out.data) {
        EXPECT_EQ(v, 0.0f);
    }
}

TEST(BasicNodes, ProcessNeverAllocates) {
    SineNode sine(440.0f, 0.2f);
    MetronomeNode metronome;
    BufferSourceNode source(ramp(4096, 2), 2, 4096);
    sine.prepare(48000.0);
    metronome.prepare(48000.0);
    AudioBuffer out(2, 512);
    test::AllocationCounter counter;
    for (int block = 0; block < 100; ++block) {
        const ProcessContext context{512, 48000.0, block * 512LL, true, 120.0, 4, {}};
        sine.process(context, {}, out);
        metronome.process(context, {}, out);
        source.process(context, {}, out);
    }
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
