#include "core/BuildInfo.h"
#include "core/crash/CrashReporter.h"

#include "CoreTestSupport.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;
using namespace ostrel::core;
using namespace ostrel::test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::MatchesRegex;

namespace {

// ---- The crashing side: the test binary runs itself again with OSTREL_CRASH_CHILD set,
// and this runs before main, with the sanitizers' own signal handlers switched off.

__attribute__((noinline, no_sanitize("address", "undefined"))) void writeThroughNull() {
    volatile int* volatile nowhere = nullptr;  // opaque, so the store cannot be optimised away
    *nowhere = 1;
}

__attribute__((noinline, no_sanitize("address", "undefined"))) int recurseForever(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (frame[0] == 0 && depth < 0) {
        return 0;  // never: keeps the compiler from calling the recursion hopeless
    }
    return recurseForever(depth + 1) + frame[0];
}

struct CrashingSink : LogSink {
    void write(const LogRecord&) override { writeThroughNull(); }
};

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

[[noreturn]] void runCrashChild(const std::string& mode, const fs::path& folder) {
    Logger& logger = Logger::instance();
    if (mode == "abort") {
        CrashReporter::install({folder / "first", "other", nullptr});  // replaced by the next install
        CrashReporter::install({folder, appVersion(), &logger});
        std::abort();
    }
    CrashReporter::install({folder, appVersion(), &logger});
    ActionScope scope("Crash > " + mode, logger);
    if (mode == "null") {
        logger.log(LogLevel::INFO, "project", "opened");
        ActionScope save("Project > save /tmp/song.ostproj", logger);
        writeThroughNull();
    } else if (mode == "overflow") {
        recurseForever(0);
    } else if (mode == "lock-held-here") {
        logger.addSink(std::make_shared<CrashingSink>());
        logger.log(LogLevel::ERROR, "render", "about to crash inside the sink");
    } else if (mode == "two-threads") {
        // The watching side stops the first thread inside its report, then lets this
        // thread crash too.
        const int ready = std::atoi(std::getenv("OSTREL_CRASH_READY_FD"));
        const int goFirst = std::atoi(std::getenv("OSTREL_CRASH_GO_FD"));
        const int goSecond = std::atoi(std::getenv("OSTREL_CRASH_GO2_FD"));
        std::thread([&] {
            ActionScope first("First crash", logger);
            const pid_t tid = ::gettid();
            ::write(ready, &tid, sizeof tid);
            char go = 0;
            ::read(goFirst, &go, 1);
            writeThroughNull();
        }).detach();
        char go = 0;
        ::read(goSecond, &go, 1);
        writeThroughNull();
    } else if (mode == "full-disk" || mode == "full-disk-dump") {
        // A file size limit stands in for a full disk: every write past it fails.
        const rlim_t limit = mode == "full-disk" ? 0 : 4096;
        const rlimit fileSize{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        std::signal(SIGXFSZ, SIG_IGN);
        writeThroughNull();
    } else if (mode == "write-report") {
        const fs::path first = CrashReporter::writeReport("first");
        const fs::path second = CrashReporter::writeReport("second");
        ::_exit(first != second && fs::exists(first) && fs::exists(second) ? 0 : 1);
    } else if (mode == "same-second") {
        // Every child crashes 200 ms into the same second of the clock.
        const timespec at{static_cast<std::time_t>(std::atoll(std::getenv("OSTREL_CRASH_AT"))), 200'000'000};
        while (::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        writeThroughNull();
    }
    ::_exit(99);  // the crash did not happen
}

const bool crashChildRan = [] {
    if (const char* mode = std::getenv("OSTREL_CRASH_CHILD")) {
        runCrashChild(mode, std::getenv("OSTREL_CRASH_DIR"));
    }
    return false;
}();

// ---- The watching side.

// Runs this binary again as a crash child. The parent's sanitizers read their options at
// start-up, so changing them here only reaches the child.
pid_t spawnChild(const std::string& mode, const fs::path& folder) {
    const std::string handlers = "handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigill=0:handle_sigfpe=0";
    ::setenv("ASAN_OPTIONS", (handlers + ":allow_user_segv_handler=1:use_sigaltstack=0:detect_leaks=0").c_str(), 1);
    ::setenv("UBSAN_OPTIONS", (handlers + ":halt_on_error=1").c_str(), 1);
    ::setenv("OSTREL_CRASH_DIR", folder.c_str(), 1);
    ::setenv("OSTREL_CRASH_CHILD", mode.c_str(), 1);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    char* argv[] = {self.data(), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ), 0);
    ::unsetenv("OSTREL_CRASH_CHILD");
    return pid;
}

// How the child ended: "signal 11", "exit 0", or "hung" after 30 s, when it is killed.
std::string awaitChild(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 3000; ++i, sleepMs(10)) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                       : "exit " + std::to_string(WEXITSTATUS(status));
        }
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return "hung";
}

