#include "devices/DelayEffect.h"

#include <gtest/gtest.h>

#include <cmath>

#include "EffectHarness.h"

namespace ostrel::engine {
namespace {

using test::energy;
using test::impulse;
using test::runEffect;
using test::setKnob;
using test::Stereo;

// Nonzero samples of one channel, as (frame, value) pairs.
std::vector<std::pair<int, float>> nonzero(const std::vector<float>& v) {
    std::vector<std::pair<int, float>> hits;
    for (std::size_t i = 0; i < v.size(); ++i)
        if (v[i] != 0.0f) hits.emplace_back(static_cast<int>(i), v[i]);
    return hits;
}

TEST(DelayEcho, FirstEchoLandsExactlyAtTimeMsAtEveryRateAndBlockSize) {
    for (double rate : test::kRates) {
        for (int block : {64, 512, 1000}) {
            DelayEffect fx;
            setKnob(fx, "time_ms", 100);
            setKnob(fx, "feedback", 0);
            setKnob(fx, "mix", 1);
            fx.prepare(rate);
            const int frames = static_cast<int>(rate * 0.25);
            const Stereo out = runEffect(fx, {impulse(frames), impulse(frames)}, rate, block);
            const int expected = static_cast<int>(std::lround(rate * 0.1));  // 4800 at 48 kHz
            const auto hits = nonzero(out.left);
            ASSERT_EQ(hits.size(), 1u) << rate << " Hz, block " << block;
            EXPECT_EQ(hits[0].first, expected);
            EXPECT_FLOAT_EQ(hits[0].second, 1.0f);
            EXPECT_EQ(nonzero(out.right), hits);
        }
    }
}

TEST(DelayEcho, TwoSecondsEchoesAfterTwoSecondsBecauseTheLineHasRoomToSpare) {
    // 2000 ms is 96000 samples at 48 kHz, under the clamp of L - 3 = 96001.
    DelayEffect fx;
    fx.prepare(48000);
    ASSERT_EQ(fx.lineLength(), 96004);
    setKnob(fx, "time_ms", 2000);
    setKnob(fx, "feedback", 0);
    setKnob(fx, "mix", 1);
    const int frames = 96100;
    const Stereo out = runEffect(fx, {impulse(frames), {}}, 48000);
    const auto hits = nonzero(out.left);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].first, 96000);
}

TEST(DelayEcho, MixZeroPassesTheInputUnchanged) {
    DelayEffect fx;
    fx.prepare(48000);
    setKnob(fx, "mix", 0);
    setKnob(fx, "time_ms", 5);
    const Stereo in{test::sine(440, 48000, 4800), test::sine(660, 48000, 4800)};
    const Stereo out = runEffect(fx, in, 48000, 256);
    EXPECT_EQ(out.left, in.left);
    EXPECT_EQ(out.right, in.right);
}

TEST(DelayEcho, FeedbackRepeatsFadeByTheFeedbackFactor) {
    DelayEffect fx;
    fx.prepare(48000);
    setKnob(fx, "time_ms", 10);  // 480 samples
    setKnob(fx, "feedback", 0.5f);
    setKnob(fx, "mix", 1);
    setKnob(fx, "tone_hz", 20000);
    const Stereo out = runEffect(fx, {impulse(2400), {}}, 48000);
    // The tone filter has unity gain at DC, so each repeat's sum is feedback times the last.
    auto sum = [&](int echo) {
        double s = 0;
        for (int i = echo * 480 - 2; i < echo * 480 + 400; ++i) s += out.left[static_cast<std::size_t>(i)];
        return s;
    };
    EXPECT_NEAR(sum(1), 1.0, 1e-6);
    EXPECT_NEAR(sum(2), 0.5, 1e-3);
    EXPECT_NEAR(sum(3), 0.25, 1e-3);
}

TEST(DelayEcho, ToneDarkensTheRepeatsButNotTheFirstEcho) {
    DelayEffect fx;
    fx.prepare(48000);
    setKnob(fx, "time_ms", 10);
    setKnob(fx, "feedback", 0.9f);
    setKnob(fx, "mix", 1);
    setKnob(fx, "tone_hz", 1000);
    const Stereo out = runEffect(fx, {impulse(1500), {}}, 48000);
    EXPECT_FLOAT_EQ(out.left[480], 1.0f);
    EXPECT_EQ(out.left[481], 0.0f);
    // The second echo is smeared by the low-pass: its peak is well under its sum.
    const float peak = out.left[960];
    double sum = 0;
    for (int i = 958; i < 1400; ++i) sum += out.left[static_cast<std::size_t>(i)];
    EXPECT_LT(peak, 0.5 * sum);
    EXPECT_GT(out.left[961], 0.0f);
}

