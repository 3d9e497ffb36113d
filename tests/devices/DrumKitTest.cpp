#include "devices/DrumKit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InstrumentHarness.h"
#include "ModuleHarness.h"
#include "devices/PatchGraph.h"
#include "devices/VcoNode.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::instrument;
using Knobs = std::map<std::string, double>;

// Each voice's ids, its note and the ids of its velocity amplifiers (the kit's outputs).
struct VoiceIds {
    const char* name;
    int note;
    int first;
    int last;
    std::vector<int> outputs;
};

const std::vector<VoiceIds> kVoices = {
    {"Kick", 36, 0, 7, {7}},          {"Snare", 38, 8, 20, {15, 20}},    {"Clap", 39, 21, 27, {27}},
    {"Low tom", 41, 28, 35, {35}},    {"Closed hat", 42, 36, 42, {42}},  {"High tom", 45, 43, 50, {50}},
    {"Open hat", 46, 51, 57, {57}},   {"Crash", 49, 58, 64, {64}},
};

PatchGraph buildKit() {
    std::string error;
    PatchGraph built = buildPatchGraph(makeModularDrums(), kRate, kBlock, kChannels, &error);
    EXPECT_NE(built.graph, nullptr) << error;
    return built;
}

std::vector<int> allOutputs() {
    std::vector<int> ids;
    for (const VoiceIds& v : kVoices) ids.insert(ids.end(), v.outputs.begin(), v.outputs.end());
    return ids;
}

TEST(DrumKitPatch, SeventyNodesAndSeventyFiveCablesPlayedByOneCopy) {
    const Patch kit = makeModularDrums();
    EXPECT_EQ(kit.name, "Modular Drums");
    EXPECT_EQ(kit.category, "drums");
    EXPECT_EQ(kit.voices, 1);
    ASSERT_EQ(kit.nodes.size(), 70u);
    EXPECT_EQ(kit.connections.size(), 75u);
    for (std::size_t i = 0; i < kit.nodes.size(); ++i) EXPECT_EQ(kit.nodes[i].id, static_cast<int>(i));
    EXPECT_EQ(kit.output, 69);
    EXPECT_EQ(kit.nodes[69].label, "Kit level");
    EXPECT_EQ(kit.nodes[69].device, "ostrel.mod.attenuverter");
    EXPECT_EQ(kit.nodes[69].parameters, (Knobs{{"amount", 1.0}}));
}

TEST(DrumKitPatch, VoicesTakeTheirFixedIdRanges) {
    const Patch kit = makeModularDrums();
    for (const VoiceIds& v : kVoices) {
        SCOPED_TRACE(v.name);
        const std::string name = v.name;
        EXPECT_EQ(kit.nodes[static_cast<std::size_t>(v.first)].label, name + " key");
        EXPECT_EQ(kit.nodes[static_cast<std::size_t>(v.first + 1)].label, name + " velocity");
        for (int out : v.outputs) EXPECT_EQ(kit.nodes[static_cast<std::size_t>(out)].label, name + " velocity amplifier");
        EXPECT_EQ(v.outputs.back(), v.last);
        for (int id : {v.first, v.first + 1}) {
            EXPECT_EQ(kit.nodes[static_cast<std::size_t>(id)].device, "ostrel.mod.keyboard");
            EXPECT_DOUBLE_EQ(kit.nodes[static_cast<std::size_t>(id)].parameters.at("note"), v.note);
        }
        for (int id = v.first; id <= v.last; ++id)
            EXPECT_EQ(kit.nodes[static_cast<std::size_t>(id)].label.rfind(name + " ", 0), 0u) << id;
    }
}

TEST(DrumKitPatch, VoiceTableMatchesTheIdsAndNotes) {
    const std::vector<DrumKitVoice>& voices = modularDrumKitVoices();
    ASSERT_EQ(voices.size(), kVoices.size());
    for (std::size_t i = 0; i < voices.size(); ++i) {
        EXPECT_STREQ(voices[i].name, kVoices[i].name);
        EXPECT_EQ(voices[i].note, kVoices[i].note);
        EXPECT_EQ(voices[i].layers.size(), kVoices[i].outputs.size());
    }
    // The Snare's tone layer comes before its noise layer.
    EXPECT_TRUE(voices[1].layers[0].tone);
    EXPECT_FALSE(voices[1].layers[1].tone);
}

TEST(DrumKitPatch, LayersAreMixedInATwoLevelTreeIntoTheKitLevel) {
    const Patch kit = makeModularDrums();
    auto into = [&kit](int to) {
        std::vector<std::pair<int, int>> from;
        for (const PatchCable& c : kit.connections)
            if (c.to == to) from.emplace_back(c.from, c.slot);
        return from;
    };
    EXPECT_EQ(into(65), (std::vector<std::pair<int, int>>{{7, 0}, {15, 1}, {20, 2}, {27, 3}}));
    EXPECT_EQ(into(66), (std::vector<std::pair<int, int>>{{35, 0}, {42, 1}, {50, 2}, {57, 3}}));
    EXPECT_EQ(into(67), (std::vector<std::pair<int, int>>{{64, 0}}));
    EXPECT_EQ(into(68), (std::vector<std::pair<int, int>>{{65, 0}, {66, 1}, {67, 2}}));
    EXPECT_EQ(into(69), (std::vector<std::pair<int, int>>{{68, 0}}));
    EXPECT_EQ(kit.nodes[65].parameters, (Knobs{{"level_1", 0.5}, {"level_2", 0.5}, {"level_3", 0.5}, {"level_4", 0.5}}));
    EXPECT_EQ(kit.nodes[67].parameters, (Knobs{{"level_1", 0.5}}));
    EXPECT_EQ(kit.nodes[68].parameters, (Knobs{{"level_1", 0.7}, {"level_2", 0.7}, {"level_3", 0.7}}));
}

