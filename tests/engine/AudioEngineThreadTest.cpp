#include "engine/AudioEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"

namespace ostrel::engine {
namespace {

using namespace std::chrono_literals;

using AudioEngineThreadTest = test::HandEngineTest;

// Regression: with the play generation and the playing flag in two values, a chunk could
// use up a new play's seek while it saw an old flag (between the two stores, or just
// after a stop), put the position back to 0, and the play then started at beat 0 instead
// of the start beat.
TEST_F(AudioEngineThreadTest, PlayStartsAtTheStartBeatWhateverTheInterleaving) {
    start();
    engine->startBeat = 2.0;  // frame 48000
    std::atomic<bool> done{false};
    std::atomic<int> wrongStarts{0};
    std::thread audio([&] {
        float out[2];
        while (!done.load(std::memory_order_acquire)) {
            card->render(out, 1);
            const int64_t pos = engine->shownPos();
            wrongStarts.fetch_add(pos != 0 && pos < 48000 ? 1 : 0);
        }
    });

    // The faulty window is a few nanoseconds wide, so the two threads race for a while.
    const auto until = std::chrono::steady_clock::now() + 300ms;
    for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
        engine->setPlaying(true);
        for (int spin = 0; spin < (i % 16) * 64; ++spin) {
            std::atomic_signal_fence(std::memory_order_seq_cst);  // keeps the wait
        }
        engine->setPlaying(false);
    }
    done.store(true, std::memory_order_release);
    audio.join();

    EXPECT_EQ(wrongStarts.load(), 0);
}

}  // namespace
}  // namespace ostrel::engine
