#include "devices/EqEffect.h"

#include <gtest/gtest.h>

#include <cmath>

#include "EffectHarness.h"

namespace ostrel::engine {
namespace {

using test::runEffect;
using test::setKnob;
using test::Stereo;

// Gain in dB that the EQ gives a sine of `hz`, measured over whole cycles after the
// filters have settled.
double measuredGainDb(EqEffect& fx, double hz, double rate) {
    fx.prepare(rate);
    const int second = static_cast<int>(rate);
    const std::vector<float> in = test::sine(hz, rate, 3 * second, 0.25f);
    const Stereo out = runEffect(fx, {in, {}}, rate, 512);
    // Two seconds hold a whole number of cycles of every frequency used here.
    return 20 * std::log10(test::rms(out.left, second, 3 * second) / test::rms(in, second, 3 * second));
}

TEST(EqFlat, AllGainsAtZeroPassTheInputUnchanged) {
    EqEffect fx;
    fx.prepare(48000);
    const Stereo in{test::sine(1000, 48000, 4096), test::sine(77, 48000, 4096)};
    const Stereo out = runEffect(fx, in, 48000, 333);
    for (std::size_t i = 0; i < in.left.size(); ++i) {
        ASSERT_NEAR(out.left[i], in.left[i], 1e-6f) << i;
        ASSERT_NEAR(out.right[i], in.right[i], 1e-6f) << i;
    }
}

TEST(EqShelves, LowShelfBoostRaisesTheBassAndLeavesTheTrebleAlone) {
    for (double rate : test::kRates) {
        EqEffect fx;
        setKnob(fx, "low_freq", 80);
        setKnob(fx, "low_gain", 6);
        EXPECT_NEAR(measuredGainDb(fx, 20, rate), 6.0, 0.1) << rate;
        EXPECT_NEAR(measuredGainDb(fx, 5000, rate), 0.0, 0.1) << rate;
    }
}

TEST(EqShelves, HighShelfCutLowersTheTrebleAndLeavesTheBassAlone) {
    for (double rate : test::kRates) {
        EqEffect fx;
        setKnob(fx, "high_freq", 1000);
        setKnob(fx, "high_gain", -9);
        EXPECT_NEAR(measuredGainDb(fx, 15000, rate), -9.0, 0.1) << rate;
        EXPECT_NEAR(measuredGainDb(fx, 40, rate), 0.0, 0.1) << rate;
    }
}

TEST(EqBells, EachBellGivesItsGainAtItsCentre) {
    for (double rate : test::kRates) {
        EqEffect fx;
        setKnob(fx, "mid1_freq", 400);
        setKnob(fx, "mid1_gain", 9);
        setKnob(fx, "mid1_q", 2);
        setKnob(fx, "mid2_freq", 5000);
        setKnob(fx, "mid2_gain", -12);
        setKnob(fx, "mid2_q", 4);
        EXPECT_NEAR(measuredGainDb(fx, 400, rate), 9.0, 0.1) << rate;
        EXPECT_NEAR(measuredGainDb(fx, 5000, rate), -12.0, 0.1) << rate;
        // Far from both bells the level is untouched.
        EXPECT_NEAR(measuredGainDb(fx, 30, rate), 0.0, 0.1) << rate;
    }
}

TEST(EqBells, NarrowerQLeavesTheNeighbourhoodLessChanged) {
    EqEffect wide, narrow;
    for (EqEffect* fx : {&wide, &narrow}) {
        setKnob(*fx, "mid1_freq", 1000);
        setKnob(*fx, "mid1_gain", 12);
    }
    setKnob(wide, "mid1_q", 0.5f);
    setKnob(narrow, "mid1_q", 8);
    EXPECT_GT(measuredGainDb(wide, 1500, 48000), measuredGainDb(narrow, 1500, 48000) + 3.0);
}

TEST(EqClamp, CentreAboveTheLimitIsHeldAt045TimesTheRate) {
    // 12 kHz is past Nyquist at 22.05 kHz; the bell sits at 9922.5 Hz instead.
    EqEffect fx;
    setKnob(fx, "mid2_freq", 12000);
    setKnob(fx, "mid2_gain", 12);
    setKnob(fx, "mid2_q", 2);
    EXPECT_NEAR(measuredGainDb(fx, 9922.5, 22050), 12.0, 0.1);
}

TEST(EqOutput, OutputGainScalesByItsDecibels) {
    EqEffect fx;
    fx.prepare(48000);
    setKnob(fx, "output_gain", -24);
    const Stereo in{test::sine(1000, 48000, 2048), {}};
    const Stereo out = runEffect(fx, in, 48000);
    const float g = std::pow(10.0f, -24.0f / 20.0f);
    for (std::size_t i = 0; i < in.left.size(); ++i) ASSERT_NEAR(out.left[i], in.left[i] * g, 1e-7f) << i;
}

TEST(EqInput, NothingPluggedInGivesSilenceOnEveryChannel) {
    EqEffect fx;
    fx.prepare(48000);
    AudioBuffer out(3, 64);
    std::fill(out.data.begin(), out.data.end(), 0.7f);
    ProcessContext ctx;
    ctx.frames = 64;
    fx.process(ctx, {}, out);
    for (float v : out.data) ASSERT_EQ(v, 0.0f);
}

TEST(EqInput, MonoInputGivesTheSameFilteredSignalOnBothSides) {
    EqEffect fx;
    fx.prepare(44100);
    setKnob(fx, "low_gain", 8);
    setKnob(fx, "mid1_gain", -5);
    setKnob(fx, "high_gain", 3);
    const Stereo out = runEffect(fx, {test::sine(120, 44100, 5000), {}}, 44100);
    EXPECT_EQ(out.left, out.right);
    EXPECT_GT(test::rms(out.left, 0, 5000), 0.3);
}

TEST(EqCoefficients, AKnobChangeRecomputesBeforeTheNextBlockAndStillKnobsRecomputeNothing) {
    EqEffect fx;
    fx.prepare(48000);
    const Stereo in{test::sine(400, 48000, 512), {}};
    runEffect(fx, in, 48000, 128);
    EXPECT_EQ(fx.coefficientUpdates(), 1);
    runEffect(fx, in, 48000, 128);
    EXPECT_EQ(fx.coefficientUpdates(), 1);

    // A bell boost at 400 Hz shows in the very next block.
    setKnob(fx, "mid1_gain", 18);
    const Stereo boosted = runEffect(fx, in, 48000, 512);
    EXPECT_EQ(fx.coefficientUpdates(), 2);
    EXPECT_GT(test::rms(boosted.left, 256, 512), 3.0 * test::rms(in.left, 256, 512));
}

TEST(EqCoefficients, PrepareAtANewRateRecomputesForThatRate) {
    EqEffect fx;
    setKnob(fx, "mid1_freq", 1000);
    setKnob(fx, "mid1_gain", 10);
    EXPECT_NEAR(measuredGainDb(fx, 1000, 48000), 10.0, 0.1);
    // Same knobs, new rate: a stale section would put the bell at 2 kHz.
    EXPECT_NEAR(measuredGainDb(fx, 1000, 96000), 10.0, 0.1);
}

}  // namespace
}  // namespace ostrel::engine
