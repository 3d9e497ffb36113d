#include "devices/ChorusEffect.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::dev;

Stereo chorus(Knobs knobs, const Stereo& in, double rate = 48000.0, std::vector<int> blocks = {512}) {
    ChorusEffect fx;
    fx.prepare(rate);
    setKnob(fx, "mix", 1);
    setKnobs(fx, knobs);
    return runEffect(fx, in, rate, std::move(blocks));
}

TEST(ChorusEffect, ZeroDepthIsAFixedDelayOfDelayMsWithFeedbackRepeats) {
    for (double rate : kRates) {
        const int frames = static_cast<int>(rate * 0.03), expected = static_cast<int>(std::lround(rate * 0.01));
        const Stereo out = chorus({{"depth_ms", 0}, {"delay_ms", 10}}, {impulse(frames), impulse(frames)}, rate, {128});
        EXPECT_EQ(firstAbove(out.left), expected) << rate;
        EXPECT_EQ(firstAbove(out.right), expected) << rate;
        EXPECT_NEAR(out.left[static_cast<std::size_t>(expected)], 1.0f, 1e-5f) << rate;
        EXPECT_NEAR(energy(out.left, 0, frames), 1.0, 1e-4) << rate;
    }
    const Signal repeats = chorus({{"depth_ms", 0}, {"delay_ms", 5}, {"feedback", 0.5f}}, {impulse(1000), {}}).left;
    EXPECT_NEAR(repeats[240], 1.0f, 1e-5f);
    EXPECT_NEAR(repeats[480], 0.5f, 1e-5f);
    EXPECT_NEAR(repeats[720], 0.25f, 1e-5f);
}

// A ramp input makes each tap's delay readable sample by sample: linear interpolation
// of a ramp is exact, so out(t) = in(t - d(t)).
TEST(ChorusEffect, LeftAndRightDelaysSweepAQuarterCycleApart) {
    const float slope = 1.0f / 4096.0f;
    Signal ramp(96000);  // one whole LFO cycle at 0.5 Hz
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) * slope;
    const Stereo out = chorus({{"rate_hz", 0.5f}, {"depth_ms", 3}, {"delay_ms", 12}}, {ramp, {}}, 48000, {256});
    double maxError = 0;
    for (std::size_t i = 1000; i < ramp.size(); ++i) {
        const double phase = std::numbers::pi * static_cast<double>(i) / 48000;
        maxError = std::max(maxError, std::fabs(i - out.left[i] / slope - (576 + 144 * std::sin(phase))));
        maxError = std::max(maxError, std::fabs(i - out.right[i] / slope - (576 + 144 * std::cos(phase))));
    }
    // The phase accumulates in float over 96000 steps; half a sample of 144 is tight.
    EXPECT_LT(maxError, 0.5);
}

}  // namespace
}  // namespace ostrel::engine
