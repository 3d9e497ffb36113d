#include "devices/VcaNode.h"

#include <gtest/gtest.h>

#include "ModuleHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

TEST(VcaNodeKnobs, MatchTheTable) {
    constexpr KnobRow kTable[] = {{"level", "Level", "%", 0, 2, 1, ParamKind::Continuous}};
    VcaNode v;
    expectKnobTable(v, kTable);
}

TEST(VcaNodeGain, LevelTwoDoublesTheAudio) {
    VcaNode v;
    setKnob(v, "level", 2);
    const std::vector<float> in = sine(440.0, 48000.0, 256, 0.3f);
    Render r;
    r.inputs = {&in};
    const std::vector<float> out = render(v, 256, r);
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_FLOAT_EQ(out[i], 2.0f * in[i]);
}

TEST(VcaNodeGain, ControlMultipliesAndANegativeControlInverts) {
    VcaNode v;
    const std::vector<float> in = constant(64, 0.5f);
    const std::vector<float> control = {0.0f, 0.25f, 1.0f, -1.0f};
    std::vector<float> ctl(64);
    for (std::size_t i = 0; i < ctl.size(); ++i) ctl[i] = control[i % 4];
    Render r;
    r.inputs = {&in, &ctl};
    const std::vector<float> out = render(v, 64, r);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.125f);
    EXPECT_EQ(out[2], 0.5f);
    EXPECT_EQ(out[3], -0.5f);
}

TEST(VcaNodeInputs, NothingInTheAudioInputGivesSilenceEvenWithAControl) {
    VcaNode v;
    const std::vector<float> ctl = constant(32, 1.0f);
    Render r;
    r.channels = 2;
    r.inputs = {nullptr, &ctl};
    for (const std::vector<float>& channel : renderChannels(v, 32, r))
        for (float s : channel) ASSERT_EQ(s, 0.0f);
}

}  // namespace
}  // namespace ostrel::engine
