#include "core/BuildInfo.h"
#include "core/CrashReporter.h"
#include "core/LogSink.h"
#include "core/Logger.h"

#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace ostrel::core;
using ostrel::test::readFile;
using ostrel::test::TempDir;
using ostrel::test::writeFile;

namespace {

// Holds the logger's mutex from inside write until released.
class BlockingSink : public LogSink {
public:
    void write(const LogRecord&) override {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    void waitUntilEntered() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_ = false;
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

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

class CrashingSink : public LogSink {
public:
    void write(const LogRecord&) override { writeThroughNull(); }
};

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

[[noreturn]] void runCrashChild(std::string_view mode, const fs::path& folder) {
    Logger& logger = Logger::instance();
    CrashReporter::install({folder, appVersion(), &logger});
    if (mode == "null") {
        logger.log(LogLevel::INFO, "project", "opened");
        ActionScope startup("Application startup", logger);
        ActionScope save("Project > save /tmp/song.ostproj", logger);
        writeThroughNull();
    } else if (mode == "abort") {
        std::abort();
    } else if (mode == "overflow") {
        ActionScope deep("Deep recursion", logger);
        recurseForever(0);
    } else if (mode == "trap") {
        // Installed twice: the second folder wins.
        CrashReporter::install({folder / "first", "other", nullptr});
        CrashReporter::install({folder, appVersion(), nullptr});
        __builtin_trap();
    } else if (mode == "lock-held-elsewhere") {
        ActionScope play("Transport > play", logger);
        auto blocking = std::make_shared<BlockingSink>();
        logger.addSink(blocking);
        std::thread([&] { logger.log(LogLevel::INFO, "project", "slow disk"); }).detach();
        blocking->waitUntilEntered();
        writeThroughNull();
    } else if (mode == "lock-held-here") {
        logger.addSink(std::make_shared<CrashingSink>());
        ActionScope render("Render", logger);
        logger.log(LogLevel::ERROR, "render", "about to crash inside the sink");
    } else if (mode == "two-threads") {
        // The first thread's report goes into a FIFO nobody reads yet; the second
        // thread crashes while the first is stuck writing it.
        const int ready = std::atoi(std::getenv("OSTREL_CRASH_READY_FD"));
        std::thread([&] {
            ActionScope first("First crash", logger);
            writeThroughNull();
        }).detach();
        sleepMs(300);
        ::write(ready, "x", 1);
        ActionScope second("Second crash", logger);
        writeThroughNull();
    } else if (mode == "write-report") {
        ActionScope manual("Help > report", logger);
        const fs::path path = CrashReporter::writeReport("asked for by the user");
        writeFile(folder.parent_path() / "written", path.string());
        ::_exit(0);
    }
    ::_exit(99);  // the crash did not happen
}

const bool crashChildRan = [] {
    const char* mode = std::getenv("OSTREL_CRASH_CHILD");
    if (mode != nullptr) {
        runCrashChild(mode, std::getenv("OSTREL_CRASH_DIR"));
    }
    return false;
}();

// ---- The watching side.

struct ChildRun {
    pid_t pid = 0;
    int status = 0;
    bool finished = false;
};

std::vector<std::string> childEnvironment(const std::string& mode, const fs::path& folder,
                                          const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (text.rfind("ASAN_OPTIONS=", 0) != 0 && text.rfind("UBSAN_OPTIONS=", 0) != 0) {
            env.emplace_back(text);
        }
    }
    const std::string handlers = "handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigill=0:handle_sigfpe=0";
    env.push_back("ASAN_OPTIONS=" + handlers + ":allow_user_segv_handler=1:use_sigaltstack=0:detect_leaks=0");
    env.push_back("UBSAN_OPTIONS=" + handlers + ":halt_on_error=1");
    env.push_back("OSTREL_CRASH_CHILD=" + mode);
    env.push_back("OSTREL_CRASH_DIR=" + folder.string());
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

pid_t spawnChild(const std::string& mode, const fs::path& folder, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> env = childEnvironment(mode, folder, extra);
    std::vector<char*> envp;
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    char* argv[] = {self.data(), nullptr};
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data());
    return failed == 0 ? pid : -1;
}

// Waits up to 30 s; a child that hangs is killed and reported as unfinished.
void awaitChild(ChildRun& run) {
    for (int i = 0; i < 3000; ++i) {
        const pid_t done = ::waitpid(run.pid, &run.status, WNOHANG);
        if (done == run.pid) {
            run.finished = true;
            return;
        }
        sleepMs(10);
    }
    ::kill(run.pid, SIGKILL);
    ::waitpid(run.pid, &run.status, 0);
}

ChildRun runChild(const std::string& mode, const fs::path& folder) {
    ChildRun run;
    run.pid = spawnChild(mode, folder);
    EXPECT_GT(run.pid, 0);
    if (run.pid > 0) {
        awaitChild(run);
    }
    return run;
}

bool killedBy(const ChildRun& run, int signal) {
    return run.finished && WIFSIGNALED(run.status) && WTERMSIG(run.status) == signal;
}

std::string describe(const ChildRun& run) {
    if (!run.finished) {
        return "child hung";
    }
    if (WIFSIGNALED(run.status)) {
        return "child killed by signal " + std::to_string(WTERMSIG(run.status));
    }
    return "child exited with " + std::to_string(WEXITSTATUS(run.status));
}

// The one report and one dump a crash must leave, named alike.
struct CrashFiles {
    fs::path report;
    fs::path dump;
};

CrashFiles onlyPair(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names.size(), 2u) << ::testing::PrintToString(names);
    if (names.size() != 2) {
        return {};
    }
    EXPECT_THAT(names[0], ::testing::MatchesRegex(R"(crash-[0-9]{8}-[0-9]{6}\.dmp)"));
    EXPECT_EQ(names[1], names[0].substr(0, names[0].size() - 4) + ".txt");
    return {folder / names[1], folder / names[0]};
}

template <typename T>
T readValue(const std::string& bytes, std::size_t at) {
    T value{};
    if (at + sizeof value <= bytes.size()) {
        std::memcpy(&value, bytes.data() + at, sizeof value);
    }
    return value;
}

// Walks the documented dump layout; returns the section kinds in order.
struct DumpSummary {
    std::vector<std::uint32_t> kinds;
    std::uint32_t pid = 0;
    std::int32_t signal = 0;
    std::uint64_t faultAddress = 0;
    std::uint64_t stackPointer = 0;
    std::uint64_t stackStart = 0;
    std::uint64_t stackBytes = 0;
    std::string maps;
};

DumpSummary readDump(const fs::path& path) {
    const std::string bytes = readFile(path);
    DumpSummary summary;
    EXPECT_EQ(bytes.substr(0, 8), "OSTRDUMP");
    EXPECT_EQ(readValue<std::uint32_t>(bytes, 8), 1u);
    summary.pid = readValue<std::uint32_t>(bytes, 16);
    std::size_t at = 32;
    while (at + 16 <= bytes.size()) {
        const auto kind = readValue<std::uint32_t>(bytes, at);
        const auto count = readValue<std::uint64_t>(bytes, at + 8);
        at += 16;
        summary.kinds.push_back(kind);
        if (count > bytes.size() - at) {
            ADD_FAILURE() << "section " << kind << " overruns the file";
            break;
        }
        if (kind == 1) {
            summary.signal = readValue<std::int32_t>(bytes, at);
            summary.faultAddress = readValue<std::uint64_t>(bytes, at + 16);
            summary.stackPointer = readValue<std::uint64_t>(bytes, at + 32);
        } else if (kind == 3) {
            summary.maps = bytes.substr(at, count);
        } else if (kind == 4) {
            summary.stackStart = readValue<std::uint64_t>(bytes, at);
            summary.stackBytes = count - 8;
        }
        at += count;
        if (kind == 0) {
            break;
        }
    }
    EXPECT_EQ(at, bytes.size()) << "bytes after the closing section";
    return summary;
}

const std::string stepLine = R"(  [0-9]{2}:[0-9]{2}:[0-9]{2} )";
const std::string unavailable = "  (unavailable: the logger was busy at the time of the crash)";

}  // namespace

