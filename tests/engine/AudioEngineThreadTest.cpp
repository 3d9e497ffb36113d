#include "engine/AudioEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"

namespace ostrel::engine {
namespace {

using namespace std::chrono_literals;

std::shared_ptr<BackingTrack> constTrack(float value, int64_t frames) {
    return test::makeTrack(frames, 2, [value](int64_t) { return value; });
}

class AudioEngineThreadTest : public test::HandEngineTest {
protected:
    void SetUp() override { start(); }

    // Renders periods of `frames` on a thread of its own until told to stop; check sees
    // every period.
    template <typename Check>
    std::thread audioThread(uint32_t frames, Check check) {
        return std::thread([this, frames, check]() mutable {
            std::vector<float> out(size_t{frames} * 2);
            while (!done.load(std::memory_order_acquire)) {
                card->render(out.data(), frames);
                check(out);
            }
        });
    }

    std::atomic<bool> done{false};
};

TEST_F(AudioEngineThreadTest, TracksSwappedDuringPlayAreNeverReadAfterTheyAreFreed) {
    engine->setBackingTrack(constTrack(1.0f, 32768));
    engine->loopEnd = 1.0;  // frame 24000: inside the tracks however fast this thread renders
    engine->loop = true;
    engine->setPlaying(true);
    std::atomic<int> badSamples{0};
    std::thread audio = audioThread(256, [&](const std::vector<float>& out) {
        for (float sample : out) {
            // Every track holds a whole number from 1 to 400 in every sample.
            if (!(sample >= 1.0f && sample <= 400.0f && sample == std::floor(sample))) {
                badSamples.fetch_add(1);
            }
        }
    });

    for (int i = 2; i <= 400; ++i) {
        engine->setBackingTrack(constTrack(static_cast<float>(i), 32768));
        engine->collectGarbage();
        std::this_thread::sleep_for(100us);
    }
    done.store(true, std::memory_order_release);
    audio.join();

    EXPECT_EQ(badSamples.load(), 0);
}

// Regression: with the play generation and the playing flag in two values, a chunk could
// use up a new play's seek while it saw an old flag (between the two stores, or just
// after a stop), put the position back to 0, and the play then started at beat 0 instead
// of the start beat.
TEST_F(AudioEngineThreadTest, PlayStartsAtTheStartBeatWhateverTheInterleaving) {
    engine->startBeat = 2.0;  // frame 48000
    std::atomic<int> wrongStarts{0};
    std::thread audio = audioThread(1, [&](const std::vector<float>&) {
        const int64_t pos = engine->shownPos();
        if (pos != 0 && pos < 48000) {
            wrongStarts.fetch_add(1);
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
