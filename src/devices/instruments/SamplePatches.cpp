#include "devices/instruments/SamplePatches.h"

namespace ostrel::engine { inline namespace devices {
namespace {

constexpr const char* kSampler = "ostrel.mod.sampler";

}  // namespace

Patch makeSamplerPatch(std::shared_ptr<const AudioData> sample, const std::map<std::string, double>& knobs,
                       const std::string& name) {
    Patch patch;
    patch.name = name;
    patch.category = "sampler";
    patch.voices = 8;
    PatchNode node(0, kSampler, "Sampler", std::map<std::string, double>(knobs));
    node.sample = std::move(sample);
    patch.nodes.push_back(std::move(node));
    patch.output = 0;
    return patch;
}

Patch makeDrumRackPatch(const std::vector<DrumPad>& pads, const std::string& name) {
    Patch patch;
    patch.name = name;
    patch.category = "drums";
    patch.voices = 1;
    int nextId = 0;
    std::vector<int> outputs;
    for (const DrumPad& pad : pads) {
        if (!pad.sample || pad.note < 0 || pad.note > 127) {
            continue;
        }
        PatchNode node(nextId++, kSampler, "", {
                                                   {"follow_pitch", 0.0},
                                                   {"gain", pad.gain},
                                                   {"note", static_cast<double>(pad.note)},
                                                   {"one_shot", 1.0},
                                                   {"release_ms", pad.release_ms},
                                                   {"tune_cents", pad.tune_cents},
                                               });
        node.label = "Pad " + std::to_string(pad.note);
        node.sample = pad.sample;
        outputs.push_back(node.id);
        patch.nodes.push_back(std::move(node));
    }
    if (outputs.empty()) {
        outputs.push_back(nextId);
        patch.nodes.emplace_back(nextId++, kSampler, "Empty", std::map<std::string, double>{});
    }
    const int mix = addMixerNode(patch, outputs, nextId, 0.8, 0.8);
    const int level = nextId++;
    patch.nodes.emplace_back(level, "ostrel.mod.attenuverter", "Rack level", std::map<std::string, double>{{"amount", 1.0}});
    patch.connections.push_back({mix, level, 0});
    patch.output = level;
    return patch;
}

} }  // namespace ostrel::engine::devices
