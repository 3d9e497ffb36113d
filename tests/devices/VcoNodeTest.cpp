#include "devices/VcoNode.h"

#include <gtest/gtest.h>

#include <numeric>

#include "ModuleHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

constexpr KnobRow kTable[] = {
    {"waveform", "Wave", "", 0, 3, 2, ParamKind::Stepped},
    {"coarse", "Coarse", "st", -36, 36, 0, ParamKind::Continuous},
    {"fine", "Fine", "ct", -100, 100, 0, ParamKind::Continuous},
    {"pulse_width", "Pulse width", "%", 0.05f, 0.95f, 0.5f, ParamKind::Continuous},
    {"level", "Level", "%", 0, 1, 0.5f, ParamKind::Continuous},
    {"fm_depth", "FM depth", "oct", 0, 4, 0, ParamKind::Continuous},
};

constexpr double kMiddleC = 261.6255653005986;

TEST(VcoNodeKnobs, MatchTheTable) {
    VcoNode v;
    expectKnobTable(v, kTable);
}

double measure(VcoNode& v, double rate, const Render& base, float wave) {
    v.prepare(rate);
    setKnob(v, "waveform", wave);
    Render r = base;
    r.rate = rate;
    const int frames = static_cast<int>(rate);
    return measureFrequency(render(v, frames, r), 0, frames, rate);
}

TEST(VcoNodePitch, UnpluggedPlaysMiddleCAtEveryRateAndBlockSize) {
    for (double rate : kRates) {
        for (const std::vector<int>& blocks : {std::vector<int>{64}, {1024}, {1, 17, 512, 333}}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, first block " << blocks[0]);
            VcoNode v;
            Render r;
            r.blocks = blocks;
            EXPECT_NEAR(cents(measure(v, rate, r, 0), kMiddleC), 0.0, 0.05);
            EXPECT_NEAR(cents(measure(v, rate, r, 2), kMiddleC), 0.0, 0.05);
        }
    }
}

TEST(VcoNodePitch, OneOctaveOfPitchInputDoublesTheFrequency) {
    const int frames = 48000;
    const std::vector<float> octave = constant(frames, 1.0f);
    VcoNode v;
    Render r;
    r.inputs = {&octave};
    EXPECT_NEAR(cents(measure(v, 48000.0, r, 0), 523.2511306011972), 0.0, 0.05);
}

TEST(VcoNodePitch, CoarseAndFineShiftBySemitonesAndCents) {
    VcoNode v;
    setKnob(v, "coarse", 12);
    setKnob(v, "fine", -100);
    EXPECT_NEAR(cents(measure(v, 48000.0, {}, 0), kMiddleC), 1100.0, 0.05);
}

TEST(VcoNodePitch, FmInputBendsByDepthOctaves) {
    const std::vector<float> half = constant(48000, 0.5f);
    VcoNode v;
    setKnob(v, "fm_depth", 2);
    Render r;
    r.inputs = {nullptr, &half};
    EXPECT_NEAR(cents(measure(v, 48000.0, r, 0), kMiddleC), 1200.0, 0.05);
}

TEST(VcoNodePitch, FrequencyIsHeldBelowNearlyHalfTheRate) {
    const std::vector<float> high = constant(48000, 10.0f);
    VcoNode v;
    Render r;
    r.inputs = {&high};
    EXPECT_NEAR(measure(v, 48000.0, r, 0), 0.45 * 48000.0, 0.45 * 48000.0 * 1e-3);
}

TEST(VcoNodePitch, NotANumberOnThePitchInputStaysBounded) {
    const std::vector<float> bad = constant(4800, std::nanf(""));
    VcoNode v;
    v.prepare(48000.0);
    Render r;
    r.inputs = {&bad};
    const std::vector<float> out = render(v, 4800, r);
    for (float s : out) ASSERT_TRUE(std::isfinite(s));
}

TEST(VcoNodeWaves, StayWithinTheLevel) {
    for (float wave : {0.0f, 1.0f, 2.0f, 3.0f}) {
        SCOPED_TRACE(wave);
        VcoNode v;
        v.prepare(48000.0);
        setKnob(v, "waveform", wave);
        setKnob(v, "level", 0.8f);
        const std::vector<int> freqs = {0, 2, 4};
        for (int octave : freqs) {
            const std::vector<float> pitch = constant(9600, static_cast<float>(octave));
            Render r;
            r.inputs = {&pitch};
            const std::vector<float> out = render(v, 9600, r);
            EXPECT_LE(peak(out, 0, 9600), 0.8 + 1e-5);
            EXPECT_GT(peak(out, 0, 9600), 0.6);  // PolyBLEP rounds the top off high saws
        }
    }
}

TEST(VcoNodeWaves, PulseWidthSetsTheDutyCycle) {
    for (float pw : {0.25f, 0.5f, 0.75f}) {
        VcoNode v;
        v.prepare(48000.0);
        setKnob(v, "waveform", 3);
        setKnob(v, "level", 1);
        setKnob(v, "pulse_width", pw);
        const int frames = 48000;
        const std::vector<float> out = render(v, frames);
        const double mean = std::accumulate(out.begin(), out.end(), 0.0) / frames;
        EXPECT_NEAR(mean, 2.0 * pw - 1.0, 0.01) << pw;
    }
}

TEST(VcoNodeWaves, SawIsBandLimitedAroundItsJump) {
    // A naive saw jumps by 2 in one frame; PolyBLEP spreads the jump over two frames.
    VcoNode v;
    v.prepare(48000.0);
    setKnob(v, "level", 1);
    const std::vector<float> out = render(v, 4800);
    double largestStep = 0.0;
    for (std::size_t i = 1; i < out.size(); ++i) largestStep = std::max(largestStep, std::fabs(double(out[i]) - out[i - 1]));
    EXPECT_LT(largestStep, 1.5);
    EXPECT_GT(largestStep, 0.5);
}

TEST(VcoNodeLifecycle, ResetRestartsThePhase) {
    VcoNode v;
    v.prepare(48000.0);
    setKnob(v, "waveform", 0);
    const std::vector<float> first = render(v, 100);
    v.reset();
    EXPECT_EQ(render(v, 100), first);
}

}  // namespace
}  // namespace ostrel::engine
