#include "devices/PolyphonicPatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "devices/PatchGraph.h"

namespace ostrel::engine {
namespace {

const PatchNode& nodeWithId(const Patch& patch, int id) {
    for (const PatchNode& node : patch.nodes)
        if (node.id == id) return node;
    throw std::out_of_range("no node " + std::to_string(id));
}

bool hasNode(const Patch& patch, int id) {
    return std::any_of(patch.nodes.begin(), patch.nodes.end(), [id](const PatchNode& n) { return n.id == id; });
}

std::vector<int> idsOf(const Patch& patch) {
    std::vector<int> ids;
    for (const PatchNode& node : patch.nodes) ids.push_back(node.id);
    return ids;
}

// Gain from `source` to `sink` through the mixer knobs, summed over every path.
double mixGain(const Patch& patch, int source, int sink) {
    if (source == sink) return 1.0;
    double total = 0.0;
    for (const PatchCable& cable : patch.connections) {
        if (cable.from != source) continue;
        const PatchNode& next = nodeWithId(patch, cable.to);
        if (next.device != "ostrel.mod.mixer") continue;
        total += next.parameters.at("level_" + std::to_string(cable.slot + 1)) * mixGain(patch, cable.to, sink);
    }
    return total;
}

// The single cable into input 0 of `to`; its source.
int sourceOf(const Patch& patch, int to) {
    for (const PatchCable& cable : patch.connections)
        if (cable.to == to && cable.slot == 0) return cable.from;
    throw std::out_of_range("nothing plugged into " + std::to_string(to));
}

// Keyboard pitch -> oscillator -> amplifier <- envelope <- keyboard gate: a playable voice
// with ids 0 to 4.
Patch smallVoice() {
    Patch patch;
    patch.name = "Small";
    patch.category = "bass";
    patch.voices = 4;
    int next = 0;
    PatchBuilder builder(next, patch);
    const int pitch = builder.addNode("ostrel.mod.keyboard", "Pitch", {{"output", 0}});
    const int gate = builder.addNode("ostrel.mod.keyboard", "Gate", {{"output", 1}});
    const int osc = builder.addNode("ostrel.mod.vco", "Oscillator", {});
    const int env = builder.addNode("ostrel.mod.adsr", "Amp envelope", {});
    const int amp = builder.addNode("ostrel.mod.vca", "Amplifier", {});
    builder.connect(pitch, osc, 0);
    builder.connect(gate, env, 0);
    builder.connect(osc, amp, 0);
    builder.connect(env, amp, 1);
    patch.output = amp;
    return patch;
}

// The same patch with every id moved by `delta` (done in 64 bits, so ids can reach the limit).
Patch shifted(Patch patch, long long delta) {
    const auto move = [delta](int id) { return static_cast<int>(id + delta); };
    for (PatchNode& node : patch.nodes) node.id = move(node.id);
    for (PatchCable& cable : patch.connections) cable = {move(cable.from), move(cable.to), cable.slot};
    patch.output = move(patch.output);
    return patch;
}

// Modules with exactly these ids, the last one the output, wired in a chain.
Patch chainWithIds(const std::vector<int>& ids) {
    Patch patch;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        patch.nodes.emplace_back(ids[i], i == 0 ? "ostrel.mod.vco" : "ostrel.mod.vca", "M", std::map<std::string, double>{});
        if (i > 0) patch.connections.push_back({ids[i - 1], ids[i], 0});
    }
    patch.output = ids.back();
    return patch;
}

bool builds(const Patch& patch, std::string* error = nullptr) {
    return buildPatchGraph(patch, 48000.0, 512, 2, error).graph != nullptr;
}

// Every copy of every cable joins modules that exist, and no two modules share an id.
void expectWellFormed(const Patch& patch) {
    const std::vector<int> ids = idsOf(patch);
    EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), ids.size()) << "two modules share an id";
    for (const PatchCable& cable : patch.connections) {
        EXPECT_TRUE(hasNode(patch, cable.from)) << cable.from;
        EXPECT_TRUE(hasNode(patch, cable.to)) << cable.to;
    }
}

