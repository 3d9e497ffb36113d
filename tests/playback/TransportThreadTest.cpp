#include "playback/Transport.h"

#include <gtest/gtest.h>

#include <thread>

namespace ostrel::engine {
namespace {

// The audio thread must never see half of a change: a loop start from one range with the end
// of another, or a state older than one it has already seen.
TEST(TransportThreadTest, AudioThreadSeesOnlyWholeStatesInTheOrderTheyWereSet) {
    constexpr int kChanges = 20000;
    Transport transport;
    int torn = 0;
    int backwards = 0;
    std::thread audio([&] {
        double lastStart = 0.0;
        for (;;) {
            const Transport::State seen = transport.read();
            const Transport::LoopRange& loop = seen.loop;
            // Each range k..k+1 is set before its start beat k.
            const bool whole = loop.startBeats == 0.0 ||
                               (loop.enabled && loop.endBeats == loop.startBeats + 1.0 &&
                                (seen.startBeat == loop.startBeats || seen.startBeat == loop.startBeats - 1.0));
            torn += whole ? 0 : 1;
            backwards += loop.startBeats < lastStart ? 1 : 0;
            lastStart = loop.startBeats;
            if (seen.startBeat == kChanges) {
                break;
            }
        }
    });
    for (int k = 1; k <= kChanges; ++k) {
        transport.setLoop({.enabled = true, .startBeats = static_cast<double>(k), .endBeats = k + 1.0});
        transport.setStartBeat(k);
    }
    audio.join();

    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
}

}  // namespace
}  // namespace ostrel::engine
