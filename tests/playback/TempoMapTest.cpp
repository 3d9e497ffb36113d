#include "playback/TempoMap.h"

#include <gtest/gtest.h>

namespace ostrel::engine {
namespace {

TEST(TempoMapFrames, FramesAreTheCeilingOfTheTimeAcrossTempoChanges) {
    struct Case {
        std::vector<TempoPoint> tempi;
        std::int64_t tick;
        double rate;
        std::int64_t frame;
    } cases[] = {
        {{}, 960, 48000.0, 24000},                         // no points: 120 BPM
        {{}, 1, 44100.0, 23},                              // 22.97 frames, rounded up
        {{{0, 120.0}, {3840, 60.0}}, 4800, 48000.0, 144000},
        {{{0, 120.0}, {960, 60.0}}, -960, 48000.0, -24000},
        {{{1920, 90.0}, {0, 120.0}}, 2880, 48000.0, 48000 + 32000},  // sorted by tick
        {{{0, 100.0}, {0, 140.0}}, 1400, 48000.0, 30000},            // the last point at a tick wins
        {{{960, 60.0}}, 1920, 48000.0, 24000 + 48000},               // missing tick 0 gets 120 BPM
        {{{0, 0.0}, {960, -5.0}, {1920, 60.0}}, 2880, 48000.0, 48000 + 48000},  // tempi <= 0 ignored
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TempoMap(c.tempi, {}).tickToFrame(c.tick, c.rate), c.frame) << "tick " << c.tick;
    }
}

}  // namespace
}  // namespace ostrel::engine
