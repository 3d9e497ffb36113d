#include "core/log/FileSink.h"

#include "core/Failure.h"
#include "support/HostileFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <tuple>

namespace fs = std::filesystem;
using namespace ostrel::core;
using namespace ostrel::test;

namespace {

// 2026-03-01T14:05:09.042Z
constexpr std::int64_t exampleTime = 1772373909ll * 10'000'000 + 42 * 10'000;
constexpr std::int64_t second = 10'000'000;
constexpr std::uint64_t programLimit = 5242880;

LogRecord record(std::string message = "saved", LogLevel level = LogLevel::INFO) {
    return LogRecord{exampleTime, level, "project", std::move(message), "3f9c", {}, {}};
}

std::string line(const std::string& message) { return formatLogLine(record(message)); }

}  // namespace

TEST(LogTimestampTest, UtcInTheLongAndShortFormsRoundingTowardThePast) {
    const std::tuple<std::int64_t, TimestampForm, const char*> cases[] = {
        {exampleTime, TimestampForm::Long, "2026-03-01T14:05:09.042Z"},
        {exampleTime + 9'999, TimestampForm::Short, "14:05:09.042"},  // below a millisecond is cut off
        {0, TimestampForm::Long, "1970-01-01T00:00:00.000Z"},
        {1709251199ll * second + 9'999'999, TimestampForm::Long, "2024-02-29T23:59:59.999Z"},
        {1709251200ll * second, TimestampForm::Long, "2024-03-01T00:00:00.000Z"},
        // Truncating toward zero would print a negative millisecond field before 1970.
        {-1, TimestampForm::Long, "1969-12-31T23:59:59.999Z"},
        {-10'001, TimestampForm::Short, "23:59:59.998"},
    };
    for (const auto& [ticks, form, text] : cases) {
        EXPECT_EQ(formatTimestamp(ticks, form), text) << ticks;
    }
}

TEST(LogLineTest, FirstLineThenForAFailureTheActionLineAndOneLinePerStep) {
    EXPECT_EQ(line("saved"), "2026-03-01T14:05:09.042Z INFO [project] saved  (thread 3f9c)\n");
    LogRecord r = record("cannot write /tmp/a.ostproj", LogLevel::ERROR);
    r.actionStack = {"Application startup", "Project > save /tmp/a.ostproj"};
    r.recentSteps = {
        {exampleTime - 52 * 10'000, "action", "begin: Project > save /tmp/a.ostproj"},
        {exampleTime - 3 * 10'000, "settings", "applied"},
        {exampleTime, "ui", "clicked"},
    };
    EXPECT_EQ(formatLogLine(r),
              "2026-03-01T14:05:09.042Z ERROR [project] cannot write /tmp/a.ostproj  (thread 3f9c)\n"
              "    action: Application startup > Project > save /tmp/a.ostproj\n"
              "    recent steps (oldest first):\n"
              "      14:05:08.990 [action] begin: Project > save /tmp/a.ostproj\n"
              "      14:05:09.039 [settings] applied\n"
              "      14:05:09.042 [ui] clicked\n");
    r.actionStack.clear();  // each part is left out when empty
    r.recentSteps.resize(1);
    EXPECT_EQ(formatLogLine(r),
              "2026-03-01T14:05:09.042Z ERROR [project] cannot write /tmp/a.ostproj  (thread 3f9c)\n"
              "    recent steps (oldest first):\n"
              "      14:05:08.990 [action] begin: Project > save /tmp/a.ostproj\n");
}

TEST(FileSinkTest, CreatesTheFolderAndAppends) {
    TempDir dir;
    const fs::path path = dir / "data/logs/ostrel.log";
    FileSink sink(path, programLimit, 3);
    EXPECT_TRUE(fs::is_directory(dir / "data/logs"));
    sink.write(record("one"));
    sink.write(record("two"));
    EXPECT_EQ(readFile(path), line("one") + line("two"));
}

namespace {

// What the process writes on its standard error while the object lives, kept in a file.
class StandardErrorCapture {
public:
    explicit StandardErrorCapture(const fs::path& file)
        : file_(file), saved_(::dup(STDERR_FILENO)) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StandardErrorCapture() { restore(); }
    std::string text() {
        restore();
        return readFile(file_);
    }

private:
    void restore() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }
    fs::path file_;
    int saved_;
};

}  // namespace

// Regression: a log that could not be opened or written lost its records without a word, the
// whole run long, even on the standard error.
TEST(FileSinkTest, AnUnusableLogIsSaidOnceOnTheStandardErrorWithWhyAndEveryRecordGoesThereFromThen) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& log)> arrange;
        std::string why;
    };
    const Case cases[] = {
        {"a folder where the file should be", [](const fs::path& log) { fs::create_directories(log); },
         "Is a directory"},
        {"a second name of another file", [](const fs::path& log) {
             writeFile(log.parent_path() / "other", "");
             fs::create_hard_link(log.parent_path() / "other", log);
         }, "it has more than one name, a hard link"},
        {"a link", [](const fs::path& log) { fs::create_symlink("nowhere", log); }, "it is a symbolic link"},
        {"its folder a file", [](const fs::path& log) {
             fs::remove(log.parent_path());
             writeFile(log.parent_path(), "x");
         },
         "Not a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path log = dir / "logs" / "ostrel.log";
        fs::create_directory(dir / "logs");
        c.arrange(log);
        FileSink sink(log, programLimit, 3);
        std::string said;
        {
            StandardErrorCapture capture(dir / "stderr.txt");
            sink.write(record("one"));
            sink.write(record("two"));
            said = capture.text();
        }
        LogRecord notice = record("the log cannot be written to " + log.string() + " (" + c.why +
                                  "); the log goes to the standard error from now on", LogLevel::ERROR);
        notice.category = "app";
        EXPECT_EQ(said, formatLogLine(notice) + line("one") + line("two"));
    }
}

// Regression: a log whose folder could not be made (a file system with no room left) was said
// to be missing ("No such file or directory"), not why its folder could not be made.
TEST(FileSinkTest, ALogWhoseFolderCannotBeMadeSaysWhyTheMakeFailed) {
    // sysfs takes no new folder, and its reason is not that something is missing.
    const fs::path folder = "/sys/ostrel-test-unmakeable";
    if (::mkdir(folder.c_str(), 0700) == 0) {
        fs::remove(folder);
        GTEST_SKIP() << "/sys takes new folders here";
    }
    const std::string why = "cannot create folder " + folder.string() + ": " + systemMessage(errno);
    TempDir dir;
    FileSink sink(folder / "ostrel.log", programLimit, 3);
    StandardErrorCapture capture(dir / "stderr.txt");
    sink.write(record("one"));
    LogRecord notice = record("the log cannot be written to " + (folder / "ostrel.log").string() + " (" + why +
                                  "); the log goes to the standard error from now on",
                              LogLevel::ERROR);
    notice.category = "app";
    EXPECT_EQ(capture.text(), formatLogLine(notice) + line("one"));
}

// Regression: a FIFO at the log's path blocked the open, with the logger's mutex held.
TEST(FileSinkTest, AFifoWhereTheLogBelongsLosesTheRecordInsteadOfBlocking) {
    TempDir dir;
    makeFifo(dir / "ostrel.log");
    FileSink sink(dir / "ostrel.log", programLimit, 3);
    EXPECT_TRUE(returnsWithoutAWriter(dir / "ostrel.log", [&] { sink.write(record("lost")); }));
    EXPECT_TRUE(fs::is_fifo(dir / "ostrel.log"));
}

// Regression: a link planted at the log's path had the log appended to the file it led to,
// and a log made with the usual umask could be read by every user.
TEST(FileSinkTest, TheLogIsTheUsersAloneAndNeverWrittenThroughALinkOrAnotherName) {
    TempDir dir;
    const fs::path log = dir / "ostrel.log";
    writeFile(dir / "precious", "words\n");
    for (const bool hard : {false, true}) {
        hard ? fs::create_hard_link(dir / "precious", log) : fs::create_symlink(dir / "precious", log);
        FileSink(log, programLimit, 3).write(record("lost"));
        EXPECT_EQ(readFile(dir / "precious"), "words\n") << (hard ? "a hard link" : "a link");
        fs::remove(log);
    }
    writeFile(rotatedLogPath(log, 2), "older\n");  // as an earlier version left it
    fs::permissions(rotatedLogPath(log, 2), fs::perms(0644));
    FileSink(log, programLimit, 3).write(record("new"));
    EXPECT_EQ(fs::status(log).permissions(), fs::perms(0600));
    EXPECT_EQ(fs::status(rotatedLogPath(log, 2)).permissions(), fs::perms(0600));
}

TEST(FileSinkRotationTest, AtTheProgramLimitEveryOlderFileShiftsAndTheOldestIsDropped) {
    TempDir dir;
    const fs::path path = dir / "logs/ostrel.log";
    FileSink sink(path, programLimit, 3);
    writeFile(path, std::string(programLimit - 1, 'L'));
    writeFile(rotatedLogPath(path, 1), "one");
    writeFile(rotatedLogPath(path, 2), "two");
    writeFile(rotatedLogPath(path, 3), "three");
    sink.write(record("below"));  // one byte short of the limit: appended
    EXPECT_EQ(readFile(rotatedLogPath(path, 1)), "one");
    sink.write(record("fresh"));  // now past it: rotated first
    EXPECT_EQ(readFile(path), line("fresh"));
    EXPECT_EQ(readFile(rotatedLogPath(path, 1)), std::string(programLimit - 1, 'L') + line("below"));
    EXPECT_EQ(readFile(rotatedLogPath(path, 2)), "one");
    EXPECT_EQ(readFile(rotatedLogPath(path, 3)), "two");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "logs"), fs::directory_iterator()), 4);
}

// With nothing to keep, moving the live file to ".1" would keep one file anyway and
// never drop it; the live file is started afresh instead.
TEST(FileSinkRotationTest, KeepingNoFilesStartsTheLiveFileAfresh) {
    TempDir dir;
    const fs::path path = dir / "ostrel.log";
    writeFile(path, "live");
    FileSink(path, 4, 0).write(record());
    EXPECT_EQ(readFile(path), line("saved"));
    EXPECT_FALSE(fs::exists(rotatedLogPath(path, 0)) || fs::exists(rotatedLogPath(path, 1)));
}
