// A voice that is silent and reached by nothing sleeps through its blocks: its nodes
// rest instead of running. Whatever they would have moved on meanwhile (oscillator and
// LFO phases, noise generators, filter states) must come out the same, so a render with
// sleeping voices equals one without, bit for bit.

#include <cstring>
#include <memory>

#include "devices/DeviceCatalog.h"
#include "devices/instruments/DrumKit.h"
#include "devices/patches/PolyphonicPatch.h"
#include "engine/graph/BasicNodes.h"
#include "engine/graph/Graph.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

struct Played {
    std::vector<float> samples;  // interleaved stereo
    std::uint64_t sleptVoiceBlocks = 0;
};

// Notes far apart on rotating voices, so most voices sleep most of the time; a pitch
// bend, a knob ramp aimed at every device and a held chord make sure waking works too.
std::vector<Timed> sparseNotes(const Patch& patch, double rate) {
    std::vector<Timed> events;
    const int voices = std::min(8, patch.voices);
    for (int k = 0; k < 8; ++k) {
        const auto at = static_cast<std::int64_t>(rate * (0.05 + 0.6 * k)) + 41 * k;
        const int note = patch.category == "drums" ? modularDrumKitVoices()[static_cast<std::size_t>(k % 8)].note
                                                   : 36 + (k * 7) % 36;
        const int voice = k % voices;
        events.push_back(noteOn(at, note, 60 + 6 * k, voice));
        events.push_back(noteOff(at + static_cast<std::int64_t>(rate * 0.25) + 13 * k, note, voice));
    }
    events.push_back(pitchBend(static_cast<std::int64_t>(rate * 3.1), 0.4f));
    Timed ramp = event(static_cast<std::int64_t>(rate * 4.2), EventType::ParamChange, 0, 0, 0, 0.3f);
    ramp.event.param = 2;
    ramp.event.rampFrames = 700;
    events.push_back(ramp);
    return events;
}

Played play(const Patch& patch, double rate, std::uint32_t block, VoiceSleep sleep, const std::vector<Timed>& events,
            double seconds) {
    const Patch poly = makePolyphonicPatch(patch, 0.7f, VoiceEffects::EchoAndRoom, patch.voices, nullptr);
    std::string error;
    PatchGraph built = buildPatchGraph(poly, rate, 512, 2, &error);
    if (!built.graph) throw std::runtime_error(error);
    built.graph->voiceSleep = sleep;
    OfflineRenderContext context;
    context.sampleRate = rate;
    context.blockSize = block;
    context.frames = static_cast<std::int64_t>(rate * seconds);
    context.events = events;
    Played played;
    played.samples = renderGraphOffline(*built.graph, context);
    played.sleptVoiceBlocks = built.graph->sleptVoiceBlocks;
    return played;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

std::size_t firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return i;
    return a.size() == b.size() ? SIZE_MAX : std::min(a.size(), b.size());
}

TEST(SleepingVoices, EveryBuiltInSoundsBitForBitAsWithoutSleepAtEveryRate) {
    for (double rate : kRates) {
        for (const Patch& patch : builtinPatches()) {
            const std::vector<Timed> events = sparseNotes(patch, rate);
            const Played awake = play(patch, rate, 512, VoiceSleep::Off, events, 5.5);
            const Played sleeping = play(patch, rate, 512, VoiceSleep::On, events, 5.5);
            EXPECT_EQ(awake.sleptVoiceBlocks, 0u);
            EXPECT_GT(sleeping.sleptVoiceBlocks, 0u) << patch.name << " never slept";
            EXPECT_TRUE(sameBits(awake.samples, sleeping.samples))
                << patch.name << " at " << rate << " Hz differs from sample "
                << firstDifference(awake.samples, sleeping.samples);
            EXPECT_GT(peak(awake.samples), 0.01) << patch.name;
        }
    }
}

TEST(SleepingVoices, BlockSizesDoNotChangeWhatASleepingVoiceComesBackWith) {
    for (const char* name : {"Modular Pad", "Modular Drums", "Acid Saw", "Glass Bell"}) {
        const Patch patch = builtin(name);
        const std::vector<Timed> events = sparseNotes(patch, kRate);
        for (std::uint32_t block : {64u, 200u, 511u}) {
            const Played awake = play(patch, kRate, block, VoiceSleep::Off, events, 4.0);
            const Played sleeping = play(patch, kRate, block, VoiceSleep::On, events, 4.0);
            EXPECT_TRUE(sameBits(awake.samples, sleeping.samples)) << name << ", blocks of " << block;
        }
    }
}

