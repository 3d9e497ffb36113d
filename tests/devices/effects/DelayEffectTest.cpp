#include "devices/effects/DelayEffect.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

Stereo echo(DelayEffect& fx, Knobs knobs, const Stereo& in, double rate = 48000.0, std::vector<int> blocks = {512}) {
    fx.prepare(rate);
    setKnobs(fx, {{"mix", 1}, {"feedback", 0}});
    setKnobs(fx, knobs);
    return runEffect(fx, in, rate, std::move(blocks));
}

// Nonzero samples of one channel, as (frame, value) pairs.
std::vector<std::pair<int, float>> nonzero(const Signal& v) {
    std::vector<std::pair<int, float>> hits;
    for (std::size_t i = 0; i < v.size(); ++i)
        if (v[i] != 0.0f) hits.emplace_back(static_cast<int>(i), v[i]);
    return hits;
}

TEST(DelayEffect, FirstEchoLandsExactlyAtTimeMsAtEveryRateAndBlockSize) {
    for (double rate : kRates) {
        for (int block : {64, 512, 1000}) {
            DelayEffect fx;
            const int frames = static_cast<int>(rate * 0.25);
            const Stereo out = echo(fx, {{"time_ms", 100}}, {impulse(frames), impulse(frames)}, rate, {block});
            const int expected = static_cast<int>(std::lround(rate * 0.1));  // 4800 at 48 kHz
            EXPECT_EQ(nonzero(out.left), (std::vector<std::pair<int, float>>{{expected, 1.0f}})) << rate << ", " << block;
            EXPECT_EQ(nonzero(out.right), nonzero(out.left));
        }
    }
    // The clamp at L - 3 samples never binds at 2000 ms: 96000 samples at 48 kHz
    // against L - 3 = 96001, so the longest time echoes exactly on time.
    DelayEffect fx;
    EXPECT_EQ(nonzero(echo(fx, {{"time_ms", 2000}}, {impulse(96100), {}}).left),
              (std::vector<std::pair<int, float>>{{96000, 1.0f}}));
    EXPECT_EQ(fx.lineLength(), 96004);
}

// Regression: the delay time glided in single precision and stalled about five samples
// short of a 2 s target, so after a knob change echoes no longer landed on time.
TEST(DelayEffect, EchoLandsOnTimeAfterTheTimeKnobGlidesToANewValue) {
    DelayEffect fx;
    echo(fx, {{"time_ms", 1000}}, {constant(48000, 0.0f), {}});
    setKnob(fx, "time_ms", 2000);
    runEffect(fx, {constant(3 * 48000, 0.0f), {}}, 48000.0);
    EXPECT_EQ(nonzero(runEffect(fx, {impulse(96100), {}}, 48000.0).left),
              (std::vector<std::pair<int, float>>{{96000, 1.0f}}));
}

TEST(DelayEffect, PingPongEchoesAlternateSidesStartingLeftEachQuieter) {
    DelayEffect fx;
    const Stereo out = echo(fx, {{"time_ms", 10}, {"feedback", 0.6f}, {"ping_pong", 1}, {"tone_hz", 6000}},
                            {impulse(2880), constant(2880, 0.0f)});
    double previous = 1.0;
    for (int n = 1; n <= 5; ++n) {
        const double heard = energy(n % 2 == 1 ? out.left : out.right, n * 480 - 2, n * 480 + 470);
        EXPECT_EQ(energy(n % 2 == 1 ? out.right : out.left, n * 480 - 2, n * 480 + 470), 0.0) << n;
        EXPECT_LT(heard, previous) << n;
        previous = heard * 0.6 * 0.6;
    }
    // The mono sum enters the line: a left-only input echoes at half height.
    EXPECT_FLOAT_EQ(out.left[480], 0.5f);
}

// Regression: the read position was worked out in float, so w - delay a hair below 0
// plus L rounded to exactly L, and both taps read past the end of the line.
TEST(DelayEffect, TinyNegativeWriteMinusDelayStaysInsideTheLine) {
    // The smallest time above 1 ms: 48 samples plus a fraction far below the float
    // spacing at the line's length (about 0.008 samples near 96004).
    const float time = std::nextafter(1.0f, 2.0f);
    const float target = static_cast<float>(static_cast<double>(time) * 48.0);
    ASSERT_GT(target, 48.0f);
    ASSERT_EQ(static_cast<float>(96004.0f + (48.0f - target)), 96004.0f);  // the rounding that bit
    DelayEffect fx;
    const Stereo out = echo(fx, {{"time_ms", time}}, {impulse(200), {}});
    // At frame 48 the tap sits a hair before the impulse, at the end of the line.
    EXPECT_NEAR(out.left[48], 1.0f, 1e-4f);
    EXPECT_NEAR(out.left[49], 0.0f, 1e-4f);
}

}  // namespace
}  // namespace ostrel::engine
