#include "devices/ReverbEffect.h"

#include <gtest/gtest.h>

#include <cmath>

#include "EffectHarness.h"

namespace ostrel::engine {
namespace {

using test::energy;
using test::firstAbove;
using test::impulse;
using test::runEffect;
using test::setKnob;
using test::Stereo;

TEST(ReverbLines, LengthsAt48kHzAreTheTuningsScaledFrom44100) {
    ReverbEffect fx;
    EXPECT_EQ(fx.preDelayLength(), 0);
    fx.prepare(48000);
    const std::int32_t combs[2][8] = {{1214, 1293, 1389, 1475, 1547, 1622, 1694, 1760},
                                      {1239, 1318, 1414, 1500, 1572, 1647, 1719, 1785}};
    const std::int32_t allPasses[2][4] = {{605, 480, 371, 244}, {630, 505, 396, 269}};
    for (int ch = 0; ch < 2; ++ch) {
        for (int k = 0; k < 8; ++k) EXPECT_EQ(fx.combLength(ch, k), combs[ch][k]) << ch << " comb " << k;
        for (int j = 0; j < 4; ++j) EXPECT_EQ(fx.allPassLength(ch, j), allPasses[ch][j]) << ch << " all-pass " << j;
    }
    EXPECT_EQ(fx.preDelayLength(), 4802);
}

TEST(ReverbLines, WetOnsetIsTheShortestCombOnEachSide) {
    ReverbEffect fx;
    fx.prepare(48000);
    setKnob(fx, "mix", 1);
    setKnob(fx, "width", 1);  // each side hears only its own bank
    const Stereo out = runEffect(fx, {impulse(3000), {}}, 48000);
    EXPECT_EQ(firstAbove(out.left), 1214);
    EXPECT_EQ(firstAbove(out.right), 1239);
}

TEST(ReverbLines, HundredMsPreDelayMovesTheOnsetBy4800Samples) {
    ReverbEffect fx;
    fx.prepare(48000);
    setKnob(fx, "mix", 1);
    setKnob(fx, "predelay_ms", 100);
    const Stereo out = runEffect(fx, {impulse(8000), {}}, 48000, 480);
    EXPECT_EQ(firstAbove(out.left), 4800 + 1214);
}

TEST(ReverbMix, MixZeroPassesTheInputUnchanged) {
    ReverbEffect fx;
    fx.prepare(44100);
    setKnob(fx, "mix", 0);
    const Stereo in{test::sine(440, 44100, 5000), test::sine(220, 44100, 5000)};
    const Stereo out = runEffect(fx, in, 44100);
    EXPECT_EQ(out.left, in.left);
    EXPECT_EQ(out.right, in.right);
}

TEST(ReverbWidth, WidthZeroGivesTheSameWetSignalOnBothSides) {
    ReverbEffect fx;
    fx.prepare(48000);
    setKnob(fx, "mix", 1);
    setKnob(fx, "width", 0);
    const Stereo out = runEffect(fx, {impulse(20000), {}}, 48000);
    EXPECT_EQ(out.left, out.right);
    EXPECT_GT(energy(out.left, 0, 20000), 0.0);
}

// Energy of the tail between 0.5 s and 1.5 s after an impulse.
double lateEnergy(float roomSize, float damping) {
    ReverbEffect fx;
    fx.prepare(48000);
    setKnob(fx, "mix", 1);
    setKnob(fx, "room_size", roomSize);
    setKnob(fx, "damping", damping);
    const Stereo out = runEffect(fx, {impulse(72000), {}}, 48000);
    return energy(out.left, 24000, 72000);
}

TEST(ReverbTail, SmallRoomsDecayFaster) {
    EXPECT_GT(lateEnergy(0.9f, 0.5f), 10.0 * lateEnergy(0.2f, 0.5f));
}

TEST(ReverbTail, HighDampingMakesTheTailDarker) {
    // Brightness as the share of energy in the sample-to-sample differences.
    auto brightness = [](float damping) {
        ReverbEffect fx;
        fx.prepare(48000);
        setKnob(fx, "mix", 1);
        setKnob(fx, "damping", damping);
        const Stereo out = runEffect(fx, {impulse(48000), {}}, 48000);
        double diff = 0, total = 0;
        for (int i = 12000; i < 48000; ++i) {
            const double d = out.left[static_cast<std::size_t>(i)] - out.left[static_cast<std::size_t>(i - 1)];
            diff += d * d;
            total += static_cast<double>(out.left[static_cast<std::size_t>(i)]) * out.left[static_cast<std::size_t>(i)];
        }
        return diff / total;
    };
    EXPECT_LT(brightness(1.0f), 0.7 * brightness(0.0f));
}

TEST(ReverbTail, UnpluggedInputKeepsTheRoomRinging) {
    ReverbEffect fx;
    fx.prepare(48000);
    setKnob(fx, "mix", 1);
    runEffect(fx, {impulse(512), {}}, 48000);
    const Stereo tail = runEffect(fx, {std::vector<float>(4800, 0.0f), {}}, 48000, 512, test::Input::Unplugged);
    EXPECT_GT(energy(tail.left, 0, 4800), 0.0);
    EXPECT_GT(energy(tail.right, 0, 4800), 0.0);
}

TEST(ReverbTail, SilenceAfterALongTailFlushesToExactZero) {
    ReverbEffect fx;
    fx.prepare(8000);
    setKnob(fx, "mix", 1);
    setKnob(fx, "room_size", 0);
    runEffect(fx, {impulse(512), {}}, 8000);
    // Well past the point where the tail sinks below 1e-20.
    runEffect(fx, {std::vector<float>(8000 * 60, 0.0f), {}}, 8000, 4096);
    const Stereo quiet = runEffect(fx, {std::vector<float>(4096, 0.0f), {}}, 8000, 4096);
    EXPECT_EQ(energy(quiet.left, 0, 4096), 0.0);
}

TEST(ReverbState, UnpreparedReverbLeavesTheOutputUntouched) {
    ReverbEffect fx;
    AudioBuffer in(2, 64), out(2, 64);
    std::fill(in.data.begin(), in.data.end(), 0.5f);
    std::fill(out.data.begin(), out.data.end(), 0.25f);
    ProcessContext ctx;
    ctx.frames = 64;
    const AudioBuffer* inputs[] = {&in};
    fx.process(ctx, inputs, out);
    for (float v : out.data) ASSERT_EQ(v, 0.25f);
}

TEST(ReverbState, ResetGivesTheSameTailAgain) {
    ReverbEffect fx;
    fx.prepare(48000);
    const Stereo in{impulse(6000), test::sine(300, 48000, 6000)};
    const Stereo first = runEffect(fx, in, 48000);
    fx.reset();
    const Stereo second = runEffect(fx, in, 48000);
    EXPECT_EQ(first.left, second.left);
    EXPECT_EQ(first.right, second.right);
}

}  // namespace
}  // namespace ostrel::engine
