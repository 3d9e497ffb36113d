#include "devices/PatchGraph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/SamplerNode.h"

namespace ostrel::engine {
namespace {

using Knobs = std::map<std::string, double>;

PatchNode module(int id, const char* device, const char* label, Knobs knobs = {}) {
    return PatchNode(id, device, label, std::move(knobs));
}

float knobOf(const DeviceNode& device, const char* id) {
    std::uint32_t index = 0;
    EXPECT_TRUE(device.findParameter(id, index)) << id;
    return device.params.value(index);
}

PatchGraph build(const Patch& patch, std::string* error) { return buildPatchGraph(patch, 48000.0, 512, 2, error); }

void expectFailed(const PatchGraph& result) {
    EXPECT_EQ(result.graph, nullptr);
    EXPECT_TRUE(result.nodesById.empty());
}

// Keyboard pitch into an oscillator: the smallest patch that plays a note.
Patch keyboardOscillator() {
    Patch p;
    p.nodes.push_back(module(0, "ostrel.mod.keyboard", "Pitch", {{"output", 0}}));
    p.nodes.push_back(module(1, "ostrel.mod.vco", "Oscillator", {{"waveform", 0}}));
    p.connections.push_back({0, 1, 0});
    p.output = 1;
    return p;
}

TEST(PatchGraphOutput, EmptyPatchHasNoValidOutput) {
    std::string error;
    const PatchGraph result = build(Patch{}, &error);
    expectFailed(result);
    EXPECT_EQ(error, "the patch has no valid output module");
}

TEST(PatchGraphOutput, OutputMinusOneFailsEvenWhenModulesAndCablesAreValid) {
    Patch p = keyboardOscillator();
    p.output = -1;
    std::string error;
    expectFailed(build(p, &error));
    EXPECT_EQ(error, "the patch has no valid output module");
}

TEST(PatchGraphOutput, OutputNamingNoModuleFails) {
    Patch p = keyboardOscillator();
    p.output = 7;
    std::string error;
    expectFailed(build(p, &error));
    EXPECT_EQ(error, "the patch has no valid output module");
}

TEST(PatchGraphKnobs, KnownKnobIsSetAndUnknownOneIsSkippedWithAWarning) {
    Patch p;
    p.nodes.push_back(module(0, "ostrel.mod.vco", "Lead osc", {{"fine", 5}, {"detune", 3}}));
    p.output = 0;
    std::string error = "untouched";
    const PatchGraph result = build(p, &error);
    ASSERT_NE(result.graph, nullptr);
    EXPECT_EQ(error, "untouched");
    EXPECT_FLOAT_EQ(knobOf(*result.nodesById.at(0), "fine"), 5.0f);
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_EQ(result.warnings[0], "module 0 (Lead osc) has no knob called \"detune\"; skipped");
}

TEST(PatchGraphKnobs, UnknownKnobsAreReportedInSortedOrder) {
    Patch p;
    p.nodes.push_back(module(3, "ostrel.mod.vca", "Amp", {{"zeta", 1}, {"alpha", 1}, {"level", 0.5}}));
    p.output = 3;
    const PatchGraph result = build(p, nullptr);
    ASSERT_NE(result.graph, nullptr);
    ASSERT_EQ(result.warnings.size(), 2u);
    EXPECT_EQ(result.warnings[0], "module 3 (Amp) has no knob called \"alpha\"; skipped");
    EXPECT_EQ(result.warnings[1], "module 3 (Amp) has no knob called \"zeta\"; skipped");
}

TEST(PatchGraphKnobs, ValueOutOfRangeIsClampedToTheKnobsRange) {
    Patch p;
    p.nodes.push_back(module(0, "ostrel.mod.vcf", "Filter", {{"cutoff_hz", 1e9}, {"resonance", -4}}));
    p.output = 0;
    const PatchGraph result = build(p, nullptr);
    ASSERT_NE(result.graph, nullptr);
    EXPECT_FLOAT_EQ(knobOf(*result.nodesById.at(0), "cutoff_hz"), 20000.0f);
    EXPECT_FLOAT_EQ(knobOf(*result.nodesById.at(0), "resonance"), 0.0f);
    EXPECT_TRUE(result.warnings.empty());
}

TEST(PatchGraphDevices, UnknownDeviceFailsAndKeepsEarlierWarnings) {
    Patch p;
    p.nodes.push_back(module(0, "ostrel.mod.vco", "A", {{"bogus", 1}}));
    p.nodes.push_back(module(1, "ostrel.mod.vca", "B", {{"nope", 1}}));
    p.nodes.push_back(module(2, "ostrel.mod.theremin", "C", {{"alsobad", 1}}));
    p.nodes.push_back(module(3, "ostrel.mod.unknown", "D"));
    p.output = 0;
    std::string error;
    const PatchGraph result = build(p, &error);
    expectFailed(result);
    EXPECT_EQ(error, "unknown device \"ostrel.mod.theremin\" (module 2)");
    // The failing module's knobs and later modules are never looked at.
    ASSERT_EQ(result.warnings.size(), 2u);
    EXPECT_EQ(result.warnings[0], "module 0 (A) has no knob called \"bogus\"; skipped");
    EXPECT_EQ(result.warnings[1], "module 1 (B) has no knob called \"nope\"; skipped");
}

TEST(PatchGraphDevices, NegativeModuleIdIsWrittenWithItsSign) {
    Patch p;
    p.nodes.push_back(module(-5, "ostrel.nothing", "X"));
    p.output = -5;
    std::string error;
    expectFailed(build(p, &error));
    EXPECT_EQ(error, "unknown device \"ostrel.nothing\" (module -5)");
}

TEST(PatchGraphDevices, NegativeIdsOtherThanMinusOneCanBeTheOutput) {
    Patch p;
    p.nodes.push_back(module(-5, "ostrel.mod.vco", "X"));
    p.output = -5;
    const PatchGraph result = build(p, nullptr);
    ASSERT_NE(result.graph, nullptr);
    EXPECT_EQ(result.nodesById.count(-5), 1u);
}

TEST(PatchGraphCables, CableToAMissingModuleFailsEvenWhenTheSourceExists) {
    Patch p = keyboardOscillator();
    p.connections.push_back({0, 9, 1});
    std::string error;
    expectFailed(build(p, &error));
    EXPECT_EQ(error, "a cable refers to a module that does not exist");
}

TEST(PatchGraphCables, CableFromAMissingModuleFails) {
    Patch p = keyboardOscillator();
    p.connections.push_back({42, 1, 1});
    std::string error;
    expectFailed(build(p, &error));
    EXPECT_EQ(error, "a cable refers to a module that does not exist");
}

TEST(PatchGraphCables, WiringThatCompilationRejectsFailsWithItsMessage) {
    Patch p = keyboardOscillator();
    p.nodes.push_back(module(2, "ostrel.mod.keyboard", "Other", {{"bogus", 0}}));
    p.connections.push_back({2, 1, 0});  // a second cable into the oscillator's pitch input
    std::string error;
    const PatchGraph result = build(p, &error);
    expectFailed(result);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(result.warnings.size(), 1u);

    Patch badSlot = keyboardOscillator();
    badSlot.connections[0].slot = 16;
    error.clear();
    expectFailed(build(badSlot, &error));
    EXPECT_FALSE(error.empty());
}

TEST(PatchGraphCables, SizesCompilationRejectsFailInsteadOfWrapping) {
    std::string error;
    expectFailed(buildPatchGraph(keyboardOscillator(), 48000.0, 0, 2, &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    expectFailed(buildPatchGraph(keyboardOscillator(), 48000.0, 0x80000000u, 2, &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    expectFailed(buildPatchGraph(keyboardOscillator(), 48000.0, 512, 0xFFFFFFFFu, &error));
    EXPECT_FALSE(error.empty());
}

TEST(PatchGraphFailure, NullErrorPointerIsAllowed) {
    const PatchGraph result = build(Patch{}, nullptr);
    expectFailed(result);
}

TEST(PatchGraphIds, DuplicateIdReachesOnlyTheLaterModule) {
    Patch p;
    p.nodes.push_back(module(0, "ostrel.mod.vco", "First", {{"level", 0.1}}));
    p.nodes.push_back(module(0, "ostrel.mod.vco", "Second", {{"level", 0.9}}));
    p.output = 0;
    const PatchGraph result = build(p, nullptr);
    ASSERT_NE(result.graph, nullptr);
    ASSERT_EQ(result.nodesById.size(), 1u);
    EXPECT_FLOAT_EQ(knobOf(*result.nodesById.at(0), "level"), 0.9f);
    // Only the later one leads to the output, so the earlier one is not compiled in.
    EXPECT_EQ(result.graph->slots.size(), 1u);
}

TEST(PatchGraphIds, ModuleNotLeadingToTheOutputIsLeftOutOfTheMap) {
    Patch p = keyboardOscillator();
    p.nodes.push_back(module(5, "ostrel.mod.lfo", "Loose", {{"bogus", 1}}));
    const PatchGraph result = build(p, nullptr);
    ASSERT_NE(result.graph, nullptr);
    EXPECT_EQ(result.nodesById.count(5), 0u);
    EXPECT_EQ(result.nodesById.count(0), 1u);
    EXPECT_EQ(result.nodesById.count(1), 1u);
    // Its knobs were still looked at.
    EXPECT_EQ(result.warnings.size(), 1u);
    EXPECT_EQ(result.graph->slots.size(), 2u);
}

TEST(PatchGraphIds, MapPointsAtTheDevicesTheGraphRuns) {
    const PatchGraph result = build(keyboardOscillator(), nullptr);
    ASSERT_NE(result.graph, nullptr);
    for (const auto& [id, device] : result.nodesById) {
        bool found = false;
        for (const GraphSlot& slot : result.graph->slots) found = found || slot.node.get() == device;
        EXPECT_TRUE(found) << id;
    }
    EXPECT_STREQ(result.nodesById.at(0)->typeId(), "ostrel.mod.keyboard");
    EXPECT_STREQ(result.nodesById.at(1)->typeId(), "ostrel.mod.vco");
}

TEST(PatchGraphSamples, SamplerGetsTheSharedSoundOrAnEmptyOne) {
    auto sound = std::make_shared<AudioData>();
    sound->channels = 1;
    sound->frames = 4;
    sound->samples = {0.1f, 0.2f, 0.3f, 0.4f};
    Patch p;
    p.nodes.push_back(module(0, "ostrel.mod.sampler", "With sound"));
    p.nodes.back().sample = sound;
    p.nodes.push_back(module(1, "ostrel.mod.sampler", "Without sound"));
    p.nodes.push_back(module(2, "ostrel.mod.mixer", "Mix"));
    p.connections = {{0, 2, 0}, {1, 2, 1}};
    p.output = 2;
    const PatchGraph result = build(p, nullptr);
    ASSERT_NE(result.graph, nullptr);
    auto* with = dynamic_cast<SamplerNode*>(result.nodesById.at(0));
    auto* without = dynamic_cast<SamplerNode*>(result.nodesById.at(1));
    ASSERT_NE(with, nullptr);
    ASSERT_NE(without, nullptr);
    EXPECT_EQ(with->sample, sound);  // shared, not copied
    EXPECT_EQ(without->sample, nullptr);
}

TEST(PatchGraphSound, BuiltGraphPlaysTheNoteAtTheRequestedSize) {
    PatchGraph result = buildPatchGraph(keyboardOscillator(), 48000.0, 256, 2, nullptr);
    ASSERT_NE(result.graph, nullptr);
    Event on;
    on.type = EventType::NoteOn;
    on.note = 69;
    on.velocity = 100;
    std::vector<float> left;
    AudioBuffer out(2, 256);
    for (int block = 0; block < 8; ++block) {
        ProcessContext ctx;
        ctx.frames = 256;
        std::vector<Event> events;
        if (block == 0) events.push_back(on);
        ctx.events = events;
        result.graph->process(ctx, out);
        left.insert(left.end(), out.channel(0), out.channel(0) + 256);
        for (int i = 0; i < 256; ++i) ASSERT_EQ(out.channel(0)[i], out.channel(1)[i]);
    }
    int crossings = 0;
    for (std::size_t i = 1; i < left.size(); ++i) crossings += (left[i - 1] < 0.0f && left[i] >= 0.0f) ? 1 : 0;
    // 2048 frames of 440 Hz at 48 kHz hold 18.8 cycles.
    EXPECT_NEAR(crossings, 18, 1);
}

}  // namespace
}  // namespace ostrel::engine
