#include "devices/AdsrNode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ModuleHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

TEST(AdsrNodeKnobs, MatchTheTable) {
    constexpr KnobRow kTable[] = {
        {"attack_ms", "Attack", "ms", 0.5f, 5000, 5, ParamKind::Continuous},
        {"decay_ms", "Decay", "ms", 1, 5000, 250, ParamKind::Continuous},
        {"sustain", "Sustain", "%", 0, 1, 0.6f, ParamKind::Continuous},
        {"release_ms", "Release", "ms", 1, 10000, 300, ParamKind::Continuous},
    };
    AdsrNode a;
    expectKnobTable(a, kTable);
}

std::vector<float> gateSignal(int frames, int on, int off) {
    std::vector<float> g(static_cast<std::size_t>(frames), 0.0f);
    for (int i = on; i < off && i < frames; ++i) g[static_cast<std::size_t>(i)] = 1.0f;
    return g;
}

TEST(AdsrNodeStages, AttackIsLinearForItsTimeAtEveryRateAndBlockSize) {
    for (double rate : kRates) {
        for (const std::vector<int>& blocks : {std::vector<int>{64}, {1024}, {5, 511}}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, first block " << blocks[0]);
            AdsrNode a;
            a.prepare(rate);
            setKnob(a, "attack_ms", 10);
            const int attack = static_cast<int>(rate * 0.01);
            const std::vector<float> gate = gateSignal(attack * 4, 0, attack * 4);
            Render r;
            r.rate = rate;
            r.blocks = blocks;
            r.inputs = {&gate};
            const std::vector<float> out = render(a, attack * 4, r);
            for (int i = 0; i < attack - 1; i += 7)
                ASSERT_NEAR(out[static_cast<std::size_t>(i)], (i + 1.0f) / attack, 1e-4f) << i;
            // Full level within a frame of the attack time (float steps), then the decay.
            const auto top = std::max_element(out.begin(), out.end()) - out.begin();
            EXPECT_EQ(out[static_cast<std::size_t>(top)], 1.0f);
            EXPECT_NEAR(static_cast<double>(top), attack - 1.0, 1.0);
            EXPECT_LT(out[static_cast<std::size_t>(attack + 2)], 1.0f);
        }
    }
}

TEST(AdsrNodeStages, DecaysToExactlySustainAndHoldsItWhileTheGateIsHigh) {
    AdsrNode a;
    a.prepare(48000.0);
    setKnob(a, "attack_ms", 1);
    setKnob(a, "decay_ms", 100);
    setKnob(a, "sustain", 0.4f);
    const std::vector<float> gate = gateSignal(48000, 0, 48000);
    Render r;
    r.inputs = {&gate};
    const std::vector<float> out = render(a, 48000, r);
    // A decay covers 99 % of its way in its time.
    EXPECT_NEAR(out[48 + 4800], 0.4f + 0.6f * 0.01f, 0.002f);
    EXPECT_EQ(out[30000], 0.4f);
    EXPECT_EQ(out.back(), 0.4f);
    EXPECT_EQ(a.stage(), AdsrNode::Stage::Sustain);
}

TEST(AdsrNodeStages, SustainFollowsTheKnobWhileHeld) {
    AdsrNode a;
    a.prepare(48000.0);
    const std::vector<float> gate = gateSignal(48000, 0, 48000);
    Render r;
    r.inputs = {&gate};
    render(a, 48000, r);
    setKnob(a, "sustain", 0.9f);
    EXPECT_EQ(render(a, 10, r)[0], 0.9f);
}

TEST(AdsrNodeStages, ReleaseFallsToExactZeroAndGoesIdle) {
    AdsrNode a;
    a.prepare(48000.0);
    setKnob(a, "release_ms", 50);
    const std::vector<float> gate = gateSignal(48000, 0, 24000);
    Render r;
    r.inputs = {&gate};
    const std::vector<float> out = render(a, 48000, r);
    const float held = out[23999];
    EXPECT_NEAR(out[24000 + 2399], held * 0.01f, held * 0.002f);  // about 1 % after 50 ms
    EXPECT_EQ(out.back(), 0.0f);
    EXPECT_EQ(a.stage(), AdsrNode::Stage::Idle);
}

TEST(AdsrNodeStages, RetriggerDuringReleaseRisesFromTheCurrentLevel) {
    AdsrNode a;
    a.prepare(48000.0);
    setKnob(a, "release_ms", 1000);
    std::vector<float> gate = gateSignal(48000, 0, 24000);
    for (int i = 30000; i < 48000; ++i) gate[static_cast<std::size_t>(i)] = 1.0f;
    Render r;
    r.inputs = {&gate};
    const std::vector<float> out = render(a, 48000, r);
    EXPECT_GT(out[29999], 0.1f);
    EXPECT_GT(out[30000], out[29999]);
    EXPECT_NEAR(out[30000] - out[29999], 1.0f / 240.0f, 1e-4f);  // one attack step of 5 ms
}

TEST(AdsrNodeGate, CountsAsOnOnlyAboveOneHalf) {
    AdsrNode a;
    a.prepare(48000.0);
    const std::vector<float> halfway = constant(1000, 0.5f);
    Render r;
    r.inputs = {&halfway};
    EXPECT_EQ(peak(render(a, 1000, r), 0, 1000), 0.0);
}

TEST(AdsrNodeGate, NothingPluggedInOutputsZero) {
    AdsrNode a;
    a.prepare(48000.0);
    Render r;
    r.channels = 2;
    for (const std::vector<float>& channel : renderChannels(a, 256, r))
        for (float s : channel) ASSERT_EQ(s, 0.0f);
}

TEST(AdsrNodeLifecycle, ResetGoesIdleAtZero) {
    AdsrNode a;
    a.prepare(48000.0);
    const std::vector<float> gate = constant(1000, 1.0f);
    Render r;
    r.inputs = {&gate};
    render(a, 1000, r);
    a.reset();
    EXPECT_EQ(a.stage(), AdsrNode::Stage::Idle);
    // The gate is still high: after a reset it counts as a new key press.
    EXPECT_FLOAT_EQ(render(a, 1, r)[0], 1.0f / 240.0f);
}

}  // namespace
}  // namespace ostrel::engine
