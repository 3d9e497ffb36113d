#include "playback/live/LiveInstrument.h"

#include <array>
#include <span>

#include "playback/SongHarness.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// Basic modular voice with the filter and amp envelope knobs the sound knobs move.
Patch voicePatch(double cutoffHz = 1000, double resonance = 0.2, double attackMs = 5, double releaseMs = 300) {
    return makeBasicVoicePatch("Test voice", {{"waveform", 2}, {"level", 0.5}},
                               {{"mode", 0}, {"cutoff_hz", cutoffHz}, {"resonance", resonance}},
                               {{"attack_ms", attackMs}, {"decay_ms", 200}, {"sustain", 0.7}, {"release_ms", releaseMs}},
                               {{"attack_ms", 1}, {"decay_ms", 200}, {"sustain", 0.5}, {"release_ms", 100}}, 1.0);
}

class LiveInstrumentTest : public ::testing::Test {
protected:
    void openCard() {
        std::string error;
        ASSERT_TRUE(engine.start(AudioConfig{}, &error)) << error;  // 48 kHz, 512 frames, stereo
    }

    void SetUp() override { openCard(); }

    void rebuild() {
        std::string error;
        ASSERT_TRUE(live.rebuild(&error)) << error;
        ASSERT_TRUE(live.isReady());
    }

    // The next `seconds` of output, interleaved, rendered in device blocks.
    std::vector<float> render(double seconds) {
        std::vector<float> out;
        for (int b = 0; b < static_cast<int>(std::ceil(seconds * kRate / kBlock)); ++b) {
            engine.renderBlock(block.data(), kBlock);
            out.insert(out.end(), block.begin(), block.end());
        }
        return out;
    }

    double loudest(double seconds) { return peak(render(seconds)); }

    // What the instrument has queued and not yet played, taken out of the queue.
    std::vector<Event> queued() {
        const std::span<const Event> due = engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1);
        return {due.begin(), due.end()};
    }

    // Module knob values that sound knob `knob` moves, one per binding.
    std::vector<float> bound(int knob) const {
        std::vector<float> values;
        for (const KnobBinding& binding : live.bindings())
            if (binding.knob == knob) values.push_back(binding.node->params.value(binding.param));
        return values;
    }

    AudioEngine engine{std::make_unique<TestBackend>()};
    LiveInstrument live{&engine};
    std::vector<float> block = std::vector<float>(kBlock * kChannels);
};

TEST_F(LiveInstrumentTest, ChangesAndAReopenedCardMakeItStaleUntilTheNextRebuild) {
    rebuild();
    live.setEffects(true);
    EXPECT_FALSE(live.isReady());
    rebuild();
    openCard();  // the stream starts again on the engine's silent graph
    EXPECT_FALSE(live.isReady());
    live.noteOn(60, 100);
    EXPECT_LT(loudest(0.2), 1e-6) << "a reopened card does not play the old instrument";
    live.noteOff(60);
    rebuild();
    live.noteOn(60, 100);
    EXPECT_GT(loudest(0.2), 0.01);
}

TEST_F(LiveInstrumentTest, SoundKnobsMapAroundThePatchsValueAtZeroHalfAndOne) {
    using L = LiveInstrument;
    // The module value at 0, 0.5 and 1 around the patch's 1000 Hz, 0.2, 5 ms and 300 ms.
    const std::pair<int, std::array<float, 3>> cases[] = {{L::kBrightness, {250, 1000, 4000}}, {L::kResonance, {0, 0.2f, 0.7f}},
                                                          {L::kAttack, {0.5f, 5, 50}},        {L::kRelease, {30, 300, 3000}}};
    live.setPatch(voicePatch());
    rebuild();
    for (const auto& [knob, expected] : cases)
        for (std::size_t i = 0; i < 3; ++i) {
            live.setSoundKnob(knob, 0.5f * static_cast<float>(i));
            const std::vector<float> values = bound(knob);
            ASSERT_EQ(values.size(), 8u) << "one binding per voice copy";
            for (float value : values) EXPECT_NEAR(value, expected[i], expected[i] * 1e-5f + 1e-6f) << knob << " at " << i;
        }
    live.setPatch(voicePatch(8000));
    rebuild();
    live.setSoundKnob(L::kBrightness, 1);
    EXPECT_FLOAT_EQ(bound(L::kBrightness).front(), 20000.0f) << "clamped to the module knob's range";
    live.setPatch(builtin("FM E-Piano"));
    rebuild();
    EXPECT_TRUE(live.bindings().empty()) << "no filter, no amp envelope";
}

// Regression: the pedal's value was read from the event's value field, not `velocity`.
TEST_F(LiveInstrumentTest, Controller64IsThePedalReadFromTheVelocityFieldAndHoldsReleasedNotes) {
    live.noteOn(60, 100);
    Event pedal{.type = EventType::ControlChange, .note = 64, .velocity = 64};
    EXPECT_TRUE(live.sendEvent(pedal));
    EXPECT_TRUE(live.voices().sustain());
    queued();
    EXPECT_TRUE(live.noteOff(60));
    EXPECT_TRUE(queued().empty()) << "held by the pedal";
    pedal.velocity = 63;
    pedal.value = 1.0f;
    EXPECT_TRUE(live.sendEvent(pedal));
    EXPECT_FALSE(live.voices().sustain());
    const std::vector<Event> events = queued();
    ASSERT_EQ(events.size(), 1u) << "the pedal itself is not queued";
    EXPECT_TRUE(events[0].type == EventType::NoteOff && events[0].note == 60);
}

TEST_F(LiveInstrumentTest, AChordOfThreeNotesSoundsOnThreeVoicesThenFallsSilent) {
    live.setPatch(voicePatch(3000, 0.1, 2, 100));
    rebuild();
    EXPECT_LT(loudest(0.1), 1e-6) << "silent before any key";
    for (int note : {60, 64, 67}) ASSERT_TRUE(live.noteOn(note, 100));
    render(0.05);
    EXPECT_GT(loudest(0.5), 0.05);
    for (int v = 0; v < 3; ++v) EXPECT_EQ(live.voices().voice(v).note, 60 + (std::vector{0, 4, 7})[static_cast<std::size_t>(v)]);
    for (int note : {60, 64, 67}) ASSERT_TRUE(live.noteOff(note));
    render(1.0);
    EXPECT_LT(loudest(0.1), 1e-4) << "released notes die away";
}

TEST_F(LiveInstrumentTest, EightVoicesOfEveryBuiltinWithEchoAndRoomAllocateNothingOnTheAudioThread) {
    live.setEffects(true);
    for (Patch& patch : builtinPatches()) {
        const std::string name = patch.name;
        live.setPatch(std::move(patch));
        rebuild();
        for (int note = 36; note < 44; ++note) live.noteOn(note, 100);  // drum kit keys too
        live.setSoundKnob(LiveInstrument::kBrightness, 0.8f);
        std::size_t heapCalls = 0;
        {
            const test::AllocationCounter counter;
            // The first blocks take the new graph in and cross-fade to it.
            for (int b = 0; b < 4; ++b) engine.renderBlock(block.data(), kBlock);
            heapCalls = counter.allocations() + counter.frees();
        }
        EXPECT_EQ(heapCalls, 0u) << name;
        EXPECT_GT(peak(block), 0.0) << name << " sounds";
        engine.collectGarbage();
    }
}

}  // namespace
}  // namespace ostrel::engine
