#include "devices/effects/EffectPresets.h"

#include <set>

#include "DeviceHarness.h"
#include "devices/DeviceCatalog.h"

namespace ostrel::engine {
namespace {

using namespace harness;

TEST(FactoryPresets, NineteenByOstrelGroupedByEffectInBrowserOrderWithUniqueNames) {
    const std::vector<Preset>& presets = factoryPresets();
    ASSERT_EQ(presets.size(), 19u);
    EXPECT_TRUE(presets.front().name == "Slapback" && presets.back().name == "Vibrato");
    std::vector<std::string> order;
    std::set<std::pair<std::string, std::string>> seen;
    for (const Preset& preset : presets) {
        if (order.empty() || order.back() != preset.deviceId) order.push_back(preset.deviceId);
        EXPECT_TRUE(seen.emplace(preset.deviceId, preset.name).second) << preset.name;
        EXPECT_EQ(preset.author, "Ostrel") << preset.name;
    }
    EXPECT_EQ(order, effectTypeIds());
    EXPECT_EQ(effectTypeIds(), (std::vector<std::string>{"ostrel.delay", "ostrel.reverb", "ostrel.eq",
                                                         "ostrel.compressor", "ostrel.chorus"}));
}

TEST(FactoryPresets, EveryPresetAppliesWithoutAnyKnobBeingClampedAndSoundsWithoutBlowingUp) {
    Signal in = sine(380, 48000, 48000 * 2, 0.5f);
    std::fill(in.begin() + 10240, in.end(), 0.0f);
    for (const Preset& preset : factoryPresets()) {
        SCOPED_TRACE(preset.name);
        const std::unique_ptr<DeviceNode> device = createDevice(preset.deviceId);
        for (const auto& [id, value] : preset.parameters) {
            std::uint32_t index = 0;
            ASSERT_TRUE(device->findParameter(id.c_str(), index)) << id;
            device->params.setValue(index, static_cast<float>(value));
            EXPECT_EQ(device->params.value(index), static_cast<float>(value)) << id;
        }
        device->prepare(48000);
        const Stereo out = runEffect(*device, {in, {}}, 48000);
        for (const Signal* side : {&out.left, &out.right}) {
            EXPECT_TRUE(std::all_of(side->begin(), side->end(), [](float v) { return std::isfinite(v); }));
            EXPECT_TRUE(peak(*side) > 0.01 && peak(*side) < 4.0) << peak(*side);
        }
    }
}

}  // namespace
}  // namespace ostrel::engine
