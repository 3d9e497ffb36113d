#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/patches/Patch.h"
#include "engine/graph/DeviceNode.h"
#include "engine/graph/Graph.h"

namespace ostrel::engine { inline namespace devices {

// A patch turned into a runnable graph. Movable; the graph owns every device.
struct PatchGraph {
    std::unique_ptr<Graph> graph;  // null when the build failed
    // Patch node id -> its device, only for devices the compiled graph kept; empty on failure.
    std::map<int, DeviceNode*> nodesById;
    std::vector<std::string> warnings;  // in the order they arose; kept on failure too
};

// One module of a patch from the device catalogue, its knobs set (an unknown knob is a
// "; skipped" warning when warnings is given) and a sampler given its sound; null for an
// unknown device. GUI thread or render worker.
std::unique_ptr<DeviceNode> makePatchModule(const PatchNode& node, std::vector<std::string>* warnings);

// GUI thread or render worker; builds share nothing, so two may run at once.
// Creates each module through the device catalogue, sets its knobs (an unknown knob is
// a "; skipped" warning), hands sampler modules their sound, wires the cables and
// compiles. Success is a non-null graph; on failure *error (when given) gets the reason.
PatchGraph buildPatchGraph(const Patch& patch, double sampleRate, std::uint32_t maxBlock, std::uint32_t channels,
                           std::string* error);

} }  // namespace ostrel::engine::devices
