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

Event change(std::uint32_t param, float value, int rampFrames) {
    Event event;
    event.type = EventType::ParamChange;
    event.param = param;
    event.value = value;
    event.rampFrames = rampFrames;
    return event;
}

TEST(ParamBlockStorage, StartsAtEachRowsDefault) {
    ParamBlock block(kTable);
    EXPECT_EQ(block.count(), 5u);
    EXPECT_EQ(block.value(0), 0.5f);
    EXPECT_EQ(block.value(1), 1.0f);
    EXPECT_EQ(block.value(3), 1000.0f);
}

TEST(ParamBlockStorage, IndexesBeyondTheTableReadZeroAndStoreNothing) {
    ParamBlock block(kTable);
    EXPECT_EQ(block.value(5), 0.0f);
    EXPECT_EQ(block.value(40), 0.0f);
    block.setValue(7, 1.0f);
    block.setValue(5, 1.0f);
    EXPECT_EQ(block.value(5), 0.0f);
    EXPECT_EQ(block.value(7), 0.0f);
}

TEST(ParamBlockStorage, TablesLongerThan32RowsStoreOnlyTheFirst32) {
    std::vector<ParamDescriptor> rows(40);
    for (std::uint32_t i = 0; i < 40; ++i) {
        rows[i] = {i, "k", "K", "", 0.0f, 100.0f, 7.0f, ParamKind::Continuous, ""};
    }
    ParamBlock block(rows);
    EXPECT_EQ(block.count(), 40u);
    EXPECT_EQ(block.value(31), 7.0f);
    block.setValue(35, 3.0f);
    EXPECT_EQ(block.value(35), 0.0f);
    const Event event = change(33, 5.0f, 0);
    block.applyEvents({&event, 1}, 64);
    EXPECT_EQ(block.value(33), 0.0f);
}

TEST(ParamBlockValueRule, ClampsToTheRowsRange) {
    ParamBlock block(kTable);
    block.setValue(0, 1e9f);
    EXPECT_EQ(block.value(0), 1.0f);
    block.setValue(0, -3.0f);
    EXPECT_EQ(block.value(0), 0.0f);
    block.setValue(0, std::numeric_limits<float>::infinity());
    EXPECT_EQ(block.value(0), 1.0f);
}

TEST(ParamBlockValueRule, NotANumberBecomesTheDefault) {
    ParamBlock block(kTable);
    block.setValue(3, 50.0f);
    block.setValue(3, std::nanf(""));
    EXPECT_EQ(block.value(3), 1000.0f);
}

TEST(ParamBlockValueRule, OnOffKnobsSnapAtOneHalf) {
    ParamBlock block(kTable);
    block.setValue(1, 0.49f);
    EXPECT_EQ(block.value(1), 0.0f);
    block.setValue(1, 0.5f);
    EXPECT_EQ(block.value(1), 1.0f);
}

TEST(ParamBlockEvents, ImmediateChangeTakesEffectWhateverItsFrameOffset) {
    ParamBlock block(kTable);
    Event event = change(4, 6.0f, 0);
    event.frameOffset = 300;
    block.applyEvents({&event, 1}, 512);
    EXPECT_EQ(block.value(4), 6.0f);
}

TEST(ParamBlockEvents, OtherEventTypesAndForeignKnobsAreIgnored) {
    ParamBlock block(kTable);
    Event note = change(0, 0.9f, 0);
    note.type = EventType::NoteOn;
    const std::array<Event, 2> events{note, change(9, 1.0f, 0)};
    block.applyEvents(events, 64);
    EXPECT_EQ(block.value(0), 0.5f);
}

TEST(ParamBlockEvents, RampLandsExactlyOnTheTargetInItsLastBlock) {
    ParamBlock block(kTable);
    block.setValue(0, 0.0f);
    const Event event = change(0, 1.0f, 480);
    block.applyEvents({&event, 1}, 128);
    EXPECT_NEAR(block.value(0), 0.26667f, 1e-5f);
    block.applyEvents({}, 128);
    EXPECT_NEAR(block.value(0), 0.53333f, 1e-5f);
    block.applyEvents({}, 128);
    EXPECT_NEAR(block.value(0), 0.8f, 1e-5f);
    block.applyEvents({}, 128);
    EXPECT_EQ(block.value(0), 1.0f);
    block.applyEvents({}, 128);
    EXPECT_EQ(block.value(0), 1.0f);
}

