#include "devices/Patch.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// Sources with ids 0..n-1, as a caller would have added them before mixing.
Patch patchWithSources(int n, int& nextId) {
    Patch patch;
    PatchBuilder builder(nextId, patch);
    for (int i = 0; i < n; ++i) builder.addNode("ostrel.mod.vco", "Osc", {});
    return patch;
}

TEST(MixerTree, FiveInputsMakeTwoGroupMixersAndAFinalOneInIdOrder) {
    int nextId = 0;
    Patch patch = patchWithSources(5, nextId);
    EXPECT_EQ(addMixerNode(patch, {0, 1, 2, 3, 4}, nextId, 0.5, 0.7), 7);
    EXPECT_EQ(nodeWithId(patch, 5).label, "Mix");
    EXPECT_EQ(nodeWithId(patch, 6).parameters, (Knobs{{"level_1", 0.5}}));
    EXPECT_EQ(nodeWithId(patch, 7).parameters, (Knobs{{"level_1", 0.7}, {"level_2", 0.7}}));
    const std::vector<PatchCable> expected{{0, 5, 0}, {1, 5, 1}, {2, 5, 2}, {3, 5, 3}, {4, 6, 0}, {5, 7, 0}, {6, 7, 1}};
    EXPECT_EQ(patch.connections, expected);
}

// A drum rack can have more than 16 pads; a two-level tree left the fifth group and
// later without a way to the output.
TEST(MixerTree, EveryInputReachesTheResultAtOneGainThroughMixersOfAtMostFourInputs) {
    for (int n : {1, 4, 9, 16, 17, 64, 128}) {
        int nextId = 0;
        Patch patch = patchWithSources(n, nextId);
        std::vector<int> inputs;
        for (int i = 0; i < n; ++i) inputs.push_back(i);
        const int mix = addMixerNode(patch, inputs, nextId, 0.8, 0.7);
        EXPECT_EQ(mix, nextId - 1);
        const double expected = n <= 4 ? 0.8 : 0.8 * 0.7;
        for (int input : inputs) EXPECT_DOUBLE_EQ(mixGain(patch, input, mix), expected) << n << " inputs";
        for (const PatchCable& cable : patch.connections) EXPECT_LT(cable.slot, 4) << n;
        for (std::size_t i = 0; i < patch.nodes.size(); ++i) EXPECT_EQ(patch.nodes[i].id, static_cast<int>(i));
    }
}

}  // namespace
}  // namespace ostrel::engine
