#include "engine/TempoMap.h"

#include <gtest/gtest.h>

namespace ostrel::engine {
namespace {

TEST(TempoMapDefaults, EmptyListsPlay120BeatsPerMinuteInFourFour) {
    const TempoMap map({}, {});
    ASSERT_EQ(map.segments().size(), 1u);
    EXPECT_EQ(map.segments()[0].bpm, 120.0);
    ASSERT_EQ(map.signatures().size(), 1u);
    EXPECT_EQ(map.signatures()[0].numerator, 4);
    EXPECT_EQ(map.signatures()[0].denominator, 4);
    EXPECT_EQ(map.tickToFrame(0, 48000.0), 0);
    EXPECT_EQ(map.tickToFrame(960, 48000.0), 24000);
}

TEST(TempoMapFrames, TempoChangeStartsASegmentAtItsTime) {
    const TempoMap map({{0, 120.0}, {3840, 60.0}}, {});
    ASSERT_EQ(map.segments().size(), 2u);
    EXPECT_DOUBLE_EQ(map.segments()[1].startSeconds, 2.0);
    EXPECT_EQ(map.tickToFrame(3840, 48000.0), 96000);
    EXPECT_EQ(map.tickToFrame(4800, 48000.0), 144000);
}

TEST(TempoMapFrames, FramesAreTheCeilingOfTheExactTime) {
    const TempoMap map({}, {});
    EXPECT_EQ(map.tickToFrame(1, 44100.0), 23);
}

TEST(TempoMapFrames, NegativeTicksGiveNegativeFrames) {
    const TempoMap map({{0, 120.0}, {960, 60.0}}, {});
    EXPECT_EQ(map.tickToFrame(-960, 48000.0), -24000);
}

TEST(TempoMapFrames, FramesGrowWithTicksAcrossManyChanges) {
    const TempoMap map({{0, 97.0}, {1000, 181.5}, {2500, 20.0}, {2600, 300.0}}, {});
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        std::int64_t previous = map.tickToFrame(0, rate);
        for (std::int64_t tick = 1; tick < 5000; ++tick) {
            const std::int64_t frame = map.tickToFrame(tick, rate);
            ASSERT_GT(frame, previous) << "tick " << tick << " at " << rate;
            previous = frame;
        }
    }
}

TEST(TempoMapNormalising, LastPointGivenAtOneTickWins) {
    const TempoMap map({{0, 100.0}, {0, 140.0}}, {{0, 3, 4}, {0, 7, 8}});
    ASSERT_EQ(map.segments().size(), 1u);
    EXPECT_EQ(map.segments()[0].bpm, 140.0);
    ASSERT_EQ(map.signatures().size(), 1u);
    EXPECT_EQ(map.signatures()[0].numerator, 7);
}

TEST(TempoMapNormalising, PointsAreSortedByTick) {
    const TempoMap map({{1920, 90.0}, {0, 120.0}}, {});
    ASSERT_EQ(map.segments().size(), 2u);
    EXPECT_EQ(map.segments()[1].tick, 1920);
    EXPECT_DOUBLE_EQ(map.segments()[1].startSeconds, 1.0);
}

TEST(TempoMapNormalising, MissingTickZeroGetsTheDefaultPoint) {
    const TempoMap map({{960, 60.0}}, {{1920, 3, 4}});
    ASSERT_EQ(map.segments().size(), 2u);
    EXPECT_EQ(map.segments()[0].tick, 0);
    EXPECT_EQ(map.segments()[0].bpm, 120.0);
    EXPECT_EQ(map.signatures().front().tick, 0);
    EXPECT_EQ(map.tickToFrame(1920, 48000.0), 24000 + 48000);
}

TEST(TempoMapNormalising, TempoThatIsNotAboveZeroIsIgnored) {
    const TempoMap map({{0, 0.0}, {960, -5.0}, {1920, 60.0}}, {});
    EXPECT_EQ(map.tickToFrame(960, 48000.0), 24000);
    EXPECT_EQ(map.tickToFrame(2880, 48000.0), 48000 + 48000);
}

TEST(TempoMapSegments, SegmentAtFindsTheLastSegmentAtOrBeforeTheTick) {
    const TempoMap map({{0, 120.0}, {960, 90.0}, {1920, 60.0}}, {});
    EXPECT_EQ(map.segmentAt(959).bpm, 120.0);
    EXPECT_EQ(map.segmentAt(960).bpm, 90.0);
    EXPECT_EQ(map.segmentAt(100000).bpm, 60.0);
    EXPECT_EQ(map.segmentAt(-5).bpm, 120.0);
}

}  // namespace
}  // namespace ostrel::engine
