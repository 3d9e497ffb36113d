#include "support/HostileFiles.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <string>
#include <stdexcept>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ostrel::test {

void makeFifo(const std::filesystem::path& path) {
    if (::mkfifo(path.c_str(), 0600) != 0) {
        throw std::runtime_error("mkfifo failed for " + path.string());
    }
}

namespace {

std::uint64_t residentMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtoull(line.c_str() + 6, nullptr, 10) / 1024;
        }
    }
    return 0;
}

}  // namespace

void runWithinMemory(std::uint64_t growthMiB, const std::function<void()>& work) {
    const std::uint64_t limit = residentMiB() + growthMiB;
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        while (!done.load()) {
            if (residentMiB() > limit) {
                std::fprintf(stderr, "the work grew past %llu MiB of memory: ending the test process\n",
                             static_cast<unsigned long long>(limit));
                std::_Exit(1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    work();
    done.store(true);
    watchdog.join();
}

void makeSparseFile(const std::filesystem::path& path, std::uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("cannot make a sparse file at " + path.string());
    }
    ::close(fd);
}

bool returnsWithoutAWriter(const std::filesystem::path& fifo, const std::function<void()>& load) {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread loader([&] {
        load();
        done.set_value();
    });
    bool returned = finished.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    if (!returned) {
        // Opening both ends never waits, and wakes a blocked reader or writer alike; once
        // closed, a reader sees the end of the file and a writer a broken pipe.
        std::signal(SIGPIPE, SIG_IGN);
    }
    while (!returned) {
        const int both = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (both >= 0) {
            ::close(both);
        }
        if (finished.wait_for(std::chrono::seconds(1)) == std::future_status::ready) {
            break;
        }
    }
    loader.join();
    return returned;
}

FileHeldElsewhere::FileHeldElsewhere(const std::filesystem::path& path) {
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls: the test process may have threads.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::write(ready[1], "x", 1) != 1) {
            ::_exit(1);
        }
        pollfd waitForRelease{release[0], POLLIN, 0};
        ::close(release[1]);
        ::poll(&waitForRelease, 1, 60000);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    child_ = child;
    release_ = release[1];
    char byte = 0;
    holding_ = child > 0 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
}

FileHeldElsewhere::~FileHeldElsewhere() {
    ::close(release_);
    if (child_ > 0) {
        int status = 0;
        ::waitpid(child_, &status, 0);
    }
}

}  // namespace ostrel::test