// ---- The report's text.

TEST(CrashReportTextTest, NoActionAndAnEmptyRingSayNoneAndNoneRecorded) {
    Logger logger;
    EXPECT_EQ(CrashReporter::reportText("0.2.0-alpha.39+7c95359", "exception 0x0000000B at address 0x00", &logger),
              "Ostrel crash report\n"
              "===================\n"
              "version: 0.2.0-alpha.39+7c95359\n"
              "reason:  exception 0x0000000B at address 0x00\n"
              "action:  (none)\n"
              "recent steps (oldest first):\n"
              "  (none recorded)\n");
}

TEST(CrashReportTextTest, OpenActionsAndRecentStepsInOrder) {
    Logger logger;
    logger.log(LogLevel::INFO, "project", "opened\nsecond line");
    ActionScope startup("Application startup", logger);
    ActionScope play("Transport > play", logger);
    std::vector<LogStep> steps;
    ASSERT_TRUE(logger.copyRecentSteps(steps));
    ASSERT_EQ(steps.size(), 3u);
    auto clock = [](std::int64_t ticks) {
        const std::int64_t seconds = ticks / 10'000'000 % 86400;
        char text[16];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
        return std::string(text);
    };
    EXPECT_EQ(CrashReporter::reportText("v", "r", &logger),
              "Ostrel crash report\n===================\nversion: v\nreason:  r\n"
              "action:  Application startup > Transport > play\n"
              "recent steps (oldest first):\n"
              "  " + clock(steps[0].time) + " [project] opened\nsecond line\n"
              "  " + clock(steps[1].time) + " [action] begin: Application startup\n"
              "  " + clock(steps[2].time) + " [action] begin: Transport > play\n");
}

