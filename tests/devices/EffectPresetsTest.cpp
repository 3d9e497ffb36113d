#include "devices/EffectPresets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "devices/DeviceCatalog.h"

namespace ostrel::engine {
namespace {

TEST(FactoryPresets, NineteenFromSlapbackToVibrato) {
    const std::vector<Preset>& presets = factoryPresets();
    ASSERT_EQ(presets.size(), 19u);
    EXPECT_EQ(presets.front().name, "Slapback");
    EXPECT_EQ(presets.front().deviceId, "ostrel.delay");
    EXPECT_EQ(presets.back().name, "Vibrato");
    EXPECT_EQ(presets.back().deviceId, "ostrel.chorus");
}

TEST(FactoryPresets, EveryPresetIsVersionOneByOstrel) {
    for (const Preset& preset : factoryPresets()) {
        EXPECT_EQ(preset.version, 1) << preset.name;
        EXPECT_EQ(preset.author, "Ostrel") << preset.name;
    }
}

TEST(FactoryPresets, NamesAreUniqueWithinEachEffect) {
    std::set<std::pair<std::string, std::string>> seen;
    for (const Preset& preset : factoryPresets())
        EXPECT_TRUE(seen.emplace(preset.deviceId, preset.name).second) << preset.name;
}

TEST(FactoryPresets, EveryPresetAppliesWithoutAnyKnobBeingClamped) {
    for (const Preset& preset : factoryPresets()) {
        const std::unique_ptr<DeviceNode> device = createDevice(preset.deviceId);
        ASSERT_NE(device, nullptr) << preset.deviceId;
        EXPECT_FALSE(preset.parameters.empty()) << preset.name;
        for (const auto& [id, value] : preset.parameters) {
            std::uint32_t index = 0;
            ASSERT_TRUE(device->findParameter(id.c_str(), index)) << preset.name << ": " << id;
            device->params.setValue(index, static_cast<float>(value));
            EXPECT_EQ(device->params.value(index), static_cast<float>(value)) << preset.name << ": " << id;
        }
    }
}

TEST(FactoryPresets, EachPresetSoundsOnItsEffectWithoutBlowingUp) {
    for (const Preset& preset : factoryPresets()) {
        const std::unique_ptr<DeviceNode> device = createDevice(preset.deviceId);
        ASSERT_NE(device, nullptr);
        for (const auto& [id, value] : preset.parameters) {
            std::uint32_t index = 0;
            ASSERT_TRUE(device->findParameter(id.c_str(), index));
            device->params.setValue(index, static_cast<float>(value));
        }
        device->prepare(48000);
        AudioBuffer in(2, 512), out(2, 512);
        double peak = 0;
        for (int block = 0; block < 200; ++block) {
            for (int i = 0; i < 512; ++i) {
                const float x = block < 20 ? 0.5f * std::sin(0.05f * static_cast<float>(block * 512 + i)) : 0.0f;
                in.channel(0)[i] = x;
                in.channel(1)[i] = -x;
            }
            ProcessContext ctx;
            ctx.frames = 512;
            const AudioBuffer* inputs[] = {&in};
            device->process(ctx, inputs, out);
            for (float v : out.data) {
                ASSERT_TRUE(std::isfinite(v)) << preset.name;
                peak = std::max(peak, static_cast<double>(std::fabs(v)));
            }
        }
        EXPECT_GT(peak, 0.01) << preset.name;
        EXPECT_LT(peak, 4.0) << preset.name;
    }
}

TEST(FactoryPresets, TagsStartWithTheEffectsOwnWord) {
    const std::map<std::string, std::string> word = {{"ostrel.delay", "delay"},
                                                     {"ostrel.reverb", "reverb"},
                                                     {"ostrel.eq", "eq"},
                                                     {"ostrel.compressor", "compressor"},
                                                     {"ostrel.chorus", "chorus"}};
    for (const Preset& preset : factoryPresets()) {
        ASSERT_FALSE(preset.tags.empty()) << preset.name;
        EXPECT_EQ(preset.tags.front(), word.at(preset.deviceId)) << preset.name;
        const std::size_t expectedTags = preset.name == "Tape Long" ? 3u : 2u;
        EXPECT_EQ(preset.tags.size(), expectedTags) << preset.name;
    }
}

TEST(FactoryPresets, LowCutSetsOnlyTheLowShelf) {
    for (const Preset& preset : factoryPresets()) {
        if (preset.name != "Low Cut") continue;
        const std::map<std::string, double> expected = {{"low_freq", 120}, {"low_gain", -18}};
        EXPECT_EQ(preset.parameters, expected);
        return;
    }
    FAIL() << "no Low Cut";
}

TEST(FactoryPresets, BrowserOrderGroupsThePresetsByEffect) {
    // The table lists each effect's presets together, effects in browser order,
    // except that the EQ presets follow the reverb ones.
    std::vector<std::string> order;
    for (const Preset& preset : factoryPresets())
        if (order.empty() || order.back() != preset.deviceId) order.push_back(preset.deviceId);
    EXPECT_EQ(order, (std::vector<std::string>{"ostrel.delay", "ostrel.reverb", "ostrel.eq", "ostrel.compressor",
                                               "ostrel.chorus"}));
}

TEST(FactoryPresets, TheListIsBuiltOnceAndShared) {
    EXPECT_EQ(&factoryPresets(), &factoryPresets());
    EXPECT_EQ(&effectTypeIds(), &effectTypeIds());
}

TEST(FactoryPresets, MakePresetFillsVersionAndAuthor) {
    const Preset preset = makePreset("ostrel.delay", "Mine", {"delay"}, {{"mix", 0.5}});
    EXPECT_EQ(preset.version, 1);
    EXPECT_EQ(preset.author, "Ostrel");
    EXPECT_EQ(preset.name, "Mine");
    EXPECT_EQ(preset.parameters.at("mix"), 0.5);
    const Preset blank;
    EXPECT_EQ(blank.version, 1);
    EXPECT_TRUE(blank.author.empty());
}

TEST(EffectTypeIds, BrowserOrderHasReverbSecondAndEqThird) {
    EXPECT_EQ(effectTypeIds(), (std::vector<std::string>{"ostrel.delay", "ostrel.reverb", "ostrel.eq",
                                                         "ostrel.compressor", "ostrel.chorus"}));
}

TEST(EffectTypeIds, EveryIdIsAnEffectInTheCatalogue) {
    const std::vector<DeviceInfo> devices = listDevices();
    for (const std::string& id : effectTypeIds()) {
        const auto it = std::find_if(devices.begin(), devices.end(), [&](const DeviceInfo& d) { return d.typeId == id; });
        ASSERT_NE(it, devices.end()) << id;
        EXPECT_EQ(it->category, "Effect") << id;
    }
}

}  // namespace
}  // namespace ostrel::engine