TEST(ParamBlockEvents, ImmediateChangeStopsARunningRamp) {
    ParamBlock block(kTable);
    block.setValue(0, 0.0f);
    const Event ramp = change(0, 1.0f, 1000);
    block.applyEvents({&ramp, 1}, 100);
    const Event jump = change(0, 0.3f, 0);
    block.applyEvents({&jump, 1}, 100);
    EXPECT_EQ(block.value(0), 0.3f);
    block.applyEvents({}, 100);
    EXPECT_EQ(block.value(0), 0.3f);
}

TEST(ParamBlockEvents, LaterChangeForTheSameKnobDecides) {
    ParamBlock block(kTable);
    block.setValue(4, 0.0f);
    const std::array<Event, 2> rampThenJump{change(4, 20.0f, 1000), change(4, -5.0f, 0)};
    block.applyEvents(rampThenJump, 64);
    EXPECT_EQ(block.value(4), -5.0f);
    block.applyEvents({}, 64);
    EXPECT_EQ(block.value(4), -5.0f);

    const std::array<Event, 2> jumpThenRamp{change(4, 10.0f, 0), change(4, 20.0f, 100)};
    block.applyEvents(jumpThenRamp, 100);
    EXPECT_EQ(block.value(4), 20.0f);
}

TEST(ParamBlockEvents, RampTargetOutsideTheRangeStopsAtTheLimit) {
    ParamBlock block(kTable);
    block.setValue(0, 0.0f);
    const Event event = change(0, 5.0f, 100);
    block.applyEvents({&event, 1}, 50);
    EXPECT_NEAR(block.value(0), 0.5f, 1e-6f);
    block.applyEvents({}, 50);
    EXPECT_EQ(block.value(0), 1.0f);
}

TEST(ParamBlockEvents, RampToNotANumberEndsOnTheDefaultWithoutPassingThroughNaN) {
    ParamBlock block(kTable);
    block.setValue(3, 20.0f);
    const Event event = change(3, std::nanf(""), 200);
    block.applyEvents({&event, 1}, 100);
    EXPECT_FALSE(std::isnan(block.value(3)));
    block.applyEvents({}, 100);
    EXPECT_EQ(block.value(3), 1000.0f);
}

TEST(ParamBlockEvents, SetValueDuringARampLetsTheRampGoOnFromTheNewValue) {
    ParamBlock block(kTable);
    block.setValue(0, 0.0f);
    const Event event = change(0, 1.0f, 400);
    block.applyEvents({&event, 1}, 100);  // 0.25, step 1/400 per frame
    block.setValue(0, 0.5f);
    block.applyEvents({}, 100);
    EXPECT_NEAR(block.value(0), 0.75f, 1e-6f);
}

TEST(ParamBlockEvents, ZeroFramesAppliesChangesButMovesNoRamp) {
    ParamBlock block(kTable);
    block.setValue(0, 0.0f);
    const Event event = change(0, 1.0f, 100);
    block.applyEvents({&event, 1}, 0);
    EXPECT_EQ(block.value(0), 0.0f);
    block.applyEvents({}, 100);
    EXPECT_EQ(block.value(0), 1.0f);
}

TEST(ParamBlockEvents, OnOffRampSnapsOnTheWay) {
    ParamBlock block(kTable);
    block.setValue(1, 0.0f);
    const Event event = change(1, 1.0f, 100);
    block.applyEvents({&event, 1}, 40);
    EXPECT_EQ(block.value(1), 0.0f);
    block.applyEvents({}, 60);
    EXPECT_EQ(block.value(1), 1.0f);
}

TEST(ParamBlockEvents, ApplyingEventsNeverAllocates) {
    ParamBlock block(kTable);
    const std::array<Event, 3> events{change(0, 1.0f, 480), change(3, 500.0f, 0), change(4, 3.0f, 64)};
    test::AllocationCounter counter;
    block.applyEvents(events, 128);
    block.setValue(2, 8.0f);
    (void)block.value(2);
    EXPECT_EQ(counter.allocations(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
