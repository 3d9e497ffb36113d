#include "devices/VcoNode.h"

#include <numeric>

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

Signal play(Knobs knobs, std::vector<const Signal*> inputs = {}, double rate = 48000.0, int frames = 48000) {
    VcoNode v;
    v.prepare(rate);
    setKnobs(v, knobs);
    const Render r{.rate = rate, .inputs = std::move(inputs)};
    return render(v, frames, r);
}

double centsAboveMiddleC(const Signal& out, double rate = 48000.0) {
    return cents(measureFrequency(out, 0, static_cast<int>(out.size()), rate), kMiddleC);
}

TEST(VcoNode, PlaysMiddleCAtEveryRateAndThePitchInputCoarseFineAndFmDepthShiftIt) {
    for (double rate : kRates)
        for (float wave : {0.0f, 2.0f})
            EXPECT_NEAR(centsAboveMiddleC(play({{"waveform", wave}}, {}, rate, static_cast<int>(rate)), rate), 0.0, 0.05)
                << rate << " Hz, wave " << wave;
    const Signal octave = constant(48000, 1.0f), half = constant(48000, 0.5f);
    EXPECT_NEAR(centsAboveMiddleC(play({{"waveform", 0}}, {&octave})), 1200.0, 0.05);
    EXPECT_NEAR(centsAboveMiddleC(play({{"waveform", 0}, {"coarse", 12}, {"fine", -100}})), 1100.0, 0.05);
    EXPECT_NEAR(centsAboveMiddleC(play({{"waveform", 0}, {"fm_depth", 2}}, {nullptr, &half})), 1200.0, 0.05);
}

TEST(VcoNode, FrequencyIsHeldBelowNearlyHalfTheRateAndANotANumberPitchStaysBounded) {
    const Signal high = constant(48000, 10.0f), bad = constant(48000, std::nanf(""));
    EXPECT_NEAR(measureFrequency(play({{"waveform", 0}}, {&high}), 0, 48000, 48000.0), 0.45 * 48000.0, 0.45 * 48);
    for (float s : play({}, {&bad})) ASSERT_TRUE(std::isfinite(s));
}

TEST(VcoNode, PulseWidthSetsTheDutyCycle) {
    for (float pw : {0.25f, 0.75f}) {
        const Signal out = play({{"waveform", 3}, {"level", 1}, {"pulse_width", pw}});
        EXPECT_NEAR(std::accumulate(out.begin(), out.end(), 0.0) / out.size(), 2.0 * pw - 1.0, 0.01) << pw;
    }
}

}  // namespace
}  // namespace ostrel::engine
