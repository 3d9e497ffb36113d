#include "devices/BuiltinInstruments.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "InstrumentHarness.h"
#include "ModuleHarness.h"
#include "devices/PatchGraph.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::instrument;
using Knobs = std::map<std::string, double>;

struct Expected {
    const char* name;
    const char* category;
    int voices;
    std::size_t nodes;
    std::size_t cables;
    int output;
};

constexpr Expected kList[] = {
    {"Modular Lead", "synth", 8, 9, 9, 8},    {"Modular Bass", "bass", 8, 9, 9, 8},
    {"Modular Pad", "pad", 8, 11, 11, 10},    {"Modular Drums", "drums", 1, 70, 75, 69},
    {"Square Lead", "synth", 8, 9, 9, 8},     {"Soft Pluck", "synth", 8, 9, 9, 8},
    {"Glass Bell", "synth", 8, 9, 9, 8},      {"Acid Saw", "synth", 8, 9, 9, 8},
    {"Sub Bass", "bass", 8, 9, 9, 8},         {"Growl Bass", "bass", 8, 9, 9, 8},
    {"Square Bass", "bass", 8, 9, 9, 8},      {"Warm Strings", "pad", 8, 11, 11, 10},
    {"Glass Pad", "pad", 8, 11, 11, 10},      {"FM E-Piano", "fm", 8, 1, 0, 0},
    {"FM Bell", "fm", 8, 1, 0, 0},            {"FM Bass", "fm", 8, 1, 0, 0},
    {"FM Brass", "fm", 8, 1, 0, 0},           {"FM Pad", "fm", 8, 1, 0, 0},
    {"FM Organ", "fm", 8, 1, 0, 0},
};

const Patch& byName(const std::vector<Patch>& list, const std::string& name) {
    for (const Patch& p : list)
        if (p.name == name) return p;
    throw std::out_of_range(name);
}

const PatchNode& byLabel(const Patch& patch, const std::string& label) {
    for (const PatchNode& n : patch.nodes)
        if (n.label == label) return n;
    throw std::out_of_range(label);
}

std::vector<std::tuple<int, int, int>> cablesOf(const Patch& p) {
    std::vector<std::tuple<int, int, int>> result;
    for (const PatchCable& c : p.connections) result.emplace_back(c.from, c.to, c.slot);
    return result;
}

TEST(BuiltinInstrumentsList, NineteenPatchesInMenuOrderWithUniqueNames) {
    const std::vector<Patch> list = builtinPatches();
    ASSERT_EQ(list.size(), std::size(kList));
    std::set<std::string> names;
    for (std::size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(kList[i].name);
        EXPECT_EQ(list[i].name, kList[i].name);
        EXPECT_EQ(list[i].category, kList[i].category);
        EXPECT_EQ(list[i].voices, kList[i].voices);
        EXPECT_EQ(list[i].nodes.size(), kList[i].nodes);
        EXPECT_EQ(list[i].connections.size(), kList[i].cables);
        EXPECT_EQ(list[i].output, kList[i].output);
        names.insert(list[i].name);
    }
    EXPECT_EQ(names.size(), list.size());
}

TEST(BuiltinInstrumentsList, NodeIdsEqualTheirPositions) {
    for (const Patch& p : builtinPatches()) {
        SCOPED_TRACE(p.name);
        for (std::size_t i = 0; i < p.nodes.size(); ++i) EXPECT_EQ(p.nodes[i].id, static_cast<int>(i));
    }
}

TEST(BuiltinInstrumentsList, EveryCallBuildsFreshEqualPatches) {
    std::vector<Patch> first = builtinPatches();
    first[0].nodes[2].parameters["level"] = 0.0;
    first[0].name = "changed";
    const std::vector<Patch> second = builtinPatches();
    EXPECT_EQ(second[0].name, "Modular Lead");
    EXPECT_DOUBLE_EQ(second[0].nodes[2].parameters.at("level"), 0.6);
    EXPECT_EQ(second, builtinPatches());
}