std::string endedBy(int signal) { return "signal " + std::to_string(signal); }

std::string reportNameAt(std::time_t t) {
    std::tm parts{};
    gmtime_r(&t, &parts);
    char name[64];
    std::strftime(name, sizeof name, "crash-%Y%m%d-%H%M%S.txt", &parts);
    return name;
}

template <typename T>
T valueAt(const std::string& bytes, std::size_t at) {
    T value{};
    if (at + sizeof value <= bytes.size()) {
        std::memcpy(&value, bytes.data() + at, sizeof value);
    }
    return value;
}

std::vector<std::string> fileNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file() && !entry.is_symlink()) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The report "<stem>.txt" and dump "<stem>.dmp" of the crash of child pid by signal;
// returns the report's lines. The dump is walked along its documented layout.
std::vector<std::string> pairNamed(const fs::path& folder, const std::string& stem, pid_t pid, int signal) {
    const std::string dump = readFile(folder / (stem + ".dmp"));
    EXPECT_EQ(dump.substr(0, 12), std::string("OSTRDUMP\1\0\0\0", 12)) << stem;
    EXPECT_EQ(valueAt<std::uint32_t>(dump, 16), static_cast<std::uint32_t>(pid)) << stem;
    std::vector<std::uint32_t> kinds;
    std::map<std::uint32_t, std::string> sections;
    std::size_t at = 32;
    while (at + 16 <= dump.size() && (kinds.empty() || kinds.back() != 0)) {
        kinds.push_back(valueAt<std::uint32_t>(dump, at));
        sections[kinds.back()] = dump.substr(at + 16, valueAt<std::uint64_t>(dump, at + 8));
        at += 16 + sections[kinds.back()].size();
    }
    EXPECT_EQ(at, dump.size()) << "a section overruns the file or bytes follow the closing one";
    EXPECT_EQ(kinds, (std::vector<std::uint32_t>{1, 2, 3, 4, 0}));
    EXPECT_EQ(valueAt<std::int32_t>(sections[1], 0), signal);
    // The stack from the stack pointer up, or from just above the guard page it overran.
    EXPECT_GE(valueAt<std::uint64_t>(sections[4], 0), valueAt<std::uint64_t>(sections[1], 32));
    EXPECT_GT(sections[4].size(), 8u);
    EXPECT_LE(sections[4].size(), 8u + 1024u * 1024u);
    EXPECT_THAT(sections[3], ::testing::HasSubstr("core_tests"));
    const std::string report = readFile(folder / (stem + ".txt"));
    EXPECT_TRUE(report.ends_with("\n"));
    return splitLines(report);
}

// The one report and one dump that the crash of child pid by signal must leave, named
// alike; returns the report's lines.
std::vector<std::string> onlyPair(const fs::path& folder, pid_t pid, int signal) {
    const std::vector<std::string> names = fileNames(folder);
    if (names.size() != 2 || names[1] != names[0].substr(0, names[0].size() - 4) + ".txt") {
        ADD_FAILURE() << "not one pair: " << ::testing::PrintToString(names);
        return {};
    }
    EXPECT_THAT(names[1], MatchesRegex(R"(crash-[0-9]{8}-[0-9]{6}\.txt)"));
    return pairNamed(folder, names[0].substr(0, names[0].size() - 4), pid, signal);
}

using LineMatchers = std::vector<::testing::Matcher<const std::string&>>;

// A report's lines: the fixed head, then reason (a pattern), action and the step lines.
LineMatchers report(const std::string& reason, const std::string& action, const LineMatchers& steps) {
    LineMatchers lines{"Ostrel crash report", "===================", "version: " + appVersion(),
                       MatchesRegex("reason:  " + reason), "action:  " + action, "recent steps (oldest first):"};
    lines.insert(lines.end(), steps.begin(), steps.end());
    return lines;
}