TEST(DrumKitPatch, BuildsWithoutWarningsKeepingEveryModule) {
    const PatchGraph built = buildKit();
    EXPECT_TRUE(built.warnings.empty());
    EXPECT_EQ(built.nodesById.size(), 70u);
}

TEST(DrumKitSound, EachNoteSoundsOnlyItsOwnVoice) {
    for (const VoiceIds& v : kVoices) {
        SCOPED_TRACE(v.name);
        PatchGraph built = buildKit();
        GraphRun run(built, {noteOn(0, v.note)}, allOutputs());
        run.run(4800);
        EXPECT_GT(peakOf(run.left, 0, 4800), 0.01);
        for (const auto& [id, signal] : run.modules) {
            const bool own = std::find(v.outputs.begin(), v.outputs.end(), id) != v.outputs.end();
            if (own) {
                EXPECT_GT(peakOf(signal, 0, 4800), 0.01) << id;
            } else {
                EXPECT_EQ(peakOf(signal, 0, 4800), 0.0) << id;
            }
        }
    }
}

TEST(DrumKitSound, NoteOutsideTheKitSoundsNothing) {
    PatchGraph built = buildKit();
    GraphRun run(built, {noteOn(0, 40), noteOff(2400, 40)});
    run.run(9600);
    EXPECT_EQ(peakOf(run.left, 0, 9600), 0.0);
}

TEST(DrumKitSound, KickStartsTwoOctavesUpAndFallsBackToItsRestingPitch) {
    PatchGraph built = buildKit();
    GraphRun run(built, {noteOn(0, 36)}, {4});  // 4: "Kick tone"
    run.run(48000);
    const std::vector<float>& tone = run.modules.at(4);
    const double rest = VcoNode::kBaseHz * std::exp2(-28.0 / 12.0);  // 51.9 Hz
    // The sine starts at phase 0; its first half cycle (~2.5 ms) is sung near the top of
    // the drop, a little below 4 * rest as the 60 ms decay already pulls it down.
    std::size_t half = 1;
    while (half < tone.size() && !(tone[half - 1] > 0.0f && tone[half] <= 0.0f)) ++half;
    const double firstHz = kRate / (2.0 * static_cast<double>(half));
    EXPECT_GT(firstHz / rest, 3.2);
    EXPECT_LT(firstHz / rest, 4.1);
    EXPECT_NEAR(test::mod::measureFrequency(tone, 24000, 48000, kRate), rest, 0.2);
}

TEST(DrumKitSound, SnareLayersStartTogetherAndTheToneFadesFirst) {
    PatchGraph built = buildKit();
    GraphRun run(built, {noteOn(0, 38)}, {13, 18, 15, 20});  // envelopes, then velocity amplifiers
    run.run(9600);
    const auto& toneEnv = run.modules.at(13);
    const auto& noiseEnv = run.modules.at(18);
    // Both envelopes leave zero on the same frame: one key node gates both.
    std::size_t toneStart = 0, noiseStart = 0;
    while (toneEnv[toneStart] == 0.0f) ++toneStart;
    while (noiseEnv[noiseStart] == 0.0f) ++noiseStart;
    EXPECT_EQ(toneStart, noiseStart);
    // 110 ms against 180 ms of decay.
    const std::size_t at = static_cast<std::size_t>(0.08 * kRate);
    EXPECT_LT(toneEnv[at], noiseEnv[at]);
    EXPECT_GT(peakOf(run.modules.at(15), 0, 2400), 0.01);
    EXPECT_GT(peakOf(run.modules.at(20), 0, 2400), 0.01);
}

TEST(DrumKitSound, DrumDiesAwayWhileTheKeyIsHeld) {
    PatchGraph built = buildKit();
    GraphRun run(built, {noteOn(0, 49)});  // the crash, the longest decay
    run.run(3 * 48000);
    EXPECT_GT(peakOf(run.left, 0, 4800), 0.05);
    EXPECT_EQ(peakOf(run.left, 3 * 48000 - kBlock, 3 * 48000), 0.0);
}

TEST(DrumKitSound, EarlyKeyUpCutsTheSoundShort) {
    PatchGraph built = buildKit();
    GraphRun run(built, {noteOn(0, 49), noteOff(2400, 49)});
    run.run(48000);
    EXPECT_GT(peakOf(run.left, 2000, 2400), 0.05);
    // 20 ms of release takes 99 %; silent well within 100 ms of the key coming up.
    EXPECT_EQ(peakOf(run.left, 2400 + 4800, 48000), 0.0);
}

TEST(DrumKitSound, KickPeakIsItsLevelThroughBothMixerStages) {
    PatchGraph built = buildKit();
    GraphRun run(built, {noteOn(0, 36)});
    run.run(960);
    const double peak = peakOf(run.left, 0, 960);
    // Level 1 * 0.5 * 0.7, less what the 320 ms decay has taken by the first crest.
    EXPECT_LE(peak, 0.35 + 1e-6);
    EXPECT_GT(peak, 0.3);
}

}  // namespace
}  // namespace ostrel::engine
