#include "devices/modules/KeyboardCvNode.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// Output 0 is pitch, 1 gate, 2 velocity.
Signal play(float output, std::vector<Timed> events, int frames, Knobs knobs = {}, double rate = 48000.0) {
    KeyboardCvNode k;
    k.prepare(rate);
    setKnob(k, "output", output);
    setKnobs(k, knobs);
    const Render r{.rate = rate, .events = std::move(events)};
    return render(k, frames, r);
}

TEST(KeyboardCvNode, PitchGateAndVelocityFollowTheTopHeldKey) {
    const std::vector<Timed> keys = {noteOn(0, 60, 127), noteOn(10, 64, 64), noteOff(20, 64), noteOff(30, 60)};
    const Signal pitch = play(0, keys, 40), gate = play(1, keys, 40), velocity = play(2, keys, 40);
    EXPECT_EQ((Signal{pitch[5], pitch[15], pitch[25], gate[25], gate[30]}), (Signal{0.0f, 1.0f / 3.0f, 0.0f, 1.0f, 0.0f}));
    // Velocity is kept after the last key is let go.
    EXPECT_EQ((Signal{velocity[15], velocity[35]}), (Signal{64.0f / 127.0f, 1.0f}));
}

TEST(KeyboardCvNode, VoiceAndNoteFiltersIgnoreOtherNotesButNotPitchBend) {
    const Signal voice = play(1, {noteOn(0, 60, 100, 3), noteOn(10, 62, 100, 2)}, 20, {{"voice", 2}});
    EXPECT_EQ((Signal{voice[5], voice[10]}), (Signal{0.0f, 1.0f}));
    const Signal note = play(1, {noteOn(0, 36), noteOn(10, 38), noteOff(20, 36)}, 30, {{"note", 38}});
    EXPECT_EQ((Signal{note[5], note[10], note[25]}), (Signal{0.0f, 1.0f, 1.0f}));
    EXPECT_NEAR(play(0, {noteOn(0, 60, 100, 2), pitchBend(0, 1.0f, 3)}, 48000, {{"voice", 2}}).back(), 2.0f / 12, 1e-5f);
}

// A NaN bend would poison the smoother for as long as the module lives: it counts as centre.
TEST(KeyboardCvNode, BendSettlesAtTheRangeAndANotANumberBendIsTheCentre) {
    EXPECT_NEAR(play(0, {noteOn(0, 60), pitchBend(0, 5.0f)}, 4800).back(), 2.0f / 12, 1e-6f) << "held at +1";
    EXPECT_EQ(play(0, {pitchBend(0, 0.5f), pitchBend(10, std::nanf(""))}, 48000).back(), 0.0f);
}

// Regression: a plain float one-pole with a 2 s time constant stalled up to 14 cents
// short of a note three octaves up, for as long as the key was held.
TEST(KeyboardCvNode, GlideStartsOnlyBetweenHeldNotesAndArrivesExactlyOnTheNote) {
    const Signal out = play(0, {noteOn(0, 72), noteOn(10, 96)}, 48000 * 60, {{"glide_ms", 2000}});
    EXPECT_EQ(out[0], 1.0f);  // the first note after silence does not glide
    EXPECT_NEAR(out[10 + 95999], 1.0f + 2.0f * (1.0f - std::exp(-1.0f)), 0.01f);  // one time constant
    EXPECT_EQ(out.back(), 3.0f);
}

// Regression: events stamped after the frames a block produces must still count, or
// a note off goes missing and the note hangs.
TEST(KeyboardCvNode, NoteOffBeyondAShortenedBlockIsNotLost) {
    KeyboardCvNode k;
    k.prepare(48000.0);
    setKnob(k, "output", 1);
    AudioBuffer out(1, 8);
    Event events[] = {noteOn(0, 60).event, noteOff(0, 60).event};
    events[1].frameOffset = 12;
    ProcessContext ctx;
    ctx.frames = 16;  // longer than the output
    ctx.events = events;
    k.process(ctx, {}, out);
    EXPECT_EQ(out.channel(0)[7], 1.0f);
    ctx.events = {};
    k.process(ctx, {}, out);
    EXPECT_EQ(out.channel(0)[0], 0.0f);
}

}  // namespace
}  // namespace ostrel::engine
