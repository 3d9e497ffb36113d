#include "devices/LfoNode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ModuleHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

constexpr KnobRow kTable[] = {
    {"rate_hz", "Rate", "Hz", 0.01f, 50, 2, ParamKind::Continuous},
    {"waveform", "Wave", "", 0, 4, 0, ParamKind::Stepped},
    {"depth", "Depth", "%", 0, 1, 1, ParamKind::Continuous},
    {"bipolar", "Bipolar", "", 0, 1, 1, ParamKind::OnOff},
};

// xorshift32 values after seed 12345, worked out by hand: steps 1 to 3.
constexpr float kFirstHeld = 0.553877354f;
constexpr float kSecondHeld = -0.209654629f;
constexpr float kThirdHeld = 0.311540604f;

TEST(LfoNodeKnobs, MatchTheTable) {
    LfoNode l;
    expectKnobTable(l, kTable);
}

TEST(LfoNodeRate, CyclesAtTheRateAtEveryRateAndBlockSize) {
    for (double rate : kRates) {
        for (const std::vector<int>& blocks : {std::vector<int>{64}, {1024}, {7, 300, 64}}) {
            LfoNode l;
            l.prepare(rate);
            setKnob(l, "rate_hz", 5);
            Render r;
            r.rate = rate;
            r.blocks = blocks;
            const int frames = static_cast<int>(rate * 4);
            EXPECT_NEAR(measureFrequency(render(l, frames, r), 0, frames, rate), 5.0, 1e-3) << rate;
        }
    }
}

TEST(LfoNodeShape, UnipolarSwingsFromZeroToDepth) {
    LfoNode l;
    l.prepare(48000.0);
    setKnob(l, "bipolar", 0);
    setKnob(l, "depth", 1);
    setKnob(l, "rate_hz", 10);
    const std::vector<float> out = render(l, 48000);
    const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
    EXPECT_NEAR(*lo, 0.0f, 1e-4f);
    EXPECT_NEAR(*hi, 1.0f, 1e-4f);
}

TEST(LfoNodeShape, SquareIsHighForTheFirstHalfOfEachCycle) {
    LfoNode l;
    l.prepare(48000.0);
    setKnob(l, "waveform", 3);
    setKnob(l, "depth", 0.5f);
    setKnob(l, "rate_hz", 10);  // 4800 frames a cycle
    const std::vector<float> out = render(l, 9600);
    EXPECT_EQ(out[0], 0.5f);
    // One frame either side of each edge: the phase is a running sum.
    EXPECT_EQ(out[2398], 0.5f);
    EXPECT_EQ(out[2402], -0.5f);
    EXPECT_EQ(out[4798], -0.5f);
    EXPECT_EQ(out[4802], 0.5f);
}

TEST(LfoNodeRestart, RisingEdgeRestartsTheCycle) {
    LfoNode l;
    l.prepare(48000.0);
    setKnob(l, "waveform", 2);  // saw: -1 at phase 0
    std::vector<float> trigger = constant(4800, 0.0f);
    std::fill(trigger.begin() + 1000, trigger.begin() + 1500, 1.0f);
    std::fill(trigger.begin() + 3000, trigger.end(), 1.0f);
    Render r;
    r.inputs = {&trigger};
    r.blocks = {128};
    const std::vector<float> out = render(l, 4800, r);
    EXPECT_EQ(out[1000], -1.0f);
    EXPECT_GT(out[1499], out[1000]);  // a held trigger does not restart again
    EXPECT_EQ(out[3000], -1.0f);
    EXPECT_GT(out[999], -0.99f);
}

TEST(LfoNodeRandom, HoldsOneValuePerCycleFromTheKnownSequence) {
    LfoNode l;
    l.prepare(48000.0);
    setKnob(l, "waveform", 4);
    setKnob(l, "rate_hz", 10);
    const std::vector<float> out = render(l, 14400);
    EXPECT_EQ(out[0], kFirstHeld);
    EXPECT_EQ(out[4799], kFirstHeld);
    EXPECT_EQ(out[4800], kSecondHeld);
    EXPECT_EQ(out[9599], kSecondHeld);
    EXPECT_EQ(out[9600], kThirdHeld);
}

TEST(LfoNodeRandom, ResetStartsTheSequenceAgainAndARestartDrawsAValue) {
    LfoNode l;
    l.prepare(48000.0);
    setKnob(l, "waveform", 4);
    render(l, 48000);
    l.reset();
    EXPECT_EQ(render(l, 1)[0], kFirstHeld);

    l.reset();
    const std::vector<float> trigger = constant(10, 1.0f);
    Render r;
    r.inputs = {&trigger};
    EXPECT_EQ(render(l, 10, r)[0], kSecondHeld);
}

}  // namespace
}  // namespace ostrel::engine