TEST(DelayPingPong, EchoesAlternateSidesStartingLeftEachQuieterAndDarker) {
    DelayEffect fx;
    fx.prepare(48000);
    setKnob(fx, "time_ms", 10);
    setKnob(fx, "feedback", 0.6f);
    setKnob(fx, "mix", 1);
    setKnob(fx, "ping_pong", 1);
    setKnob(fx, "tone_hz", 6000);
    const int frames = 480 * 6;
    const Stereo out = runEffect(fx, {impulse(frames), std::vector<float>(frames, 0.0f)}, 48000);
    double previous = 0;
    for (int echo = 1; echo <= 5; ++echo) {
        const int from = echo * 480 - 2;
        const int to = echo * 480 + 470;
        const double left = energy(out.left, from, to);
        const double right = energy(out.right, from, to);
        const bool onLeft = echo % 2 == 1;
        EXPECT_GT(onLeft ? left : right, 0.0) << "echo " << echo;
        EXPECT_EQ(onLeft ? right : left, 0.0) << "echo " << echo;
        const double level = left + right;
        if (echo > 1) {
            EXPECT_LT(level, previous * 0.6 * 0.6) << "echo " << echo;
        }
        previous = level;
    }
    // The mono sum enters the line: a left-only input echoes at half height.
    EXPECT_FLOAT_EQ(out.left[480], 0.5f);
}

TEST(DelayEcho, UnpluggedInputLetsTheEchoesRingOut) {
    DelayEffect fx;
    fx.prepare(48000);
    setKnob(fx, "time_ms", 10);
    setKnob(fx, "feedback", 0.5f);
    setKnob(fx, "mix", 1);
    runEffect(fx, {impulse(100), {}}, 48000);  // the impulse enters the line
    const Stereo tail = runEffect(fx, {std::vector<float>(2000, 0.0f), {}}, 48000, 512, test::Input::Unplugged);
    EXPECT_FLOAT_EQ(tail.left[380], 1.0f);
    EXPECT_GT(energy(tail.left, 850, 1300), 0.0);
}

TEST(DelayEcho, TimeChangeGlidesInsteadOfJumping) {
    DelayEffect fx;
    fx.prepare(48000);
    setKnob(fx, "time_ms", 10);
    setKnob(fx, "feedback", 0);
    setKnob(fx, "mix", 1);
    const int frames = 4800;
    const std::vector<float> ones(frames, 1.0f);
    runEffect(fx, {ones, {}}, 48000);
    // A ramp input makes the tap position visible: out = in(t - delay).
    std::vector<float> ramp(frames);
    for (int i = 0; i < frames; ++i) ramp[static_cast<std::size_t>(i)] = static_cast<float>(i) * 1e-3f;
    setKnob(fx, "time_ms", 20);
    const Stereo out = runEffect(fx, {ramp, {}}, 48000);
    // A jump would move the tap by 480 samples between two frames; the glide moves it
    // by well under one.
    for (int i = 1000; i < frames; ++i) {
        const float step = out.left[static_cast<std::size_t>(i)] - out.left[static_cast<std::size_t>(i - 1)];
        ASSERT_GT(step, 0.0f) << i;
        ASSERT_LT(step, 1.01e-3f) << i;
    }
}

TEST(DelayState, ResetForgetsTheEchoesAndKeepsTheKnobs) {
    DelayEffect fx;
    fx.prepare(48000);
    setKnob(fx, "time_ms", 10);
    setKnob(fx, "mix", 1);
    runEffect(fx, {impulse(100), {}}, 48000);
    fx.reset();
    const Stereo after = runEffect(fx, {std::vector<float>(1000, 0.0f), {}}, 48000);
    EXPECT_EQ(energy(after.left, 0, 1000), 0.0);
    std::uint32_t index = 0;
    ASSERT_TRUE(fx.findParameter("time_ms", index));
    EXPECT_FLOAT_EQ(fx.params.value(index), 10.0f);
}

// Regression: the read position was worked out in float, so w - delay a hair below 0
// plus L rounded to exactly L, and both taps read past the end of the line.
TEST(DelayReadPosition, TinyNegativeWriteMinusDelayStaysInsideTheLine) {
    const double rate = 48000;
    // The smallest time above 1 ms: 48 samples plus a fraction far below the float
    // spacing at the line's length (about 0.008 samples near 96004).
    const float time = std::nextafter(1.0f, 2.0f);
    const float target = static_cast<float>(static_cast<double>(time) * rate / 1000.0);
    ASSERT_GT(target, 48.0f);
    ASSERT_LT(target - 48.0f, 1e-4f);
    ASSERT_EQ(static_cast<float>(96004.0f + (48.0f - target)), 96004.0f);  // the rounding that bit

    DelayEffect fx;
    fx.prepare(rate);
    setKnob(fx, "time_ms", time);
    setKnob(fx, "feedback", 0);
    setKnob(fx, "mix", 1);
    const Stereo out = runEffect(fx, {impulse(200), {}}, rate);
    // At frame 48 the tap sits a hair before the impulse, at the end of the line.
    EXPECT_NEAR(out.left[48], 1.0f, 1e-4f);
    EXPECT_NEAR(out.left[49], 0.0f, 1e-4f);
    for (float v : out.left) ASSERT_TRUE(std::isfinite(v));
}

}  // namespace
}  // namespace ostrel::engine
