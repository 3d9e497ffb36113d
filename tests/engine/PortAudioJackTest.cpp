#include "engine/PortAudioBackend.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/AudioEngine.h"

extern char** environ;

namespace ostrel::engine {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char* const kJackApi = "JACK Audio Connection Kit";

void silentJack(const char*) {}

// A JACK server with its dummy driver (a clock without a sound card), under a name of its
// own so that parallel test processes do not meet. Ended by its process id.
class JackServer {
public:
    ~JackServer() { stop(); }

    bool start(std::string* why) {
        static int counter = 0;
        name_ = "ostrel-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        std::vector<std::string> args = {"jackd", "-n", name_, "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "512"};
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);  // only the server reads it
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawnp(&pid_, "jackd", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            *why = "jackd could not be started";
            return false;
        }

        jack_set_error_function(&silentJack);
        jack_set_info_function(&silentJack);
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline) {
            jack_status_t status{};
            jack_client_t* probe = jack_client_open(
                "ostrel-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                &status, name_.c_str());
            if (probe != nullptr) {
                jack_client_close(probe);
                setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
                return true;
            }
            int exitStatus = 0;
            if (waitpid(pid_, &exitStatus, WNOHANG) == pid_) {
                pid_ = -1;
                *why = "jackd exited at once";
                return false;
            }
            std::this_thread::sleep_for(50ms);
        }
        *why = "jackd did not answer within 10 s";
        stop();
        return false;
    }

    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        unsetenv("JACK_DEFAULT_SERVER");
    }

private:
    std::string name_;
    pid_t pid_ = -1;
};

const AudioDeviceInfo* findByName(const std::vector<AudioDeviceInfo>& devices,
                                  const std::string& name) {
    auto it = std::find_if(devices.begin(), devices.end(),
                           [&](const AudioDeviceInfo& d) { return d.name == name; });
    return it == devices.end() ? nullptr : &*it;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

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

TEST_F(PortAudioJackTest, ListsTheJackOutputAsTheDefaultDevice) {
    PortAudioBackend backend;

    EXPECT_EQ(backend.backendName(), kJackApi);
    const auto devices = backend.listDevices();
    const AudioDeviceInfo* system = findByName(devices, "system");
    ASSERT_NE(system, nullptr);
    EXPECT_TRUE(system->isDefault);
    EXPECT_EQ(system->id, encodeDeviceId(std::string(kJackApi) + "/system"));
}

TEST_F(PortAudioJackTest, RunsTheEngineAtRealTimePace) {
    auto backend = createAudioBackend();
    const auto devices = backend->listDevices();
    const AudioDeviceInfo* system = findByName(devices, "system");
    ASSERT_NE(system, nullptr);
    AudioEngine engine(std::move(backend));
    engine.setPlaying(true);
    std::string error;
    ASSERT_TRUE(engine.start({system->id, 48000, 512, 2}, &error)) << error;
    ASSERT_TRUE(waitUntil([&] { return engine.clock() >= 4096; }, 5000ms));

    const uint64_t framesBefore = engine.clock();
    const int64_t positionBefore = engine.shownPos();
    const auto before = Clock::now();
    std::this_thread::sleep_for(1s);
    const uint64_t framesAfter = engine.clock();
    const int64_t positionAfter = engine.shownPos();
    const double seconds = std::chrono::duration<double>(Clock::now() - before).count();

    const double expected = seconds * 48000;
    EXPECT_NEAR(static_cast<double>(framesAfter - framesBefore), expected, expected * 0.1);
    EXPECT_NEAR(static_cast<double>(positionAfter - positionBefore), expected, expected * 0.1);
    EXPECT_EQ(engine.backend().backendName(), kJackApi);
    const LoadStats stats = engine.backend().loadStats();
    EXPECT_EQ(stats.bufferFrames, 512u);
    EXPECT_EQ(stats.sampleRate, 48000.0);
    EXPECT_GT(stats.callbacks, 0u);

    engine.stop();
    EXPECT_EQ(engine.backend().state(), BackendState::Closed);
}

TEST_F(PortAudioJackTest, IdsThatDoNotDecodeOrNameNoDeviceOpenTheDefault) {
    PortAudioBackend backend;
    const std::string gone = encodeDeviceId(std::string(kJackApi) + "/unplugged");
    for (const std::string& id : {std::string("0A"), std::string("abc"), gone}) {
        std::atomic<uint64_t> frames{0};
        std::string error;
        ASSERT_TRUE(backend.open({id, 48000, 512, 2}, &countCalls, &frames, &error))
            << id << ": " << error;
        EXPECT_EQ(backend.state(), BackendState::Running);
        EXPECT_TRUE(waitUntil([&] { return frames.load() > 0; }, 5000ms)) << id;
        EXPECT_EQ(backend.backendName(), kJackApi);
        backend.close();
    }
}

// Runs in a child process: a dead JACK server leaves PortAudio's process-wide state stuck.
std::string serverGoesAway() {
    JackServer server;
    std::string why;
    if (!server.start(&why)) {
        return why;
    }
    PortAudioBackend backend;
    std::atomic<uint64_t> frames{0};
    if (!backend.open({"", 48000, 512, 2}, &countCalls, &frames, &why)) {
        return "open: " + why;
    }
    if (!waitUntil([&] { return frames.load() > 0; }, 5000ms)) {
        return "no callback";
    }

    server.stop();

    if (!waitUntil([&] { return backend.state() == BackendState::StoppedByDevice; }, 5000ms)) {
        return "the stop was not reported";
    }
    const auto before = Clock::now();
    backend.close();
    if (Clock::now() - before > 2s) {
        return "close waited for the dead server";
    }
    if (backend.state() != BackendState::StoppedByDevice) {
        return "close changed the state";
    }
    // Without the server the next open goes to the silent output, without an error.
    if (!backend.open({"", 48000, 512, 2}, &countCalls, &frames, &why)) {
        return "reopen: " + why;
    }
    if (backend.state() != BackendState::Running || backend.backendName() != "Null") {
        return "reopen is not running on the null output";
    }
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

TEST_F(PortAudioJackTest, ImpossibleChannelCountFailsWithPortAudiosReason) {
    PortAudioBackend backend;
    std::string error;

    EXPECT_FALSE(backend.open({"", 48000, 512, 4096}, &countCalls, nullptr, &error));

    EXPECT_EQ(error.rfind("could not open the sound card: ", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("could not open the sound card: ").size());
    EXPECT_EQ(backend.state(), BackendState::Failed);
}

// Without a JACK server and without a sound card there is still an output: the silent
// one, paced by the clock. (A machine with a sound card has nothing to prove here.)
TEST(PortAudioFallbackTest, WithoutServerOrCardTheNullOutputRunsWithoutError) {
    auto backend = createAudioBackend();
    if (backend->backendName() != "Null") {
        GTEST_SKIP() << "this machine has a sound output: " << backend->backendName();
    }
    const auto devices = backend->listDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "Null output");

    AudioEngine engine(std::move(backend));
    std::string error;
    ASSERT_TRUE(engine.start({}, &error)) << error;
    EXPECT_EQ(engine.backend().state(), BackendState::Running);
    EXPECT_TRUE(waitUntil([&] { return engine.clock() >= 4800; }, 5000ms));
    engine.stop();
}

}  // namespace
}  // namespace ostrel::engine
