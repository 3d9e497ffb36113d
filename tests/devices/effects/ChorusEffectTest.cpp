#include "devices/effects/ChorusEffect.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

Stereo chorus(Knobs knobs, const Stereo& in, double rate = 48000.0, std::vector<int> blocks = {512}) {
    ChorusEffect fx;
    fx.prepare(rate);
    setKnob(fx, "mix", 1);
    setKnobs(fx, knobs);
    return runEffect(fx, in, rate, std::move(blocks));
}

TEST(ChorusEffect, ZeroDepthIsAFixedDelayOfDelayMsWithFeedbackRepeats) {
    const Stereo out = chorus({{"depth_ms", 0}, {"delay_ms", 5}, {"feedback", 0.5f}}, {impulse(1000), impulse(1000)});
    EXPECT_EQ(firstAbove(out.left), 240);
    EXPECT_EQ(out.right, out.left);
    for (int n = 0; n < 3; ++n) EXPECT_NEAR(out.left[240 * (n + 1)], std::pow(0.5f, n), 1e-5f) << n;
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
