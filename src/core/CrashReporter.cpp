#include "core/CrashReporter.h"

#include "core/FileDescriptorIo.h"
#include "core/Logger.h"
#include "core/UtcTime.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <system_error>
#include <ucontext.h>
#include <unistd.h>

// Everything reached from onCrashSignal runs in a signal handler, possibly after a fault
// inside malloc or while this very thread holds the logger's mutex: it allocates nothing,
// takes no lock (the logger's is tried once), and formats with its own digit writers
// into static buffers before it hands bytes to write(2).

namespace ostrel::core {
namespace {

constexpr std::array<int, 5> crashSignals{SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::string_view kUnavailableLine = "  (unavailable: the logger was busy at the time of the crash)\n";
constexpr std::size_t kAltStackSize = 256 * 1024;  // the handler's frames stay well below this
constexpr std::size_t kMaxStackDump = 1024 * 1024;
constexpr std::size_t kMaxPath = 4096;

// Written once by install, then only read; an older state is never freed because a
// crashing thread may still be reading it.
struct State {
    std::string folder;
    std::string version;
    Logger* logger;
};
std::atomic<const State*> installed{nullptr};

// Kernel thread id of the thread writing the report; 0 until the first crash.
std::atomic<pid_t> reporter{0};

template <typename Out>
void putUnsigned(Out& out, std::uint64_t value, int minDigits, unsigned base) {
    constexpr char digitChars[] = "0123456789ABCDEF";
    char text[24];
    int used = 0;
    do {
        text[sizeof text - 1 - used++] = digitChars[value % base];
        value /= base;
    } while (value != 0 || used < minDigits);
    out.put(std::string_view(text + sizeof text - used, static_cast<std::size_t>(used)));
}

template <typename Out>
void putHex(Out& out, std::uint64_t value, int minDigits) {
    putUnsigned(out, value, minDigits, 16);
}

template <typename Out>
void putDecimal(Out& out, std::uint64_t value, int minDigits) {
    putUnsigned(out, value, minDigits, 10);
}

struct StringOut {
    std::string& text;
    void put(std::string_view s) { text += s; }
};

// Text for a fixed buffer, cut at its end.
template <std::size_t N>
struct FixedOut {
    char data[N];
    std::size_t used = 0;
    void put(std::string_view s) {
        const std::size_t n = std::min(s.size(), N - used);
        std::memcpy(data + used, s.data(), n);
        used += n;
    }
    std::string_view view() const { return {data, used}; }
};

// The raw system call keeps AddressSanitizer's write(2) check away from the stack's
// poisoned red zones, which are part of what is dumped.
ssize_t rawWrite(int fd, const void* bytes, std::size_t size) { return ::syscall(SYS_write, fd, bytes, size); }

// Buffered write(2) to one file; counts what it has taken so sizes can be patched later.
class FdOut {
public:
    void start(int fd) {
        fd_ = fd;
        used_ = 0;
        total_ = 0;
    }
    void put(std::string_view s) { putBytes(s.data(), s.size()); }
    void putBytes(const void* bytes, std::size_t size) {
        const char* from = static_cast<const char*>(bytes);
        total_ += size;
        while (size > 0) {
            if (used_ == sizeof buffer_) {
                flush();
            }
            const std::size_t n = std::min(size, sizeof buffer_ - used_);
            std::memcpy(buffer_ + used_, from, n);
            used_ += n;
            from += n;
            size -= n;
        }
    }
    template <typename T>
    void putValue(T value) {
        putBytes(&value, sizeof value);
    }
    void flush() {
        writeAll(fd_, buffer_, used_);
        used_ = 0;
    }
    // Bytes passed straight to the file, after a flush.
    void putDirect(std::uint64_t count) { total_ += count; }
    std::uint64_t total() const { return total_; }

private:
    int fd_ = -1;
    std::size_t used_ = 0;
    std::uint64_t total_ = 0;
    char buffer_[8192];
};

// Reads /proc/self/maps with read(2) only, line by line or in chunks.
class MapsReader {
public:
    MapsReader() : fd_(::open("/proc/self/maps", O_RDONLY | O_CLOEXEC)) {}
    ~MapsReader() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    MapsReader(const MapsReader&) = delete;
    MapsReader& operator=(const MapsReader&) = delete;

    // The next line without its line feed, cut to the line buffer; false at the end.
    bool next(std::string_view& line) {
        std::size_t length = 0;
        bool any = false;
        while (fill()) {
            const char c = buffer_[begin_++];
            any = true;
            if (c == '\n') {
                break;
            }
            if (length < sizeof line_) {
                line_[length++] = c;
            }
        }
        line = std::string_view(line_, length);
        return any;
    }

    // The unread bytes as they come, for a copy of the whole file; false at the end.
    bool nextChunk(std::string_view& chunk) {
        if (!fill()) {
            return false;
        }
        chunk = std::string_view(buffer_ + begin_, end_ - begin_);
        begin_ = end_;
        return true;
    }

private:
    // True when unread bytes are buffered, reading more when none are.
    bool fill() {
        while (begin_ == end_ && fd_ >= 0) {
            const ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            begin_ = 0;
            end_ = static_cast<std::size_t>(got);
        }
        return begin_ != end_;
    }

    int fd_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    char buffer_[4096];
    char line_[kMaxPath + 128];
};

struct MapsEntry {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    std::uintptr_t offset = 0;
    bool readable = false;
    std::string_view path;
};

bool takeHex(std::string_view& text, std::uintptr_t& value) {
    value = 0;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) {
            break;
        }
        value = value * 16 + static_cast<std::uintptr_t>(digit);
    }
    text.remove_prefix(i);
    return i > 0;
}

void skipField(std::string_view& text) {
    while (!text.empty() && text.front() != ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
}

// "start-end perms offset dev inode   path"
bool parseMapsLine(std::string_view line, MapsEntry& entry) {
    if (!takeHex(line, entry.start) || line.empty() || line.front() != '-') {
        return false;
    }
    line.remove_prefix(1);
    if (!takeHex(line, entry.end) || line.size() < 6) {
        return false;
    }
    line.remove_prefix(1);
    entry.readable = line.front() == 'r';
    skipField(line);
    if (!takeHex(line, entry.offset)) {
        return false;
    }
    skipField(line);  // the rest of the offset field, if any
    skipField(line);  // device
    skipField(line);  // inode
    entry.path = line;
    return true;
}

struct ModuleHit {
    FixedOut<256> name;
    std::uintptr_t base = 0;
};

// The file mapped at address and its load base (the start of its mapping at offset 0),
// found in /proc/self/maps rather than with dladdr, which takes the loader's lock.
bool findModule(std::uintptr_t address, ModuleHit& hit) {
    static FixedOut<kMaxPath> runPath;
    static std::uintptr_t runBase = 0;
    runPath.used = 0;
    MapsReader maps;
    std::string_view line;
    MapsEntry entry;
    while (maps.next(line)) {
        if (!parseMapsLine(line, entry)) {
            continue;
        }
        if (entry.offset == 0 && !entry.path.empty()) {
            runPath.used = 0;
            runPath.put(entry.path);
            runBase = entry.start;
        }
        if (address < entry.start || address >= entry.end) {
            continue;
        }
        if (entry.path.empty() || entry.path.front() != '/') {
            return false;  // anonymous memory, the stack, the heap or the vdso
        }
        hit.base = runPath.view() == entry.path ? runBase : entry.start - entry.offset;
        const std::size_t slash = entry.path.rfind('/');
        hit.name.put(entry.path.substr(slash + 1));
        return true;
    }
    return false;
}

// The readable memory from sp up to the end of the mapping that holds it. After an
// overflow sp may sit in the guard page just below the stack: the stack then starts at
// the next readable mapping.
bool findStack(std::uintptr_t sp, std::uintptr_t& from, std::uintptr_t& to) {
    MapsReader maps;
    std::string_view line;
    MapsEntry entry;
    while (maps.next(line)) {
        if (!parseMapsLine(line, entry) || !entry.readable || entry.end <= sp) {
            continue;
        }
        if (entry.start <= sp) {
            from = sp;
        } else if (entry.start - sp <= 64 * 1024) {
            from = entry.start;
        } else {
            return false;
        }
        to = std::min<std::uintptr_t>(entry.end, from + kMaxStackDump);
        return true;
    }
    return false;
}

template <typename Out>
void putReason(Out& out, std::uint64_t code, std::uintptr_t address) {
    out.put("exception 0x");
    putHex(out, code, 8);
    out.put(" at address 0x");
    putHex(out, address, 16);
    if (address == 0) {
        return;
    }
    static ModuleHit hit;
    hit.name.used = 0;
    if (findModule(address, hit)) {
        out.put(" in ");
        out.put(hit.name.view());
        out.put(" + 0x");
        putHex(out, address - hit.base, 1);
    }
}

template <typename Out>
void putReport(Out& out, std::string_view version, std::string_view reason, std::span<const std::string> actions,
               Logger* logger) {
    out.put("Ostrel crash report\n===================\nversion: ");
    out.put(version);
    out.put("\nreason:  ");
    out.put(reason);
    out.put("\naction:  ");
    if (actions.empty()) {
        out.put("(none)");
    }
    for (std::size_t i = 0; i < actions.size(); ++i) {
        if (i > 0) {
            out.put(" > ");
        }
        out.put(actions[i]);
    }
    out.put("\nrecent steps (oldest first):\n");
    std::size_t steps = 0;
    const bool copied = logger != nullptr && logger->tryVisitRecentSteps([&](const LogStep& step) {
        const UtcTime t = utcTimeFromTicks(step.time);
        out.put("  ");
        putDecimal(out, static_cast<std::uint64_t>(t.hour), 2);
        out.put(":");
        putDecimal(out, static_cast<std::uint64_t>(t.minute), 2);
        out.put(":");
        putDecimal(out, static_cast<std::uint64_t>(t.second), 2);
        out.put(" [");
        out.put(step.category);
        out.put("] ");
        out.put(step.message);
        out.put("\n");
        ++steps;
    });
    if (!copied) {
        out.put(kUnavailableLine);
    } else if (steps == 0) {
        out.put("  (none recorded)\n");
    }
}

// "crash-YYYYMMDD-HHMMSS" followed by the extension; from the second crash within the same
// second on, "-2", "-3", ... before it.
template <typename Out>
void putReportName(Out& out, const UtcTime& t, unsigned number, std::string_view extension) {
    out.put("crash-");
    putDecimal(out, static_cast<std::uint64_t>(std::max<std::int64_t>(t.year, 0)), 4);
    putDecimal(out, static_cast<std::uint64_t>(t.month), 2);
    putDecimal(out, static_cast<std::uint64_t>(t.day), 2);
    out.put("-");
    putDecimal(out, static_cast<std::uint64_t>(t.hour), 2);
    putDecimal(out, static_cast<std::uint64_t>(t.minute), 2);
    putDecimal(out, static_cast<std::uint64_t>(t.second), 2);
    if (number > 1) {
        out.put("-");
        putDecimal(out, number, 1);
    }
    out.put(extension);
}

// Never opens what is already there: another crash's report, or a link planted in the folder.
int createFile(const char* path) {
    return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

// A zero-terminated path in the crash folder for open(2).
template <typename Out>
void putReportPath(Out& out, std::string_view folder, const UtcTime& t, unsigned number, std::string_view extension) {
    out.used = 0;
    if (!folder.empty()) {
        out.put(folder);
        out.put("/");
    }
    putReportName(out, t, number, extension);
    out.put(std::string_view("", 1));
}

// Crashes in the same second are told apart by number; beyond this many the crash
// folder is taken to be full of someone else's files.
constexpr unsigned kMaxReportsPerSecond = 1000;

// Whether the dump is made with the report, or its name only kept free (a report written
// outside a crash has no dump, but must not take a crash's number).
enum class DumpFile { Create, KeepNameFree };

// Creates the report and its dump under the first number whose two names are both free,
// so that a report and its dump always share a name. Either descriptor is -1 when that
// file could not be made; both are when no number was free.
template <typename Out>
void createReportPair(std::string_view folder, const UtcTime& t, Out& reportPath, Out& dumpPath, int& reportFd,
                      int& dumpFd, DumpFile dump) {
    reportFd = -1;
    dumpFd = -1;
    for (unsigned number = 1; number <= kMaxReportsPerSecond; ++number) {
        putReportPath(reportPath, folder, t, number, ".txt");
        reportFd = createFile(reportPath.data);
        if (reportFd < 0 && errno == EEXIST) {
            continue;
        }
        putReportPath(dumpPath, folder, t, number, ".dmp");
        if (dump == DumpFile::Create) {
            dumpFd = createFile(dumpPath.data);
            if (dumpFd >= 0 || errno != EEXIST) {
                return;
            }
        } else {
            struct stat existing {};
            if (::lstat(dumpPath.data, &existing) != 0) {
                return;
            }
        }
        // A dump without its report holds this number: give ours back and try the next.
        if (reportFd >= 0) {
            ::close(reportFd);
            ::unlink(reportPath.data);
            reportFd = -1;
        }
    }
}

void registersOf(const void* context, std::uintptr_t& pc, std::uintptr_t& sp) {
    pc = 0;
    sp = 0;
    if (context == nullptr) {
        return;
    }
    [[maybe_unused]] const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    pc = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
    sp = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    pc = static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
    sp = static_cast<std::uintptr_t>(uc->uc_mcontext.sp);
#endif
}

// Handler scratch: one crash at a time, guarded by the reporter flag.
FdOut fileOut;
FixedOut<512> reasonText;
FixedOut<kMaxPath + 64> reportPathText;
FixedOut<kMaxPath + 64> dumpPathText;

void beginSection(std::uint32_t kind, std::uint64_t count) {
    fileOut.putValue(kind);
    fileOut.putValue(std::uint32_t{0});
    fileOut.putValue(count);
}

void writeDump(int fd, int signal, const siginfo_t* info, const void* context, std::int64_t ticks) {
    std::uintptr_t pc = 0;
    std::uintptr_t sp = 0;
    registersOf(context, pc, sp);
    fileOut.start(fd);

    fileOut.put("OSTRDUMP");
    fileOut.putValue(std::uint32_t{1});
#if defined(__x86_64__)
    fileOut.putValue(std::uint32_t{62});
#elif defined(__aarch64__)
    fileOut.putValue(std::uint32_t{183});
#else
    fileOut.putValue(std::uint32_t{0});
#endif
    fileOut.putValue(static_cast<std::uint32_t>(::getpid()));
    fileOut.putValue(static_cast<std::uint32_t>(::gettid()));
    fileOut.putValue(ticks);

    beginSection(1, 40);
    fileOut.putValue(static_cast<std::int32_t>(signal));
    fileOut.putValue(static_cast<std::int32_t>(info != nullptr ? info->si_code : 0));
    fileOut.putValue(static_cast<std::int32_t>(info != nullptr ? info->si_errno : 0));
    fileOut.putValue(std::int32_t{0});
    fileOut.putValue(static_cast<std::uint64_t>(info != nullptr ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0));
    fileOut.putValue(static_cast<std::uint64_t>(pc));
    fileOut.putValue(static_cast<std::uint64_t>(sp));

    if (context != nullptr) {
        [[maybe_unused]] const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
        beginSection(2, sizeof uc->uc_mcontext.gregs);
        fileOut.putBytes(uc->uc_mcontext.gregs, sizeof uc->uc_mcontext.gregs);
#elif defined(__aarch64__)
        beginSection(2, sizeof uc->uc_mcontext.regs + 3 * sizeof(std::uint64_t));
        fileOut.putBytes(uc->uc_mcontext.regs, sizeof uc->uc_mcontext.regs);
        fileOut.putValue(static_cast<std::uint64_t>(uc->uc_mcontext.sp));
        fileOut.putValue(static_cast<std::uint64_t>(uc->uc_mcontext.pc));
        fileOut.putValue(static_cast<std::uint64_t>(uc->uc_mcontext.pstate));
#endif
    }

    // The map's length is known only once it is read: its count is patched afterwards.
    beginSection(3, 0);
    const std::uint64_t mapCountAt = fileOut.total() - sizeof(std::uint64_t);
    const std::uint64_t mapStart = fileOut.total();
    {
        MapsReader maps;
        std::string_view chunk;
        while (maps.nextChunk(chunk)) {
            fileOut.putBytes(chunk.data(), chunk.size());
        }
    }
    const std::uint64_t mapCount = fileOut.total() - mapStart;

    std::uintptr_t from = 0;
    std::uintptr_t to = 0;
    if (sp != 0 && findStack(sp, from, to)) {
        beginSection(4, 0);
        const std::uint64_t stackCountAt = fileOut.total() - sizeof(std::uint64_t);
        fileOut.putValue(static_cast<std::uint64_t>(from));
        fileOut.flush();
        // The kernel copies straight from our memory; a page that vanished cuts it short.
        const std::uint64_t copied = writeAll(fd, reinterpret_cast<const void*>(from), to - from, rawWrite);
        fileOut.putDirect(copied);
        const std::uint64_t stackCount = sizeof(std::uint64_t) + copied;
        ::pwrite(fd, &stackCount, sizeof stackCount, static_cast<off_t>(stackCountAt));
    }
    beginSection(0, 0);
    fileOut.flush();
    ::pwrite(fd, &mapCount, sizeof mapCount, static_cast<off_t>(mapCountAt));
    ::close(fd);
}

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
    ::mkdir(state.folder.c_str(), 0755);  // in case it was removed since start-up
    int reportFd = -1;
    int dumpFd = -1;
    createReportPair(state.folder, time, reportPathText, dumpPathText, reportFd, dumpFd, DumpFile::Create);

    // The small text first, so it survives even if the dump fails.
    if (reportFd >= 0) {
        fileOut.start(reportFd);
        putReport(fileOut, state.version, reasonText.view(), currentActionStackView(), state.logger);
        fileOut.flush();
        ::close(reportFd);
    }
    if (dumpFd >= 0) {
        writeDump(dumpFd, signal, info, context, ticks);
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

}  // namespace

namespace CrashReporter {

void install(const Config& config) {
    std::error_code ignored;
    std::filesystem::create_directories(config.crashFolder, ignored);
    installed.store(new State{config.crashFolder.string(), config.version, config.logger}, std::memory_order_release);
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
    auto reportPath = std::make_unique<FixedOut<kMaxPath + 64>>();
    auto dumpPath = std::make_unique<FixedOut<kMaxPath + 64>>();
    int fd = -1;
    int noDump = -1;
    if (folder.size() <= kMaxPath) {
        createReportPair(folder, time, *reportPath, *dumpPath, fd, noDump, DumpFile::KeepNameFree);
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
        if (name.rfind("crash-", 0) == 0 && it->path().extension() == ".txt") {
            ++count;
        }
    }
    return count;
}

}  // namespace CrashReporter

void writeWholeFile(const std::filesystem::path& path, std::string_view text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), file);
    }
    std::fflush(file);
    std::fclose(file);
}

}  // namespace ostrel::core
