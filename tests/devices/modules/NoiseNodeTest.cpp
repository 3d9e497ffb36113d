#include "devices/modules/NoiseNode.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

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

}  // namespace
}  // namespace ostrel::engine