// A step line at any time of day.
::testing::Matcher<const std::string&> step(const std::string& pattern) {
    return MatchesRegex("  [0-9]{2}:[0-9]{2}:[0-9]{2} " + pattern);
}

const std::string unavailable = "  (unavailable: the logger was busy at the time of the crash)";
const std::string segv = "exception 0x0000000B at address 0x[0-9A-F]{16}.*";

}  // namespace

TEST(CrashReportTextTest, LoggerHeldByAnotherThreadOrMissingGivesTheUnavailableLineWithoutWaiting) {
    Logger logger;
    auto blocking = std::make_shared<BlockingSink>();
    logger.addSink(blocking);
    std::thread holder([&] { logger.log(LogLevel::INFO, "project", "slow disk"); });
    blocking->entered.wait();
    const std::string text = CrashReporter::reportText("v", "r", &logger);
    blocking->released.count_down();
    holder.join();
    EXPECT_THAT(splitLines(text), ElementsAre("Ostrel crash report", "===================", "version: v", "reason:  r",
                                              "action:  (none)", "recent steps (oldest first):", unavailable));
    EXPECT_EQ(CrashReporter::reportText("v", "r", nullptr), text);
}

TEST(CrashReportCountTest, CountsOnlyCrashTextFilesAndZeroForAFolderThatCannotBeRead) {
    TempDir dir;
    for (const char* name : {"crash-20260301-140509.txt", "crash-20260301-140509.dmp", "crash-20260302-090000.txt",
                             "notes.txt", "crash-1.TXT", "Crash-20260304-000000.txt", "crash-2026.txt.bak"}) {
        writeFile(dir / name, "x");
    }
    EXPECT_EQ(CrashReporter::countReports(dir.path()), 2);
    EXPECT_EQ(CrashReporter::countReports(dir / "never-made"), 0);
    EXPECT_EQ(CrashReporter::countReports(dir / "notes.txt"), 0);
}

// ---- Real crashes in a child process.

TEST(CrashReporterCrashTest, EachKindOfCrashLeavesOneReportAndDumpThenEndsByItsSignal) {
    const struct {
        const char* mode;
        int signal;
        LineMatchers lines;
    } cases[] = {
        {"null", SIGSEGV,
         report(R"(exception 0x0000000B at address 0x[0-9A-F]{16} in core_tests \+ 0x[0-9A-F]+)",
                "Crash > null > Project > save /tmp/song.ostproj",
                {step(R"(\[action\] begin: Crash > null)"), step(R"(\[project\] opened)"),
                 step(R"(\[action\] begin: Project > save /tmp/song\.ostproj)")})},
        // Installed twice before it aborts: the second folder, version and logger count.
        {"abort", SIGABRT,
         report(R"(exception 0x00000006 at address 0x[0-9A-F]{16} in libc\.so\.6 \+ 0x.*)", "(none)",
                {"  (none recorded)"})},
        // Reported from the alternate stack.
        {"overflow", SIGSEGV, report(segv, "Crash > overflow", {step(R"(\[action\] begin: Crash > overflow)")})},
        // The crashing thread itself holds the logger's lock, which the handler only tries once.
        {"lock-held-here", SIGSEGV, report(segv, "Crash > lock-held-here", {unavailable})},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const pid_t pid = spawnChild(c.mode, dir.path());
        EXPECT_EQ(awaitChild(pid), endedBy(c.signal)) << c.mode;
        EXPECT_THAT(onlyPair(dir.path(), pid, c.signal), ElementsAreArray(c.lines)) << c.mode;
        EXPECT_FALSE(fs::exists(dir / "first") && !fs::is_empty(dir / "first"));
    }
}

