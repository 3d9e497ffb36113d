#include "devices/Patch.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace ostrel::engine {
namespace {

using Knobs = std::map<std::string, double>;

const PatchNode& nodeWithId(const Patch& patch, int id) {
    for (const PatchNode& node : patch.nodes)
        if (node.id == id) return node;
    throw std::out_of_range("no node " + std::to_string(id));
}

std::vector<PatchCable> cablesInto(const Patch& patch, int to) {
    std::vector<PatchCable> result;
    for (const PatchCable& cable : patch.connections)
        if (cable.to == to) result.push_back(cable);
    return result;
}

// Gain from `source` to `sink` through the mixer knobs, summed over every path.
double gainAlongCables(const Patch& patch, int source, int sink) {
    if (source == sink) return 1.0;
    double total = 0.0;
    for (const PatchCable& cable : patch.connections) {
        if (cable.from != source) continue;
        const PatchNode& mixer = nodeWithId(patch, cable.to);
        const double knob = mixer.parameters.at("level_" + std::to_string(cable.slot + 1));
        total += knob * gainAlongCables(patch, cable.to, sink);
    }
    return total;
}

// Sources with ids 0..n-1, as a caller would have added them before mixing.
Patch patchWithSources(int n, int& nextId) {
    Patch patch;
    PatchBuilder builder(nextId, patch);
    for (int i = 0; i < n; ++i) builder.addNode("ostrel.mod.vco", "Osc", {});
    return patch;
}

TEST(PatchDefaults, DefaultPatchIsAnEmptyEightVoiceSynthWithNoOutput) {
    const Patch patch;
    EXPECT_EQ(patch.name, "");
    EXPECT_EQ(patch.category, "synth");
    EXPECT_EQ(patch.voices, 8);
    EXPECT_TRUE(patch.nodes.empty());
    EXPECT_TRUE(patch.connections.empty());
    EXPECT_EQ(patch.output, -1);
}

TEST(PatchDefaults, NodeConstructorTakesTheKnobsAndLeavesNoSample) {
    Knobs knobs{{"level", 0.25}};
    const PatchNode node(7, "ostrel.mod.vca", "Amplifier", std::move(knobs));
    EXPECT_EQ(node.id, 7);
    EXPECT_EQ(node.device, "ostrel.mod.vca");
    EXPECT_EQ(node.label, "Amplifier");
    EXPECT_EQ(node.parameters, (Knobs{{"level", 0.25}}));
    EXPECT_EQ(node.sample, nullptr);
}

TEST(PatchDefaults, CopiesShareTheSampleInsteadOfCopyingIt) {
    Patch patch;
    patch.nodes.emplace_back(0, "ostrel.mod.sampler", "Pad 36", Knobs{});
    auto sound = std::make_shared<AudioData>();
    sound->samples.assign(4, 0.5f);
    patch.nodes[0].sample = sound;
    const Patch copy = patch;
    EXPECT_EQ(copy.nodes[0].sample.get(), sound.get());
    EXPECT_EQ(sound.use_count(), 3);
}

TEST(PatchBuilderIds, IdsRunFromTheCounterAndEqualPositions) {
    Patch patch;
    int nextId = 0;
    PatchBuilder builder(nextId, patch);
    EXPECT_EQ(builder.addNode("ostrel.mod.keyboard", "Pitch", {{"output", 0.0}}), 0);
    EXPECT_EQ(builder.addNode("ostrel.mod.vco", "Oscillator", {}), 1);
    EXPECT_EQ(builder.addNode("ostrel.mod.vca", "Amplifier"), 2);
    EXPECT_EQ(nextId, 3);
    ASSERT_EQ(patch.nodes.size(), 3u);
    for (std::size_t i = 0; i < patch.nodes.size(); ++i) EXPECT_EQ(patch.nodes[i].id, static_cast<int>(i));
    EXPECT_EQ(patch.nodes[0].parameters, (Knobs{{"output", 0.0}}));
}

TEST(PatchBuilderIds, ConnectAppendsCablesInOrderWithoutChecking) {
    Patch patch;
    int nextId = 0;
    PatchBuilder builder(nextId, patch);
    builder.connect(0, 1, 0);
    builder.connect(42, -3, 9);
    ASSERT_EQ(patch.connections.size(), 2u);
    EXPECT_EQ(patch.connections[0], (PatchCable{0, 1, 0}));
    EXPECT_EQ(patch.connections[1], (PatchCable{42, -3, 9}));
}

TEST(MixerTree, OneInputGetsItsOwnMixerWithOnlyTheFirstLevel) {
    int nextId = 0;
    Patch patch = patchWithSources(1, nextId);
    const int mix = addMixerNode(patch, {0}, nextId, 0.5, 0.7);
    EXPECT_EQ(mix, 1);
    EXPECT_EQ(nextId, 2);
    const PatchNode& node = nodeWithId(patch, mix);
    EXPECT_EQ(node.device, "ostrel.mod.mixer");
    EXPECT_EQ(node.label, "Mix");
    EXPECT_EQ(node.parameters, (Knobs{{"level_1", 0.5}}));
    ASSERT_EQ(patch.connections.size(), 1u);
    EXPECT_EQ(patch.connections[0], (PatchCable{0, 1, 0}));
}

TEST(MixerTree, FourInputsFillOneMixerInSlotOrder) {
    int nextId = 0;
    Patch patch = patchWithSources(4, nextId);
    const int mix = addMixerNode(patch, {3, 2, 1, 0}, nextId, 0.8, 0.8);
    EXPECT_EQ(mix, 4);
    EXPECT_EQ(nodeWithId(patch, mix).parameters,
              (Knobs{{"level_1", 0.8}, {"level_2", 0.8}, {"level_3", 0.8}, {"level_4", 0.8}}));
    const std::vector<PatchCable> expected{{3, 4, 0}, {2, 4, 1}, {1, 4, 2}, {0, 4, 3}};
    EXPECT_EQ(patch.connections, expected);
}

TEST(MixerTree, FiveInputsMakeTwoGroupMixersAndAFinalOneInIdOrder) {
    int nextId = 0;
    Patch patch = patchWithSources(5, nextId);
    const int mix = addMixerNode(patch, {0, 1, 2, 3, 4}, nextId, 0.5, 0.7);
    EXPECT_EQ(mix, 7);
    EXPECT_EQ(nextId, 8);
    EXPECT_EQ(nodeWithId(patch, 5).parameters.size(), 4u);
    EXPECT_EQ(nodeWithId(patch, 6).parameters, (Knobs{{"level_1", 0.5}}));
    EXPECT_EQ(nodeWithId(patch, 7).parameters, (Knobs{{"level_1", 0.7}, {"level_2", 0.7}}));
    const std::vector<PatchCable> expected{{0, 5, 0}, {1, 5, 1}, {2, 5, 2}, {3, 5, 3}, {4, 6, 0}, {5, 7, 0}, {6, 7, 1}};
    EXPECT_EQ(patch.connections, expected);
    // Nodes stay in id order: each group's cables come before its node.
    for (std::size_t i = 0; i < patch.nodes.size(); ++i) EXPECT_EQ(patch.nodes[i].id, static_cast<int>(i));
}

TEST(MixerTree, NineInputsOfTheDrumKitMixAsFourFourOneThenThree) {
    int nextId = 0;
    Patch patch = patchWithSources(9, nextId);
    std::vector<int> inputs{0, 1, 2, 3, 4, 5, 6, 7, 8};
    const int mix = addMixerNode(patch, inputs, nextId, 0.5, 0.7);
    EXPECT_EQ(mix, 12);
    EXPECT_EQ(cablesInto(patch, 9).size(), 4u);
    EXPECT_EQ(cablesInto(patch, 10).size(), 4u);
    EXPECT_EQ(cablesInto(patch, 11).size(), 1u);
    EXPECT_EQ(nodeWithId(patch, 12).parameters, (Knobs{{"level_1", 0.7}, {"level_2", 0.7}, {"level_3", 0.7}}));
    for (int input : inputs) EXPECT_DOUBLE_EQ(gainAlongCables(patch, input, mix), 0.5 * 0.7);
}

TEST(MixerTree, NoInputsStillGivesOneSilentMixer) {
    Patch patch;
    int nextId = 3;
    const int mix = addMixerNode(patch, {}, nextId, 0.5, 0.7);
    EXPECT_EQ(mix, 3);
    EXPECT_EQ(nextId, 4);
    ASSERT_EQ(patch.nodes.size(), 1u);
    EXPECT_EQ(patch.nodes[0].label, "Mix");
    EXPECT_TRUE(patch.nodes[0].parameters.empty());
    EXPECT_TRUE(patch.connections.empty());
}

TEST(MixerTree, TheNextNodeAfterMixingTakesTheFollowingId) {
    Patch patch;
    int nextId = 0;
    PatchBuilder builder(nextId, patch);
    const int a = builder.addNode("ostrel.mod.vco", "A", {});
    const int b = builder.addNode("ostrel.mod.vco", "B", {});
    const int mix = addMixerNode(patch, {a, b}, nextId, 0.5, 0.7);
    const int level = builder.addNode("ostrel.mod.vca", "Level", {});
    EXPECT_EQ(level, mix + 1);
    EXPECT_EQ(patch.nodes.back().id, level);
    EXPECT_EQ(static_cast<int>(patch.nodes.size()), nextId);
}

TEST(MixerTree, SixteenInputsUseTwoLevelsWithEveryInputAtLevelTimesFinal) {
    int nextId = 0;
    Patch patch = patchWithSources(16, nextId);
    std::vector<int> inputs;
    for (int i = 0; i < 16; ++i) inputs.push_back(i);
    const int mix = addMixerNode(patch, inputs, nextId, 0.8, 0.8);
    EXPECT_EQ(mix, 16 + 4);  // four group mixers, then the final one
    EXPECT_EQ(patch.nodes.size(), 21u);
    for (int input : inputs) EXPECT_DOUBLE_EQ(gainAlongCables(patch, input, mix), 0.8 * 0.8);
}

// A drum rack can have more than 16 pads; a two-level tree would leave the fifth group
// and later without a way to the output.
TEST(MixerTree, MoreThanSixteenInputsAllReachTheResultAtTheSameGain) {
    for (int n : {17, 20, 64, 65, 128}) {
        int nextId = 0;
        Patch patch = patchWithSources(n, nextId);
        std::vector<int> inputs;
        for (int i = 0; i < n; ++i) inputs.push_back(i);
        const int mix = addMixerNode(patch, inputs, nextId, 0.8, 0.7);
        EXPECT_EQ(mix, nextId - 1);
        for (const PatchNode& node : patch.nodes) {
            EXPECT_LE(cablesInto(patch, node.id).size(), 4u);
            for (const PatchCable& cable : cablesInto(patch, node.id)) EXPECT_LT(cable.slot, 4);
        }
        for (int input : inputs) EXPECT_DOUBLE_EQ(gainAlongCables(patch, input, mix), 0.8 * 0.7) << n << " inputs";
        for (std::size_t i = 0; i < patch.nodes.size(); ++i) EXPECT_EQ(patch.nodes[i].id, static_cast<int>(i));
    }
}

TEST(PatchCategory, WithCategoryChangesOnlyTheCategory) {
    int nextId = 0;
    Patch patch = patchWithSources(2, nextId);
    patch.name = "Sub Bass";
    patch.voices = 3;
    patch.output = 1;
    patch.connections.push_back({0, 1, 0});
    Patch expected = patch;
    expected.category = "bass";
    EXPECT_EQ(withCategory("bass", patch), expected);
}

}  // namespace
}  // namespace ostrel::engine
