#include "devices/modules/VcaNode.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

TEST(VcaNode, LevelAndControlMultiplyTheAudioANegativeControlInvertsAndNoAudioIsSilence) {
    VcaNode v;
    setKnob(v, "level", 2);
    const Signal in = constant(4, 0.5f), control = {0.0f, 0.25f, 1.0f, -1.0f};
    Render r;
    r.inputs = {&in};
    EXPECT_EQ(render(v, 4, r), constant(4, 1.0f));
    r.inputs = {&in, &control};
    EXPECT_EQ(render(v, 4, r), control);
    r.inputs = {nullptr, &control};
    EXPECT_EQ(render(v, 4, r), constant(4, 0.0f));
}

}  // namespace
}  // namespace ostrel::engine