TEST(CrashReportTextTest, MissingLoggerGivesTheUnavailableLine) {
    const std::vector<std::string> lines = splitLines(CrashReporter::reportText("v", "r", nullptr));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[6], unavailable);
}

TEST(CrashReportTextTest, LoggerHeldByAnotherThreadGivesTheUnavailableLineWithoutWaiting) {
    Logger logger;
    auto blocking = std::make_shared<BlockingSink>();
    logger.addSink(blocking);
    std::thread holder([&] { logger.log(LogLevel::INFO, "project", "slow disk"); });
    blocking->waitUntilEntered();
    const std::string text = CrashReporter::reportText("v", "r", &logger);
    blocking->release();
    holder.join();
    EXPECT_THAT(splitLines(text), ::testing::ElementsAre("Ostrel crash report", "===================", "version: v",
                                                         "reason:  r", "action:  (none)",
                                                         "recent steps (oldest first):", unavailable));
}

// ---- Counting earlier reports.

TEST(CrashReportCountTest, CountsOnlyCrashTextFiles) {
    TempDir dir;
    for (const char* name : {"crash-20260301-140509", "crash-20260302-090000", "crash-20260303-235959"}) {
        writeFile(dir / (std::string(name) + ".txt"), "r");
        writeFile(dir / (std::string(name) + ".dmp"), "d");
    }
    writeFile(dir / "notes.txt", "n");
    writeFile(dir / "crash-1.TXT", "upper case");
    writeFile(dir / "Crash-20260304-000000.txt", "upper case");
    writeFile(dir / "crash-20260305-000000.txt.bak", "not a report");
    EXPECT_EQ(CrashReporter::countReports(dir.path()), 3);
}

TEST(CrashReportCountTest, MissingOrUnreadableFolderCountsZero) {
    TempDir dir;
    EXPECT_EQ(CrashReporter::countReports(dir / "never-made"), 0);
    writeFile(dir / "a-file", "x");
    EXPECT_EQ(CrashReporter::countReports(dir / "a-file"), 0);
    EXPECT_EQ(CrashReporter::countReports(dir.path()), 0);
}

TEST(WriteWholeFileTest, ReplacesTheContentAndIgnoresFailures) {
    TempDir dir;
    writeFile(dir / "f", "a much longer earlier content");
    writeWholeFile(dir / "f", std::string("new\0bytes", 9));
    EXPECT_EQ(readFile(dir / "f"), std::string("new\0bytes", 9));
    EXPECT_FALSE(fs::exists(dir / "f.tmp"));
    EXPECT_NO_THROW(writeWholeFile(dir / "missing/f", "x"));
    EXPECT_FALSE(fs::exists(dir / "missing/f"));
}

// ---- Real crashes in a child process.

