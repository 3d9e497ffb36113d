#include "engine/AudioEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/NullAudioBackend.h"

namespace ostrel::engine {
namespace {

using namespace std::chrono_literals;

using test::constGraph;

std::shared_ptr<BackingTrack> constTrack(float value, int64_t frames) {
    return test::makeTrack(frames, 2, [value](int64_t) { return value; });
}

class AudioEngineThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto backend = std::make_unique<test::HandBackend>();
        card = backend.get();
        engine = std::make_unique<AudioEngine>(std::move(backend));
        std::string error;
        ASSERT_TRUE(engine->start({}, &error)) << error;
    }

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

    test::HandBackend* card = nullptr;
    std::unique_ptr<AudioEngine> engine;
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

TEST_F(AudioEngineThreadTest, GraphsPublishedWhileRenderingAreFadedAndCollected) {
    std::atomic<int> outOfRange{0};
    std::thread audio = audioThread(128, [&](const std::vector<float>& out) {
        for (float sample : out) {
            if (sample < 0.0f || sample > 1.0f) {
                outOfRange.fetch_add(1);
            }
        }
    });

    int published = 0;
    for (int i = 0; i < 300; ++i) {
        published += engine->publishGraph(constGraph(0.5f + (i % 2) * 0.5f)) ? 1 : 0;
        engine->collectGarbage();
        std::this_thread::sleep_for(50us);
    }
    done.store(true, std::memory_order_release);
    audio.join();
    engine->collectGarbage();

    EXPECT_EQ(published, 300);
    EXPECT_EQ(outOfRange.load(), 0);
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

TEST_F(AudioEngineThreadTest, EventsPushedWhileRenderingAreNeitherLostNorLate) {
    std::thread audio = audioThread(64, [](const std::vector<float>&) {});
    int pushed = 0;
    for (int i = 0; i < 2000; ++i) {
        TimedEvent event;
        event.event.type = EventType::NoteOn;
        event.event.note = static_cast<uint8_t>(i % 128);
        pushed += engine->events().push(event) ? 1 : 0;
        if (i % 100 == 0) {
            std::this_thread::sleep_for(200us);
        }
    }
    done.store(true, std::memory_order_release);
    audio.join();

    EXPECT_EQ(static_cast<uint64_t>(pushed) + engine->events().dropped(), 2000u);
    EXPECT_EQ(engine->events().late(), 0u);
}

// The whole engine on the silent output's own thread, driven from this one as the
// application would drive it.
TEST(AudioEngineOnNullOutputTest, RunsInRealTimeWhileTheGuiThreadChangesEverything) {
    AudioEngine engine(std::make_unique<NullAudioBackend>());
    std::string error;
    ASSERT_TRUE(engine.start({"", 48000, 256, 2}, &error)) << error;
    engine.metronome = true;
    engine.loopStart = 0.0;
    engine.loopEnd = 1.0;
    engine.loop = true;
    engine.setPlaying(true);

    const auto until = std::chrono::steady_clock::now() + 400ms;
    int round = 0;
    while (std::chrono::steady_clock::now() < until) {
        engine.setBackingTrack(constTrack(0.1f, 48000));
        engine.publishGraph(constGraph(0.2f));
        engine.setTestTone(round % 2 == 0, 0.3f);
        engine.setTempo(100 + round % 50);
        TimedEvent event;
        engine.events().push(event);
        engine.collectGarbage();
        ++round;
        std::this_thread::sleep_for(2ms);
    }
    const uint64_t clock = engine.clock();
    const int64_t position = engine.shownPos();
    engine.stop();
    engine.collectGarbage();

    EXPECT_GT(clock, 48000u * 3 / 10);
    EXPECT_GE(position, 0);
    EXPECT_LT(position, 48000 * 60 / 100 + 1);  // inside the one-beat loop at 100..149 BPM
}

}  // namespace
}  // namespace ostrel::engine
