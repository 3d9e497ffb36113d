#include "devices/DeviceCatalog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "devices/SamplerNode.h"

namespace ostrel::engine {
namespace {

struct ModuleRow {
    const char* typeId;
    const char* displayName;
    std::size_t knobs;
};

// The patchable modules and the sampler, in their catalogue order.
constexpr ModuleRow kModules[] = {
    {"ostrel.mod.keyboard", "Keyboard", 5},    {"ostrel.mod.vco", "Oscillator", 6},
    {"ostrel.mod.vcf", "Filter", 4},           {"ostrel.mod.vca", "Amplifier", 1},
    {"ostrel.mod.adsr", "Envelope", 4},        {"ostrel.mod.lfo", "LFO", 4},
    {"ostrel.mod.noise", "Noise", 1},          {"ostrel.mod.attenuverter", "Attenuverter", 2},
    {"ostrel.mod.mixer", "Mixer", 4},          {"ostrel.mod.sampler", "Sampler", 10},
};

TEST(DeviceCatalogCreate, MakesEachModuleByItsTypeIdWithItsKnobCount) {
    for (const ModuleRow& row : kModules) {
        SCOPED_TRACE(row.typeId);
        const std::unique_ptr<DeviceNode> device = createDevice(row.typeId);
        ASSERT_NE(device, nullptr);
        EXPECT_STREQ(device->typeId(), row.typeId);
        EXPECT_STREQ(device->displayName(), row.displayName);
        EXPECT_EQ(device->params.count(), row.knobs);
    }
}

TEST(DeviceCatalogCreate, SamplerComesWithoutASound) {
    const std::unique_ptr<DeviceNode> device = createDevice("ostrel.mod.sampler");
    auto* sampler = dynamic_cast<SamplerNode*>(device.get());
    ASSERT_NE(sampler, nullptr);
    EXPECT_EQ(sampler->sample, nullptr);
}

TEST(DeviceCatalogCreate, UnknownCasedEmptyOrPrefixIdsGiveNull) {
    EXPECT_EQ(createDevice(""), nullptr);
    EXPECT_EQ(createDevice("ostrel.mod"), nullptr);
    EXPECT_EQ(createDevice("ostrel.mod.VCO"), nullptr);
    EXPECT_EQ(createDevice("ostrel.mod.vco "), nullptr);
    EXPECT_EQ(createDevice("ostrel.mod.vcox"), nullptr);
}

TEST(DeviceCatalogList, FollowsTheTableWithModulesInOrderAfterTheEffects) {
    const std::vector<DeviceInfo> list = listDevices();
    ASSERT_EQ(list.size(), deviceFactoryTable.size());
    std::size_t firstModule = list.size();
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].category, deviceFactoryTable[i].category);
        if (list[i].typeId == kModules[0].typeId) firstModule = i;
    }
    ASSERT_LE(firstModule + std::size(kModules), list.size());
    for (std::size_t i = 0; i < firstModule; ++i) EXPECT_EQ(list[i].category, "Effect") << list[i].typeId;
    for (std::size_t k = 0; k < std::size(kModules); ++k) {
        const DeviceInfo& info = list[firstModule + k];
        EXPECT_EQ(info.typeId, kModules[k].typeId);
        EXPECT_EQ(info.displayName, kModules[k].displayName);
        EXPECT_EQ(info.category, "Modular");
    }
}

TEST(DeviceCatalogList, TypeIdsAreUniqueAndEachCreatesItsOwnType) {
    std::set<std::string> seen;
    for (const DeviceInfo& info : listDevices()) {
        EXPECT_TRUE(seen.insert(info.typeId).second) << info.typeId;
        const auto device = createDevice(info.typeId);
        ASSERT_NE(device, nullptr) << info.typeId;
        EXPECT_EQ(info.typeId, device->typeId());
    }
}

// Every knob table: indexes match rows, ids are unique snake case, defaults lie in
// range, and stepped and on/off knobs have whole-number bounds.
TEST(DeviceCatalogKnobTables, AreWellFormedForEveryDevice) {
    for (const DeviceInfo& info : listDevices()) {
        SCOPED_TRACE(info.typeId);
        const auto device = createDevice(info.typeId);
        std::set<std::string> ids;
        const auto table = device->params.descriptors();
        for (std::size_t i = 0; i < table.size(); ++i) {
            const ParamDescriptor& row = table[i];
            EXPECT_EQ(row.index, i);
            EXPECT_TRUE(ids.insert(row.id).second) << row.id;
            for (const char* c = row.id; *c != '\0'; ++c)
                EXPECT_TRUE((*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || *c == '_') << row.id;
            EXPECT_LE(row.min, row.defaultValue) << row.id;
            EXPECT_LE(row.defaultValue, row.max) << row.id;
            EXPECT_NE(std::string(row.help), "") << row.id;
            if (row.kind != ParamKind::Continuous) {
                EXPECT_EQ(row.min, std::trunc(row.min)) << row.id;
                EXPECT_EQ(row.max, std::trunc(row.max)) << row.id;
            }
            EXPECT_EQ(device->params.value(static_cast<std::uint32_t>(i)), row.defaultValue) << row.id;
            std::uint32_t found = 999;
            EXPECT_TRUE(device->findParameter(row.id, found));
            EXPECT_EQ(found, i);
        }
    }
}

}  // namespace
}  // namespace ostrel::engine
