#include "core/crash/CrashReporter.h"

#include "core/crash/CrashDump.h"
#include "core/crash/CrashReport.h"
#include "core/crash/ProcessMaps.h"
#include "core/crash/SignalSafeOut.h"
#include "core/files/FileDescriptorIo.h"
#include "core/files/FolderLock.h"
#include "core/files/PrivateOldFile.h"
#include "core/log/Logger.h"
#include "core/log/UtcTime.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

// Everything reached from onCrashSignal runs in a signal handler, possibly after a fault
// inside malloc or while this very thread holds the logger's mutex: it allocates nothing,
// takes no lock (the logger's is tried once), and formats with its own digit writers
// (core/SignalSafeOut.h) into static buffers before it hands bytes to write(2).

namespace ostrel::core {
namespace {

constexpr std::array<int, 5> crashSignals{SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kAltStackSize = 256 * 1024;  // the handler's frames stay well below this

// Written once by install, then only read; an older state is never freed because a
// crashing thread may still be reading it.
struct State {
    std::string folder;
    // The folder as install found it, which reports go into however its path changes since:
    // -1 when it could not be made or opened, and then there are none.
    int folderFd;
    std::string version;
    Logger* logger;
};
std::atomic<const State*> installed{nullptr};

// Kernel thread id of the thread writing the report; 0 until the first crash.
std::atomic<pid_t> reporter{0};

// Handler scratch: one crash at a time, guarded by the reporter flag.
FdOut fileOut;
ReasonOut reasonText;
PathOut reportPathText;
PathOut dumpPathText;

void writeCrashFiles(const State& state, int signal, const siginfo_t* info, const void* context) {
    const std::int64_t ticks = currentLogTime();
    const UtcTime time = utcTimeFromTicks(ticks);
    std::uintptr_t pc = 0;
    std::uintptr_t sp = 0;
    registersOf(context, pc, sp);
    reasonText.used = 0;
    putReason(reasonText, info != nullptr ? static_cast<std::uint64_t>(signal) : 0, info != nullptr ? pc : 0);

    if (state.folder.size() > kMaxPath) {
        return;
    }
    int reportFd = -1;
    int dumpFd = -1;
    createReportPair(state.folderFd, state.folder, time, reportPathText, dumpPathText, reportFd, dumpFd,
                     DumpFile::Create);
    const std::size_t nameAt = reportNameOffset(state.folder);

    // The small text first, so it survives even if the dump fails. A file that could not
    // be written whole (a full disk) is removed: an empty pair would count as a report.
    bool reportWritten = false;
    if (reportFd >= 0) {
        fileOut.start(reportFd);
        putReport(fileOut, state.version, reasonText.view(), currentActionStackView(), state.logger);
        fileOut.flush();
        reportWritten = !fileOut.failed();
        if (::close(reportFd) != 0) {
            reportWritten = false;
        }
        if (!reportWritten) {
            ::unlinkat(state.folderFd, reportPathText.data + nameAt, 0);
        }
    }
    if (dumpFd >= 0) {
        if (!reportWritten) {
            ::close(dumpFd);
            ::unlinkat(state.folderFd, dumpPathText.data + nameAt, 0);
        } else if (!writeDump(fileOut, dumpFd, signal, info, context, ticks)) {
            ::unlinkat(state.folderFd, dumpPathText.data + nameAt, 0);
        }
    }
}

[[noreturn]] void dieBy(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

// Another thread is writing the report and ends the process when done. The bound only
// matters if that thread is stuck for good, say on a dead network drive.
void waitForReporter() {
    for (int i = 0; i < 300; ++i) {
        timespec pause{0, 100'000'000};
        ::nanosleep(&pause, nullptr);
    }
}

void onCrashSignal(int signal, siginfo_t* info, void* context) {
    const pid_t self = ::gettid();
    pid_t expected = 0;
    if (!reporter.compare_exchange_strong(expected, self, std::memory_order_acq_rel)) {
        if (expected != self) {
            waitForReporter();
        }
        // Else the report itself crashed: end now with what is written.
        dieBy(signal);
    }
    if (const State* state = installed.load(std::memory_order_acquire)) {
        writeCrashFiles(*state, signal, info, context);
    }
    dieBy(signal);
}

// Each thread has its own alternate stack; this gives one to the installing thread.
void ensureAlternateStack() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 &&
        current.ss_size >= kAltStackSize) {
        return;
    }
    void* memory = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) {
        return;
    }
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackSize;
    stack.ss_flags = 0;
    ::sigaltstack(&stack, nullptr);  // kept for the life of the thread
}

// Reports and dumps an earlier version left readable by others become their user's alone:
// a dump holds raw memory and the environment.
void makeOldCrashFilesPrivate(const std::filesystem::path& folder, Logger* logger) {
    std::vector<std::string> warnings;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::filesystem::path& path = it->path();
        if (path.filename().native().rfind("crash-", 0) == 0 &&
            (path.extension() == ".txt" || path.extension() == ".dmp")) {
            makeOldFilePrivate(path, &warnings);
        }
    }
    if (logger != nullptr) {
        for (const std::string& warning : warnings) {
            logger->log(LogLevel::WARN, "app", warning);
        }
    }
}

}  // namespace

