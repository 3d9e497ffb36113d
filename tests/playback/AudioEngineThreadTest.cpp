#include "playback/AudioEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <cmath>
#include <span>
#include <thread>
#include <vector>

#include "playback/PlaybackTestSupport.h"

namespace ostrel::engine {
namespace {

using namespace std::chrono_literals;

using AudioEngineThreadTest = test::HandEngineTest;

// The track hand-off is lock-free (atomic exchange, hazard slot, the playing and fading
// slots, keep-alive on the GUI thread): a track swapped out and collected while the audio
// thread plays must never be read after it is freed, and every sample heard comes from the
// tracks (one, or a fade between two).
TEST_F(AudioEngineThreadTest, TracksSwappedDuringPlayAreNeverReadAfterTheyAreFreed) {
    auto constTrack = [](float value) { return std::make_shared<BackingTrack>(std::vector<float>(2 * 32768, value), 2); };
    start();
    engine->setBackingTrack(constTrack(1.0f));
    // Frame 24000: inside every track however fast the thread renders.
    engine->transport().setLoop({.enabled = true, .startBeats = 0.0, .endBeats = 1.0});
    engine->setPlaying(true);
    std::atomic<bool> done{false};
    std::atomic<int> badSamples{0};
    std::thread audio([&] {
        std::vector<float> out(512);
        while (!done.load(std::memory_order_acquire)) {
            card->render(out.data(), 256);
            for (const float sample : out) {
                badSamples.fetch_add(sample >= 1.0f && sample <= 400.0f ? 0 : 1);
            }
        }
    });
    for (int i = 2; i <= 400; ++i) {
        engine->setBackingTrack(constTrack(static_cast<float>(i)));
        engine->collectGarbage();
        std::this_thread::sleep_for(100us);
    }
    done.store(true, std::memory_order_release);
    audio.join();
    EXPECT_EQ(badSamples.load(), 0);
}

// The render fills the track while the audio thread plays it: the audio thread only ever
// plays final frames, in order and none twice or skipped, holding (silent, with a fade in
// and out of each hold) when it is ahead of the render, until the whole song has been heard.
// The second channel is a constant 1, so it shows the gain each frame was played at.
TEST_F(AudioEngineThreadTest, ATrackBeingRenderedIsPlayedFrameByFrameAsItBecomesFinal) {
    constexpr std::int64_t kFrames = 200000;
    auto track = std::make_shared<BackingTrack>();
    start();
    engine->setBackingTrack(track);
    engine->setPlaying(true);
    std::thread render([&] {
        track->begin(kFrames, 2, 0);
        for (std::int64_t end = 0; end < kFrames;) {
            const std::int64_t next = std::min(kFrames, end + 3000);
            const std::span<float> frames = track->unpublished(end, next - end);
            for (std::size_t i = 0; i < frames.size(); i += 2) {
                frames[i] = static_cast<float>(end + static_cast<std::int64_t>(i / 2) + 1);  // never 0
                frames[i + 1] = 1.0f;
            }
            track->publish(next);
            end = next;
            std::this_thread::sleep_for(50us);
        }
    });
    std::int64_t expected = 1;
    int wrong = 0;
    std::vector<float> out(2 * 256);
    while (expected <= kFrames) {
        card->render(out.data(), 256);
        for (std::size_t i = 0; i < out.size(); i += 2) {
            const float gain = out[i + 1];
            if (gain == 0.0f) {
                continue;  // held
            }
            wrong += gain > 0.0f && gain <= 1.0f && std::llround(out[i] / gain) == expected ? 0 : 1;
            ++expected;
        }
    }
    render.join();
    EXPECT_EQ(wrong, 0);
}

// Regression: with the play generation and the playing flag in two values, a chunk could
// use up a new play's seek while it saw an old flag (between the two stores, or just
// after a stop), put the position back to 0, and the play then started at beat 0 instead
// of the start beat.
TEST_F(AudioEngineThreadTest, PlayStartsAtTheStartBeatWhateverTheInterleaving) {
    start();
    engine->transport().setStartBeat(2.0);  // frame 48000
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
