#include "devices/patches/PolyphonicPatch.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::engine { inline namespace devices {

namespace {

constexpr int kMaxVoices = 8;
// Ids taken after the copies: at most three mixers for eight copies, Level, Echo, Room.
constexpr std::int64_t kExtraModules = 6;
constexpr std::int64_t kIdMin = std::numeric_limits<int>::min();
constexpr std::int64_t kIdMax = std::numeric_limits<int>::max();

// The modules with a "voice" knob.
bool answersOneVoice(const std::string& device) {
    return device == "ostrel.mod.keyboard" || device == "ostrel.mod.sampler" || device == "ostrel.mod.fm";
}

// Where each copy's modules go. Copy c of a module sits at base + slot + c x stride.
// Every id handed out, and one id below them all kept for references to no module,
// lies inside the 32-bit range.
class CopyLayout {
public:
    CopyLayout(const Patch& patch, int copies) {
        for (const PatchNode& node : patch.nodes) slot_.emplace(node.id, 0);
        if (slot_.empty()) {
            base_ = 0;
            stride_ = 0;
        } else {
            const std::int64_t smallest = slot_.begin()->first;
            const std::int64_t span = std::int64_t{slot_.rbegin()->first} - smallest + 1;
            if (smallest > kIdMin && smallest + copies * span + kExtraModules <= kIdMax) {
                base_ = smallest;
                stride_ = span;
                for (auto& [id, slot] : slot_) slot = id - smallest;
            } else {
                // Ids spread too wide to repeat: number every copy densely from 0.
                const auto count = static_cast<std::int64_t>(slot_.size());
                if (copies * count + kExtraModules > kIdMax) throw std::length_error("the patch has too many modules");
                base_ = 0;
                stride_ = count;
                std::int64_t rank = 0;
                for (auto& entry : slot_) entry.second = rank++;
            }
        }
        nextFree_ = static_cast<int>(base_ + copies * stride_);
    }

    // Copy `copy` of what `id` refers to. An id that names no module of the patch points
    // below every module of the result, so the cable or output still leads nowhere
    // rather than onto another copy's module.
    int map(int id, int copy) const {
        const auto found = slot_.find(id);
        if (found == slot_.end()) return static_cast<int>(base_ - 1);
        return static_cast<int>(base_ + found->second + copy * stride_);
    }

    int nextFree() const { return nextFree_; }

private:
    std::map<int, std::int64_t> slot_;  // module id -> its place inside one copy
    std::int64_t base_ = 0;
    std::int64_t stride_ = 0;
    int nextFree_ = 0;
};

}  // namespace

Patch makePolyphonicPatch(const Patch& patch, float level, VoiceEffects effects, int voices, int* levelNodeId) {
    const int copies = std::clamp(voices, 1, kMaxVoices);
    const CopyLayout layout(patch, copies);

    Patch result;
    result.name = patch.name;
    if (copies == 1) {
        // A single copy is the patch itself, so its category and voice count come along.
        result.category = patch.category;
        result.voices = patch.voices;
    }

    // Voices marked inside the patch (the drums of a kit) stay apart in every copy.
    int marked = 0;
    for (const PatchNode& node : patch.nodes) marked = std::max(marked, node.voice + 1);

    std::vector<int> outputs;
    for (int c = 0; c < copies; ++c) {
        for (const PatchNode& node : patch.nodes) {
            PatchNode& copy = result.nodes.emplace_back(node);
            copy.id = layout.map(node.id, c);
            if (copies > 1) {
                copy.voice = c * std::max(1, marked) + std::max(0, node.voice);
                if (answersOneVoice(node.device)) copy.parameters["voice"] = c;
            }
        }
        for (const PatchCable& cable : patch.connections) {
            result.connections.push_back({layout.map(cable.from, c), layout.map(cable.to, c), cable.slot});
        }
        outputs.push_back(layout.map(patch.output, c));
    }

    int nextId = layout.nextFree();
    const int mixOutput = copies == 1 ? outputs.front() : addMixerNode(result, outputs, nextId, 0.5, 0.7);

    // The mixers halve each copy; twice the level makes up for it once several voices play.
    const float amount = level * (copies > 1 ? 2.0f : 1.0f);
    PatchBuilder builder(nextId, result);
    const int levelId = builder.addNode("ostrel.mod.attenuverter", "Level", {{"amount", static_cast<double>(amount)}});
    builder.connect(mixOutput, levelId, 0);
    result.output = levelId;
    if (levelNodeId != nullptr) *levelNodeId = levelId;

    if (effects == VoiceEffects::EchoAndRoom) {
        const int echo = builder.addNode("ostrel.delay", "Echo",
                                         {{"time_ms", 375.0}, {"feedback", 0.35}, {"mix", 0.25}, {"ping_pong", 1.0}});
        const int room = builder.addNode("ostrel.reverb", "Room", {{"room_size", 0.6}, {"mix", 0.2}});
        builder.connect(levelId, echo, 0);
        builder.connect(echo, room, 0);
        result.output = room;
    }
    return result;
}

} }  // namespace ostrel::engine::devices
