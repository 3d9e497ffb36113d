#include "core/crash/ShutdownSignals.h"

#include "core/crash/SignalSafeOut.h"
#include "core/files/FolderLock.h"
#include "core/files/TemporaryFiles.h"
#include "core/log/Logger.h"
#include "core/log/UtcTime.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

// The handlers run at any point of any thread: they touch only lock-free atomics, fixed
// buffers and async-signal-safe calls (write, open, unlink, stat, sigaction, sigprocmask,
// alarm, raise).

namespace ostrel::core {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int readEnd = -1;
std::atomic<int> writeEnd{-1};
std::atomic<bool> requested{false};
std::atomic<int> firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// The log a close cut short writes its last line to; set before the signals can come.
char logFile[PATH_MAX]{};
std::atomic<bool> hasLogFile{false};

using LineOut = FixedOut<4096>;

// A log line as the file sink writes it, for a handler: the time, the level, the
// category, the message and the thread's tag.
void putLogLine(LineOut& out, std::string_view message) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const UtcTime t = utcTimeFromSeconds(now.tv_sec);
    putDecimal(out, static_cast<std::uint64_t>(t.year), 4);
    out.put("-");
    putDecimal(out, static_cast<std::uint64_t>(t.month), 2);
    out.put("-");
    putDecimal(out, static_cast<std::uint64_t>(t.day), 2);
    out.put("T");
    putClock(out, t);
    out.put(".");
    putDecimal(out, static_cast<std::uint64_t>(now.tv_nsec / 1000000), 3);
    out.put("Z ERROR [app] ");
    out.put(message);
    out.put("  (thread ");
    constexpr char kDigits[] = "0123456789abcdef";
    const unsigned tag = threadTagNumber();
    const char digits[4] = {kDigits[(tag >> 12) & 0xf], kDigits[(tag >> 8) & 0xf], kDigits[(tag >> 4) & 0xf],
                            kDigits[tag & 0xf]};
    out.put(std::string_view(digits, 4));
    out.put(")\n");
}

struct LostWork {
    LineOut written;  // "writing a, writing b": the files whose temporary file was removed
    int files = 0;
    LineOut rendering;  // "the export to a, still rendering, ..."
    int exports = 0;
};

constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::string_view kWriting = "writing ";

// Removes one unfinished temporary file and names the file it was to become.
void removeUnfinished(const char* path, TemporaryFiles::Kind kind, void* context) {
    if (kind != TemporaryFiles::Kind::File) {
        return;
    }
    auto& lost = *static_cast<LostWork*>(context);
    ::unlink(path);
    std::string_view target(path);
    if (target.size() > kTemporarySuffix.size() &&
        target.substr(target.size() - kTemporarySuffix.size()) == kTemporarySuffix) {
        target.remove_suffix(kTemporarySuffix.size());
    }
    lost.written.put(lost.files++ == 0 ? "" : ", ");
    lost.written.put(kWriting);
    lost.written.put(target);
}

// Whether the list of "writing <file>" names path.
bool namesWritten(std::string_view list, std::string_view path) {
    for (std::size_t at = list.find(path); at != std::string_view::npos; at = list.find(path, at + 1)) {
        const bool starts = at >= kWriting.size() && list.substr(at - kWriting.size(), kWriting.size()) == kWriting;
        const bool ends = at + path.size() == list.size() || list[at + path.size()] == ',';
        if (starts && ends) {
            return true;
        }
    }
    return false;
}

// Names an export still rendering, unless it has got as far as writing its file.
void nameRendering(const char* path, TemporaryFiles::Kind kind, void* context) {
    auto& lost = *static_cast<LostWork*>(context);
    if (kind != TemporaryFiles::Kind::Export || namesWritten(lost.written.view(), path)) {
        return;
    }
    lost.rendering.put(lost.exports++ == 0 ? "the export to " : ", the export to ");
    lost.rendering.put(path);
    lost.rendering.put(", still rendering");
}

// The close is cut short: the files half written go, and the log and stderr say what was
// lost. Never "Ostrel closed": that is logged only by a close that ends.
void cutClose(std::string_view why) {
    LostWork lost;
    TemporaryFiles::forEach(removeUnfinished, &lost);
    TemporaryFiles::forEach(nameRendering, &lost);
    LineOut message;
    message.put("the close was cut short by ");
    message.put(why);
    if (lost.files == 0 && lost.exports == 0) {
        message.put("; nothing was being written");
    }
    if (lost.exports > 0) {
        message.put("; lost: ");
        message.put(lost.rendering.view());
    }
    if (lost.files > 0) {
        message.put("; lost, its unfinished file removed: ");
        message.put(lost.written.view());
    }
    LineOut line;
    putLogLine(line, message.view());
    (void)!::write(STDERR_FILENO, line.data, line.used);
    if (hasLogFile.load(std::memory_order_acquire) && !heldFolderReplacedUnder(logFile)) {
        // As the log sink opens it: never through a link, its user's alone.
        const int fd =
            ::open(logFile, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            (void)!::write(fd, line.data, line.used);
            ::close(fd);
        }
    }
}

// Ends the process by the signal, as if no handler had been installed. Unblocked first, so
// that from the signal's own handler it ends the process at once, not when the handler
// returns, while the other threads could still log.
void endBy(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
}

void onShutdownSignal(int signal) {
    const int savedErrno = errno;
    if (requested.exchange(true, std::memory_order_relaxed)) {
        // Asked twice: the close is taking too long for the person or the service manager.
        cutClose("a second signal to close");
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
    FixedOut<64> why;
    why.put("its limit of ");
    putDecimal(why, ShutdownSignals::kCloseLimitSeconds, 1);
    why.put(" s");
    cutClose(why.view());
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

void setLogFile(const std::filesystem::path& path) {
    hasLogFile.store(false, std::memory_order_release);
    if (path.native().size() < sizeof logFile) {
        std::memcpy(logFile, path.c_str(), path.native().size() + 1);
        hasLogFile.store(true, std::memory_order_release);
    }
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
