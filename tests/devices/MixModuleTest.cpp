#include "devices/MixModule.h"

#include <gtest/gtest.h>

#include "ModuleHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

TEST(MixModuleKnobs, MatchTheTable) {
    constexpr KnobRow kTable[] = {
        {"level_1", "Level 1", "%", 0, 1, 0.5f, ParamKind::Continuous},
        {"level_2", "Level 2", "%", 0, 1, 0.5f, ParamKind::Continuous},
        {"level_3", "Level 3", "%", 0, 1, 0.5f, ParamKind::Continuous},
        {"level_4", "Level 4", "%", 0, 1, 0.5f, ParamKind::Continuous},
    };
    MixModule m;
    expectKnobTable(m, kTable);
}

TEST(MixModuleSum, InputsOneAndThreeAtDefaultLevelsGiveHalfTheirSum) {
    MixModule m;
    const std::vector<float> a = sine(440.0, 48000.0, 128, 0.5f);
    const std::vector<float> b = constant(128, 0.25f);
    Render r;
    r.inputs = {&a, nullptr, &b};
    const std::vector<float> out = render(m, 128, r);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_FLOAT_EQ(out[i], 0.5f * (a[i] + b[i]));
}

TEST(MixModuleSum, EachLevelScalesOnlyItsOwnInput) {
    MixModule m;
    setKnob(m, "level_1", 0);
    setKnob(m, "level_2", 1);
    setKnob(m, "level_3", 0.25f);
    setKnob(m, "level_4", 0.1f);
    const std::vector<float> one = constant(16, 1.0f);
    Render r;
    r.inputs = {&one, &one, &one, &one};
    EXPECT_FLOAT_EQ(render(m, 16, r)[5], 1.35f);
}

TEST(MixModuleSum, NothingPluggedInIsSilence) {
    MixModule m;
    AudioBuffer out(2, 32);
    std::fill(out.data.begin(), out.data.end(), 1.0f);
    ProcessContext ctx;
    ctx.frames = 32;
    m.process(ctx, {}, out);
    for (float s : out.data) ASSERT_EQ(s, 0.0f);
}

}  // namespace
}  // namespace ostrel::engine