TEST(BuiltinInstrumentsBasicVoice, HasTheNineModulesAndCablesOfTheShape) {
    const Patch p = makeBasicVoicePatch("Test", {{"waveform", 1}}, {{"mode", 0}}, {{"sustain", 0.5}},
                                        {{"decay_ms", 99}}, 1.25);
    EXPECT_EQ(p.category, "synth");
    EXPECT_EQ(p.voices, 8);
    const std::pair<const char*, const char*> nodes[] = {
        {"ostrel.mod.keyboard", "Pitch"}, {"ostrel.mod.keyboard", "Gate"},
        {"ostrel.mod.vco", "Oscillator"}, {"ostrel.mod.adsr", "Filter envelope"},
        {"ostrel.mod.vcf", "Filter"},     {"ostrel.mod.adsr", "Amp envelope"},
        {"ostrel.mod.vca", "Amplifier"},  {"ostrel.mod.keyboard", "Velocity"},
        {"ostrel.mod.vca", "Velocity amplifier"}};
    ASSERT_EQ(p.nodes.size(), 9u);
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(p.nodes[i].device, nodes[i].first);
        EXPECT_EQ(p.nodes[i].label, nodes[i].second);
    }
    EXPECT_EQ(p.nodes[0].parameters, (Knobs{{"output", 0}}));
    EXPECT_EQ(p.nodes[1].parameters, (Knobs{{"output", 1}}));
    EXPECT_EQ(p.nodes[2].parameters, (Knobs{{"waveform", 1}}));
    EXPECT_EQ(p.nodes[3].parameters, (Knobs{{"decay_ms", 99}}));
    EXPECT_EQ(p.nodes[4].parameters, (Knobs{{"mode", 0}, {"cv_amount", 1.25}}));
    EXPECT_EQ(p.nodes[5].parameters, (Knobs{{"sustain", 0.5}}));
    EXPECT_EQ(p.nodes[6].parameters, (Knobs{{"level", 1.0}}));
    EXPECT_EQ(p.nodes[7].parameters, (Knobs{{"output", 2}}));
    EXPECT_EQ(p.nodes[8].parameters, (Knobs{{"level", 1.0}}));
    const std::vector<std::tuple<int, int, int>> cables = {{0, 2, 0}, {1, 3, 0}, {1, 5, 0}, {2, 4, 0}, {3, 4, 1},
                                                           {4, 6, 0}, {5, 6, 1}, {6, 8, 0}, {7, 8, 1}};
    EXPECT_EQ(cablesOf(p), cables);
}

TEST(BuiltinInstrumentsBasicVoice, SameBuilderGivesLeadSynthAndBassBass) {
    const std::vector<Patch> list = builtinPatches();
    EXPECT_EQ(byName(list, "Modular Lead").category, "synth");
    EXPECT_EQ(byName(list, "Modular Bass").category, "bass");
    EXPECT_EQ(cablesOf(byName(list, "Modular Lead")), cablesOf(byName(list, "Modular Bass")));
}

TEST(BuiltinInstrumentsBasicVoice, GlassBellSetsOnlyItsOwnOscillatorKnobs) {
    const std::vector<Patch> list = builtinPatches();
    const Patch& bell = byName(list, "Glass Bell");
    EXPECT_EQ(byLabel(bell, "Oscillator").parameters, (Knobs{{"coarse", 12}, {"level", 0.5}, {"waveform", 0}}));
    EXPECT_EQ(byLabel(bell, "Filter").parameters,
              (Knobs{{"cutoff_hz", 6000}, {"cv_amount", 0.5}, {"mode", 0}, {"resonance", 0.1}}));
    EXPECT_EQ(byLabel(bell, "Amp envelope").parameters,
              (Knobs{{"attack_ms", 1}, {"decay_ms", 1400}, {"release_ms", 900}, {"sustain", 0}}));
}

TEST(BuiltinInstrumentsPad, HasTheElevenModulesAndCablesOfTheShape) {
    const Patch p = makePadPatch("Test", 1, 9, 2000, 0.3, 100, 200, 0.5, 0.7);
    EXPECT_EQ(p.category, "pad");
    ASSERT_EQ(p.nodes.size(), 11u);
    const char* labels[] = {"Pitch", "Gate", "Oscillator A", "Oscillator B", "Mix", "Slow sweep",
                            "Filter", "Amp envelope", "Amplifier", "Velocity", "Velocity amplifier"};
    for (std::size_t i = 0; i < 11; ++i) EXPECT_EQ(p.nodes[i].label, labels[i]);
    EXPECT_EQ(p.nodes[5].parameters, (Knobs{{"depth", 1.0}, {"rate_hz", 0.5}, {"waveform", 1}}));
    EXPECT_EQ(p.nodes[6].parameters, (Knobs{{"cutoff_hz", 2000}, {"cv_amount", 0.7}, {"mode", 0}, {"resonance", 0.3}}));
    EXPECT_EQ(p.nodes[7].parameters,
              (Knobs{{"attack_ms", 100}, {"decay_ms", 600}, {"release_ms", 200}, {"sustain", 0.85}}));
    const std::vector<std::tuple<int, int, int>> cables = {{0, 2, 0}, {0, 3, 0}, {2, 4, 0}, {3, 4, 1},
                                                           {4, 6, 0}, {5, 6, 1}, {1, 7, 0}, {6, 8, 0},
                                                           {7, 8, 1}, {8, 10, 0}, {9, 10, 1}};
    EXPECT_EQ(cablesOf(p), cables);
}

TEST(BuiltinInstrumentsPad, OscillatorsAreDetunedInOppositeDirections) {
    const std::vector<Patch> list = builtinPatches();
    const std::pair<const char*, double> pads[] = {{"Modular Pad", 7}, {"Warm Strings", 12}, {"Glass Pad", 5}};
    for (const auto& [name, detune] : pads) {
        SCOPED_TRACE(name);
        const Patch& p = byName(list, name);
        EXPECT_DOUBLE_EQ(byLabel(p, "Oscillator A").parameters.at("fine"), -detune);
        EXPECT_DOUBLE_EQ(byLabel(p, "Oscillator B").parameters.at("fine"), detune);
    }
    // Only the first pad carries coarse 0 on its second oscillator.
    EXPECT_DOUBLE_EQ(byLabel(byName(list, "Modular Pad"), "Oscillator B").parameters.at("coarse"), 0.0);
    EXPECT_EQ(byLabel(byName(list, "Warm Strings"), "Oscillator B").parameters.count("coarse"), 0u);
}