TEST(PolyphonicPatchIds, TwoCopiesOfSixModulesThenMixerLevelEchoAndRoom) {
    Patch patch = chainWithIds({0, 1, 2, 3, 4, 5});
    int levelId = -99;
    const Patch poly = makePolyphonicPatch(patch, 0.7f, true, 2, &levelId);

    EXPECT_EQ(idsOf(poly), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(nodeWithId(poly, 12).device, "ostrel.mod.mixer");
    EXPECT_EQ(nodeWithId(poly, 13).label, "Level");
    EXPECT_EQ(nodeWithId(poly, 14).label, "Echo");
    EXPECT_EQ(nodeWithId(poly, 15).label, "Room");
    EXPECT_EQ(levelId, 13);
    EXPECT_EQ(poly.output, 15);
    EXPECT_EQ(sourceOf(poly, 15), 14);
    EXPECT_EQ(sourceOf(poly, 14), 13);
    EXPECT_EQ(sourceOf(poly, 13), 12);
    EXPECT_TRUE(builds(poly));
}

TEST(PolyphonicPatchIds, GapsInTheIdsRepeatWithEveryCopy) {
    const Patch poly = makePolyphonicPatch(chainWithIds({0, 3, 9}), 0.7f, false, 2, nullptr);

    EXPECT_EQ(idsOf(poly), (std::vector<int>{0, 3, 9, 10, 13, 19, 20, 21}));
    EXPECT_EQ(sourceOf(poly, 13), 10);
    EXPECT_EQ(sourceOf(poly, 19), 13);
    EXPECT_EQ(poly.output, 21);
}

TEST(PolyphonicPatchIds, NegativeIdsGiveEveryCopyIdsOfItsOwn) {
    // Regression: copies were offset by largest id + 1, which is 0 here, so all copies
    // had the same ids.
    const Patch poly = makePolyphonicPatch(chainWithIds({-2, -1}), 0.7f, false, 3, nullptr);

    EXPECT_EQ(idsOf(poly), (std::vector<int>{-2, -1, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(sourceOf(poly, 1), 0);
    EXPECT_EQ(mixGain(poly, -1, 4), 0.5);
    EXPECT_EQ(mixGain(poly, 1, 4), 0.5);
    EXPECT_EQ(mixGain(poly, 3, 4), 0.5);
    expectWellFormed(poly);
    EXPECT_TRUE(builds(poly));
}

TEST(PolyphonicPatchIds, IdsAtTheTopOfTheRangeStillGiveEightDistinctCopies) {
    const Patch patch = shifted(smallVoice(), INT_MAX - 4);
    int levelId = 0;
    const Patch poly = makePolyphonicPatch(patch, 0.7f, true, 8, &levelId);

    EXPECT_EQ(poly.nodes.size(), 8 * patch.nodes.size() + 3 + 3);
    expectWellFormed(poly);
    EXPECT_EQ(nodeWithId(poly, levelId).label, "Level");
    std::string error;
    EXPECT_TRUE(builds(poly, &error)) << error;
}

TEST(PolyphonicPatchIds, IdsAtBothEndsOfTheRangeStillGiveDistinctCopies) {
    const Patch poly = makePolyphonicPatch(chainWithIds({INT_MIN, INT_MAX}), 0.5f, true, 4, nullptr);

    expectWellFormed(poly);
    EXPECT_TRUE(builds(poly));
}

TEST(PolyphonicPatchIds, OneVoiceIsThePatchItselfWithLevelAfterIt) {
    Patch patch = smallVoice();
    patch.nodes[0].parameters["voice"] = -1;  // answers every voice, and keeps doing so
    int levelId = 0;
    const Patch poly = makePolyphonicPatch(patch, 0.7f, false, 1, &levelId);

    ASSERT_EQ(poly.nodes.size(), patch.nodes.size() + 1);
    EXPECT_TRUE(std::equal(patch.nodes.begin(), patch.nodes.end(), poly.nodes.begin()));
    EXPECT_EQ(poly.category, "bass");
    EXPECT_EQ(poly.voices, 4);
    EXPECT_EQ(levelId, 5);
    EXPECT_EQ(sourceOf(poly, 5), patch.output);
    EXPECT_EQ(poly.output, 5);
}

TEST(PolyphonicPatchIds, VoiceCountIsClampedToOneToEight) {
    const Patch patch = chainWithIds({0});
    EXPECT_EQ(makePolyphonicPatch(patch, 0.7f, false, 0, nullptr).nodes.size(), 2u);
    EXPECT_EQ(makePolyphonicPatch(patch, 0.7f, false, -3, nullptr).nodes.size(), 2u);
    // Eight copies, mixers for 4 + 4 and one above them, Level.
    EXPECT_EQ(makePolyphonicPatch(patch, 0.7f, false, 12, nullptr).nodes.size(), 8u + 3u + 1u);
}

TEST(PolyphonicPatchVoiceKnob, EachCopyAnswersOnlyItsOwnVoice) {
    Patch patch = smallVoice();
    patch.nodes.emplace_back(5, "ostrel.mod.fm", "FM synth", std::map<std::string, double>{{"voice", -1}});
    patch.nodes.emplace_back(6, "ostrel.mod.sampler", "Sampler", std::map<std::string, double>{{"voice", 3}});

    const Patch poly = makePolyphonicPatch(patch, 0.7f, false, 3, nullptr);
    for (int c = 0; c < 3; ++c) {
        const int base = 7 * c;
        EXPECT_EQ(nodeWithId(poly, base + 0).parameters.at("voice"), c);
        EXPECT_EQ(nodeWithId(poly, base + 1).parameters.at("voice"), c);
        EXPECT_EQ(nodeWithId(poly, base + 5).parameters.at("voice"), c);
        EXPECT_EQ(nodeWithId(poly, base + 6).parameters.at("voice"), c);
        EXPECT_FALSE(nodeWithId(poly, base + 2).parameters.contains("voice"));
        EXPECT_EQ(nodeWithId(poly, base + 1).parameters.at("output"), 1);
    }
}

TEST(PolyphonicPatchVoiceKnob, SamplerCopiesShareOneSoundRecord) {
    Patch patch = chainWithIds({0});
    patch.nodes[0].device = "ostrel.mod.sampler";
    patch.nodes[0].sample = std::make_shared<AudioData>();

    const Patch poly = makePolyphonicPatch(patch, 0.7f, false, 4, nullptr);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(nodeWithId(poly, c).sample, patch.nodes[0].sample);
}

TEST(PolyphonicPatchLevel, AmountIsTwiceTheLevelAboveOneVoice) {
    int levelId = 0;
    Patch poly = makePolyphonicPatch(chainWithIds({0}), 0.7f, false, 4, &levelId);
    EXPECT_EQ(nodeWithId(poly, levelId).parameters.at("amount"), static_cast<double>(0.7f * 2.0f));

    poly = makePolyphonicPatch(chainWithIds({0}), 0.7f, false, 1, &levelId);
    EXPECT_EQ(nodeWithId(poly, levelId).parameters.at("amount"), static_cast<double>(0.7f));
}

TEST(PolyphonicPatchLevel, EveryCopyReachesLevelThroughTheSameMixerGain) {
    for (int voices = 2; voices <= 8; ++voices) {
        int levelId = 0;
        const Patch poly = makePolyphonicPatch(chainWithIds({0, 1}), 1.0f, false, voices, &levelId);
        const int mix = sourceOf(poly, levelId);
        const double expected = voices <= 4 ? 0.5 : 0.5 * 0.7;
        for (int c = 0; c < voices; ++c) EXPECT_DOUBLE_EQ(mixGain(poly, 2 * c + 1, mix), expected) << voices;
    }
}

TEST(PolyphonicPatchEffects, EchoAndRoomCarryTheirKnobsAfterLevel) {
    int levelId = 0;
    const Patch poly = makePolyphonicPatch(chainWithIds({0}), 0.7f, true, 2, &levelId);
    const PatchNode& echo = nodeWithId(poly, levelId + 1);
    const PatchNode& room = nodeWithId(poly, levelId + 2);

    EXPECT_EQ(echo.device, "ostrel.delay");
    EXPECT_EQ(echo.parameters,
              (std::map<std::string, double>{{"time_ms", 375}, {"feedback", 0.35}, {"mix", 0.25}, {"ping_pong", 1}}));
    EXPECT_EQ(room.device, "ostrel.reverb");
    EXPECT_EQ(room.parameters, (std::map<std::string, double>{{"room_size", 0.6}, {"mix", 0.2}}));
    EXPECT_EQ(poly.output, room.id);
}

TEST(PolyphonicPatchBrokenReferences, MissingOutputStillFailsToBuild) {
    // With the output -1, copy 1's output would otherwise land on copy 0's last module.
    Patch patch = chainWithIds({0, 1, 2, 3, 4, 5});
    patch.output = -1;
    for (int voices : {1, 2, 8}) {
        std::string error;
        EXPECT_FALSE(builds(makePolyphonicPatch(patch, 0.7f, true, voices, nullptr), &error)) << voices;
        EXPECT_EQ(error, "a cable refers to a module that does not exist");
    }
}

TEST(PolyphonicPatchBrokenReferences, OutputPastTheLastModuleDoesNotWireCopiesTogether) {
    // Output 7 names no module; copy 0 must not pick up copy 1's module 1 (id 7).
    Patch patch = chainWithIds({0, 1, 2, 3, 4, 5});
    patch.output = 7;
    EXPECT_FALSE(builds(makePolyphonicPatch(patch, 0.7f, false, 2, nullptr)));

    patch.output = 5;
    patch.connections.push_back({8, 5, 1});
    EXPECT_FALSE(builds(makePolyphonicPatch(patch, 0.7f, false, 2, nullptr)));
}

}  // namespace
}  // namespace ostrel::engine
