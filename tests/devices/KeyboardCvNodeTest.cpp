#include "devices/KeyboardCvNode.h"

#include <gtest/gtest.h>

#include "ModuleHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

constexpr KnobRow kTable[] = {
    {"output", "Output", "", 0, 2, 0, ParamKind::Stepped},
    {"glide_ms", "Glide", "ms", 0, 2000, 0, ParamKind::Continuous},
    {"voice", "Voice", "", -1, 15, -1, ParamKind::Stepped},
    {"bend_range", "Bend range", "st", 0, 24, 2, ParamKind::Continuous},
    {"note", "Only note", "", -1, 127, -1, ParamKind::Stepped},
};

void prepareWithOutput(KeyboardCvNode& k, float output) {
    k.prepare(48000.0);
    setKnob(k, "output", output);
}

TEST(KeyboardCvNodeKnobs, MatchTheTable) {
    KeyboardCvNode k;
    expectKnobTable(k, kTable);
}

TEST(KeyboardCvNodePitch, JumpsBetweenNotesWithoutGlideAndReturnsToTheHeldNote) {
    KeyboardCvNode k;
    prepareWithOutput(k, 0);
    Render r;
    r.events = {noteOn(0, 60), noteOn(100, 64), noteOff(200, 64)};
    const std::vector<float> out = render(k, 300, r);
    EXPECT_FLOAT_EQ(out[0], 0.0f);
    EXPECT_FLOAT_EQ(out[99], 0.0f);
    EXPECT_FLOAT_EQ(out[100], 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(out[199], 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(out[200], 0.0f);
}

TEST(KeyboardCvNodeGate, StaysOnWhileAnyKeyIsHeld) {
    KeyboardCvNode k;
    prepareWithOutput(k, 1);
    Render r;
    r.events = {noteOn(0, 60), noteOn(10, 64), noteOff(20, 64), noteOff(30, 60)};
    const std::vector<float> out = render(k, 40, r);
    EXPECT_EQ(out[5], 1.0f);
    EXPECT_EQ(out[25], 1.0f);
    EXPECT_EQ(out[30], 0.0f);
}

TEST(KeyboardCvNodeGate, NoteOnWithVelocityZeroIsANoteOff) {
    KeyboardCvNode k;
    prepareWithOutput(k, 1);
    Render r;
    r.events = {noteOn(0, 60), noteOn(10, 60, 0)};
    const std::vector<float> out = render(k, 20, r);
    EXPECT_EQ(out[9], 1.0f);
    EXPECT_EQ(out[10], 0.0f);
}

TEST(KeyboardCvNodeStack, SeventeenthKeyDropsTheOldest) {
    KeyboardCvNode k;
    prepareWithOutput(k, 1);
    Render r;
    for (int i = 0; i < 17; ++i) r.events.push_back(noteOn(i, 40 + i));
    // The first key went off the stack: letting it go changes nothing, the other 16 close the gate.
    r.events.push_back(noteOff(20, 40));
    for (int i = 1; i < 16; ++i) r.events.push_back(noteOff(20 + i, 40 + i));
    r.events.push_back(noteOff(40, 56));
    const std::vector<float> out = render(k, 50, r);
    EXPECT_EQ(out[21], 1.0f);
    EXPECT_EQ(out[39], 1.0f);
    EXPECT_EQ(out[40], 0.0f);
}

TEST(KeyboardCvNodeVelocity, FollowsTheTopHeldKey) {
    KeyboardCvNode k;
    prepareWithOutput(k, 2);
    Render r;
    r.events = {noteOn(0, 60, 127), noteOn(10, 64, 64), noteOff(20, 64), noteOff(30, 60)};
    const std::vector<float> out = render(k, 40, r);
    EXPECT_FLOAT_EQ(out[0], 1.0f);
    EXPECT_FLOAT_EQ(out[10], 64.0f / 127.0f);
    EXPECT_FLOAT_EQ(out[20], 1.0f);
    EXPECT_FLOAT_EQ(out[35], 1.0f);  // kept after the last key is let go
}

TEST(KeyboardCvNodeFilters, VoiceFilterIgnoresOtherChannelsButNotPitchBend) {
    KeyboardCvNode gate;
    prepareWithOutput(gate, 1);
    setKnob(gate, "voice", 2);
    Render r;
    r.events = {noteOn(0, 60, 100, 3), noteOn(10, 62, 100, 2)};
    const std::vector<float> g = render(gate, 20, r);
    EXPECT_EQ(g[5], 0.0f);
    EXPECT_EQ(g[10], 1.0f);

    KeyboardCvNode pitch;
    prepareWithOutput(pitch, 0);
    setKnob(pitch, "voice", 2);
    Render b;
    b.events = {noteOn(0, 60, 100, 2), pitchBend(0, 1.0f, 3)};
    const std::vector<float> p = render(pitch, 48000, b);
    EXPECT_NEAR(p.back(), 2.0f / 12.0f, 1e-5f);
}

TEST(KeyboardCvNodeFilters, NoteFilterOpensOnlyForItsNote) {
    KeyboardCvNode k;
    prepareWithOutput(k, 1);
    setKnob(k, "note", 38);
    Render r;
    r.events = {noteOn(0, 36), noteOn(10, 38), noteOff(20, 36)};
    const std::vector<float> out = render(k, 30, r);
    EXPECT_EQ(out[5], 0.0f);
    EXPECT_EQ(out[10], 1.0f);
    EXPECT_EQ(out[25], 1.0f);
}

TEST(KeyboardCvNodeBend, SettlesAtTheRangeWithAFiveMillisecondTimeConstant) {
    for (double rate : kRates) {
        SCOPED_TRACE(rate);
        KeyboardCvNode k;
        k.prepare(rate);
        Render r;
        r.rate = rate;
        r.events = {noteOn(0, 60), pitchBend(0, 1.0f)};
        const int fiveMs = static_cast<int>(rate * 0.005);
        const std::vector<float> out = render(k, fiveMs * 20, r);
        const float full = 2.0f / 12.0f;
        // One time constant covers 1 - 1/e of the way.
        EXPECT_NEAR(out[static_cast<std::size_t>(fiveMs - 1)] / full, 1.0 - std::exp(-1.0), 0.01);
        EXPECT_NEAR(out.back(), full, 1e-6f);
    }
}

TEST(KeyboardCvNodeBend, OutOfRangeAndNotANumberAreHarmless) {
    KeyboardCvNode k;
    prepareWithOutput(k, 0);
    Render r;
    r.events = {noteOn(0, 60), pitchBend(0, 5.0f)};
    EXPECT_NEAR(render(k, 48000, r).back(), 2.0f / 12.0f, 1e-6f);
    Render n;
    n.events = {pitchBend(0, std::nanf(""))};
    const std::vector<float> out = render(k, 48000, n);
    EXPECT_TRUE(std::isfinite(out.back()));
    EXPECT_NEAR(out.back(), 0.0f, 1e-6f);
}

TEST(KeyboardCvNodeGlide, SlidesBetweenHeldNotesButNotAfterSilence) {
    KeyboardCvNode k;
    prepareWithOutput(k, 0);
    setKnob(k, "glide_ms", 100);
    Render r;
    r.events = {noteOn(0, 72), noteOn(4800, 84)};
    const std::vector<float> out = render(k, 48000, r);
    EXPECT_FLOAT_EQ(out[0], 1.0f);  // first note: no glide
    EXPECT_GT(out[4800], 1.0f);
    EXPECT_LT(out[4800 + 4799], 2.0f);
    EXPECT_NEAR(out[4800 + 4799], 2.0f - std::exp(-1.0f), 0.01f);  // one time constant
    EXPECT_EQ(out.back(), 2.0f);
}

TEST(KeyboardCvNodeGlide, LongestGlideArrivesExactlyOnTheNote) {
    // Regression: a plain float one-pole with a 2 s time constant stalled up to
    // 14 cents short of a note three octaves up, for as long as the key was held.
    KeyboardCvNode k;
    prepareWithOutput(k, 0);
    setKnob(k, "glide_ms", 2000);
    Render r;
    r.events = {noteOn(0, 72), noteOn(10, 96)};
    const std::vector<float> out = render(k, 48000 * 60, r);
    EXPECT_EQ(out.back(), 3.0f);
}

TEST(KeyboardCvNodeEvents, NoteOffBeyondAShortenedBlockIsNotLost) {
    // Regression: events stamped after the frames a block produces must still count,
    // or a note off goes missing and the note hangs.
    KeyboardCvNode k;
    prepareWithOutput(k, 1);
    AudioBuffer out(1, 8);
    Event on{};
    on.type = EventType::NoteOn;
    on.note = 60;
    on.velocity = 100;
    Event off = on;
    off.type = EventType::NoteOff;
    off.frameOffset = 12;
    const Event events[] = {on, off};
    ProcessContext ctx;
    ctx.frames = 16;  // longer than the output
    ctx.events = events;
    k.process(ctx, {}, out);
    EXPECT_EQ(out.channel(0)[7], 1.0f);
    ProcessContext next;
    next.frames = 8;
    k.process(next, {}, out);
    EXPECT_EQ(out.channel(0)[0], 0.0f);
}

TEST(KeyboardCvNodeLifecycle, ResetReleasesEverything) {
    KeyboardCvNode k;
    prepareWithOutput(k, 1);
    Render r;
    r.events = {noteOn(0, 60)};
    render(k, 10, r);
    k.reset();
    EXPECT_EQ(render(k, 10)[0], 0.0f);
}

}  // namespace
}  // namespace ostrel::engine
