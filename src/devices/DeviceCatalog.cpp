#include "devices/DeviceCatalog.h"

#include <array>

#include "devices/effects/ChorusEffect.h"
#include "devices/effects/CompressorEffect.h"
#include "devices/effects/DelayEffect.h"
#include "devices/effects/EqEffect.h"
#include "devices/effects/ReverbEffect.h"
#include "devices/instruments/FmNode.h"
#include "devices/modules/AdsrNode.h"
#include "devices/modules/AttenuverterNode.h"
#include "devices/modules/KeyboardCvNode.h"
#include "devices/modules/LfoNode.h"
#include "devices/modules/MixModule.h"
#include "devices/modules/NoiseNode.h"
#include "devices/modules/SamplerNode.h"
#include "devices/modules/VcaNode.h"
#include "devices/modules/VcfNode.h"
#include "devices/modules/VcoNode.h"

namespace ostrel::engine { inline namespace devices {
namespace {

template <class T>
std::unique_ptr<DeviceNode> make() {
    return std::make_unique<T>();
}

// Type ids are stored in project and patch files: rows may be added, never renamed.
// The order is the order of listDevices and of the effect browser.
constexpr DeviceFactoryEntry kRows[] = {
    {"Effect", &make<DelayEffect>},
    {"Effect", &make<EqEffect>},
    {"Effect", &make<ReverbEffect>},
    {"Effect", &make<CompressorEffect>},
    {"Effect", &make<ChorusEffect>},
    {"Modular", &make<KeyboardCvNode>},
    {"Modular", &make<VcoNode>},
    {"Modular", &make<VcfNode>},
    {"Modular", &make<VcaNode>},
    {"Modular", &make<AdsrNode>},
    {"Modular", &make<LfoNode>},
    {"Modular", &make<NoiseNode>},
    {"Modular", &make<AttenuverterNode>},
    {"Modular", &make<MixModule>},
    {"Modular", &make<SamplerNode>},
    {"Modular", &make<FmNode>},
};

}  // namespace

const std::span<const DeviceFactoryEntry> deviceFactoryTable{kRows};

std::unique_ptr<DeviceNode> createDevice(std::string_view typeId) {
    if (typeId.empty()) return nullptr;
    for (const DeviceFactoryEntry& row : deviceFactoryTable) {
        std::unique_ptr<DeviceNode> device = row.create();
        if (std::string_view(device->typeId()) == typeId) return device;
    }
    return nullptr;
}

std::vector<DeviceInfo> listDevices() {
    std::vector<DeviceInfo> list;
    list.reserve(deviceFactoryTable.size());
    for (const DeviceFactoryEntry& row : deviceFactoryTable) {
        const std::unique_ptr<DeviceNode> device = row.create();
        list.push_back({device->typeId(), device->displayName(), row.category});
    }
    return list;
}

} }  // namespace ostrel::engine::devices
