#include "devices/patches/PolyphonicPatch.h"

#include <ranges>
#include <set>

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

std::vector<int> idsOf(const Patch& patch) {
    const auto ids = patch.nodes | std::views::transform(&PatchNode::id);
    return {ids.begin(), ids.end()};
}

// The single cable into input 0 of `to`; its source.
int sourceOf(const Patch& patch, int to) {
    for (const PatchCable& cable : patch.connections)
        if (cable.to == to && cable.slot == 0) return cable.from;
    return INT_MIN;
}

// Modules with exactly these ids, the last one the output, wired in a chain.
Patch chainWithIds(const std::vector<int>& ids) {
    Patch patch;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        patch.nodes.emplace_back(ids[i], i == 0 ? "ostrel.mod.vco" : "ostrel.mod.vca", "M", Knobs{});
        if (i > 0) patch.connections.push_back({ids[i - 1], ids[i], 0});
    }
    patch.output = ids.back();
    return patch;
}

bool builds(const Patch& patch, std::string* error = nullptr) { return buildGraph(patch, error).graph != nullptr; }

TEST(PolyphonicPatchIds, CopiesRepeatTheIdLayoutThenMixerLevelEchoAndRoom) {
    int levelId = -99;
    const Patch poly = makePolyphonicPatch(chainWithIds({0, 3, 5}), 0.7f, VoiceEffects::EchoAndRoom, 2, &levelId);
    EXPECT_EQ(idsOf(poly), (std::vector<int>{0, 3, 5, 6, 9, 11, 12, 13, 14, 15}));
    EXPECT_EQ(sourceOf(poly, 9), 6);
    EXPECT_EQ(levelId, 13);
    EXPECT_EQ(nodeWithId(poly, 14), PatchNode(14, "ostrel.delay", "Echo",
                                              {{"time_ms", 375}, {"feedback", 0.35}, {"mix", 0.25}, {"ping_pong", 1}}));
    EXPECT_EQ(nodeWithId(poly, 15), PatchNode(15, "ostrel.reverb", "Room", {{"room_size", 0.6}, {"mix", 0.2}}));
    for (int id : {13, 14, 15}) EXPECT_EQ(sourceOf(poly, id), id - 1);
    EXPECT_EQ(poly.output, 15);
    EXPECT_TRUE(builds(poly));
}

// Regression: copies were offset by largest id + 1, so ids -2 and -1 gave every copy the
// same ids; and the offsets must not overflow near the ends of the 32-bit range.
TEST(PolyphonicPatchIds, NegativeAndExtremeIdsGiveEveryCopyIdsOfItsOwn) {
    const Patch negative = makePolyphonicPatch(chainWithIds({-2, -1}), 0.7f, VoiceEffects::None, 3, nullptr);
    EXPECT_EQ(idsOf(negative), (std::vector<int>{-2, -1, 0, 1, 2, 3, 4, 5}));
    for (int copyOutput : {-1, 1, 3}) EXPECT_EQ(mixGain(negative, copyOutput, 4), 0.5);
    for (const std::vector<int>& ids : {std::vector<int>{-2, -1}, {INT_MAX - 4, INT_MAX}, {INT_MIN, INT_MAX}}) {
        const Patch poly = makePolyphonicPatch(chainWithIds(ids), 0.7f, VoiceEffects::EchoAndRoom, 8, nullptr);
        const std::vector<int> all = idsOf(poly);
        EXPECT_EQ(std::set<int>(all.begin(), all.end()).size(), all.size()) << ids[0];
        std::string error;
        EXPECT_TRUE(builds(poly, &error)) << ids[0] << ": " << error;
    }
}

TEST(PolyphonicPatchVoiceKnob, EachPlayedModuleOfACopyAnswersOnlyItsOwnVoiceAndSamplesAreShared) {
    Patch patch = chainWithIds({0, 1});
    patch.nodes.emplace_back(2, "ostrel.mod.keyboard", "Gate", Knobs{{"output", 1}});
    patch.nodes.emplace_back(3, "ostrel.mod.fm", "FM synth", Knobs{{"voice", -1}});
    patch.nodes.emplace_back(4, "ostrel.mod.sampler", "Sampler", Knobs{{"voice", 3}});
    patch.nodes[4].sample = std::make_shared<AudioData>();
    const Patch poly = makePolyphonicPatch(patch, 0.7f, VoiceEffects::None, 3, nullptr);
    for (int c = 0; c < 3; ++c) {
        for (int id : {2, 3, 4}) EXPECT_EQ(nodeWithId(poly, 5 * c + id).parameters.at("voice"), c);
        EXPECT_FALSE(nodeWithId(poly, 5 * c).parameters.contains("voice"));
        EXPECT_EQ(nodeWithId(poly, 5 * c + 4).sample, patch.nodes[4].sample);
    }
}

TEST(PolyphonicPatchLevel, AmountIsTwiceTheLevelAboveOneVoiceAndEveryCopyMixesAtOneGain) {
    for (int voices = 1; voices <= 8; ++voices) {
        int levelId = 0;
        const Patch poly = makePolyphonicPatch(chainWithIds({0, 1}), 0.7f, VoiceEffects::None, voices, &levelId);
        EXPECT_EQ(nodeWithId(poly, levelId).parameters.at("amount"), voices == 1 ? 0.7f : 0.7f * 2.0f);
        const double expected = voices == 1 ? 1.0 : voices <= 4 ? 0.5 : 0.5 * 0.7;
        for (int c = 0; c < voices; ++c)
            EXPECT_DOUBLE_EQ(mixGain(poly, 2 * c + 1, sourceOf(poly, levelId)), expected) << voices;
    }
}

}  // namespace
}  // namespace ostrel::engine
