#include "devices/effects/CompressorEffect.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

Stereo compress(Knobs knobs, const Stereo& in, double rate = 48000.0) {
    CompressorEffect fx;
    fx.prepare(rate);
    setKnobs(fx, knobs);
    return runEffect(fx, in, rate, {256});
}

TEST(CompressorEffect, ConstantFullScaleSettles13AndAHalfDecibelsDown) {
    // Threshold -18, ratio 4 (the defaults): (0 - -18) * 0.75 = 13.5 dB of reduction.
    for (double rate : kRates) {
        const Signal ones = constant(static_cast<int>(rate * 0.5), 1.0f);
        const Stereo out = compress({}, {ones, ones}, rate);
        EXPECT_NEAR(out.left.back(), std::pow(10.0f, -13.5f / 20.0f), 1e-4f) << rate;
        EXPECT_EQ(out.right.back(), out.left.back()) << rate;
    }
}

TEST(CompressorEffect, LinkedDetectorTurnsBothSidesDownTogetherAndLetsGoAfterTheRelease) {
    const Stereo out = compress({}, {constant(24000, 1.0f), constant(24000, 0.01f)});
    // The quiet right side is turned down by exactly the left side's gain.
    EXPECT_NEAR(out.right.back() / 0.01f, out.left.back(), 1e-5f);
    Signal burst = constant(48000, 0.02f);  // -34 dBFS, under the threshold
    std::fill(burst.begin(), burst.begin() + 4800, 1.0f);
    const Signal after = compress({{"attack_ms", 1}, {"release_ms", 50}}, {burst, {}}).left;
    EXPECT_LT(after[4810] / 0.02f, 0.5f);
    EXPECT_NEAR(after.back() / 0.02f, 1.0f, 1e-4f);
}

}  // namespace
}  // namespace ostrel::engine
