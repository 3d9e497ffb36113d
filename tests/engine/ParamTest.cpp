#include "engine/Param.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "support/AllocationCounter.h"

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

TEST(ParamBlockValueRule, TablesLongerThan32RowsStoreOnlyTheFirst32) {
    std::vector<ParamDescriptor> rows(40);
    for (std::uint32_t i = 0; i < 40; ++i) {
        rows[i] = {i, "k", "K", "", 0.0f, 100.0f, 7.0f, ParamKind::Continuous, ""};
    }
    ParamBlock block(rows);
    EXPECT_EQ(block.count(), 40u);
    EXPECT_EQ(block.value(31), 7.0f);
    block.setValue(35, 3.0f);
    const Event event = change(33, 5.0f, 0);
    block.applyEvents({&event, 1}, 64);
    EXPECT_EQ(block.value(35), 0.0f);
    EXPECT_EQ(block.value(33), 0.0f);
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
        {"an immediate change takes effect whatever its frame offset", 4, 0.0f,
         {{{[] { Event e = change(4, 6.0f, 0); e.frameOffset = 300; return e; }()}, 512, 6.0f}}},
        {"other event types and foreign knobs are ignored", 0, 0.5f,
         {{{change(0, 0.9f, 0, EventType::NoteOn), change(9, 1.0f, 0)}, 64, 0.5f}}},
        {"an immediate change stops a running ramp", 0, 0.0f,
         {{{change(0, 1.0f, 1000)}, 100, 0.1f}, {{change(0, 0.3f, 0)}, 100, 0.3f}, {{}, 100, 0.3f}}},
        {"the later change for a knob decides: jump after ramp", 4, 0.0f,
         {{{change(4, 20.0f, 1000), change(4, -5.0f, 0)}, 64, -5.0f}, {{}, 64, -5.0f}}},
        {"the later change for a knob decides: ramp after jump", 4, 0.0f,
         {{{change(4, 10.0f, 0), change(4, 20.0f, 100)}, 100, 20.0f}}},
        {"a ramp target outside the range stops at the limit", 0, 0.0f,
         {{{change(0, 5.0f, 100)}, 50, 0.5f}, {{}, 50, 1.0f}}},
        {"a ramp to NaN ends on the default", 3, 20.0f,
         {{{change(3, std::nanf(""), 200)}, 200, 1000.0f}}},
        {"zero frames apply changes but move no ramp", 0, 0.0f,
         {{{change(0, 1.0f, 100)}, 0, 0.0f}, {{}, 100, 1.0f}}},
        {"an on/off ramp snaps on the way", 1, 0.0f, {{{change(1, 1.0f, 100)}, 40, 0.0f}, {{}, 60, 1.0f}}},
    };
    for (const Case& c : cases) {
        ParamBlock block(kTable);
        block.setValue(c.index, c.start);
        for (std::size_t s = 0; s < c.steps.size(); ++s) {
            block.applyEvents(c.steps[s].events, c.steps[s].frames);
            EXPECT_NEAR(block.value(c.index), c.steps[s].expected, 1e-5f) << c.what << ", block " << s;
        }
        EXPECT_EQ(block.value(c.index), c.steps.back().expected) << c.what << " ends exactly";
    }
}

// A ramp towards NaN heads for the default: no block in between sees NaN.
TEST(ParamBlockRamps, RampToNotANumberNeverPassesThroughNaN) {
    ParamBlock block(kTable);
    block.setValue(3, 20.0f);
    const Event event = change(3, std::nanf(""), 200);
    block.applyEvents({&event, 1}, 100);
    EXPECT_FALSE(std::isnan(block.value(3)));
}

TEST(ParamBlockRamps, SetValueDuringARampLetsTheRampGoOnFromTheNewValue) {
    ParamBlock block(kTable);
    block.setValue(0, 0.0f);
    const Event event = change(0, 1.0f, 400);
    block.applyEvents({&event, 1}, 100);  // 0.25, step 1/400 per frame
    block.setValue(0, 0.5f);
    block.applyEvents({}, 100);
    EXPECT_NEAR(block.value(0), 0.75f, 1e-6f);
}

TEST(ParamBlockRamps, ApplyingEventsNeverAllocates) {
    ParamBlock block(kTable);
    const std::array<Event, 3> events{change(0, 1.0f, 480), change(3, 500.0f, 0), change(4, 3.0f, 64)};
    test::AllocationCounter counter;
    block.applyEvents(events, 128);
    block.setValue(2, 8.0f);
    EXPECT_EQ(block.value(2), 8.0f);
    EXPECT_EQ(counter.allocations(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
