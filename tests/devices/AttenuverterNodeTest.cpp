#include "devices/AttenuverterNode.h"

#include <gtest/gtest.h>

#include "ModuleHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

TEST(AttenuverterNodeKnobs, MatchTheTable) {
    constexpr KnobRow kTable[] = {
        {"amount", "Amount", "", -2, 2, 1, ParamKind::Continuous},
        {"offset", "Offset", "", -1, 1, 0, ParamKind::Continuous},
    };
    AttenuverterNode a;
    expectKnobTable(a, kTable);
}

TEST(AttenuverterNodeScale, FlipsScalesAndOffsetsTheSignal) {
    AttenuverterNode a;
    setKnob(a, "amount", -0.5f);
    setKnob(a, "offset", 0.25f);
    const std::vector<float> in = {1.0f, -1.0f, 0.0f, 0.5f};
    Render r;
    r.inputs = {&in};
    EXPECT_EQ(render(a, 4, r), (std::vector<float>{-0.25f, 0.75f, 0.25f, 0.0f}));
}

TEST(AttenuverterNodeScale, UnpluggedGivesTheOffsetOnEveryChannel) {
    AttenuverterNode a;
    setKnob(a, "offset", -0.4f);
    Render r;
    r.channels = 3;
    for (const std::vector<float>& channel : renderChannels(a, 100, r))
        for (float s : channel) ASSERT_EQ(s, -0.4f);
}

}  // namespace
}  // namespace ostrel::engine
