#include "core/FileSink.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace ostrel::core;
using ostrel::test::readFile;
using ostrel::test::TempDir;
using ostrel::test::writeFile;

namespace {

// 2026-03-01T14:05:09.042Z
constexpr std::int64_t exampleTime = 1772373909ll * 10'000'000 + 42 * 10'000;
constexpr std::int64_t second = 10'000'000;

LogRecord infoRecord(std::string message = "saved") {
    LogRecord r;
    r.time = exampleTime;
    r.level = LogLevel::INFO;
    r.category = "project";
    r.message = std::move(message);
    r.threadTag = "3f9c";
    return r;
}

std::size_t countLines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

TEST(LogTimestampTest, LongAndShortFormsInUtc) {
    EXPECT_EQ(formatTimestamp(exampleTime, true), "2026-03-01T14:05:09.042Z");
    EXPECT_EQ(formatTimestamp(exampleTime, false), "14:05:09.042");
    EXPECT_EQ(formatTimestamp(0, true), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(formatTimestamp(946684800ll * second, true), "2000-01-01T00:00:00.000Z");
}

TEST(LogTimestampTest, LeapDayAndLastMillisecondOfTheDay) {
    EXPECT_EQ(formatTimestamp(1709251199ll * second + 9'999'999, true), "2024-02-29T23:59:59.999Z");
    EXPECT_EQ(formatTimestamp(1709251200ll * second, true), "2024-03-01T00:00:00.000Z");
}

TEST(LogTimestampTest, SubMillisecondTicksAreTruncated) {
    EXPECT_EQ(formatTimestamp(exampleTime + 9'999, false), "14:05:09.042");
}

// Truncating toward zero would print a negative millisecond field before 1970.
TEST(LogTimestampTest, TimesBeforeTheEpochRoundDown) {
    EXPECT_EQ(formatTimestamp(-1, true), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(formatTimestamp(-10'001, false), "23:59:59.998");
}

TEST(LogLineTest, InfoRecordIsOneLineInTheDocumentedForm) {
    EXPECT_EQ(formatLogLine(infoRecord()), "2026-03-01T14:05:09.042Z INFO [project] saved  (thread 3f9c)\n");
}

TEST(LogLineTest, ErrorWithActionAndThreeStepsGivesSixLines) {
    LogRecord r = infoRecord("cannot write /tmp/a.ostproj");
    r.level = LogLevel::ERROR;
    r.actionStack = {"Application startup", "Project > save /tmp/a.ostproj"};
    r.recentSteps = {
        {exampleTime - 52 * 10'000, "action", "begin: Project > save /tmp/a.ostproj"},
        {exampleTime - 3 * 10'000, "settings", "applied"},
        {exampleTime, "ui", "clicked"},
    };
    const std::string text = formatLogLine(r);
    EXPECT_EQ(text,
              "2026-03-01T14:05:09.042Z ERROR [project] cannot write /tmp/a.ostproj  (thread 3f9c)\n"
              "    action: Application startup > Project > save /tmp/a.ostproj\n"
              "    recent steps (oldest first):\n"
              "      14:05:08.990 [action] begin: Project > save /tmp/a.ostproj\n"
              "      14:05:09.039 [settings] applied\n"
              "      14:05:09.042 [ui] clicked\n");
    EXPECT_EQ(countLines(text), 6u);
}

TEST(LogLineTest, ErrorWithoutActionsOrStepsIsOnlyTheFirstLine) {
    LogRecord r = infoRecord("x");
    r.level = LogLevel::ERROR;
    EXPECT_EQ(formatLogLine(r), "2026-03-01T14:05:09.042Z ERROR [project] x  (thread 3f9c)\n");
}

TEST(LogLineTest, StepsWithoutActionsGiveNoActionLine) {
    LogRecord r = infoRecord("x");
    r.level = LogLevel::FATAL;
    r.recentSteps = {{exampleTime, "a", "b"}};
    EXPECT_EQ(formatLogLine(r),
              "2026-03-01T14:05:09.042Z FATAL [project] x  (thread 3f9c)\n"
              "    recent steps (oldest first):\n"
              "      14:05:09.042 [a] b\n");
}

TEST(LogLineTest, MessagesAreWrittenUnchangedAndStrayLevelsAsQuestionMark) {
    LogRecord r = infoRecord("two\nlines");
    r.level = static_cast<LogLevel>(42);
    EXPECT_EQ(formatLogLine(r), "2026-03-01T14:05:09.042Z ? [project] two\nlines  (thread 3f9c)\n");
}

TEST(RotatedLogPathTest, AppendsTheNumberToTheWholeName) {
    EXPECT_EQ(rotatedLogPath("/data/logs/ostrel.log", 3), fs::path("/data/logs/ostrel.log.3"));
}

TEST(FileSinkTest, CreatesTheFolderAndTheFirstRecordCreatesTheFile) {
    TempDir dir;
    const fs::path path = dir / "data/logs/ostrel.log";
    FileSink sink(path, 5242880, 3);
    EXPECT_TRUE(fs::is_directory(dir / "data/logs"));
    EXPECT_FALSE(fs::exists(path));
    sink.write(infoRecord("one"));
    sink.write(infoRecord("two"));
    EXPECT_EQ(readFile(path), formatLogLine(infoRecord("one")) + formatLogLine(infoRecord("two")));
}

TEST(FileSinkTest, FolderThatCannotBeCreatedDoesNotThrow) {
    TempDir dir;
    writeFile(dir / "blocker", "x");
    EXPECT_NO_THROW({
        FileSink sink(dir / "blocker/logs/ostrel.log", 100, 3);
        sink.write(infoRecord());
    });
}

TEST(FileSinkTest, RecordIsLostWhileTheFileCannotBeOpenedAndWrittenOnceItCan) {
    TempDir dir;
    const fs::path path = dir / "ostrel.log";
    fs::create_directory(path);  // a folder where the file should be
    FileSink sink(path, 5242880, 3);
    sink.write(infoRecord("lost"));
    fs::remove(path);
    sink.write(infoRecord("kept"));
    EXPECT_EQ(readFile(path), formatLogLine(infoRecord("kept")));
}

TEST(FileSinkTest, FileRemovedBetweenRecordsIsCreatedAgain) {
    TempDir dir;
    FileSink sink(dir / "ostrel.log", 5242880, 3);
    sink.write(infoRecord("one"));
    fs::remove(dir / "ostrel.log");
    sink.write(infoRecord("two"));
    EXPECT_EQ(readFile(dir / "ostrel.log"), formatLogLine(infoRecord("two")));
}

TEST(FileSinkRotationTest, FileOneByteBelowTheLimitIsNotRotated) {
    TempDir dir;
    const fs::path path = dir / "ostrel.log";
    writeFile(path, std::string(99, 'x'));
    FileSink sink(path, 100, 3);
    sink.write(infoRecord());
    EXPECT_FALSE(fs::exists(rotatedLogPath(path, 1)));
    EXPECT_EQ(readFile(path), std::string(99, 'x') + formatLogLine(infoRecord()));
}

TEST(FileSinkRotationTest, FileOfExactlyTheLimitIsRotatedBeforeTheRecord) {
    TempDir dir;
    const fs::path path = dir / "ostrel.log";
    writeFile(path, std::string(100, 'x'));
    FileSink sink(path, 100, 3);
    sink.write(infoRecord());
    EXPECT_EQ(readFile(rotatedLogPath(path, 1)), std::string(100, 'x'));
    EXPECT_EQ(readFile(path), formatLogLine(infoRecord()));
}

TEST(FileSinkRotationTest, ProgramLimitShiftsEveryOlderFileAndDropsTheOldest) {
    TempDir dir;
    const fs::path path = dir / "logs/ostrel.log";
    FileSink sink(path, 5242880, 3);
    writeFile(path, std::string(5242880, 'L'));
    writeFile(rotatedLogPath(path, 1), "one");
    writeFile(rotatedLogPath(path, 2), "two");
    writeFile(rotatedLogPath(path, 3), "three");
    sink.write(infoRecord("fresh"));
    EXPECT_EQ(readFile(path), formatLogLine(infoRecord("fresh")));
    EXPECT_EQ(fs::file_size(rotatedLogPath(path, 1)), 5242880u);
    EXPECT_EQ(readFile(rotatedLogPath(path, 2)), "one");
    EXPECT_EQ(readFile(rotatedLogPath(path, 3)), "two");
    EXPECT_FALSE(fs::exists(rotatedLogPath(path, 4)));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir / "logs")) {
        ++files;
    }
    EXPECT_EQ(files, 4u);
}

TEST(FileSinkRotationTest, GrowingFileRotatesAfterPassingTheLimitByAtMostOneRecord) {
    TempDir dir;
    const fs::path path = dir / "ostrel.log";
    FileSink sink(path, 200, 3);
    const std::size_t lineSize = formatLogLine(infoRecord()).size();
    for (int i = 0; i < 40; ++i) {
        sink.write(infoRecord());
    }
    for (unsigned n = 1; n <= 3; ++n) {
        const auto size = fs::file_size(rotatedLogPath(path, n));
        EXPECT_GE(size, 200u);
        EXPECT_LT(size, 200u + lineSize);
        EXPECT_EQ(size % lineSize, 0u);  // whole lines only
    }
    EXPECT_FALSE(fs::exists(rotatedLogPath(path, 4)));
}

TEST(FileSinkRotationTest, MissingMiddleFilesDoNotStopTheOtherMoves) {
    TempDir dir;
    const fs::path path = dir / "ostrel.log";
    writeFile(path, "live");
    writeFile(rotatedLogPath(path, 3), "three");
    FileSink sink(path, 4, 3);
    sink.write(infoRecord());
    EXPECT_EQ(readFile(rotatedLogPath(path, 1)), "live");
    EXPECT_FALSE(fs::exists(rotatedLogPath(path, 2)));
    EXPECT_FALSE(fs::exists(rotatedLogPath(path, 3)));
    EXPECT_EQ(readFile(path), formatLogLine(infoRecord()));
}

TEST(FileSinkRotationTest, KeepingOneFileReplacesItOnEachRotation) {
    TempDir dir;
    const fs::path path = dir / "ostrel.log";
    writeFile(path, "live");
    writeFile(rotatedLogPath(path, 1), "old");
    FileSink sink(path, 4, 1);
    sink.write(infoRecord());
    EXPECT_EQ(readFile(rotatedLogPath(path, 1)), "live");
    EXPECT_FALSE(fs::exists(rotatedLogPath(path, 2)));
}

// With nothing to keep, moving the live file to ".1" would keep one file anyway and
// never drop it; the live file is started afresh instead.
TEST(FileSinkRotationTest, KeepingNoFilesStartsTheLiveFileAfresh) {
    TempDir dir;
    const fs::path path = dir / "ostrel.log";
    writeFile(path, "live");
    FileSink sink(path, 4, 0);
    sink.write(infoRecord());
    EXPECT_EQ(readFile(path), formatLogLine(infoRecord()));
    EXPECT_FALSE(fs::exists(rotatedLogPath(path, 0)));
    EXPECT_FALSE(fs::exists(rotatedLogPath(path, 1)));
}

TEST(FileSinkRotationTest, LiveFileThatCannotMoveIsStillAppendedTo) {
    TempDir dir;
    const fs::path path = dir / "ostrel.log";
    writeFile(path, "live");
    // Non-empty folders can be neither deleted nor moved over one another, so every
    // step of the rotation fails and the live file stays where it is.
    for (unsigned n = 1; n <= 3; ++n) {
        fs::create_directory(rotatedLogPath(path, n));
        writeFile(rotatedLogPath(path, n) / "pin", "x");
    }
    FileSink sink(path, 4, 3);
    sink.write(infoRecord("a"));
    sink.write(infoRecord("b"));
    EXPECT_EQ(readFile(path), "live" + formatLogLine(infoRecord("a")) + formatLogLine(infoRecord("b")));
}

TEST(FileSinkTest, WorksThroughTheLogger) {
    TempDir dir;
    const fs::path path = dir / "logs/ostrel.log";
    Logger logger;
    logger.addSink(std::make_shared<FileSink>(path, 5242880, 3));
    {
        ActionScope scope("Project > save /x", logger);
        logger.log(LogLevel::INFO, "project", "saving");
        logger.log(LogLevel::ERROR, "project", "cannot save");
    }
    const std::string text = readFile(path);
    EXPECT_EQ(countLines(text), 6u) << text;
    EXPECT_NE(text.find(" INFO [project] saving  (thread " + threadTag() + ")\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    action: Project > save /x\n    recent steps (oldest first):\n      "), std::string::npos)
        << text;
    EXPECT_NE(text.find(" [action] begin: Project > save /x\n      "), std::string::npos) << text;
}