// Regression: a second faulting thread used to end the process while the first was
// still writing, leaving a cut-off report. The first thread is held by ptrace at its
// first write of the report, and let go only once the second is waiting in the handler.
TEST(CrashReporterCrashTest, SecondFaultingThreadWaitsForTheFirstReportToFinish) {
    TempDir dir;
    int ready[2];
    int goFirst[2];
    int goSecond[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(goFirst), 0);
    ASSERT_EQ(::pipe(goSecond), 0);
    ::setenv("OSTREL_CRASH_READY_FD", std::to_string(ready[1]).c_str(), 1);
    ::setenv("OSTREL_CRASH_GO_FD", std::to_string(goFirst[0]).c_str(), 1);
    ::setenv("OSTREL_CRASH_GO2_FD", std::to_string(goSecond[0]).c_str(), 1);
    const pid_t pid = spawnChild("two-threads", dir.path());
    // Should an assertion end the test early, the child must not stay behind, stopped.
    struct KillUnlessReaped {
        pid_t pid;
        bool reaped = false;
        ~KillUnlessReaped() {
            if (!reaped) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } guard{pid};
    for (const int end : {ready[1], goFirst[0], goSecond[0]}) {
        ::close(end);
    }
    pid_t first = 0;
    ASSERT_EQ(::read(ready[0], &first, sizeof first), static_cast<ssize_t>(sizeof first));
    ::close(ready[0]);
    if (::ptrace(PTRACE_SEIZE, first, nullptr, PTRACE_O_TRACESYSGOOD) != 0) {
        GTEST_SKIP() << "ptrace is not allowed here: " << std::strerror(errno);
    }
    ASSERT_EQ(::write(goFirst[1], "x", 1), 1);

    // The fault stops the thread before its handler runs; from there to its first write.
    int status = 0;
    ASSERT_EQ(::waitpid(first, &status, __WALL), first);
    ASSERT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == SIGSEGV) << status;
    int deliver = SIGSEGV;
    bool atWrite = false;
    for (int stops = 0; stops < 100000 && !atWrite; ++stops) {
        ASSERT_EQ(::ptrace(PTRACE_SYSCALL, first, nullptr, deliver), 0);
        deliver = 0;
        ASSERT_EQ(::waitpid(first, &status, __WALL), first);
        ASSERT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == (SIGTRAP | 0x80)) << status;
        __ptrace_syscall_info info{};
        ASSERT_GT(::ptrace(PTRACE_GET_SYSCALL_INFO, first, sizeof info, &info), 0);
        atWrite = info.op == PTRACE_SYSCALL_INFO_ENTRY && info.entry.nr == SYS_write;
    }
    ASSERT_TRUE(atWrite);

    // The second crash finds the report taken and sleeps until the first is done; a
    // second thread that did not wait would end the process now.
    ASSERT_EQ(::write(goSecond[1], "x", 1), 1);
    const fs::path secondSyscall = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/syscall";
    bool waiting = false;
    for (int i = 0; i < 3000 && !waiting; ++i, sleepMs(10)) {
        // The system call the thread is in, "running" when in none, nothing once it is gone.
        std::ifstream in(secondSyscall);
        std::string word;
        if (!(in >> word)) {
            break;
        }
        waiting = word == std::to_string(SYS_clock_nanosleep) || word == std::to_string(SYS_nanosleep);
    }
    EXPECT_TRUE(waiting);
    ASSERT_EQ(::ptrace(PTRACE_DETACH, first, nullptr, 0), 0);
    ::close(goFirst[1]);
    ::close(goSecond[1]);

    EXPECT_EQ(awaitChild(pid), endedBy(SIGSEGV));
    guard.reaped = true;
    EXPECT_THAT(onlyPair(dir.path(), pid, SIGSEGV),
                ElementsAreArray(report(segv, "First crash",
                                        {step(R"(\[action\] begin: Crash > two-threads)"),
                                         step(R"(\[action\] begin: First crash)")})));
}

