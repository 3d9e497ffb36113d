#include "devices/VcfNode.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// Steady-state gain for a sine at `hz` through the filter.
double gainAt(double hz, Knobs knobs, double rate = 48000.0, const Signal* control = nullptr) {
    VcfNode f;
    f.prepare(rate);
    setKnobs(f, knobs);
    const int frames = static_cast<int>(rate * 2);
    const Signal in = sine(hz, rate, frames);
    const Render r{.rate = rate, .inputs = {&in, control}};
    return peak(render(f, frames, r), frames / 2, frames);
}

// The trapezoidal SVF is prewarped: at its cutoff every mode has gain exactly 1 / k,
// 1 / 1.6 at the default resonance of 0.2.
TEST(VcfNode, EveryModeHasGainOneOverKAtTheCutoff) {
    for (double rate : kRates)
        for (float cutoff : {100.0f, 1000.0f, 5000.0f})
            for (float mode : {0.0f, 1.0f, 2.0f})
                EXPECT_NEAR(gainAt(cutoff, {{"mode", mode}, {"cutoff_hz", cutoff}}, rate), 1.0 / 1.6, 0.01)
                    << rate << " Hz rate, cutoff " << cutoff << ", mode " << mode;
    // Full resonance acts as 0.98, so the filter never runs away.
    EXPECT_NEAR(gainAt(1000.0, {{"resonance", 1}}), 1.0 / 0.04, 0.5);
}

TEST(VcfNode, RingingDecaysToExactZeroAndNothingPluggedInIsSilence) {
    VcfNode f;
    f.prepare(48000.0);
    setKnob(f, "resonance", 0.9f);
    const Signal in = impulse(48000 * 4);
    Render r;
    r.inputs = {&in};
    const Signal out = render(f, static_cast<int>(in.size()), r);
    EXPECT_NE(out[10], 0.0f);
    EXPECT_EQ(out.back(), 0.0f);
    EXPECT_EQ(render(f, 64), constant(64, 0.0f));
}

}  // namespace
}  // namespace ostrel::engine
