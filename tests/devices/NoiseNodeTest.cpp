#include "devices/NoiseNode.h"

#include <gtest/gtest.h>

#include <numeric>

#include "ModuleHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

TEST(NoiseNodeKnobs, MatchTheTable) {
    constexpr KnobRow kTable[] = {{"level", "Level", "%", 0, 1, 0.3f, ParamKind::Continuous}};
    NoiseNode n;
    expectKnobTable(n, kTable);
}

TEST(NoiseNodeSequence, StartsWithTheKnownXorshiftValues) {
    // xorshift32 from 0x92D68CA2, worked out by hand and scaled to -1..1.
    NoiseNode n;
    setKnob(n, "level", 1);
    const std::vector<float> out = render(n, 4);
    EXPECT_EQ(out[0], -0.663107216f);
    EXPECT_EQ(out[1], 0.162927032f);
    EXPECT_EQ(out[2], -0.0388076901f);
    EXPECT_EQ(out[3], -0.0649310946f);
}

TEST(NoiseNodeSequence, TwoModulesResetTogetherPlayTheSameNoise) {
    NoiseNode a, b;
    render(a, 1000);
    a.reset();
    b.reset();
    EXPECT_EQ(render(a, 512), render(b, 512));
}

TEST(NoiseNodeSequence, PrepareDoesNotReseed) {
    NoiseNode a, b;
    const std::vector<float> first = render(a, 64);
    a.prepare(44100.0);
    EXPECT_NE(render(a, 64), first);
    EXPECT_EQ(render(b, 64), first);
}

TEST(NoiseNodeLevel, StaysWithinTheLevelAndAveragesNearZero) {
    NoiseNode n;
    Render r;
    r.blocks = {100, 1024};
    const std::vector<float> out = render(n, 480000, r);
    EXPECT_LE(peak(out, 0, 480000), 0.3);
    EXPECT_GT(peak(out, 0, 480000), 0.29);
    EXPECT_NEAR(std::accumulate(out.begin(), out.end(), 0.0) / out.size(), 0.0, 0.003);
}

}  // namespace
}  // namespace ostrel::engine
