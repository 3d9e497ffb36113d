#include "devices/LiveInstrument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "devices/BuiltinInstruments.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

constexpr double kRate = 48000.0;
constexpr std::uint32_t kChannels = 2;
constexpr std::uint32_t kBlock = 512;

// A sound card that never calls back by itself: the test renders through the engine on
// its own thread, which so plays the audio thread.
class TestBackend final : public IAudioBackend {
public:
    std::string backendName() override { return "Test"; }
    std::vector<AudioDeviceInfo> listDevices() override { return {}; }
    bool open(const AudioConfig&, RenderCallback, void*, std::string*) override {
        state_ = BackendState::Running;
        return true;
    }
    void close() override { state_ = BackendState::Closed; }
    BackendState state() const override { return state_; }
    LoadStats loadStats() const override { return {}; }

private:
    BackendState state_ = BackendState::Closed;
};

// Basic modular voice with the filter and amp envelope knobs the sound knobs move.
Patch voicePatch(double cutoffHz, double resonance, double attackMs, double releaseMs) {
    return makeBasicVoicePatch("Test voice", {{"waveform", 2}, {"level", 0.5}},
                               {{"mode", 0}, {"cutoff_hz", cutoffHz}, {"resonance", resonance}},
                               {{"attack_ms", attackMs}, {"decay_ms", 200}, {"sustain", 0.7}, {"release_ms", releaseMs}},
                               {{"attack_ms", 1}, {"decay_ms", 200}, {"sustain", 0.5}, {"release_ms", 100}}, 1.0);
}

Patch builtin(const std::string& name) {
    for (Patch& patch : builtinPatches())
        if (patch.name == name) return std::move(patch);
    throw std::out_of_range("no built-in " + name);
}

// Module knob values that sound knob `knob` moves, one per binding.
std::vector<float> boundValues(const LiveInstrument& live, int knob) {
    std::vector<float> values;
    for (const KnobBinding& binding : live.bindings())
        if (binding.knob == knob) values.push_back(binding.node->params.value(binding.param));
    return values;
}

float peak(std::span<const float> samples) {
    float top = 0.0f;
    for (float s : samples) top = std::max(top, std::abs(s));
    return top;
}

// Magnitude of one frequency in channel 0 of interleaved stereo, Hann-windowed.
double magnitudeAt(std::span<const float> stereo, double hz) {
    const std::size_t frames = stereo.size() / kChannels;
    double re = 0.0;
    double im = 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / frames);
        const double phase = 2.0 * std::numbers::pi * hz * static_cast<double>(i) / kRate;
        re += window * stereo[i * kChannels] * std::cos(phase);
        im += window * stereo[i * kChannels] * std::sin(phase);
    }
    return std::hypot(re, im) / static_cast<double>(frames);
}

class LiveInstrumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<AudioEngine>(std::make_unique<TestBackend>());
        live = std::make_unique<LiveInstrument>(engine.get());
        block.resize(kBlock * kChannels);
    }

    void openCard() {
        AudioConfig config;
        config.sampleRate = kRate;
        config.bufferFrames = kBlock;
        config.channels = kChannels;
        std::string error;
        ASSERT_TRUE(engine->start(config, &error)) << error;
    }

    void rebuild() {
        std::string error;
        ASSERT_TRUE(live->rebuild(&error)) << error;
        ASSERT_TRUE(live->isReady());
    }

    // The next `seconds` of output, interleaved, rendered in device blocks.
    std::vector<float> render(double seconds) {
        std::vector<float> out;
        const auto blocks = static_cast<int>(std::ceil(seconds * kRate / kBlock));
        for (int b = 0; b < blocks; ++b) {
            engine->renderBlock(block.data(), kBlock);
            out.insert(out.end(), block.begin(), block.end());
        }
        return out;
    }

    // What the instrument has queued and not yet been played, taken out of the queue.
    std::vector<Event> queued() {
        const std::span<const Event> due = engine->events().drain(static_cast<std::int64_t>(engine->clock()), 1);
        return {due.begin(), due.end()};
    }

    std::unique_ptr<AudioEngine> engine;
    std::unique_ptr<LiveInstrument> live;
    std::vector<float> block;
};

// --- Ready, stale and rebuild ---

