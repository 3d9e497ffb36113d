#include "engine/graph/Param.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>


namespace ostrel::engine {
namespace {

constexpr std::array<ParamDescriptor, 5> kTable{{
    {0, "level", "Level", "", 0.0f, 1.0f, 0.5f, ParamKind::Continuous, "How loud."},
    {1, "on", "On", "", 0.0f, 1.0f, 1.0f, ParamKind::OnOff, "Switch."},
    {2, "steps", "Steps", "", 1.0f, 16.0f, 4.0f, ParamKind::Stepped, "Count."},
    {3, "freq_hz", "Frequency", "Hz", 20.0f, 20000.0f, 1000.0f, ParamKind::Continuous, "Pitch."},
    {4, "gain_db", "Gain", "dB", -24.0f, 24.0f, 0.0f, ParamKind::Continuous, "Boost."},
}};

Event change(std::uint32_t param, float value, int rampFrames, EventType type = EventType::ParamChange) {
    Event event;
    event.type = type;
    event.param = param;
    event.value = value;
    event.rampFrames = rampFrames;
    return event;
}

TEST(ParamBlockValueRule, ValuesStartAtTheDefaultAreClampedNanIsTheDefaultAndOnOffSnapsAtOneHalf) {
    const float nan = std::nanf("");
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        std::uint32_t index;
        float set, expected;
    } cases[] = {
        {0, 1e9f, 1.0f}, {0, -3.0f, 0.0f}, {0, inf, 1.0f}, {3, nan, 1000.0f},
        {1, 0.49f, 0.0f}, {1, 0.5f, 1.0f},
        {5, 1.0f, 0.0f}, {40, 1.0f, 0.0f},  // beyond the table: nothing stored, reads 0
    };
    for (const Case& c : cases) {
        ParamBlock block(kTable);
        EXPECT_EQ(block.value(c.index), c.index < 5 ? kTable[c.index].defaultValue : 0.0f);
        block.setValue(c.index, 50.0f);
        block.setValue(c.index, c.set);
        EXPECT_EQ(block.value(c.index), c.expected) << c.index << " set to " << c.set;
    }
}

// Each row: a knob's start value, then blocks of (events, frames), and the value after each.
TEST(ParamBlockRamps, EventsJumpOrRampAndLandExactlyOnTheTarget) {
    struct Step {
        std::vector<Event> events;
        int frames;
        float expected;
    };
    struct Case {
        const char* what;
        std::uint32_t index;
        float start;
        std::vector<Step> steps;
    } cases[] = {
        {"ramp lands exactly on the target in its last block", 0, 0.0f,
         {{{change(0, 1.0f, 480)}, 128, 128.0f / 480}, {{}, 128, 256.0f / 480}, {{}, 128, 384.0f / 480},
          {{}, 128, 1.0f}, {{}, 128, 1.0f}}},
        {"other event types and foreign knobs are ignored", 0, 0.5f,
         {{{change(0, 0.9f, 0, EventType::NoteOn), change(9, 1.0f, 0)}, 64, 0.5f}}},
        {"an immediate change stops a running ramp", 0, 0.0f,
         {{{change(0, 1.0f, 1000)}, 100, 0.1f}, {{change(0, 0.3f, 0)}, 100, 0.3f}, {{}, 100, 0.3f}}},
        {"the later change for a knob decides: jump after ramp", 4, 0.0f,
         {{{change(4, 20.0f, 1000), change(4, -5.0f, 0)}, 64, -5.0f}, {{}, 64, -5.0f}}},
        {"a ramp target outside the range stops at the limit", 0, 0.0f,
         {{{change(0, 5.0f, 100)}, 50, 0.5f}, {{}, 50, 1.0f}}},
        {"a ramp to NaN heads for the default, never through NaN", 3, 20.0f,
         {{{change(3, std::nanf(""), 200)}, 100, 510.0f}, {{}, 100, 1000.0f}}},
        {"zero frames apply changes but move no ramp", 0, 0.0f,
         {{{change(0, 1.0f, 100)}, 0, 0.0f}, {{}, 100, 1.0f}}},
        {"an on/off ramp snaps on the way", 1, 0.0f, {{{change(1, 1.0f, 100)}, 40, 0.0f}, {{}, 60, 1.0f}}},
    };
    for (const Case& c : cases) {
        ParamBlock block(kTable);
        block.setValue(c.index, c.start);
        for (std::size_t s = 0; s < c.steps.size(); ++s) {
            block.applyEvents(c.steps[s].events, c.steps[s].frames);
            EXPECT_NEAR(block.value(c.index), c.steps[s].expected, 1e-5f * std::max(1.0f, std::abs(c.steps[s].expected))) << c.what << ", block " << s;
        }
        EXPECT_EQ(block.value(c.index), c.steps.back().expected) << c.what << " ends exactly";
    }
}

}  // namespace
}  // namespace ostrel::engine
