#include "devices/NoiseNode.h"

#include <numeric>

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::dev;

TEST(NoiseNode, StartsWithTheKnownXorshiftValuesAfterEveryResetButNotAfterPrepare) {
    // xorshift32 from 0x92D68CA2, worked out by hand and scaled to -1..1.
    const Signal known = {-0.663107216f, 0.162927032f, -0.0388076901f, -0.0649310946f};
    NoiseNode n;
    setKnob(n, "level", 1);
    EXPECT_EQ(render(n, 4), known);
    n.prepare(44100.0);
    EXPECT_NE(render(n, 4), known);
    n.reset();
    EXPECT_EQ(render(n, 4), known);
}

TEST(NoiseNode, StaysWithinTheLevelAndAveragesNearZero) {
    NoiseNode n;
    const Signal out = render(n, 480000);
    EXPECT_LE(peak(out, 0, 480000), 0.3);
    EXPECT_GT(peak(out, 0, 480000), 0.29);
    EXPECT_NEAR(std::accumulate(out.begin(), out.end(), 0.0) / out.size(), 0.0, 0.003);
}

}  // namespace
}  // namespace ostrel::engine