// Long rests let the filters run far past their warm-up; short ones are shorter than it.
TEST(SleepingVoices, RestsLongerAndShorterThanTheFilterWarmUpBothComeBackExact) {
    const Patch patch = builtin("Acid Saw");  // a resonant low cutoff: the longest warm-up of the set
    for (double gapSeconds : {0.02, 0.09, 3.0}) {
        std::vector<Timed> events;
        std::int64_t at = 1000;
        for (int k = 0; k < 6; ++k) {
            events.push_back(noteOn(at, 40 + k, 100, 0));
            at += static_cast<std::int64_t>(kRate * 0.05);
            events.push_back(noteOff(at, 40 + k, 0));
            at += static_cast<std::int64_t>(kRate * (0.15 + gapSeconds));  // the release ends, then the rest
        }
        const double seconds = static_cast<double>(at) / kRate + 0.5;
        const Played awake = play(patch, kRate, 512, VoiceSleep::Off, events, seconds);
        const Played sleeping = play(patch, kRate, 512, VoiceSleep::On, events, seconds);
        EXPECT_GT(sleeping.sleptVoiceBlocks, 0u) << gapSeconds;
        EXPECT_TRUE(sameBits(awake.samples, sleeping.samples))
            << "rests of " << gapSeconds << " s, first difference at " << firstDifference(awake.samples, sleeping.samples);
    }
}

// An oscillator straight into the output has no envelope to close: its voice never
// falls silent, so it must never sleep.
TEST(SleepingVoices, AVoiceWithoutAnEnvelopeKeepsDroning) {
    Patch drone;
    drone.name = "Drone";
    int nextId = 0;
    PatchBuilder b(nextId, drone);
    const int pitch = b.addNode("ostrel.mod.keyboard", "Pitch", {});
    const int osc = b.addNode("ostrel.mod.vco", "Oscillator", {{"waveform", 0.0}});
    b.connect(pitch, osc, 0);
    drone.output = osc;
    const Played sleeping = play(drone, kRate, 512, VoiceSleep::On, {noteOn(100, 60, 100, 0)}, 1.0);
    const Played awake = play(drone, kRate, 512, VoiceSleep::Off, {noteOn(100, 60, 100, 0)}, 1.0);
    EXPECT_EQ(sleeping.sleptVoiceBlocks, 0u);
    EXPECT_TRUE(sameBits(awake.samples, sleeping.samples));
    // Every one of the eight copies drones, played or not.
    EXPECT_GT(peak(sleeping.samples, 0, 200), 0.1);
}

TEST(SleepingVoices, AGraphTakesOnlyGroupsThatCanSleep) {
    GraphBuilder builder;
    const int a = builder.addNode(std::make_unique<SineNode>(440.0f, 0.5f));
    const int b = builder.addNode(std::make_unique<SineNode>(660.0f, 0.5f));
    const int mix = builder.addNode(createDevice("ostrel.mod.mixer"));
    builder.connect(a, mix, 0);
    builder.connect(b, mix, 1);
    builder.output = mix;
    std::unique_ptr<Graph> graph = builder.compile(kRate, 512, 2, nullptr);
    ASSERT_NE(graph, nullptr);
    // Slots run a, b, mix. One slot in two groups, a slot that does not exist and an
    // empty list are refused; the others are taken with their exits.
    EXPECT_EQ(graph->setVoices({{0}, {0, 1}, {7}, {}, {1}}), 2);
    ASSERT_EQ(graph->voices.size(), 2u);
    EXPECT_EQ(graph->voices[0].exits, std::vector<int>{0});
    EXPECT_EQ(graph->voices[1].exits, std::vector<int>{1});
    EXPECT_EQ(graph->graphSlots[2].voice, -1);
    // Nodes that cannot rest keep their voices awake; the output is untouched.
    AudioBuffer out(2, 512);
    ProcessContext context;
    context.frames = 512;
    graph->process(context, out);
    EXPECT_EQ(graph->sleptVoiceBlocks, 0u);
    EXPECT_GT(peak(Signal(out.channel(0), out.channel(0) + 512)), 0.0);
}

}  // namespace
}  // namespace ostrel::engine