TEST(BuiltinInstrumentsFm, OneModuleCarryingItsKnobsAndNoneOfThePlayerKnobs) {
    const std::vector<Patch> list = builtinPatches();
    for (const Patch& p : list) {
        if (p.category != "fm") continue;
        SCOPED_TRACE(p.name);
        ASSERT_EQ(p.nodes.size(), 1u);
        EXPECT_EQ(p.nodes[0].device, "ostrel.mod.fm");
        EXPECT_EQ(p.nodes[0].label, "FM synth");
        for (const char* knob : {"gain", "tune_cents", "voice", "note"}) EXPECT_EQ(p.nodes[0].parameters.count(knob), 0u);
    }
    const Knobs& pad = byName(list, "FM Pad").nodes[0].parameters;
    EXPECT_DOUBLE_EQ(pad.at("op3_ratio"), 1.005);
    EXPECT_DOUBLE_EQ(pad.at("op4_ratio"), 0.995);
    EXPECT_EQ(byName(list, "FM E-Piano").nodes[0].parameters.count("feedback"), 0u);
    EXPECT_DOUBLE_EQ(byName(list, "FM Bass").nodes[0].parameters.at("feedback"), 0.25);
    EXPECT_EQ(byName(list, "FM Organ").nodes[0].parameters.count("op1_decay_ms"), 0u);
}

TEST(BuiltinInstrumentsFm, MakeFmPatchTakesTheKnobsAsGiven) {
    const Patch p = makeFmPatch("Mine", {{"algorithm", 5}, {"gain", 0.5}});
    EXPECT_EQ(p.name, "Mine");
    EXPECT_EQ(p.category, "fm");
    EXPECT_EQ(p.voices, 8);
    EXPECT_EQ(p.output, 0);
    EXPECT_TRUE(p.connections.empty());
    EXPECT_EQ(p.nodes.at(0).parameters, (Knobs{{"algorithm", 5}, {"gain", 0.5}}));
}

// The note each instrument is played with: the drum kit's kick, middle A elsewhere.
int testNote(const Patch& p) { return p.category == "drums" ? 36 : 69; }

TEST(BuiltinInstrumentsSound, EveryInstrumentBuildsWithoutWarningAndOneNoteSoundsThenFallsSilent) {
    for (const Patch& p : builtinPatches()) {
        SCOPED_TRACE(p.name);
        std::string error;
        PatchGraph built = buildPatchGraph(p, kRate, kBlock, kChannels, &error);
        ASSERT_NE(built.graph, nullptr) << error;
        EXPECT_TRUE(built.warnings.empty()) << built.warnings.front();
        EXPECT_EQ(built.nodesById.size(), p.nodes.size()) << "every module leads to the output";

        const int note = testNote(p);
        const std::int64_t release = static_cast<std::int64_t>(kRate);  // one second held
        GraphRun run(built, {noteOn(0, note), noteOff(release, note)});
        run.run(release);
        EXPECT_GT(peakOf(run.left, 0, release), 0.02);
        EXPECT_LT(peakOf(run.left, 0, release), 1.0);

        // Silent within ten seconds of letting go, and it stays so.
        bool silent = false;
        while (!silent && run.position() < release + 10 * static_cast<std::int64_t>(kRate)) silent = run.block();
        ASSERT_TRUE(silent);
        for (int i = 0; i < 20; ++i) EXPECT_TRUE(run.block());
    }
}

TEST(BuiltinInstrumentsSound, SineInstrumentsPlayTheirOscillatorsPitch) {
    const std::vector<Patch> list = builtinPatches();
    const std::pair<const char*, double> expected[] = {{"Sub Bass", 110.0}, {"Glass Bell", 880.0}};
    for (const auto& [name, hz] : expected) {
        SCOPED_TRACE(name);
        PatchGraph built = buildPatchGraph(byName(list, name), kRate, kBlock, kChannels, nullptr);
        ASSERT_NE(built.graph, nullptr);
        GraphRun run(built, {noteOn(0, 69)});
        run.run(24000);
        EXPECT_NEAR(test::mod::measureFrequency(run.left, 2400, 24000, kRate), hz, 0.5);
    }
}

TEST(BuiltinInstrumentsSound, SofterKeyIsQuieter) {
    const std::vector<Patch> list = builtinPatches();
    for (const char* name : {"Sub Bass", "FM Organ", "Warm Strings"}) {
        SCOPED_TRACE(name);
        auto loudness = [&](int velocity) {
            PatchGraph built = buildPatchGraph(byName(list, name), kRate, kBlock, kChannels, nullptr);
            GraphRun run(built, {noteOn(0, 60, velocity)});
            run.run(48000);
            return peakOf(run.left, 24000, 48000);
        };
        EXPECT_NEAR(loudness(64) / loudness(127), 64.0 / 127.0, 0.05);
    }
}

}  // namespace
}  // namespace ostrel::engine