TEST_F(LiveInstrumentTest, NewInstrumentIsNotReadyAndCannotBuildWithTheCardClosed) {
    EXPECT_FALSE(live->isReady());
    std::string error;
    EXPECT_FALSE(live->rebuild(&error));
    EXPECT_EQ(error, "the sound card is not open");
    EXPECT_FALSE(live->rebuild(nullptr));
}

TEST_F(LiveInstrumentTest, ChangesMakeItStaleUntilTheNextRebuild) {
    openCard();
    rebuild();

    live->setEffects(true);
    EXPECT_FALSE(live->isReady());
    rebuild();

    live->setPolyphony(4);
    EXPECT_FALSE(live->isReady());
    rebuild();

    live->setPatch(voicePatch(1000, 0.2, 5, 300));
    EXPECT_FALSE(live->isReady());
    rebuild();

    live->setEffects(true);  // unchanged
    live->setPolyphony(4);   // unchanged
    EXPECT_TRUE(live->isReady());
}

TEST_F(LiveInstrumentTest, ReopenedCardNeedsARebuildEvenWithNothingChanged) {
    openCard();
    rebuild();
    openCard();  // the stream starts again on the engine's silent graph
    EXPECT_FALSE(live->isReady());

    live->noteOn(60, 100);
    EXPECT_LT(peak(render(0.2)), 1e-6f) << "a reopened card does not play the old instrument";
    live->noteOff(60);

    rebuild();
    live->noteOn(60, 100);
    EXPECT_GT(peak(render(0.2)), 0.01f);
}

TEST_F(LiveInstrumentTest, PatchThatCannotBeBuiltKeepsTheOldGraphPlayingAndStaysStale) {
    openCard();
    rebuild();
    Patch broken = voicePatch(1000, 0.2, 5, 300);
    broken.nodes[2].device = "ostrel.no.such";
    live->setPatch(std::move(broken));

    std::string error;
    EXPECT_FALSE(live->rebuild(&error));
    EXPECT_EQ(error, "unknown device \"ostrel.no.such\" (module 2)");
    EXPECT_FALSE(live->isReady());
    EXPECT_FALSE(live->rebuild(nullptr)) << "a failed rebuild tries again next time";

    live->noteOn(60, 100);
    EXPECT_GT(peak(render(0.2)), 0.01f) << "the previous instrument still sounds";
}

// --- Voices and level ---

TEST_F(LiveInstrumentTest, PolyphonyLimitsTheVoiceCopies) {
    openCard();
    live->setPatch(voicePatch(1000, 0.2, 5, 300));
    live->setPolyphony(3);
    rebuild();

    EXPECT_EQ(live->voices().voiceCount(), 3);
    EXPECT_EQ(boundValues(*live, LiveInstrument::kBrightness).size(), 3u) << "one filter per copy";
    EXPECT_FLOAT_EQ(live->levelNode()->params.value(0), 2.0f * 0.7f);
}

TEST_F(LiveInstrumentTest, PolyphonyOfOnePlaysASingleCopyInMonoMode) {
    openCard();
    live->setPatch(voicePatch(1000, 0.2, 5, 300));
    live->setPolyphony(1);
    rebuild();

    EXPECT_EQ(live->voices().voiceCount(), 1);
    EXPECT_EQ(boundValues(*live, LiveInstrument::kBrightness).size(), 1u);
    EXPECT_FLOAT_EQ(live->levelNode()->params.value(0), 0.7f);
    live->noteOn(60, 100);
    live->noteOn(64, 100);
    const std::vector<Event> events = queued();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].channel, 0);
    EXPECT_EQ(events[1].channel, 0);
}

TEST_F(LiveInstrumentTest, PatchVoiceCountLimitsPolyphonyToo) {
    Patch patch = voicePatch(1000, 0.2, 5, 300);
    patch.voices = 2;
    live->setPatch(std::move(patch));
    EXPECT_EQ(live->voices().voiceCount(), 2);
    live->setPolyphony(0);
    EXPECT_EQ(live->polyphony(), 1);
    live->setPolyphony(20);
    EXPECT_EQ(live->polyphony(), 8);
    EXPECT_EQ(live->voices().voiceCount(), 2);
}

