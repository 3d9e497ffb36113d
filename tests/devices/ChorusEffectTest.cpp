#include "devices/ChorusEffect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "EffectHarness.h"

namespace ostrel::engine {
namespace {

using test::impulse;
using test::runEffect;
using test::setKnob;
using test::Stereo;

TEST(ChorusDelay, ZeroDepthIsAFixedDelayOfDelayMsOnBothSides) {
    for (double rate : test::kRates) {
        ChorusEffect fx;
        setKnob(fx, "depth_ms", 0);
        setKnob(fx, "delay_ms", 10);
        setKnob(fx, "mix", 1);
        fx.prepare(rate);
        const int frames = static_cast<int>(rate * 0.03);
        const Stereo out = runEffect(fx, {impulse(frames), impulse(frames)}, rate, 128);
        const int expected = static_cast<int>(std::lround(rate * 0.01));
        EXPECT_EQ(test::firstAbove(out.left), expected) << rate;
        EXPECT_EQ(test::firstAbove(out.right), expected) << rate;
        EXPECT_NEAR(out.left[static_cast<std::size_t>(expected)], 1.0f, 1e-5f) << rate;
        EXPECT_NEAR(test::energy(out.left, 0, frames), 1.0, 1e-4) << rate;
    }
}

TEST(ChorusDelay, MixZeroPassesTheInputUnchanged) {
    ChorusEffect fx;
    fx.prepare(48000);
    setKnob(fx, "mix", 0);
    setKnob(fx, "feedback", 0.5f);
    const Stereo in{test::sine(300, 48000, 4800), test::sine(500, 48000, 4800)};
    const Stereo out = runEffect(fx, in, 48000);
    EXPECT_EQ(out.left, in.left);
    EXPECT_EQ(out.right, in.right);
}

// A ramp input makes each tap's delay readable sample by sample: linear interpolation
// of a ramp is exact, so out(t) = in(t - d(t)).
TEST(ChorusSweep, LeftAndRightDelaysMoveAQuarterCycleApart) {
    const double rate = 48000;
    ChorusEffect fx;
    setKnob(fx, "rate_hz", 0.5f);
    setKnob(fx, "depth_ms", 3);
    setKnob(fx, "delay_ms", 12);
    setKnob(fx, "mix", 1);
    fx.prepare(rate);
    const int frames = static_cast<int>(rate * 2);  // one whole LFO cycle
    const float slope = 1.0f / 4096.0f;
    std::vector<float> ramp(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) ramp[static_cast<std::size_t>(i)] = static_cast<float>(i) * slope;
    const Stereo out = runEffect(fx, {ramp, {}}, rate, 256);

    const double centre = 12 * rate / 1000, depth = 3 * rate / 1000;
    double maxError = 0;
    for (int i = 1000; i < frames; ++i) {
        const double phase = 2 * std::numbers::pi * 0.5 * i / rate;
        const double dl = i - out.left[static_cast<std::size_t>(i)] / slope;
        const double dr = i - out.right[static_cast<std::size_t>(i)] / slope;
        maxError = std::max(maxError, std::fabs(dl - (centre + depth * std::sin(phase))));
        maxError = std::max(maxError, std::fabs(dr - (centre + depth * std::cos(phase))));
    }
    // The phase accumulates in float over 96000 steps; half a sample of 144 is tight.
    EXPECT_LT(maxError, 0.5);
}

TEST(ChorusSweep, DepthBeyondTheCentreDelayWrapsRoundTheLine) {
    // Depth 8 ms around 2 ms drives the delay negative: the tap reads the oldest samples.
    ChorusEffect fx;
    setKnob(fx, "rate_hz", 8);
    setKnob(fx, "depth_ms", 8);
    setKnob(fx, "delay_ms", 2);
    setKnob(fx, "feedback", 0.5f);
    setKnob(fx, "mix", 1);
    fx.prepare(44100);
    const Stereo out = runEffect(fx, {test::sine(220, 44100, 44100, 0.9f), {}}, 44100, {37, 512, 1});
    for (std::size_t i = 0; i < out.left.size(); ++i) {
        ASSERT_TRUE(std::isfinite(out.left[i])) << i;
        ASSERT_LT(std::fabs(out.left[i]), 4.0f) << i;
    }
    EXPECT_GT(test::rms(out.left, 4410, 44100), 0.1);
}

TEST(ChorusDelay, FeedbackAddsRepeatsOfTheTap) {
    ChorusEffect fx;
    setKnob(fx, "depth_ms", 0);
    setKnob(fx, "delay_ms", 5);  // 240 samples
    setKnob(fx, "feedback", 0.5f);
    setKnob(fx, "mix", 1);
    fx.prepare(48000);
    const Stereo out = runEffect(fx, {impulse(1000), {}}, 48000);
    EXPECT_NEAR(out.left[240], 1.0f, 1e-5f);
    EXPECT_NEAR(out.left[480], 0.5f, 1e-5f);
    EXPECT_NEAR(out.left[720], 0.25f, 1e-5f);
}

TEST(ChorusState, ResetRestartsTheSweepAndEmptiesTheLines) {
    ChorusEffect fx;
    fx.prepare(48000);
    setKnob(fx, "mix", 0.5f);
    const Stereo in{test::sine(440, 48000, 6000), {}};
    const Stereo first = runEffect(fx, in, 48000);
    fx.reset();
    const Stereo second = runEffect(fx, in, 48000);
    EXPECT_EQ(first.left, second.left);
    EXPECT_EQ(first.right, second.right);
}

}  // namespace
}  // namespace ostrel::engine
