#include "devices/modules/AttenuverterNode.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

TEST(AttenuverterNode, FlipsScalesAndOffsetsTheSignalAndGivesTheOffsetWhenUnplugged) {
    AttenuverterNode a;
    setKnob(a, "amount", -0.5f);
    setKnob(a, "offset", 0.25f);
    const Signal in = {1.0f, -1.0f, 0.0f, 0.5f};
    const Render r{.inputs = {&in}};
    EXPECT_EQ(render(a, 4, r), (Signal{-0.25f, 0.75f, 0.25f, 0.0f}));
    EXPECT_EQ(render(a, 4), constant(4, 0.25f));
}

}  // namespace
}  // namespace ostrel::engine
