#include "platform/Backends.h"
#include "platform/PortAudioBackend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/EngineTestSupport.h"
#include "playback/AudioEngine.h"
#include "support/JackServer.h"

// libjack keeps, in its metadata database (Berkeley DB), memory of a client the server
// turned away; the leak checker is not to blame the test for it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdb-5.3.so\n"; }

namespace ostrel::engine {
namespace {

using namespace std::chrono_literals;

const char* const kJackApi = "JACK Audio Connection Kit";

using test::JackServer;

// A client of its own on the server that counts the frames of every cycle the server runs:
// the stream's own clock. The server runs synchronously (JackServer), so a busy machine
// slows it for every client alike.
class CycleCounter {
public:
    ~CycleCounter() {
        if (client_ != nullptr) jack_client_close(client_);
    }

    // A busy server may turn a client away (its answer timed out): it tries again, for as
    // long as the other waits of the test allow.
    bool open(const std::string& server, std::string* why) {
        jack_status_t status{};
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (client_ == nullptr && std::chrono::steady_clock::now() < deadline) {
            client_ = jack_client_open("ostrel-cycles",
                                       static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                                       server.c_str());
            if (client_ == nullptr) {
                std::this_thread::sleep_for(10ms);
            }
        }
        if (client_ == nullptr) {
            *why = "the counting client could not join the server (status " + std::to_string(status) + ")";
            return false;
        }
        jack_set_process_callback(client_, &CycleCounter::process, this);
        if (jack_activate(client_) != 0) {
            *why = "the counting client could not start";
            return false;
        }
        return true;
    }

    double frames() const { return static_cast<double>(frames_.load(std::memory_order_acquire)); }

private:
    static int process(jack_nframes_t frames, void* self) {
        static_cast<CycleCounter*>(self)->frames_.fetch_add(frames, std::memory_order_release);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    std::atomic<uint64_t> frames_{0};
};

void countCalls(void* user, float* out, uint32_t frames) {
    static_cast<std::atomic<uint64_t>*>(user)->fetch_add(frames);
    std::fill(out, out + frames * 2, 0.0f);
}

class PortAudioJackTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(server.start(&why)) << why;
    }

    JackServer server;
};

// PortAudio's JACK client, like any, may be turned away by a busy server, and PortAudio
// joins the server anew at every listing and opening: each is tried again until it meets
// the server, for as long as the other waits of the test allow.
bool untilJackAnswers(const std::function<bool()>& attempt) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!attempt()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST_F(PortAudioJackTest, ListsOpensRunsTheEngineAtRealTimePaceAndCloses) {
    auto backend = createAudioBackend();
    std::vector<AudioDeviceInfo> devices;
    const auto listsSystem = [&] {
        devices = backend->listDevices();
        return std::any_of(devices.begin(), devices.end(), [](auto& d) { return d.name == "system"; });
    };
    EXPECT_TRUE(untilJackAnswers(listsSystem));
    EXPECT_EQ(backend->backendName(), kJackApi);
    const auto system = std::find_if(devices.begin(), devices.end(), [](auto& d) { return d.name == "system"; });
    ASSERT_NE(system, devices.end());
    EXPECT_TRUE(system->isDefault);
    EXPECT_EQ(system->id, encodeDeviceId(std::string(kJackApi) + "/system"));
    AudioEngine engine(std::move(backend));
    engine.setPlaying(true);
    std::string error;
    ASSERT_TRUE(untilJackAnswers([&] {
        return engine.start({system->id, 48000, 512, 2}, &error) && engine.backend().backendName() == kJackApi;
    })) << error;
    ASSERT_TRUE(test::waitUntil([&] { return engine.clock() >= 4096; }, std::chrono::seconds(30)));  // a guard only

    CycleCounter cycles;
    ASSERT_TRUE(cycles.open(server.name(), &error)) << error;
    test::expectRealTimePace([&] { return cycles.frames(); },
                             {[&] { return static_cast<double>(engine.clock()); },
                              [&] { return static_cast<double>(engine.shownPos()); }});

    const LoadStats stats = engine.backend().loadStats();
    EXPECT_EQ(stats.bufferFrames, 512u);
    EXPECT_EQ(stats.sampleRate, 48000.0);
    engine.stop();
    EXPECT_EQ(engine.backend().state(), BackendState::Closed);
}

// Regression: closing the stream of a dead JACK server hung. Runs in a child process: a
// dead server leaves PortAudio's process-wide state stuck.
std::string serverGoesAway() {
    JackServer server;
    std::string why;
    if (!server.start(&why)) return why;
    PortAudioBackend backend;
    std::atomic<uint64_t> frames{0};
    if (!backend.open({"", 48000, 512, 2}, &countCalls, &frames, &why)) return "open: " + why;
    if (!test::waitUntil([&] { return frames.load() > 0; })) return "no callback";
    server.stop();
    if (!test::waitUntil([&] { return backend.state() == BackendState::StoppedByDevice; })) return "stop not reported";
    const auto before = std::chrono::steady_clock::now();
    backend.close();
    if (std::chrono::steady_clock::now() - before > 2s) return "close waited for the dead server";
    if (backend.state() != BackendState::StoppedByDevice) return "close changed the state";
    // Without the server the next open goes to the silent output, without an error.
    if (!backend.open({"", 48000, 512, 2}, &countCalls, &frames, &why)) return "reopen: " + why;
    if (backend.state() != BackendState::Running || backend.backendName() != "Null") return "reopen is not on Null";
    backend.close();
    return "";
}

TEST(PortAudioJackDeathTest, ServerThatGoesAwayIsReportedAndDoesNotHangClose) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string failure = serverGoesAway();
            std::fputs(failure.c_str(), stderr);
            // Skips exit handlers: PortAudio's stuck JACK client is left behind on purpose.
            std::_Exit(failure.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Without a JACK server and without a sound card there is still an output: the silent
// one, paced by the clock. (A machine with a sound card has nothing to prove here.)
TEST(PortAudioFallbackTest, WithoutServerOrCardTheNullOutputRunsWithoutError) {
    auto backend = createAudioBackend();
    if (backend->backendName() != "Null") GTEST_SKIP() << "this machine has a sound output";
    ASSERT_EQ(backend->listDevices().size(), 1u);
    std::atomic<uint64_t> frames{0};
    std::string error;
    ASSERT_TRUE(backend->open({}, &countCalls, &frames, &error)) << error;
    EXPECT_EQ(backend->state(), BackendState::Running);
    EXPECT_TRUE(test::waitUntil([&] { return frames.load() >= 4800; }));
    backend->close();
}

}  // namespace
}  // namespace ostrel::engine
