#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// One row of the factory table: the category ("Effect" or "Modular") and a maker.
struct DeviceFactoryEntry {
    const char* category;
    std::unique_ptr<DeviceNode> (*create)();
};

// Every device type, in the fixed order of listDevices: effects, then modules.
extern const std::span<const DeviceFactoryEntry> deviceFactoryTable;

struct DeviceInfo {
    std::string typeId;
    std::string displayName;
    std::string category;
};

// GUI or render thread. A new device with its knobs at their defaults, or null for a
// type id no row has (exact, case-sensitive).
std::unique_ptr<DeviceNode> createDevice(std::string_view typeId);

// GUI or render thread. Type id, display name and category of every row, in table order.
std::vector<DeviceInfo> listDevices();

} }  // namespace ostrel::engine::devices
