#include "playback/Transport.h"

#include <gtest/gtest.h>

#include <limits>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using LoopRange = Transport::LoopRange;

void expectLoop(const LoopRange& seen, const LoopRange& expected) {
    EXPECT_EQ(seen.enabled, expected.enabled);
    EXPECT_EQ(seen.startBeats, expected.startBeats);
    EXPECT_EQ(seen.endBeats, expected.endBeats);
}

TEST(TransportTest, StartBeatThatIsNegativeOrNotANumberCountsAsZero) {
    const struct {
        double given, held;
    } cases[] = {{2.5, 2.5}, {0.0, 0.0}, {-3.0, 0.0}, {kNaN, 0.0}, {-kInf, 0.0}, {kInf, kInf}};
    Transport transport;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "start beat " << c.given);
        transport.setStartBeat(9.0);
        transport.setStartBeat(c.given);
        EXPECT_EQ(transport.startBeat(), c.held);
        EXPECT_EQ(transport.read().startBeat, c.held) << "the audio thread sees the same";
    }
}

TEST(TransportTest, LoopIsOnOnlyWhenAskedForAndItsEndIsAfterItsStart) {
    const struct {
        LoopRange given, held;
    } cases[] = {
        {{true, 4.0, 8.0}, {true, 4.0, 8.0}},
        {{false, 4.0, 8.0}, {false, 4.0, 8.0}},
        {{true, 4.0, 4.0}, {false, 4.0, 4.0}},     // empty
        {{true, 8.0, 4.0}, {false, 8.0, 4.0}},     // end before start: kept, but off
        {{true, -2.0, 8.0}, {true, 0.0, 8.0}},     // negative start counts as 0
        {{true, kNaN, 1.0}, {true, 0.0, 1.0}},
        {{true, 2.0, kNaN}, {false, 2.0, 0.0}},    // an end that is no number is no end
        {{true, -1.0, -0.5}, {false, 0.0, 0.0}},   // both at 0: empty
        {{true, 0.0, kInf}, {true, 0.0, kInf}},    // the engine stops an endless end in range
    };
    Transport transport;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.given.enabled << " " << c.given.startBeats << ".." << c.given.endBeats);
        transport.setLoop({.enabled = true, .startBeats = 1.0, .endBeats = 2.0});
        transport.setLoop(c.given);
        expectLoop(transport.loop(), c.held);
        expectLoop(transport.read().loop, c.held);
    }
}

TEST(TransportTest, TempoIsClampedTo20To300AndWhatIsNotANumberIsIgnored) {
    const struct {
        double given, held;
    } cases[] = {{500.0, 300.0}, {5.0, 20.0}, {97.5, 97.5}, {kNaN, 97.5}, {-kInf, 20.0}, {kInf, 300.0}};
    Transport transport;
    for (const auto& c : cases) {
        transport.setTempo(c.given);
        EXPECT_EQ(transport.tempo(), c.held) << c.given;
        EXPECT_EQ(transport.read().tempo, c.held) << c.given;
    }
}

TEST(TransportTest, EveryStartOfPlayRaisesTheGenerationAndStoppingKeepsIt) {
    Transport transport;
    const Transport::State initial = transport.read();
    EXPECT_FALSE(initial.playing);
    EXPECT_EQ(initial.generation, 0u);
    EXPECT_EQ(initial.tempo, 120.0);
    const struct {
        bool on;
        std::uint32_t generation;
    } steps[] = {{true, 1}, {true, 2}, {false, 2}, {false, 2}, {true, 3}};
    for (const auto& step : steps) {
        transport.setPlaying(step.on);
        const Transport::State seen = transport.read();
        EXPECT_EQ(seen.playing, step.on);
        EXPECT_EQ(seen.generation, step.generation);
    }
}

TEST(TransportTest, AudioThreadTakesTheNewestWholeStateAndKeepsWhatDidNotChange) {
    Transport transport;
    transport.setMetronome(true);
    transport.setLoop({.enabled = true, .startBeats = 4.0, .endBeats = 8.0});
    transport.setTempo(90.0);
    for (int beat = 0; beat < 10; ++beat) {
        transport.setStartBeat(beat);  // many changes between two reads: the last counts
    }
    Transport::State seen = transport.read();
    EXPECT_TRUE(seen.metronome);
    EXPECT_EQ(seen.startBeat, 9.0);
    transport.setMetronome(false);
    seen = transport.read();
    EXPECT_FALSE(seen.metronome);
    EXPECT_EQ(seen.startBeat, 9.0);
    EXPECT_EQ(seen.tempo, 90.0);
    expectLoop(seen.loop, {true, 4.0, 8.0});
    seen = transport.read();
    EXPECT_EQ(seen.startBeat, 9.0) << "nothing new: the same state again";
    expectLoop(seen.loop, {true, 4.0, 8.0});
}

TEST(TransportTest, NeitherSettingNorReadingTouchesTheHeap) {
    Transport transport;
    test::AllocationCounter counter;
    for (int i = 0; i < 100; ++i) {
        transport.setTempo(100.0 + i);
        transport.setLoop({.enabled = true, .startBeats = 0.0, .endBeats = 1.0 + i});
        transport.setPlaying(i % 2 == 0);
        [[maybe_unused]] const Transport::State seen = transport.read();
    }
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
