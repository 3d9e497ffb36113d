#include "core/crash/ShutdownSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

// The handlers run at any point of any thread: they touch only lock-free atomics and call
// write(2), sigaction(2), alarm(2) and raise(3), which are async-signal-safe.

namespace ostrel::core {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int readEnd = -1;
std::atomic<int> writeEnd{-1};
std::atomic<bool> requested{false};
std::atomic<int> firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Ends the process by the signal, as if no handler had been installed (from the signal's
// own handler, when that handler returns).
void endBy(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

void onShutdownSignal(int signal) {
    const int savedErrno = errno;
    if (requested.exchange(true, std::memory_order_relaxed)) {
        // Asked twice: the close is taking too long for the person or the service manager.
        endBy(signal);
        errno = savedErrno;
        return;
    }
    firstSignal.store(signal, std::memory_order_relaxed);
    ::alarm(ShutdownSignals::kCloseLimitSeconds);
    const char number = static_cast<char>(signal);
    // A full pipe only means a request already waits there.
    (void)!::write(writeEnd.load(std::memory_order_relaxed), &number, 1);
    errno = savedErrno;
}

// The close has not ended the process in time: something blocks it.
void onCloseLimit(int) {
    static constexpr char kMessage[] = "Ostrel did not close in time after the signal to close; ending it now\n";
    (void)!::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    endBy(firstSignal.load(std::memory_order_relaxed));
}

bool startedIgnoring(int signal) {
    struct sigaction current {};
    return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
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
    for (const int signal : kSignals) {
        if (!startedIgnoring(signal)) {
            ::sigaction(signal, &action, nullptr);
        }
    }
    struct sigaction limit {};
    limit.sa_handler = onCloseLimit;
    sigemptyset(&limit.sa_mask);
    limit.sa_flags = SA_RESTART;
    ::sigaction(SIGALRM, &limit, nullptr);
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
