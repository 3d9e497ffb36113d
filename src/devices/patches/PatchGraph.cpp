#include "devices/patches/PatchGraph.h"

#include "core/Failure.h"

#include <climits>
#include <set>
#include <vector>
#include <utility>

#include "devices/DeviceCatalog.h"
#include "devices/modules/SamplerNode.h"

namespace ostrel::engine { inline namespace devices {

namespace {

PatchGraph failedGraph(PatchGraph result, std::string* error, std::string message) {
    core::fail(error, std::move(message));
    result.graph.reset();
    result.nodesById.clear();
    return result;
}

// Sizes beyond int's range would wrap; -1 makes compilation refuse them instead.
int toCompileSize(std::uint32_t size) { return size > static_cast<std::uint32_t>(INT_MAX) ? -1 : static_cast<int>(size); }

}  // namespace

std::unique_ptr<DeviceNode> makePatchModule(const PatchNode& node, std::vector<std::string>* warnings) {
    std::unique_ptr<DeviceNode> device = createDevice(node.device);
    if (!device) return nullptr;
    for (const auto& [key, value] : node.parameters) {
        std::uint32_t index = 0;
        if (device->findParameter(key.c_str(), index)) {
            device->params.setValue(index, static_cast<float>(value));
        } else if (warnings != nullptr) {
            warnings->push_back("module " + std::to_string(node.id) + " (" + node.label + ") has no knob called \"" +
                                key + "\"; skipped");
        }
    }
    if (auto* sampler = dynamic_cast<SamplerNode*>(device.get())) sampler->sample = node.sample;
    return device;
}

PatchGraph buildPatchGraph(const Patch& patch, double sampleRate, std::uint32_t maxBlock, std::uint32_t channels,
                           std::string* error) {
    PatchGraph result;
    GraphBuilder builder;
    std::map<int, int> indexById;

    for (const PatchNode& node : patch.nodes) {
        std::unique_ptr<DeviceNode> device = makePatchModule(node, &result.warnings);
        if (!device) {
            return failedGraph(std::move(result), error,
                        "unknown device \"" + node.device + "\" (module " + std::to_string(node.id) + ")");
        }

        result.nodesById[node.id] = device.get();
        indexById[node.id] = builder.addNode(std::move(device));
    }

    for (const PatchCable& cable : patch.connections) {
        const auto from = indexById.find(cable.from);
        const auto to = indexById.find(cable.to);
        if (from == indexById.end() || to == indexById.end()) {
            return failedGraph(std::move(result), error, "a cable refers to a module that does not exist");
        }
        builder.connect(from->second, to->second, cable.slot);
    }

    const auto output = indexById.find(patch.output);
    if (output == indexById.end()) return failedGraph(std::move(result), error, "the patch has no valid output module");
    builder.output = output->second;

    std::string compileError;
    result.graph = builder.compile(sampleRate, toCompileSize(maxBlock), toCompileSize(channels), &compileError);
    if (!result.graph) return failedGraph(std::move(result), error, std::move(compileError));

    // Each copy of a polyphonic patch may sleep while it is silent.
    std::map<int, std::vector<int>> boxesByVoice;
    for (const PatchNode& node : patch.nodes) {
        if (node.voice >= 0) boxesByVoice[node.voice].push_back(indexById.at(node.id));
    }
    if (!boxesByVoice.empty()) {
        std::map<int, int> slotOfBox;
        for (std::size_t s = 0; s < result.graph->order.size(); ++s) slotOfBox[result.graph->order[s]] = static_cast<int>(s);
        std::vector<std::vector<int>> voices;
        for (const auto& [voice, boxes] : boxesByVoice) {
            std::vector<int>& slots = voices.emplace_back();
            for (int box : boxes) {
                const auto found = slotOfBox.find(box);
                if (found != slotOfBox.end()) slots.push_back(found->second);
            }
        }
        (void)result.graph->setVoices(voices);
    }

    // Devices that do not lead to the output were destroyed with the builder.
    const std::set<int> kept(result.graph->order.begin(), result.graph->order.end());
    std::erase_if(result.nodesById, [&](const auto& entry) { return !kept.contains(indexById.at(entry.first)); });
    return result;
}

} }  // namespace ostrel::engine::devices
