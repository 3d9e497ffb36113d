#include "devices/patches/Patch.h"

#include <cstddef>
#include <utility>

namespace ostrel::engine { inline namespace devices {

namespace {

constexpr const char* kMixerDevice = "ostrel.mod.mixer";
constexpr std::size_t kMixerInputs = 4;

std::string levelKnob(std::size_t slot) { return "level_" + std::to_string(slot + 1); }

// One mixer per group of four sources, each source at `level`; returns the mixers' ids.
std::vector<int> mixInGroups(Patch& patch, const std::vector<int>& sources, int& nextId, double level) {
    std::vector<int> mixers;
    for (std::size_t first = 0; first < sources.size(); first += kMixerInputs) {
        const int id = nextId++;
        std::map<std::string, double> knobs;
        for (std::size_t k = 0; k < kMixerInputs && first + k < sources.size(); ++k) {
            knobs[levelKnob(k)] = level;
            patch.connections.push_back({sources[first + k], id, static_cast<int>(k)});
        }
        patch.nodes.emplace_back(id, kMixerDevice, "Mix", std::move(knobs));
        mixers.push_back(id);
    }
    return mixers;
}

}  // namespace

PatchNode::PatchNode(int id, const char* device, const char* label, std::map<std::string, double>&& parameters)
    : id(id), device(device), label(label), parameters(std::move(parameters)) {}

int PatchBuilder::addNode(const char* device, const char* label, std::map<std::string, double>&& parameters) {
    const int id = nextId_++;
    patch_.nodes.emplace_back(id, device, label, std::move(parameters));
    return id;
}

void PatchBuilder::connect(int from, int to, int slot) { patch_.connections.push_back({from, to, slot}); }

int addMixerNode(Patch& patch, const std::vector<int>& inputs, int& nextId, double level, double finalLevel) {
    std::vector<int> mixers = mixInGroups(patch, inputs, nextId, level);
    if (mixers.size() == 1) return mixers.front();
    while (mixers.size() > kMixerInputs) mixers = mixInGroups(patch, mixers, nextId, 1.0);

    // No inputs also ends here: a mixer with no knobs and no cables, silent but valid.
    const int id = nextId++;
    std::map<std::string, double> knobs;
    for (std::size_t k = 0; k < mixers.size(); ++k) {
        knobs[levelKnob(k)] = finalLevel;
        patch.connections.push_back({mixers[k], id, static_cast<int>(k)});
    }
    patch.nodes.emplace_back(id, kMixerDevice, "Mix", std::move(knobs));
    return id;
}

Patch withCategory(const char* category, Patch patch) {
    patch.category = category;
    return patch;
}

} }  // namespace ostrel::engine::devices
