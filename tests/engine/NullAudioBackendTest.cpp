#include "engine/NullAudioBackend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace ostrel::engine {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Counting {
    std::atomic<uint64_t> frames{0};
    std::atomic<uint32_t> calls{0};
    std::atomic<uint32_t> wrongSize{0};
    uint32_t expected = 0;
};

void countFrames(void* user, float*, uint32_t frames) {
    auto& counting = *static_cast<Counting*>(user);
    counting.wrongSize.fetch_add(frames != counting.expected ? 1 : 0);
    counting.frames.fetch_add(frames);
    counting.calls.fetch_add(1);
}

bool waitFor(const std::atomic<uint32_t>& value, uint32_t atLeast) {
    const auto deadline = Clock::now() + 5s;
    while (value.load() < atLeast) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(NullAudioBackendTest, OffersOneDefaultDeviceCalledNullOutput) {
    NullAudioBackend backend;

    EXPECT_EQ(backend.backendName(), "Null");
    const auto devices = backend.listDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "Null output");
    EXPECT_TRUE(devices[0].isDefault);
    std::string native;
    ASSERT_TRUE(decodeDeviceId(devices[0].id, native));
    EXPECT_EQ(native, "Null/Null output");
}

TEST(NullAudioBackendTest, DeliversFramesAtRealTimePace) {
    NullAudioBackend backend;
    Counting counting;
    counting.expected = 512;
    ASSERT_TRUE(backend.open({"", 48000, 512, 2}, &countFrames, &counting, nullptr));
    ASSERT_TRUE(waitFor(counting.calls, 5));

    const uint64_t framesBefore = counting.frames.load();
    const auto before = Clock::now();
    std::this_thread::sleep_for(1s);
    const uint64_t framesAfter = counting.frames.load();
    const double seconds = std::chrono::duration<double>(Clock::now() - before).count();
    backend.close();

    const double expected = seconds * 48000;
    EXPECT_NEAR(static_cast<double>(framesAfter - framesBefore), expected, expected * 0.1);
}

TEST(NullAudioBackendTest, NoCallbackArrivesAfterClose) {
    NullAudioBackend backend;
    Counting counting;
    counting.expected = 128;
    ASSERT_TRUE(backend.open({"", 48000, 128, 2}, &countFrames, &counting, nullptr));
    ASSERT_TRUE(waitFor(counting.calls, 3));

    backend.close();
    const uint32_t calls = counting.calls.load();
    std::this_thread::sleep_for(30ms);

    EXPECT_EQ(counting.calls.load(), calls);
    EXPECT_EQ(backend.state(), BackendState::Closed);
}

TEST(NullAudioBackendTest, CloseReturnsPromptlyEvenWithALongPeriod) {
    NullAudioBackend backend;
    Counting counting;
    counting.expected = 65536;
    ASSERT_TRUE(backend.open({"", 8000, 65536, 1}, &countFrames, &counting, nullptr));
    ASSERT_TRUE(waitFor(counting.calls, 1));

    const auto before = Clock::now();
    backend.close();

    EXPECT_LT(Clock::now() - before, 1s);  // the period is 8 s
}

TEST(NullAudioBackendTest, ReopeningStartsAfreshWithANewFormatAndEveryCallbackHasItsPeriod) {
    NullAudioBackend backend;
    Counting first;
    first.expected = 256;
    ASSERT_TRUE(backend.open({"", 48000, 256, 2}, &countFrames, &first, nullptr));
    ASSERT_TRUE(waitFor(first.calls, 2));

    Counting second;
    second.expected = 64;
    ASSERT_TRUE(backend.open({"", 44100, 64, 1}, &countFrames, &second, nullptr));
    const uint32_t firstCalls = first.calls.load();
    ASSERT_TRUE(waitFor(second.calls, 20));
    backend.close();

    EXPECT_EQ(first.calls.load(), firstCalls);
    EXPECT_EQ(first.wrongSize.load() + second.wrongSize.load(), 0u);
    const LoadStats stats = backend.loadStats();
    EXPECT_EQ(stats.bufferFrames, 64u);
    EXPECT_EQ(stats.sampleRate, 44100.0);
    EXPECT_EQ(stats.frames, second.frames.load());
    EXPECT_EQ(stats.callbacks, second.calls.load());
}

TEST(NullAudioBackendTest, ImpossibleFormatFailsWithAReason) {
    NullAudioBackend backend;
    std::string error;

    EXPECT_FALSE(backend.open({"", 48000, 512, 0}, &countFrames, nullptr, &error));
    EXPECT_EQ(error, "could not open the sound card: invalid number of channels");
    EXPECT_EQ(backend.state(), BackendState::Failed);

    EXPECT_FALSE(backend.open({"", std::nan(""), 512, 2}, &countFrames, nullptr, &error));
    EXPECT_EQ(error, "could not open the sound card: invalid sample rate");

    EXPECT_FALSE(backend.open({"", 48000, 0, 2}, &countFrames, nullptr, nullptr));
    backend.close();
    EXPECT_EQ(backend.state(), BackendState::Failed);  // stays until the next open
}

}  // namespace
}  // namespace ostrel::engine
