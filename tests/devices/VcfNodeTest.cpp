#include "devices/VcfNode.h"

#include <gtest/gtest.h>

#include "ModuleHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

constexpr KnobRow kTable[] = {
    {"mode", "Mode", "", 0, 2, 0, ParamKind::Stepped},
    {"cutoff_hz", "Cutoff", "Hz", 20, 20000, 1000, ParamKind::Continuous},
    {"resonance", "Resonance", "%", 0, 1, 0.2f, ParamKind::Continuous},
    {"cv_amount", "CV amount", "oct", 0, 4, 1, ParamKind::Continuous},
};

TEST(VcfNodeKnobs, MatchTheTable) {
    VcfNode f;
    expectKnobTable(f, kTable);
}

// Steady-state gain for a sine at `hz` through the filter.
double gainAt(double hz, double rate, float mode, float cutoff, float resonance, std::vector<int> blocks = {512},
              const std::vector<float>* control = nullptr, float cvAmount = 1.0f) {
    VcfNode f;
    f.prepare(rate);
    setKnob(f, "mode", mode);
    setKnob(f, "cutoff_hz", cutoff);
    setKnob(f, "resonance", resonance);
    setKnob(f, "cv_amount", cvAmount);
    const int frames = static_cast<int>(rate * 2);
    const std::vector<float> in = sine(hz, rate, frames);
    Render r;
    r.rate = rate;
    r.blocks = std::move(blocks);
    r.inputs = {&in, control};
    return peak(render(f, frames, r), frames / 2, frames);
}

// The trapezoidal SVF is prewarped: at its cutoff every mode has gain exactly 1 / k.
TEST(VcfNodeResponse, EveryModeHasGainOneOverKAtTheCutoff) {
    for (double rate : kRates) {
        for (float cutoff : {100.0f, 1000.0f, 5000.0f}) {
            for (float mode : {0.0f, 1.0f, 2.0f}) {
                SCOPED_TRACE(testing::Message() << rate << " Hz rate, cutoff " << cutoff << ", mode " << mode);
                EXPECT_NEAR(gainAt(cutoff, rate, mode, cutoff, 0.2f, {64, 1024, 37}), 1.0 / 1.6, 0.01);
            }
        }
    }
}

TEST(VcfNodeResponse, LowPassCutsAnOctaveAboveAndHighPassAnOctaveBelow) {
    // Two-pole slopes: about 12 dB per octave away from the cutoff.
    EXPECT_LT(gainAt(4000.0, 48000.0, 0, 1000.0f, 0.0f), 0.07);
    EXPECT_LT(gainAt(250.0, 48000.0, 1, 1000.0f, 0.0f), 0.07);
    EXPECT_NEAR(gainAt(100.0, 48000.0, 0, 1000.0f, 0.0f), 1.0, 0.02);
    EXPECT_NEAR(gainAt(10000.0, 48000.0, 1, 1000.0f, 0.0f), 1.0, 0.02);
}

TEST(VcfNodeResponse, FullResonanceActsAsNinetyEightPercent) {
    EXPECT_NEAR(gainAt(1000.0, 48000.0, 0, 1000.0f, 1.0f), 1.0 / 0.04, 0.5);
}

TEST(VcfNodeResponse, ConstantInputPassesLowAndVanishesHigh) {
    const std::vector<float> dc = constant(48000, 0.5f);
    for (float mode : {0.0f, 1.0f}) {
        VcfNode f;
        f.prepare(48000.0);
        setKnob(f, "mode", mode);
        Render r;
        r.inputs = {&dc};
        const std::vector<float> out = render(f, 48000, r);
        EXPECT_NEAR(out.back(), mode == 0.0f ? 0.5f : 0.0f, 1e-6f) << mode;
    }
}

TEST(VcfNodeControl, OneVoltOfControlRaisesTheCutoffByCvAmountOctaves) {
    const std::vector<float> up = constant(96000, 1.0f);
    // Cutoff 1000 Hz moved up one octave: a 2000 Hz sine is at the new cutoff.
    EXPECT_NEAR(gainAt(2000.0, 48000.0, 0, 1000.0f, 0.2f, {512}, &up, 1.0f), 1.0 / 1.6, 0.01);
    const std::vector<float> half = constant(96000, 0.5f);
    EXPECT_NEAR(gainAt(4000.0, 48000.0, 0, 1000.0f, 0.2f, {512}, &half, 4.0f), 1.0 / 1.6, 0.01);
}

TEST(VcfNodeControl, CutoffIsHeldAtTenHertz) {
    // 20 Hz pushed down four octaves would be 1.25 Hz; the filter stops at 10 Hz,
    // where a 10 Hz sine sees the cutoff gain.
    const std::vector<float> down = constant(96000, -4.0f);
    EXPECT_NEAR(gainAt(10.0, 48000.0, 0, 20.0f, 0.2f, {512}, &down, 1.0f), 1.0 / 1.6, 0.02);
}

TEST(VcfNodeInputs, NothingInTheAudioInputGivesSilence) {
    VcfNode f;
    f.prepare(48000.0);
    setKnob(f, "resonance", 1);
    AudioBuffer out(2, 64);
    std::fill(out.data.begin(), out.data.end(), 0.7f);
    const AudioBuffer* none[] = {nullptr};
    ProcessContext ctx;
    ctx.frames = 64;
    f.process(ctx, none, out);
    for (float s : out.data) ASSERT_EQ(s, 0.0f);
}

TEST(VcfNodeState, DecaysToExactZeroAfterTheInputStops) {
    VcfNode f;
    f.prepare(48000.0);
    setKnob(f, "resonance", 0.9f);
    std::vector<float> in(48000 * 4, 0.0f);
    in[0] = 1.0f;
    Render r;
    r.inputs = {&in};
    const std::vector<float> out = render(f, static_cast<int>(in.size()), r);
    EXPECT_NE(out[10], 0.0f);
    EXPECT_EQ(out.back(), 0.0f);
}

TEST(VcfNodeState, ResetForgetsTheRinging) {
    VcfNode f;
    f.prepare(48000.0);
    const std::vector<float> in = sine(440.0, 48000.0, 4800);
    const std::vector<float> silence = constant(64, 0.0f);
    Render r;
    r.inputs = {&in};
    render(f, 4800, r);
    f.reset();
    Render quiet;
    quiet.inputs = {&silence};
    EXPECT_EQ(peak(render(f, 64, quiet), 0, 64), 0.0);
}

}  // namespace
}  // namespace ostrel::engine
