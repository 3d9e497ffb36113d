#include "platform/NullAudioBackend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/EngineTestSupport.h"
#include "playback/AudioEngine.h"

namespace ostrel::engine {
namespace {

using namespace std::chrono_literals;

void countCalls(void* user, float*, uint32_t) { static_cast<std::atomic<uint32_t>*>(user)->fetch_add(1); }

TEST(NullAudioBackendTest, OffersOneDefaultDeviceAndRefusesAnImpossibleFormatWithAReason) {
    NullAudioBackend backend;
    EXPECT_EQ(backend.backendName(), "Null");
    const auto devices = backend.listDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "Null output");
    EXPECT_TRUE(devices[0].isDefault);
    EXPECT_EQ(devices[0].id, encodeDeviceId("Null/Null output"));

    std::string error;
    EXPECT_FALSE(backend.open({"", 48000, 512, 0}, &countCalls, nullptr, &error));
    EXPECT_EQ(error, "could not open the sound card: invalid number of channels");
    EXPECT_EQ(backend.state(), BackendState::Failed);
}

// Regression: a catch-up check that never let the thread sleep ran the output far faster
// than real time.
TEST(NullAudioBackendTest, RunsTheEngineAtRealTimePaceUntilStopped) {
    AudioEngine engine(std::make_unique<NullAudioBackend>());
    engine.setPlaying(true);
    std::string error;
    ASSERT_TRUE(engine.start({"", 48000, 256, 2}, &error)) << error;
    ASSERT_TRUE(test::waitUntil([&] { return engine.clock() >= 2048; }));

    // The output keeps its deadlines by the steady clock: that clock is its own.
    const auto origin = std::chrono::steady_clock::now();
    const auto steadyFrames = [origin] {
        return 48000 * std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
    };
    test::expectRealTimePace(steadyFrames, {[&] { return static_cast<double>(engine.clock()); },
                                            [&] { return static_cast<double>(engine.shownPos()); }});

    const LoadStats stats = engine.backend().loadStats();
    EXPECT_EQ(stats.bufferFrames, 256u);
    EXPECT_EQ(stats.sampleRate, 48000.0);
    engine.stop();
    const uint64_t atStop = engine.clock();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(engine.clock(), atStop) << "no callback arrives after close";
    EXPECT_EQ(engine.backend().state(), BackendState::Closed);
}

}  // namespace
}  // namespace ostrel::engine
