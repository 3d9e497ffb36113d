#include "devices/patches/PatchGraph.h"

#include "devices/instruments/SamplePatches.h"
#include "devices/modules/SamplerNode.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

float knobOf(const DeviceNode& device, const char* id) {
    std::uint32_t index = 0;
    EXPECT_TRUE(device.findParameter(id, index)) << id;
    return device.params.value(index);
}

// Keyboard pitch into an oscillator: the smallest patch that plays a note.
Patch keyboardOscillator() {
    Patch p;
    p.nodes.emplace_back(0, "ostrel.mod.keyboard", "Pitch", Knobs{{"output", 0}});
    p.nodes.emplace_back(1, "ostrel.mod.vco", "Oscillator", Knobs{{"waveform", 0}});
    p.connections.push_back({0, 1, 0});
    p.output = 1;
    return p;
}

TEST(PatchGraphFailure, EachBrokenPatchFailsWithItsMessageAndNoGraph) {
    const std::pair<void (*)(Patch&), const char*> cases[] = {
        {[](Patch& p) { p.output = 7; }, "the patch has no valid output module"},
        {[](Patch& p) { p.connections.push_back({0, 9, 1}); }, "a cable refers to a module that does not exist"},
        {[](Patch& p) { p.nodes[0] = PatchNode(-5, "ostrel.nothing", "X", {}); }, "unknown device \"ostrel.nothing\" (module -5)"},
    };
    for (const auto& [breakIt, message] : cases) {
        Patch p = keyboardOscillator();
        breakIt(p);
        std::string error;
        const PatchGraph result = buildGraph(p, &error);
        EXPECT_TRUE(result.graph == nullptr && result.nodesById.empty()) << message;
        EXPECT_EQ(error, message);
    }
    Patch twoIntoOne = keyboardOscillator();
    twoIntoOne.connections.push_back({0, 1, 0});
    std::string error;
    EXPECT_EQ(buildGraph(twoIntoOne, &error).graph, nullptr);
    EXPECT_FALSE(error.empty()) << "the compiler's reason";
}

TEST(PatchGraphKnobs, UnknownKnobsWarnInKeyOrderAndValuesAreClamped) {
    Patch p;
    p.nodes.emplace_back(3, "ostrel.mod.vcf", "Filter", Knobs{{"zeta", 1}, {"alpha", 1}, {"cutoff_hz", 1e9}, {"resonance", -4}});
    p.output = 3;
    const PatchGraph result = buildGraph(p);
    ASSERT_NE(result.graph, nullptr);
    EXPECT_EQ(result.warnings, (std::vector<std::string>{"module 3 (Filter) has no knob called \"alpha\"; skipped",
                                                         "module 3 (Filter) has no knob called \"zeta\"; skipped"}));
    EXPECT_FLOAT_EQ(knobOf(*result.nodesById.at(3), "cutoff_hz"), 20000.0f);
    EXPECT_FLOAT_EQ(knobOf(*result.nodesById.at(3), "resonance"), 0.0f);
}

TEST(PatchGraphSamples, SamplerModulesPlayTheSoundTheirNodeCarries) {
    auto sound = std::make_shared<AudioData>();
    sound->channels = 1;
    sound->frames = 4800;
    sound->samples.assign(4800, 0.5f);
    Patch p = makeSamplerPatch(sound, {{"attack_ms", 0.0}}, "Sampler");
    PatchGraph built = buildGraph(p);
    ASSERT_NE(built.graph, nullptr);
    EXPECT_EQ(static_cast<const SamplerNode&>(*built.nodesById.at(0)).sample, sound) << "shared, not copied";
    EXPECT_GT(peak(playGraph(built, {noteOn(0, 60)}, 2400)), 0.1);

    p.nodes[0].sample = nullptr;
    PatchGraph silent = buildGraph(p);
    EXPECT_EQ(peak(playGraph(silent, {noteOn(0, 60)}, 2400)), 0.0);
}

}  // namespace
}  // namespace ostrel::engine
