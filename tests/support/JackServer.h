#pragma once

#include <jack/jack.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace ostrel::test {

// A JACK server with its dummy driver (a clock without a sound card: 48000 Hz, 512-frame
// periods), under a name of its own so that parallel test processes do not meet. While it
// runs, JACK clients of this process (PortAudio's among them) find it as the default
// server. Ended by its process id.
//
// It runs synchronously, with a long client timeout: each cycle waits for every client, so
// a client that a busy machine holds up delays the cycle for all of them alike. (By default
// the server goes on without a late client, which then loses the cycles it missed while the
// others count them: two clients' clocks part for reasons of load alone.)
class JackServer {
public:
    JackServer() = default;
    ~JackServer() { stop(); }
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    bool start(std::string* why) {
        static int counter = 0;
        name_ = "ostrel-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        const char* argv[] = {"jackd", "-n", name_.c_str(), "--no-realtime", "--sync", "--timeout", "30000",
                              "-d", "dummy", "-r", "48000", "-p", "512", nullptr};
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);  // only the server reads it
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawnp(&pid_, "jackd", &actions, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        jack_set_error_function(&silent);
        jack_set_info_function(&silent);
        if (spawned != 0) {
            pid_ = -1;
            *why = "jackd could not be started";
            return false;
        }
        // The server answers a client, or its process ends, or 10 s pass.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (true) {
            jack_status_t status{};
            jack_client_t* probe = jack_client_open(
                "ostrel-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status, name_.c_str());
            if (probe != nullptr) {
                jack_client_close(probe);
                break;
            }
            int exitStatus = 0;
            const bool exited = waitpid(pid_, &exitStatus, WNOHANG) == pid_;
            if (exited || std::chrono::steady_clock::now() > deadline) {
                *why = "jackd did not start and answer within 10 s";
                pid_ = exited ? -1 : pid_;
                stop();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        return true;
    }

    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        removeLeftovers();
        unsetenv("JACK_DEFAULT_SERVER");
    }

    const std::string& name() const { return name_; }

private:
    static void silent(const char*) {}

    // The server leaves in /dev/shm the semaphore of every client still open when it ended
    // (and its socket, when it could not end cleanly). Both carry the server's name, which is
    // this object's alone.
    void removeLeftovers() const {
        if (name_.empty()) return;
        const std::string semaphores = "jack_sem." + std::to_string(getuid()) + "_" + name_ + "_";
        const std::string sockets = "jack_" + name_ + "_";
        std::error_code ignored;
        std::vector<std::filesystem::path> leftovers;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
            const std::string file = entry.path().filename().string();
            if (file.starts_with(semaphores) || file.starts_with(sockets)) leftovers.push_back(entry.path());
        }
        for (const auto& path : leftovers) std::filesystem::remove(path, ignored);
    }

    std::string name_;
    pid_t pid_ = -1;
};

}  // namespace ostrel::test
