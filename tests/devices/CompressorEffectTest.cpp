#include "devices/CompressorEffect.h"

#include <gtest/gtest.h>

#include <cmath>

#include "EffectHarness.h"

namespace ostrel::engine {
namespace {

using test::runEffect;
using test::setKnob;
using test::Stereo;

TEST(CompressorGain, ConstantFullScaleSettlesAt13AndAHalfDecibelsDown) {
    // Threshold -18, ratio 4 (the defaults): (0 - -18) * 0.75 = 13.5 dB of reduction.
    for (double rate : test::kRates) {
        CompressorEffect fx;
        fx.prepare(rate);
        const int frames = static_cast<int>(rate * 0.5);
        const std::vector<float> ones(static_cast<std::size_t>(frames), 1.0f);
        const Stereo out = runEffect(fx, {ones, ones}, rate, 256);
        const float expected = std::pow(10.0f, -13.5f / 20.0f);  // about 0.211
        EXPECT_NEAR(out.left.back(), expected, 1e-4f) << rate;
        EXPECT_NEAR(out.right.back(), expected, 1e-4f) << rate;
    }
}

TEST(CompressorGain, RatioOneAppliesOnlyTheMakeupBlendedByMix) {
    CompressorEffect fx;
    fx.prepare(48000);
    setKnob(fx, "ratio", 1);
    setKnob(fx, "makeup_db", 6);
    setKnob(fx, "mix", 0.5f);
    const Stereo in{test::sine(100, 48000, 4800, 1.0f), {}};
    const Stereo out = runEffect(fx, in, 48000);
    const float g = std::pow(10.0f, 6.0f / 20.0f) * 0.5f + 0.5f;
    for (std::size_t i = 0; i < in.left.size(); ++i) ASSERT_NEAR(out.left[i], in.left[i] * g, 1e-5f) << i;
}

TEST(CompressorGain, MixZeroPassesTheInputUnchanged) {
    CompressorEffect fx;
    fx.prepare(48000);
    setKnob(fx, "mix", 0);
    setKnob(fx, "threshold_db", -60);
    setKnob(fx, "makeup_db", 24);
    const Stereo in{test::sine(100, 48000, 4800, 1.0f), test::sine(50, 48000, 4800, 0.3f)};
    const Stereo out = runEffect(fx, in, 48000);
    EXPECT_EQ(out.left, in.left);
    EXPECT_EQ(out.right, in.right);
}

TEST(CompressorGain, QuietSignalBelowTheThresholdIsLeftAlone) {
    CompressorEffect fx;
    fx.prepare(48000);
    const Stereo in{test::sine(440, 48000, 4800, 0.05f), {}};  // about -26 dBFS peak
    const Stereo out = runEffect(fx, in, 48000);
    for (std::size_t i = 0; i < in.left.size(); ++i) ASSERT_NEAR(out.left[i], in.left[i], 1e-6f) << i;
}

TEST(CompressorDetector, LinkedDetectorTurnsBothSidesDownTogether) {
    CompressorEffect fx;
    fx.prepare(48000);
    const int frames = 24000;
    const std::vector<float> loud(frames, 1.0f);
    const std::vector<float> quiet(frames, 0.01f);
    const Stereo out = runEffect(fx, {loud, quiet}, 48000);
    // The quiet right side is turned down by exactly the left side's gain.
    EXPECT_NEAR(out.right.back() / 0.01f, out.left.back(), 1e-5f);
    EXPECT_LT(out.right.back(), 0.005f);
}

TEST(CompressorTiming, GainComesBackAfterTheReleaseTime) {
    CompressorEffect fx;
    fx.prepare(48000);
    setKnob(fx, "attack_ms", 1);
    setKnob(fx, "release_ms", 50);
    const int frames = 48000;
    std::vector<float> in(frames, 0.02f);  // -34 dBFS, under the threshold
    std::fill(in.begin(), in.begin() + 4800, 1.0f);
    const Stereo out = runEffect(fx, {in, {}}, 48000);
    // Still held down shortly after the burst, free again many release times later.
    EXPECT_LT(out.left[4810] / 0.02f, 0.5f);
    EXPECT_NEAR(out.left.back() / 0.02f, 1.0f, 1e-4f);
}

TEST(CompressorInput, NothingPluggedInGivesSilence) {
    CompressorEffect fx;
    fx.prepare(48000);
    setKnob(fx, "makeup_db", 12);
    AudioBuffer out(2, 128);
    std::fill(out.data.begin(), out.data.end(), 0.5f);
    ProcessContext ctx;
    ctx.frames = 128;
    const AudioBuffer* none[] = {nullptr};
    fx.process(ctx, none, out);
    for (float v : out.data) ASSERT_EQ(v, 0.0f);
}

}  // namespace
}  // namespace ostrel::engine