TEST(CrashReporterCrashTest, NullDereferenceLeavesOneReportAndDumpThenEndsBySegv) {
    TempDir dir;
    const ChildRun run = runChild("null", dir / "crashes");
    EXPECT_TRUE(killedBy(run, SIGSEGV)) << describe(run);
    const CrashFiles files = onlyPair(dir / "crashes");
    const std::vector<std::string> lines = splitLines(readFile(files.report));
    ASSERT_EQ(lines.size(), 9u) << readFile(files.report);
    EXPECT_EQ(lines[0], "Ostrel crash report");
    EXPECT_EQ(lines[1], "===================");
    EXPECT_EQ(lines[2], "version: " + appVersion());
    EXPECT_THAT(lines[3], ::testing::MatchesRegex(R"(reason:  exception 0x0000000B at address 0x[0-9A-F]{16} in )"
                                                      R"(core_tests \+ 0x[0-9A-F]+)"))
        << lines[3];
    EXPECT_EQ(lines[4], "action:  Application startup > Project > save /tmp/song.ostproj");
    EXPECT_EQ(lines[5], "recent steps (oldest first):");
    EXPECT_THAT(lines[6], ::testing::MatchesRegex(stepLine + R"(\[project\] opened)")) << lines[6];
    EXPECT_THAT(lines[7], ::testing::MatchesRegex(stepLine + R"(\[action\] begin: Application startup)"));
    EXPECT_THAT(lines[8], ::testing::MatchesRegex(stepLine + R"(\[action\] begin: Project > save /tmp/song\.ostproj)"));
    EXPECT_EQ(readFile(files.report).back(), '\n');

    const DumpSummary dump = readDump(files.dump);
    EXPECT_EQ(dump.kinds, (std::vector<std::uint32_t>{1, 2, 3, 4, 0}));
    EXPECT_EQ(dump.pid, static_cast<std::uint32_t>(run.pid));
    EXPECT_EQ(dump.signal, SIGSEGV);
    EXPECT_EQ(dump.faultAddress, 0u);
    EXPECT_THAT(dump.maps, ::testing::HasSubstr("core_tests"));
    EXPECT_EQ(dump.stackStart, dump.stackPointer);
    EXPECT_GT(dump.stackBytes, 0u);
}

TEST(CrashReporterCrashTest, AbortWithNothingRecordedSaysNoneAndEndsByAbort) {
    TempDir dir;
    const ChildRun run = runChild("abort", dir.path());
    EXPECT_TRUE(killedBy(run, SIGABRT)) << describe(run);
    const CrashFiles files = onlyPair(dir.path());
    const std::vector<std::string> lines = splitLines(readFile(files.report));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_THAT(lines[3], ::testing::StartsWith("reason:  exception 0x00000006 at address 0x"));
    EXPECT_THAT(lines[3], ::testing::HasSubstr(" in libc.so.6 + 0x"));
    EXPECT_EQ(lines[4], "action:  (none)");
    EXPECT_EQ(lines[6], "  (none recorded)");
    EXPECT_EQ(readDump(files.dump).signal, SIGABRT);
}

TEST(CrashReporterCrashTest, StackOverflowIsReportedFromTheAlternateStack) {
    TempDir dir;
    const ChildRun run = runChild("overflow", dir.path());
    EXPECT_TRUE(killedBy(run, SIGSEGV)) << describe(run);
    const CrashFiles files = onlyPair(dir.path());
    const std::vector<std::string> lines = splitLines(readFile(files.report));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "action:  Deep recursion");
    EXPECT_THAT(lines[6], ::testing::MatchesRegex(stepLine + R"(\[action\] begin: Deep recursion)"));
    const DumpSummary dump = readDump(files.dump);
    EXPECT_EQ(dump.kinds, (std::vector<std::uint32_t>{1, 2, 3, 4, 0}));
    EXPECT_GT(dump.stackBytes, 0u);
    EXPECT_LE(dump.stackBytes, 1024u * 1024u);
}

TEST(CrashReporterCrashTest, TrapAfterASecondInstallReportsIntoTheNewFolder) {
    TempDir dir;
    const ChildRun run = runChild("trap", dir.path());
    EXPECT_TRUE(killedBy(run, SIGILL)) << describe(run);
    EXPECT_TRUE(fs::is_empty(dir / "first"));
    const CrashFiles files = onlyPair(dir.path());
    const std::vector<std::string> lines = splitLines(readFile(files.report));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[2], "version: " + appVersion());
    EXPECT_THAT(lines[3], ::testing::StartsWith("reason:  exception 0x00000004 at address 0x"));
    EXPECT_EQ(lines[6], unavailable);  // installed without a logger
}

TEST(CrashReporterCrashTest, CrashWhileAnotherThreadHoldsTheLoggerGivesUnavailableSteps) {
    TempDir dir;
    const ChildRun run = runChild("lock-held-elsewhere", dir.path());
    EXPECT_TRUE(killedBy(run, SIGSEGV)) << describe(run);
    const CrashFiles files = onlyPair(dir.path());
    EXPECT_THAT(splitLines(readFile(files.report)),
                ::testing::ElementsAre("Ostrel crash report", "===================", "version: " + appVersion(),
                                       ::testing::StartsWith("reason:  exception 0x0000000B"),
                                       "action:  Transport > play", "recent steps (oldest first):", unavailable));
}

