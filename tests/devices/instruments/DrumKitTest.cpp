#include "devices/instruments/DrumKit.h"

#include <set>

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// Each voice's note, its id range and its velocity amplifiers (the kit's outputs).
struct VoiceIds {
    const char* name;
    int note;
    int first;
    std::vector<int> outputs;
};

const std::vector<VoiceIds> kVoices = {
    {"Kick", 36, 0, {7}},       {"Snare", 38, 8, {15, 20}},  {"Clap", 39, 21, {27}},  {"Low tom", 41, 28, {35}},
    {"Closed hat", 42, 36, {42}}, {"High tom", 45, 43, {50}}, {"Open hat", 46, 51, {57}}, {"Crash", 49, 58, {64}},
};

TEST(DrumKitPatch, VoicesTakeTheirFixedIdsAndMixIntoTheKitLevel) {
    const Patch kit = makeModularDrums();
    const std::vector<DrumKitVoice>& table = modularDrumKitVoices();
    ASSERT_EQ(table.size(), kVoices.size());
    for (std::size_t v = 0; v < kVoices.size(); ++v) {
        const VoiceIds& ids = kVoices[v];
        const std::string name = ids.name;
        SCOPED_TRACE(name);
        EXPECT_TRUE(table[v].name == name && table[v].note == ids.note && table[v].layers.size() == ids.outputs.size());
        EXPECT_EQ(kit.nodes[static_cast<std::size_t>(ids.first)].label, name + " key");
        EXPECT_DOUBLE_EQ(kit.nodes[static_cast<std::size_t>(ids.first)].parameters.at("note"), ids.note);
        for (int out : ids.outputs) {
            EXPECT_EQ(kit.nodes[static_cast<std::size_t>(out)].label, name + " velocity amplifier");
            EXPECT_DOUBLE_EQ(mixGain(kit, out, 68), 0.5 * 0.7);
        }
    }
    EXPECT_TRUE(table[1].layers[0].tone && !table[1].layers[1].tone) << "the Snare's tone layer comes first";
    EXPECT_EQ(kit.nodes[69], PatchNode(69, "ostrel.mod.attenuverter", "Kit level", {{"amount", 1.0}}));
    EXPECT_EQ(kit.connections.back(), (PatchCable{68, 69, 0}));
}

TEST(DrumKitSound, EachNoteSoundsItsOwnVoiceAndOtherNotesNothing) {
    std::set<Signal> heard;
    for (const VoiceIds& v : kVoices) {
        PatchGraph built = buildGraph(makeModularDrums());
        const Signal out = playGraph(built, {noteOn(0, v.note, 127)}, 4800);
        EXPECT_GT(peak(out), 0.01) << v.name;
        EXPECT_TRUE(heard.insert(out).second) << v.name << " sounds like another drum";
    }
    PatchGraph built = buildGraph(makeModularDrums());
    EXPECT_EQ(peak(playGraph(built, {noteOn(0, 40), noteOff(2400, 40)}, 9600)), 0.0) << "40 is no drum";
}

}  // namespace
}  // namespace ostrel::engine