// Regression: reports were named to the second and opened with O_TRUNC, so processes
// crashing in the same second left one report and a dump mixing bytes from several.
// Regression: a crash on a full disk left an empty report and dump, which the next start
// counted as a report.
TEST(CrashReporterCrashTest, OnAFullDiskNoEmptyPairIsLeftAndAFailedDumpGoesAlone) {
    TempDir dir;
    EXPECT_EQ(awaitChild(spawnChild("full-disk", dir.path())), endedBy(SIGSEGV));
    EXPECT_THAT(fileNames(dir.path()), ::testing::IsEmpty());
    EXPECT_EQ(CrashReporter::countReports(dir.path()), 0);

    // Room for the report but not for the dump, which is far longer.
    TempDir other;
    EXPECT_EQ(awaitChild(spawnChild("full-disk-dump", other.path())), endedBy(SIGSEGV));
    const std::vector<std::string> names = fileNames(other.path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_THAT(names[0], MatchesRegex("crash-[0-9]{8}-[0-9]{6}\\.txt"));
    EXPECT_EQ(CrashReporter::countReports(other.path()), 1);
}

TEST(CrashReportCountTest, AnEmptyReportIsNotCounted) {
    TempDir dir;
    writeFile(dir / "crash-20260101-000000.txt", "");
    writeFile(dir / "crash-20260101-000001.txt", "Ostrel crash report\n");
    EXPECT_EQ(CrashReporter::countReports(dir.path()), 1);
}

TEST(CrashReporterCrashTest, ChildrenCrashingInTheSameSecondEachKeepTheirOwnReportAndDump) {
    TempDir dir;
    ::setenv("OSTREL_CRASH_AT", std::to_string(std::time(nullptr) + 2).c_str(), 1);
    std::vector<pid_t> pids;
    for (int i = 0; i < 4; ++i) {
        pids.push_back(spawnChild("same-second", dir.path()));
    }
    for (const pid_t pid : pids) {
        EXPECT_EQ(awaitChild(pid), endedBy(SIGSEGV));
    }
    const std::vector<std::string> names = fileNames(dir.path());
    ASSERT_EQ(names.size(), 8u) << ::testing::PrintToString(names);
    EXPECT_EQ(CrashReporter::countReports(dir.path()), 4);
    std::vector<pid_t> reported;
    for (std::size_t i = 0; i < names.size(); i += 2) {
        const std::string stem = names[i].substr(0, names[i].size() - 4);
        ASSERT_EQ(names[i], stem + ".dmp");
        ASSERT_EQ(names[i + 1], stem + ".txt");
        EXPECT_THAT(stem, MatchesRegex(R"(crash-[0-9]{8}-[0-9]{6}(-[2-4])?)"));
        const pid_t pid = static_cast<pid_t>(valueAt<std::uint32_t>(readFile(dir / names[i]), 16));
        reported.push_back(pid);
        EXPECT_THAT(pairNamed(dir.path(), stem, pid, SIGSEGV),
                    ElementsAreArray(report(segv, "Crash > same-second",
                                            {step(R"(\[action\] begin: Crash > same-second)")})));
    }
    std::sort(reported.begin(), reported.end());
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(reported, pids);
}

// A report written outside a crash takes a name of its own too, and is never overwritten.
TEST(CrashReporterCrashTest, ReportsWrittenOneAfterTheOtherKeepTheirOwnFiles) {
    TempDir dir;
    const pid_t pid = spawnChild("write-report", dir.path());
    EXPECT_EQ(awaitChild(pid), "exit 0");
    const std::vector<std::string> names = fileNames(dir.path());
    ASSERT_EQ(names.size(), 2u) << ::testing::PrintToString(names);
    std::vector<std::string> reasons;
    for (const std::string& name : names) {
        EXPECT_THAT(name, MatchesRegex(R"(crash-[0-9]{8}-[0-9]{6}(-2)?\.txt)"));
        reasons.push_back(splitLines(readFile(dir / name)).at(3));
    }
    std::sort(reasons.begin(), reasons.end());
    EXPECT_THAT(reasons, ElementsAre("reason:  first", "reason:  second"));
}

// A name taken by a file that is not this crash's, or by a link planted in the folder,
// is passed over and left as it is; the report and its dump still share one name.
TEST(CrashReporterCrashTest, TakenNamesAndPlantedLinksAreNeverWrittenThrough) {
    TempDir dir;
    writeFile(dir / "victim", "someone else's");
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now - 2; t <= now + 60; ++t) {
        const std::string stem = reportNameAt(t).substr(0, 21);
        writeFile(dir / (stem + ".txt"), "earlier");
        fs::create_symlink(dir / "victim", dir / (stem + "-2.dmp"));
    }
    const pid_t pid = spawnChild("null", dir.path());
    EXPECT_EQ(awaitChild(pid), endedBy(SIGSEGV));
    EXPECT_EQ(readFile(dir / "victim"), "someone else's");
    std::vector<std::string> made;
    for (const std::string& name : fileNames(dir.path())) {
        if (name != "victim" && readFile(dir / name) != "earlier") {
            made.push_back(name);
        }
    }
    ASSERT_EQ(made.size(), 2u) << ::testing::PrintToString(made);
    EXPECT_THAT(made[0], MatchesRegex(R"(crash-[0-9]{8}-[0-9]{6}-3\.dmp)"));
    EXPECT_EQ(made[1], made[0].substr(0, made[0].size() - 4) + ".txt");
    EXPECT_EQ(pairNamed(dir.path(), made[0].substr(0, made[0].size() - 4), pid, SIGSEGV).at(4),
              "action:  Crash > null > Project > save /tmp/song.ostproj");
}