TEST(CrashReporterCrashTest, CrashInsideTheLoggerOnTheSameThreadDoesNotDeadlock) {
    TempDir dir;
    const ChildRun run = runChild("lock-held-here", dir.path());
    EXPECT_TRUE(killedBy(run, SIGSEGV)) << describe(run);
    const CrashFiles files = onlyPair(dir.path());
    const std::vector<std::string> lines = splitLines(readFile(files.report));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "action:  Render");
    EXPECT_EQ(lines[6], unavailable);
}

// Regression: a second faulting thread used to end the process while the first was
// still writing, leaving a cut-off report.
TEST(CrashReporterCrashTest, SecondFaultingThreadWaitsForTheFirstReportToFinish) {
    TempDir dir;
    // Report names for every second around now are FIFOs, so the first thread's report
    // blocks until this process reads it.
    const auto now = std::chrono::system_clock::now();
    std::vector<fs::path> fifos;
    for (int s = -2; s <= 60; ++s) {
        const std::time_t t = std::chrono::system_clock::to_time_t(now + std::chrono::seconds(s));
        std::tm parts{};
        gmtime_r(&t, &parts);
        char name[64];
        std::strftime(name, sizeof name, "crash-%Y%m%d-%H%M%S.txt", &parts);
        fifos.push_back(dir / name);
        ASSERT_EQ(::mkfifo(fifos.back().c_str(), 0600), 0);
    }
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    ChildRun run;
    run.pid = spawnChild("two-threads", dir.path(), {"OSTREL_CRASH_READY_FD=" + std::to_string(ready[1])});
    ASSERT_GT(run.pid, 0);
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    sleepMs(300);  // the second thread is now in the handler, or about to be

    std::vector<pollfd> readers;
    for (const fs::path& fifo : fifos) {
        readers.push_back({::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC), POLLIN, 0});
    }
    std::string report;
    bool ended = false;
    for (int round = 0; round < 300 && !ended; ++round) {
        if (::poll(readers.data(), readers.size(), 100) == 0 && ::waitpid(run.pid, &run.status, WNOHANG) == run.pid) {
            run.finished = true;  // ended without writing: the report was cut off
            break;
        }
        for (pollfd& reader : readers) {
            if ((reader.revents & (POLLIN | POLLHUP)) == 0) {
                continue;
            }
            char chunk[512];
            const ssize_t got = ::read(reader.fd, chunk, sizeof chunk);
            if (got > 0) {
                report.append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0 && !report.empty()) {
                ended = true;  // the writer closed the report
            }
        }
    }
    for (pollfd& reader : readers) {
        ::close(reader.fd);
    }
    if (!run.finished) {
        awaitChild(run);
    }
    EXPECT_TRUE(killedBy(run, SIGSEGV)) << describe(run);
    EXPECT_TRUE(ended);
    const std::vector<std::string> lines = splitLines(report);
    ASSERT_EQ(lines.size(), 8u) << report;
    EXPECT_EQ(lines[4], "action:  First crash");
    EXPECT_THAT(lines[6], ::testing::MatchesRegex(stepLine + R"(\[action\] begin: First crash)"));
    EXPECT_THAT(lines[7], ::testing::MatchesRegex(stepLine + R"(\[action\] begin: Second crash)"));

    int dumps = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        dumps += entry.path().extension() == ".dmp" ? 1 : 0;
        EXPECT_FALSE(entry.is_regular_file() && entry.path().extension() == ".txt") << entry.path();
    }
    EXPECT_EQ(dumps, 1);
}

TEST(CrashReporterCrashTest, WriteReportNamesTheFileByTheUtcSecondInTheInstalledFolder) {
    TempDir dir;
    const auto before = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const ChildRun run = runChild("write-report", dir / "crashes");
    const auto after = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    ASSERT_TRUE(run.finished && WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << describe(run);
    const fs::path path = readFile(dir / "written");
    EXPECT_EQ(path.parent_path(), dir / "crashes");
    std::vector<std::string> allowed;
    for (std::time_t t = before; t <= after; ++t) {
        std::tm parts{};
        gmtime_r(&t, &parts);
        char name[64];
        std::strftime(name, sizeof name, "crash-%Y%m%d-%H%M%S.txt", &parts);
        allowed.push_back(name);
    }
    EXPECT_THAT(allowed, ::testing::Contains(path.filename().string()));
    const std::vector<std::string> lines = splitLines(readFile(path));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[3], "reason:  asked for by the user");
    EXPECT_EQ(lines[4], "action:  Help > report");
    EXPECT_EQ(CrashReporter::countReports(dir / "crashes"), 1);
}