TEST_F(LiveInstrumentTest, LevelIsClampedAndReachesTheLevelModuleAtOnce) {
    openCard();
    live->setPolyphony(4);
    rebuild();

    live->setLevel(1.5f);
    EXPECT_EQ(live->level(), 1.0f);
    EXPECT_FLOAT_EQ(live->levelNode()->params.value(0), 2.0f);
    live->setLevel(-1.0f);
    EXPECT_EQ(live->level(), 0.0f);
    EXPECT_FLOAT_EQ(live->levelNode()->params.value(0), 0.0f);
    live->setLevel(std::nanf(""));
    EXPECT_EQ(live->level(), 0.0f) << "a level that is not a number is ignored";
}

TEST_F(LiveInstrumentTest, LevelAndSoundKnobsSetWhileStaleTakeEffectAtTheNextRebuild) {
    openCard();
    live->setPatch(voicePatch(1000, 0.2, 5, 300));
    rebuild();
    live->setEffects(true);

    live->setLevel(0.25f);
    live->setSoundKnob(LiveInstrument::kBrightness, 1.0f);
    EXPECT_FLOAT_EQ(live->levelNode()->params.value(0), 2.0f * 0.7f);
    EXPECT_FLOAT_EQ(boundValues(*live, LiveInstrument::kBrightness).front(), 1000.0f);

    rebuild();
    EXPECT_FLOAT_EQ(live->levelNode()->params.value(0), 2.0f * 0.25f);
    EXPECT_FLOAT_EQ(boundValues(*live, LiveInstrument::kBrightness).front(), 4000.0f);
}

// --- Sound knobs ---

struct KnobCase {
    int knob;
    double patchValue;
    float k;
    float expected;
};

TEST_F(LiveInstrumentTest, SoundKnobsMapAroundThePatchsValue) {
    openCard();
    const KnobCase cases[] = {
        {LiveInstrument::kBrightness, 1000, 0.0f, 250.0f},  {LiveInstrument::kBrightness, 1000, 0.5f, 1000.0f},
        {LiveInstrument::kBrightness, 1000, 1.0f, 4000.0f}, {LiveInstrument::kBrightness, 8000, 1.0f, 20000.0f},
        {LiveInstrument::kResonance, 0.2, 0.0f, 0.0f},      {LiveInstrument::kResonance, 0.2, 0.5f, 0.2f},
        {LiveInstrument::kResonance, 0.2, 0.9f, 0.6f},      {LiveInstrument::kResonance, 0.2, 1.0f, 0.7f},
        {LiveInstrument::kAttack, 5, 0.0f, 0.5f},           {LiveInstrument::kAttack, 5, 0.5f, 5.0f},
        {LiveInstrument::kAttack, 5, 1.0f, 50.0f},          {LiveInstrument::kAttack, 1000, 1.0f, 5000.0f},
        {LiveInstrument::kRelease, 300, 0.0f, 30.0f},       {LiveInstrument::kRelease, 300, 0.5f, 300.0f},
        {LiveInstrument::kRelease, 300, 1.0f, 3000.0f},     {LiveInstrument::kRelease, 5, 0.0f, 1.0f},
    };
    for (const KnobCase& c : cases) {
        const double cutoff = c.knob == LiveInstrument::kBrightness ? c.patchValue : 1000;
        const double resonance = c.knob == LiveInstrument::kResonance ? c.patchValue : 0.2;
        const double attack = c.knob == LiveInstrument::kAttack ? c.patchValue : 5;
        const double release = c.knob == LiveInstrument::kRelease ? c.patchValue : 300;
        live->setPatch(voicePatch(cutoff, resonance, attack, release));
        rebuild();

        live->setSoundKnob(c.knob, c.k);
        const std::vector<float> values = boundValues(*live, c.knob);
        ASSERT_EQ(values.size(), 8u) << "one binding per voice copy";
        for (float value : values)
            EXPECT_NEAR(value, c.expected, c.expected * 1e-5f + 1e-6f)
                << "knob " << c.knob << " from " << c.patchValue << " at " << c.k;
    }
}

TEST_F(LiveInstrumentTest, SoundKnobValueIsClampedToZeroToOne) {
    live->setSoundKnob(LiveInstrument::kBrightness, 3.0f);
    EXPECT_EQ(live->soundKnob(LiveInstrument::kBrightness), 1.0f);
    live->setSoundKnob(LiveInstrument::kRelease, -2.0f);
    EXPECT_EQ(live->soundKnob(LiveInstrument::kRelease), 0.0f);
    live->setSoundKnob(7, 0.2f);  // no such knob: nothing happens
    live->setSoundKnob(LiveInstrument::kAttack, std::nanf(""));
    EXPECT_EQ(live->soundKnob(LiveInstrument::kAttack), 0.5f);
}

