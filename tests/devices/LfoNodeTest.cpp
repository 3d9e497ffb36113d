#include "devices/LfoNode.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// xorshift32 values after seed 12345, worked out by hand: steps 1 to 3.
constexpr float kHeld[] = {0.553877354f, -0.209654629f, 0.311540604f};

Signal play(LfoNode& l, Knobs knobs, int frames, const Signal* restart = nullptr, double rate = 48000.0) {
    l.prepare(rate);
    setKnobs(l, knobs);
    const Render r{.rate = rate, .inputs = {restart}};
    return render(l, frames, r);
}

TEST(LfoNode, CyclesAtTheRate) {
    LfoNode l;
    EXPECT_NEAR(measureFrequency(play(l, {{"rate_hz", 5}}, 96000, nullptr, 96000), 0, 96000, 96000), 5.0, 1e-3);
}

TEST(LfoNode, RisingEdgeRestartsTheCycleAndAHeldTriggerDoesNotAgain) {
    Signal trigger = constant(4800, 0.0f);
    std::fill(trigger.begin() + 1000, trigger.begin() + 1500, 1.0f);
    std::fill(trigger.begin() + 3000, trigger.end(), 1.0f);
    LfoNode l;
    const Signal out = play(l, {{"waveform", 2}}, 4800, &trigger);  // saw: -1 at phase 0
    EXPECT_TRUE(out[999] > -0.99f && out[1000] == -1.0f && out[1499] > -1.0f && out[3000] == -1.0f);
}

TEST(LfoNode, RandomStepsHoldOneValueOfTheKnownSequencePerCycleAndARestartDrawsTheNext) {
    LfoNode l;
    const Signal out = play(l, {{"waveform", 4}, {"rate_hz", 10}}, 14400);
    EXPECT_EQ((Signal{out[0], out[4799], out[4800], out[9599], out[9600]}),
              (Signal{kHeld[0], kHeld[0], kHeld[1], kHeld[1], kHeld[2]}));
    const Signal trigger = constant(10, 1.0f);
    EXPECT_EQ(play(l, {}, 10, &trigger)[0], kHeld[1]);  // prepare resets the generator
}

}  // namespace
}  // namespace ostrel::engine