namespace CrashReporter {

void install(const Config& config) {
    int folderFd = AT_FDCWD;  // "" is the working folder
    if (!config.crashFolder.empty()) {
        // Never through a link: what is opened is the folder the path names now.
        folderFd = createFoldersToWrite(config.crashFolder, nullptr)
                       ? ::open(config.crashFolder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                       : -1;
    }
    makeOldCrashFilesPrivate(config.crashFolder, config.logger);
    // An earlier state, and its folder, stay: a crashing thread may still be using them.
    installed.store(new State{config.crashFolder.string(), folderFd, config.version, config.logger},
                    std::memory_order_release);
    ensureAlternateStack();
    struct sigaction action {};
    action.sa_sigaction = onCrashSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    for (int signal : crashSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

std::string reportText(std::string_view version, std::string_view reason, Logger* logger) {
    std::string text;
    StringOut out{text};
    putReport(out, version, reason, currentActionStackView(), logger);
    return text;
}

std::filesystem::path writeReport(std::string_view reason) {
    const State* state = installed.load(std::memory_order_acquire);
    const UtcTime time = utcTimeFromTicks(currentLogTime());
    const std::string folder = state != nullptr ? state->folder : std::string();
    const std::string text =
        reportText(state != nullptr ? state->version : "", reason, state != nullptr ? state->logger : nullptr);
    auto reportPath = std::make_unique<PathOut>();
    auto dumpPath = std::make_unique<PathOut>();
    int fd = -1;
    int noDump = -1;
    if (folder.size() <= kMaxPath) {
        createReportPair(state != nullptr ? state->folderFd : AT_FDCWD, folder, time, *reportPath, *dumpPath, fd,
                         noDump, DumpFile::KeepNameFree);
    }
    if (fd < 0) {
        std::string name;
        StringOut out{name};
        putReportName(out, time, 1, ".txt");
        return folder.empty() ? std::filesystem::path(name) : std::filesystem::path(folder) / name;
    }
    writeAll(fd, text.data(), text.size());
    ::close(fd);
    return std::string(reportPath->view().substr(0, reportPath->used - 1));  // without the terminating zero
}

int countReports(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    int count = 0;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code sizeError;
        // An empty report is what a crash on a full disk left before it removed such files.
        if (name.rfind("crash-", 0) == 0 && it->path().extension() == ".txt" && it->file_size(sizeError) > 0 &&
            !sizeError) {
            ++count;
        }
    }
    return count;
}

}  // namespace CrashReporter

}  // namespace ostrel::core