TEST_F(LiveInstrumentTest, NewPatchPutsTheSoundKnobsBackToTheMiddle) {
    for (int k = 0; k < LiveInstrument::kSoundKnobs; ++k) live->setSoundKnob(k, 0.9f);
    live->setPatch(voicePatch(1000, 0.2, 5, 300));
    for (int k = 0; k < LiveInstrument::kSoundKnobs; ++k) EXPECT_EQ(live->soundKnob(k), 0.5f);
}

TEST_F(LiveInstrumentTest, PatchWithoutFilterOrAmpEnvelopeHasNoBindings) {
    openCard();
    live->setPatch(builtin("FM E-Piano"));
    rebuild();
    EXPECT_TRUE(live->bindings().empty());
    live->setSoundKnob(LiveInstrument::kBrightness, 1.0f);  // changes nothing, breaks nothing
    EXPECT_TRUE(live->isReady());
}

// --- Events ---

TEST_F(LiveInstrumentTest, NotesArePostedAsSoonAsPossibleOnTheirVoice) {
    openCard();
    EXPECT_TRUE(live->noteOn(60, 0));
    EXPECT_TRUE(live->noteOn(64, 300));
    EXPECT_TRUE(live->noteOff(60));

    const std::vector<Event> events = queued();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, EventType::NoteOn);
    EXPECT_EQ(events[0].channel, 0);
    EXPECT_EQ(events[0].note, 60);
    EXPECT_EQ(events[0].velocity, 1) << "a velocity below 1 becomes 1";
    EXPECT_EQ(events[1].channel, 1);
    EXPECT_EQ(events[1].velocity, 127);
    EXPECT_EQ(events[2].type, EventType::NoteOff);
    EXPECT_EQ(events[2].channel, 0);
    EXPECT_EQ(events[2].velocity, 0);
}

TEST_F(LiveInstrumentTest, NotesOutsideTheMidiRangeAreRefused) {
    openCard();
    EXPECT_FALSE(live->noteOn(128, 100));
    EXPECT_FALSE(live->noteOn(-1, 100));
    EXPECT_FALSE(live->noteOff(200));
    EXPECT_FALSE(live->noteOff(62)) << "nothing plays 62";
    EXPECT_TRUE(queued().empty());
}

TEST_F(LiveInstrumentTest, FullQueueReportsTheDroppedNote) {
    openCard();
    for (std::uint64_t i = 0; i < EventQueue::kCapacity; ++i) ASSERT_TRUE(live->noteOn(60, 100));
    EXPECT_FALSE(live->noteOn(60, 100));
    EXPECT_EQ(engine->events().dropped(), 1u);
}

TEST_F(LiveInstrumentTest, Controller64IsThePedalReadFromTheVelocityField) {
    openCard();
    Event pedal;
    pedal.type = EventType::ControlChange;
    pedal.note = 64;
    pedal.velocity = 64;
    EXPECT_TRUE(live->sendEvent(pedal));
    EXPECT_TRUE(live->voices().sustain());

    pedal.velocity = 63;
    pedal.value = 1.0f;  // regression: the value field is not where a controller value travels
    EXPECT_TRUE(live->sendEvent(pedal));
    EXPECT_FALSE(live->voices().sustain());
    EXPECT_TRUE(queued().empty()) << "pedal changes are not queued";
}

TEST_F(LiveInstrumentTest, OtherEventsAreQueuedAsGivenWithoutFrameOffset) {
    openCard();
    Event bend;
    bend.type = EventType::PitchBend;
    bend.frameOffset = 300;
    bend.channel = 5;
    bend.value = -0.5f;
    Event modWheel;
    modWheel.type = EventType::ControlChange;
    modWheel.note = 1;
    modWheel.velocity = 90;
    EXPECT_TRUE(live->sendEvent(bend));
    EXPECT_TRUE(live->sendEvent(modWheel));

    const std::vector<Event> events = queued();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, EventType::PitchBend);
    EXPECT_EQ(events[0].frameOffset, 0u);
    EXPECT_EQ(events[0].channel, 5);
    EXPECT_EQ(events[0].value, -0.5f);
    EXPECT_EQ(events[1].note, 1);
    EXPECT_EQ(events[1].velocity, 90);
}

