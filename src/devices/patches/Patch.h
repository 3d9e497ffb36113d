#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/AudioData.h"

namespace ostrel::engine { inline namespace devices {

// One module of a patch: a device named by its catalogue type id, with its own knob
// values. Knob ids are only checked when the patch is turned into a graph.
struct PatchNode {
    PatchNode() = default;
    PatchNode(int id, const char* device, const char* label, std::map<std::string, double>&& parameters);

    int id = 0;
    std::string device;
    std::string label;  // shown to the user; also a handle ("Amp envelope")
    std::map<std::string, double> parameters;  // knob id -> value; unlisted knobs keep the default
    std::shared_ptr<const AudioData> sample;   // sampler modules only; shared, never copied
    // The voice the module sounds in (a copy of a polyphonic patch, one drum of a kit), -1
    // for none. Lets the graph put a silent voice to sleep; not saved.
    int voice = -1;

    bool operator==(const PatchNode&) const = default;
};

// Output of node `from` into input `slot` (from 0) of node `to`.
struct PatchCable {
    int from = 0;
    int to = 0;
    int slot = 0;

    bool operator==(const PatchCable&) const = default;
};

// An instrument as plain data: modules, their knobs and the cables between them.
// Nothing here is checked; the graph builder reports bad references.
// Built, copied and dropped on the GUI or render thread; the audio thread never sees one.
struct Patch {
    std::string name;
    std::string category = "synth";
    int voices = 8;  // 1..8: most copies the polyphonic player runs side by side
    std::vector<PatchNode> nodes;         // in creation order
    std::vector<PatchCable> connections;  // in creation order
    int output = -1;  // id of the node that sounds; -1 for none

    bool operator==(const Patch&) const = default;
};

// Appends nodes and cables to a patch, drawing node ids from a counter the caller owns,
// so that ids stay equal to positions in the node list.
class PatchBuilder {
public:
    PatchBuilder(int& nextId, Patch& patch) : nextId_(nextId), patch_(patch) {}

    int addNode(const char* device, const char* label, std::map<std::string, double>&& parameters = {});
    void connect(int from, int to, int slot);

private:
    int& nextId_;
    Patch& patch_;
};

// Mixes the outputs of `inputs` down to one "Mix" node and returns its id. Groups of four
// go into mixers at `level`; when there is more than one group, their mixers go into one
// more mixer at `finalLevel`. Past 16 inputs, extra levels at unity gain sit between the
// two so every input still reaches the result at level * finalLevel.
int addMixerNode(Patch& patch, const std::vector<int>& inputs, int& nextId, double level, double finalLevel);

Patch withCategory(const char* category, Patch patch);

} }  // namespace ostrel::engine::devices
