#include "devices/AdsrNode.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// A gate high from 0 to `off` and again from `onAgain` on.
Signal play(AdsrNode& a, Knobs knobs, int frames, int off, int onAgain = -1, double rate = 48000.0) {
    Signal gate = constant(frames, 0.0f);
    std::fill(gate.begin(), gate.begin() + off, 1.0f);
    if (onAgain >= 0) std::fill(gate.begin() + onAgain, gate.end(), 1.0f);
    a.prepare(rate);
    setKnobs(a, knobs);
    const Render r{.rate = rate, .inputs = {&gate}};
    return render(a, frames, r);
}

TEST(AdsrNode, AttackIsLinearForItsTimeAtEveryRate) {
    for (double rate : kRates) {
        AdsrNode a;
        const int attack = static_cast<int>(rate * 0.01);
        const Signal out = play(a, {{"attack_ms", 10}}, attack * 4, attack * 4, -1, rate);
        for (int i = 0; i < attack - 1; i += 7)
            ASSERT_NEAR(out[static_cast<std::size_t>(i)], (i + 1.0f) / attack, 1e-4f) << rate << " frame " << i;
        // Full level within a frame of the attack time (float steps), then the decay.
        const auto top = std::max_element(out.begin(), out.end()) - out.begin();
        EXPECT_TRUE(out[static_cast<std::size_t>(top)] == 1.0f && std::abs(top - (attack - 1)) <= 1) << rate << " " << top;
    }
}

TEST(AdsrNode, DecaysToExactlySustainThenReleasesToExactZero) {
    AdsrNode a;
    const Signal out = play(a, {{"attack_ms", 1}, {"decay_ms", 100}, {"sustain", 0.4f}, {"release_ms", 50}}, 48000, 24000);
    EXPECT_NEAR(out[48 + 4800], 0.4f + 0.6f * 0.01f, 0.002f);  // 99 % of the way in the decay time
    EXPECT_EQ(out[23999], 0.4f);
    EXPECT_NEAR(out[24000 + 2399], 0.4f * 0.01f, 0.4f * 0.002f);  // about 1 % after 50 ms
    EXPECT_EQ(out.back(), 0.0f);
    EXPECT_EQ(a.stage(), AdsrNode::Stage::Idle);
}

TEST(AdsrNode, GateCountsAsOnOnlyAboveOneHalf) {
    AdsrNode a;
    const Signal half = constant(1000, 0.5f), above = constant(1000, 0.51f);
    EXPECT_EQ(render(a, 1000, {.inputs = {&half}}), constant(1000, 0.0f));
    EXPECT_GT(peak(render(a, 1000, {.inputs = {&above}})), 0.0);
}

}  // namespace
}  // namespace ostrel::engine