TEST_F(LiveInstrumentTest, PedalHeldNoteIsReleasedWhenThePedalComesUp) {
    openCard();
    live->noteOn(60, 100);
    live->setSustain(true);
    queued();

    EXPECT_TRUE(live->noteOff(60));
    EXPECT_TRUE(queued().empty());

    live->setSustain(false);
    const std::vector<Event> events = queued();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, EventType::NoteOff);
    EXPECT_EQ(events[0].note, 60);
    EXPECT_EQ(events[0].channel, 0);
}

TEST_F(LiveInstrumentTest, NewPatchReleasesSoundingVoicesWhileTheCardRuns) {
    openCard();
    live->noteOn(60, 100);
    live->noteOn(64, 100);
    queued();

    live->setPatch(voicePatch(1000, 0.2, 5, 300));
    const std::vector<Event> events = queued();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, EventType::NoteOff);
    EXPECT_EQ(events[0].note, 60);
    EXPECT_EQ(events[1].note, 64);
    EXPECT_EQ(events[1].channel, 1);
}

// --- Sound on the engine ---

TEST_F(LiveInstrumentTest, ChordOfThreeNotesSoundsOnThreeVoicesThenFallsSilent) {
    openCard();
    live->setPatch(voicePatch(3000, 0.1, 2, 100));
    rebuild();
    EXPECT_LT(peak(render(0.1)), 1e-6f) << "silent before any key";

    ASSERT_TRUE(live->noteOn(60, 100));
    ASSERT_TRUE(live->noteOn(64, 100));
    ASSERT_TRUE(live->noteOn(67, 100));
    render(0.05);
    const std::vector<float> held = render(0.5);

    EXPECT_GT(peak(held), 0.05f);
    EXPECT_EQ(live->voices().voice(0).note, 60);
    EXPECT_EQ(live->voices().voice(1).note, 64);
    EXPECT_EQ(live->voices().voice(2).note, 67);
    // Each key sounds at its own pitch: C4, E4 and G4 stand far above a frequency between them.
    const double between = magnitudeAt(held, 295.0);
    for (double hz : {261.6256, 329.6276, 391.9954}) EXPECT_GT(magnitudeAt(held, hz), 10.0 * between) << hz;

    ASSERT_TRUE(live->noteOff(60));
    ASSERT_TRUE(live->noteOff(64));
    ASSERT_TRUE(live->noteOff(67));
    render(1.0);
    EXPECT_LT(peak(render(0.1)), 1e-4f) << "released notes die away";
}

TEST_F(LiveInstrumentTest, FmChordSoundsAsAChordBecauseEachCopyAnswersItsOwnVoice) {
    openCard();
    live->setPatch(builtin("FM Organ"));
    rebuild();

    live->noteOn(60, 100);
    live->noteOn(67, 100);
    render(0.05);
    const std::vector<float> held = render(0.5);
    const double between = magnitudeAt(held, 330.0);
    EXPECT_GT(magnitudeAt(held, 261.6256), 10.0 * between);
    EXPECT_GT(magnitudeAt(held, 391.9954), 10.0 * between);
}

// --- Real time ---

TEST_F(LiveInstrumentTest, EightVoicesOfEveryBuiltinWithEchoAndRoomAllocateNothingOnTheAudioThread) {
    openCard();
    live->setEffects(true);
    for (Patch& patch : builtinPatches()) {
        const std::string name = patch.name;
        live->setPatch(std::move(patch));
        rebuild();
        for (int note = 36; note < 44; ++note) live->noteOn(note, 100);  // drum kit keys too
        live->setSoundKnob(LiveInstrument::kBrightness, 0.8f);

        std::size_t allocations = 0;
        std::size_t frees = 0;
        {
            const test::AllocationCounter counter;
            // The first blocks take the new graph in and cross-fade to it.
            for (int b = 0; b < 4; ++b) engine->renderBlock(block.data(), kBlock);
            allocations = counter.allocations();
            frees = counter.frees();
        }
        EXPECT_EQ(allocations, 0u) << name;
        EXPECT_EQ(frees, 0u) << name;
        EXPECT_GT(peak(block), 0.0f) << name << " sounds";
        engine->collectGarbage();
    }
}

}  // namespace
}  // namespace ostrel::engine
