#include "core/crash/ShutdownSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

// The handler runs at any point of any thread: it touches only a lock-free atomic and
// calls write(2), sigaction(2) and raise(3), which are async-signal-safe.

namespace ostrel::core {
namespace {

int readEnd = -1;
std::atomic<int> writeEnd{-1};
std::atomic<bool> requested{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void onShutdownSignal(int signal) {
    const int savedErrno = errno;
    if (requested.exchange(true, std::memory_order_relaxed)) {
        // Asked twice: the close is taking too long for the person or the service manager.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signal, &fallback, nullptr);
        ::raise(signal);  // delivered when the handler returns, since it is blocked in it
        errno = savedErrno;
        return;
    }
    const char number = static_cast<char>(signal);
    // A full pipe only means a request already waits there.
    (void)!::write(writeEnd.load(std::memory_order_relaxed), &number, 1);
    errno = savedErrno;
}

}  // namespace

namespace ShutdownSignals {

int install() {
    if (readEnd >= 0) {
        return readEnd;
    }
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        return -1;
    }
    readEnd = ends[0];
    writeEnd.store(ends[1], std::memory_order_relaxed);
    struct sigaction action {};
    action.sa_handler = onShutdownSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    return readEnd;
}

int takePending() {
    if (readEnd < 0) {
        return 0;
    }
    char number = 0;
    ssize_t got = 0;
    do {
        got = ::read(readEnd, &number, 1);
    } while (got < 0 && errno == EINTR);
    return got == 1 ? static_cast<int>(static_cast<unsigned char>(number)) : 0;
}

}  // namespace ShutdownSignals

}  // namespace ostrel::core
