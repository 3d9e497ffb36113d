#include "devices/modules/MixModule.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

TEST(MixModule, EachLevelScalesOnlyItsOwnInputAndUnpluggedInputsAddNothing) {
    MixModule m;
    setKnobs(m, {{"level_1", 0}, {"level_2", 1}, {"level_3", 0.25f}});
    const Signal one = constant(16, 1.0f);
    const Render r{.inputs = {&one, &one, &one}};
    EXPECT_EQ(render(m, 16, r), constant(16, 1.25f));
    EXPECT_EQ(render(m, 16), constant(16, 0.0f));
}

}  // namespace
}  // namespace ostrel::engine
