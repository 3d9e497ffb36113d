#include "devices/DeviceCatalog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

namespace ostrel::engine {
namespace {

struct Row {
    const char* typeId;
    const char* displayName;
    const char* category;
    std::size_t knobs;
};

// Type ids are stored in files: this table is the contract, in listing order.
constexpr Row kRows[] = {
    {"ostrel.delay", "Delay", "Effect", 5},           {"ostrel.eq", "EQ", "Effect", 13},
    {"ostrel.reverb", "Reverb", "Effect", 5},         {"ostrel.compressor", "Compressor", "Effect", 6},
    {"ostrel.chorus", "Chorus", "Effect", 5},         {"ostrel.mod.keyboard", "Keyboard", "Modular", 5},
    {"ostrel.mod.vco", "Oscillator", "Modular", 6},   {"ostrel.mod.vcf", "Filter", "Modular", 4},
    {"ostrel.mod.vca", "Amplifier", "Modular", 1},    {"ostrel.mod.adsr", "Envelope", "Modular", 4},
    {"ostrel.mod.lfo", "LFO", "Modular", 4},          {"ostrel.mod.noise", "Noise", "Modular", 1},
    {"ostrel.mod.attenuverter", "Attenuverter", "Modular", 2}, {"ostrel.mod.mixer", "Mixer", "Modular", 4},
    {"ostrel.mod.sampler", "Sampler", "Modular", 10}, {"ostrel.mod.fm", "FM synth", "Modular", 27},
};

TEST(DeviceCatalog, ListsEveryRowInOrderAndCreatesEachByItsTypeId) {
    const std::vector<DeviceInfo> list = listDevices();
    ASSERT_EQ(list.size(), std::size(kRows));
    for (std::size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(kRows[i].typeId);
        EXPECT_TRUE(list[i].typeId == kRows[i].typeId && list[i].displayName == kRows[i].displayName &&
                    list[i].category == kRows[i].category);
        const std::unique_ptr<DeviceNode> device = createDevice(kRows[i].typeId);
        EXPECT_EQ(createDevice(std::string(kRows[i].typeId) + "x"), nullptr);
        ASSERT_NE(device, nullptr);
        EXPECT_STREQ(device->typeId(), kRows[i].typeId);
        EXPECT_EQ(device->params.count(), kRows[i].knobs);
    }
}

// Every knob table: indexes in order, ids unique snake case that findParameter finds,
// defaults inside the range and set on a new device, whole-number bounds for stepped
// and on/off knobs.
TEST(DeviceCatalog, EveryKnobTableIsWellFormed) {
    for (const DeviceInfo& info : listDevices()) {
        const auto device = createDevice(info.typeId);
        std::set<std::string> ids;
        for (const ParamDescriptor& row : device->params.descriptors()) {
            SCOPED_TRACE(info.typeId + " " + row.id);
            std::uint32_t found = 999;
            EXPECT_TRUE(device->findParameter(row.id, found) && found == row.index && ids.insert(row.id).second);
            EXPECT_EQ(row.index, ids.size() - 1);
            EXPECT_EQ(std::string(row.id).find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"), std::string::npos);
            EXPECT_TRUE(row.min <= row.defaultValue && row.defaultValue <= row.max);
            EXPECT_EQ(device->params.value(row.index), row.defaultValue);
            const bool whole = row.min == std::trunc(row.min) && row.max == std::trunc(row.max);
            EXPECT_TRUE(whole || row.kind == ParamKind::Continuous);
        }
    }
}

}  // namespace
}  // namespace ostrel::engine
