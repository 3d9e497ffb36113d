#include "devices/patches/Patch.h"

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
