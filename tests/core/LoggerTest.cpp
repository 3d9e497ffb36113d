#include "core/LogSink.h"
#include "core/Logger.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unistd.h>

using namespace ostrel::core;

namespace {

class RecordingSink : public LogSink {
public:
    void write(const LogRecord& record) override { records.push_back(record); }
    std::vector<LogRecord> records;
};

// Holds the logger's mutex from inside write until released, as a slow disk would.
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

class ThrowingSink : public LogSink {
public:
    void write(const LogRecord&) override { throw std::runtime_error("disk on fire"); }
};

std::vector<LogStep> steps(Logger& logger) {
    std::vector<LogStep> out;
    EXPECT_TRUE(logger.copyRecentSteps(out));
    return out;
}

std::vector<std::string> messages(const std::vector<LogStep>& list) {
    std::vector<std::string> out;
    for (const LogStep& step : list) {
        out.push_back(step.message);
    }
    return out;
}

struct Fixture : ::testing::Test {
    Fixture() { logger.addSink(sink); }
    Logger logger;
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
};

using LoggerLevelTest = Fixture;
using LoggerSnapshotTest = Fixture;
using ActionScopeTest = Fixture;

}  // namespace

TEST_F(LoggerLevelTest, DefaultLevelIsInfo) { EXPECT_EQ(logger.level(), LogLevel::INFO); }

TEST_F(LoggerLevelTest, DebugBelowTheLevelLeavesRingAndSinksAlone) {
    logger.log(LogLevel::DEBUG, "audio", "buffer refilled");
    EXPECT_TRUE(sink->records.empty());
    EXPECT_TRUE(steps(logger).empty());
}

TEST_F(LoggerLevelTest, DebugAtTraceLevelReachesSinksButNotTheRing) {
    logger.setLevel(LogLevel::TRACE);
    logger.log(LogLevel::TRACE, "audio", "t");
    logger.log(LogLevel::DEBUG, "audio", "d");
    ASSERT_EQ(sink->records.size(), 2u);
    EXPECT_EQ(sink->records[1].level, LogLevel::DEBUG);
    EXPECT_EQ(sink->records[1].message, "d");
    EXPECT_TRUE(steps(logger).empty());
}

TEST_F(LoggerLevelTest, WarnEntersRingAndReachesSinksWithoutSnapshots) {
    ActionScope scope("Transport > play", logger);
    logger.log(LogLevel::INFO, "transport", "started");
    logger.log(LogLevel::WARN, "audio", "underrun");
    ASSERT_EQ(sink->records.size(), 2u);
    const LogRecord& warn = sink->records[1];
    EXPECT_EQ(warn.category, "audio");
    EXPECT_EQ(warn.message, "underrun");
    EXPECT_TRUE(warn.actionStack.empty());
    EXPECT_TRUE(warn.recentSteps.empty());
    EXPECT_EQ(messages(steps(logger)), (std::vector<std::string>{"begin: Transport > play", "started", "underrun"}));
}

TEST_F(LoggerLevelTest, RecordBelowARaisedLevelIsDroppedEntirely) {
    logger.setLevel(LogLevel::ERROR);
    logger.log(LogLevel::WARN, "audio", "underrun");
    EXPECT_TRUE(sink->records.empty());
    EXPECT_TRUE(steps(logger).empty());
}

TEST_F(LoggerLevelTest, RecordStepRecordsEvenAtFatalAndReachesNoSink) {
    logger.setLevel(LogLevel::FATAL);
    logger.recordStep("ui", "clicked play");
    EXPECT_TRUE(sink->records.empty());
    const std::vector<LogStep> ring = steps(logger);
    ASSERT_EQ(ring.size(), 1u);
    EXPECT_EQ(ring[0].category, "ui");
    EXPECT_EQ(ring[0].message, "clicked play");
}

TEST_F(LoggerLevelTest, OutOfRangeLevelIsPassedOnNotRejected) {
    logger.log(static_cast<LogLevel>(9), "app", "odd");
    ASSERT_EQ(sink->records.size(), 1u);
    EXPECT_EQ(logLevelName(sink->records[0].level), "?");
}

TEST(LoggerSinkTest, SinksAreCalledInTheOrderAdded) {
    struct NamedSink : LogSink {
        NamedSink(std::string name, std::vector<std::string>& calls) : name(std::move(name)), calls(calls) {}
        void write(const LogRecord& record) override { calls.push_back(name + ":" + record.message); }
        std::string name;
        std::vector<std::string>& calls;
    };
    std::vector<std::string> calls;
    Logger logger;
    logger.addSink(std::make_shared<NamedSink>("file", calls));
    logger.addSink(std::make_shared<NamedSink>("console", calls));
    logger.log(LogLevel::INFO, "app", "one");
    logger.log(LogLevel::WARN, "app", "two");
    EXPECT_EQ(calls, (std::vector<std::string>{"file:one", "console:one", "file:two", "console:two"}));
}

TEST(LoggerFailureTest, ThrowingSinkNeitherReachesTheCallerNorSilencesLaterSinks) {
    Logger logger;
    auto after = std::make_shared<RecordingSink>();
    logger.addSink(std::make_shared<ThrowingSink>());
    logger.addSink(after);
    EXPECT_NO_THROW(logger.log(LogLevel::ERROR, "project", "save failed"));
    EXPECT_EQ(after->records.size(), 1u);
    // The mutex was released: the logger still works.
    logger.log(LogLevel::INFO, "project", "again");
    EXPECT_EQ(after->records.size(), 2u);
}

TEST_F(LoggerSnapshotTest, RecordCarriesTimeTagLevelCategoryAndMessage) {
    const std::int64_t before = currentLogTime();
    logger.log(LogLevel::INFO, "project", "saved");
    const std::int64_t after = currentLogTime();
    ASSERT_EQ(sink->records.size(), 1u);
    const LogRecord& r = sink->records[0];
    EXPECT_GE(r.time, before);
    EXPECT_LE(r.time, after);
    EXPECT_EQ(r.level, LogLevel::INFO);
    EXPECT_EQ(r.category, "project");
    EXPECT_EQ(r.message, "saved");
    EXPECT_EQ(r.threadTag, threadTag());
    const std::vector<LogStep> ring = steps(logger);
    ASSERT_EQ(ring.size(), 1u);
    EXPECT_EQ(ring[0].time, r.time);
    EXPECT_EQ(ring[0].category, "project");
}

TEST_F(LoggerSnapshotTest, ErrorSnapshotExcludesItsOwnStepAndTheNextErrorShowsIt) {
    logger.log(LogLevel::INFO, "project", "opened");
    logger.log(LogLevel::ERROR, "audio", "device lost");
    logger.log(LogLevel::FATAL, "app", "giving up");
    ASSERT_EQ(sink->records.size(), 3u);
    EXPECT_EQ(messages(sink->records[1].recentSteps), (std::vector<std::string>{"opened"}));
    EXPECT_EQ(messages(sink->records[2].recentSteps), (std::vector<std::string>{"opened", "device lost"}));
    EXPECT_EQ(sink->records[2].recentSteps[1].category, "audio");
}

TEST_F(LoggerSnapshotTest, RingKeepsTheSixtyFourNewestSteps) {
    for (int i = 1; i <= 65; ++i) {
        logger.recordStep("test", std::to_string(i));
    }
    const std::vector<LogStep> ring = steps(logger);
    ASSERT_EQ(ring.size(), 64u);
    EXPECT_EQ(ring.front().message, "2");
    EXPECT_EQ(ring.back().message, "65");

    logger.log(LogLevel::ERROR, "test", "66");
    ASSERT_EQ(sink->records.size(), 1u);
    EXPECT_EQ(sink->records[0].recentSteps.size(), 64u);
    EXPECT_EQ(sink->records[0].recentSteps.front().message, "2");
    EXPECT_EQ(steps(logger).front().message, "3");
}

TEST_F(LoggerSnapshotTest, CopyRecentStepsFailsAtOnceWhileTheLockIsHeldAndLeavesOutputAlone) {
    auto blocking = std::make_shared<BlockingSink>();
    logger.addSink(blocking);
    logger.recordStep("ui", "before");
    std::thread holder([&] { logger.log(LogLevel::INFO, "project", "slow write"); });
    blocking->waitUntilEntered();

    std::vector<LogStep> out{LogStep{1, "keep", "me"}};
    EXPECT_FALSE(logger.copyRecentSteps(out));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].category, "keep");
    int visited = 0;
    EXPECT_FALSE(logger.tryVisitRecentSteps([&](const LogStep&) { ++visited; }));
    EXPECT_EQ(visited, 0);

    blocking->release();
    holder.join();
    EXPECT_EQ(messages(steps(logger)), (std::vector<std::string>{"before", "slow write"}));
}

TEST_F(LoggerSnapshotTest, VisitingTheRingSeesTheStepsOldestFirst) {
    logger.recordStep("a", "1");
    logger.recordStep("b", "2");
    std::vector<std::string> seen;
    EXPECT_TRUE(logger.tryVisitRecentSteps([&](const LogStep& s) { seen.push_back(s.category + s.message); }));
    EXPECT_EQ(seen, (std::vector<std::string>{"a1", "b2"}));
}

TEST_F(ActionScopeTest, NestedScopesRecordBeginAndEndInOrder) {
    {
        ActionScope a("A", logger);
        ActionScope b("B", logger);
    }
    const std::vector<LogStep> ring = steps(logger);
    EXPECT_EQ(messages(ring), (std::vector<std::string>{"begin: A", "begin: B", "end: B", "end: A"}));
    for (const LogStep& step : ring) {
        EXPECT_EQ(step.category, "action");
    }
    EXPECT_TRUE(currentActionStack().empty());
}

TEST_F(ActionScopeTest, ErrorInsideNestedScopesCarriesTheStackOutermostFirst) {
    ActionScope a("A", logger);
    {
        ActionScope b("B", logger);
        logger.log(LogLevel::ERROR, "project", "cannot save");
    }
    logger.log(LogLevel::ERROR, "project", "still failing");
    ASSERT_EQ(sink->records.size(), 2u);
    EXPECT_EQ(sink->records[0].actionStack, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(messages(sink->records[0].recentSteps), (std::vector<std::string>{"begin: A", "begin: B"}));
    EXPECT_EQ(sink->records[1].actionStack, (std::vector<std::string>{"A"}));
}

TEST_F(ActionScopeTest, AnotherThreadsStackIsUnaffected) {
    ActionScope a("GUI work", logger);
    std::vector<std::string> seenThere{"not run"};
    std::thread([&] {
        seenThere = currentActionStack();
        ActionScope b("Render", logger);
        logger.log(LogLevel::ERROR, "render", "failed");
    }).join();
    EXPECT_TRUE(seenThere.empty());
    ASSERT_EQ(sink->records.size(), 1u);
    EXPECT_EQ(sink->records[0].actionStack, (std::vector<std::string>{"Render"}));
    EXPECT_EQ(currentActionStack(), (std::vector<std::string>{"GUI work"}));
}

TEST_F(ActionScopeTest, ExceptionPassingThroughAScopeStillRecordsItsEnd) {
    try {
        ActionScope a("Project > save /tmp/x.ostproj", logger);
        throw std::runtime_error("disk full");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(messages(steps(logger)),
              (std::vector<std::string>{"begin: Project > save /tmp/x.ostproj", "end: Project > save /tmp/x.ostproj"}));
    EXPECT_TRUE(currentActionStack().empty());
}

TEST_F(ActionScopeTest, DeepNestingKeepsEveryNameInOrder) {
    std::vector<std::unique_ptr<ActionScope>> scopes;
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i) {
        names.push_back("level " + std::to_string(i));
        scopes.push_back(std::make_unique<ActionScope>(names.back(), logger));
        ASSERT_EQ(currentActionStack(), names);
        const std::span<const std::string> view = currentActionStackView();
        ASSERT_EQ(view.size(), names.size());
        EXPECT_EQ(view.back(), names.back());
    }
    while (!scopes.empty()) {
        scopes.pop_back();
        names.pop_back();
        ASSERT_EQ(currentActionStack(), names);
    }
}

TEST_F(ActionScopeTest, ScopesClosedOutOfOrderPopTheLastEntry) {
    auto outer = std::make_unique<ActionScope>("outer", logger);
    ActionScope inner("inner", logger);
    outer.reset();
    EXPECT_EQ(currentActionStack(), (std::vector<std::string>{"outer"}));
    EXPECT_EQ(steps(logger).back().message, "end: outer");
}

TEST(LogLevelTest, ParsingFoldsAsciiCaseOnly) {
    LogLevel level = LogLevel::TRACE;
    EXPECT_TRUE(parseLogLevel("Error", level));
    EXPECT_EQ(level, LogLevel::ERROR);
    for (const char* text : {"warn", "Warn", "WARN", "wArN"}) {
        level = LogLevel::TRACE;
        EXPECT_TRUE(parseLogLevel(text, level)) << text;
        EXPECT_EQ(level, LogLevel::WARN) << text;
    }
    EXPECT_TRUE(parseLogLevel("trace", level));
    EXPECT_EQ(level, LogLevel::TRACE);
    EXPECT_TRUE(parseLogLevel("fatal", level));
    EXPECT_EQ(level, LogLevel::FATAL);
}

TEST(LogLevelTest, UnknownNamesLeaveTheOutputUnchanged) {
    for (const char* text : {"", "verbose", "warning", " info", "info ", "INF", "\xc3\x89RROR"}) {
        LogLevel level = LogLevel::DEBUG;
        EXPECT_FALSE(parseLogLevel(text, level)) << text;
        EXPECT_EQ(level, LogLevel::DEBUG) << text;
    }
}

TEST(LogLevelTest, NamesOfEveryLevelAndOfStrayValues) {
    EXPECT_EQ(logLevelName(LogLevel::TRACE), "TRACE");
    EXPECT_EQ(logLevelName(LogLevel::DEBUG), "DEBUG");
    EXPECT_EQ(logLevelName(LogLevel::INFO), "INFO");
    EXPECT_EQ(logLevelName(LogLevel::WARN), "WARN");
    EXPECT_EQ(logLevelName(LogLevel::ERROR), "ERROR");
    EXPECT_EQ(logLevelName(LogLevel::FATAL), "FATAL");
    EXPECT_EQ(logLevelName(static_cast<LogLevel>(6)), "?");
    EXPECT_EQ(logLevelName(static_cast<LogLevel>(-1)), "?");
}

TEST(ThreadTagTest, IsTheFnv1aHashOfTheKernelThreadIdInFourHexDigits) {
    auto expectedFor = [](std::uint32_t id) {
        std::uint64_t hash = 14695981039346656037ull;
        for (int i = 0; i < 4; ++i) {
            hash = (hash ^ ((id >> (8 * i)) & 0xff)) * 1099511628211ull;
        }
        char text[8];
        std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(hash & 0xffff));
        return std::string(text);
    };
    EXPECT_EQ(threadTag(), expectedFor(static_cast<std::uint32_t>(::gettid())));
    std::string other, otherExpected;
    std::thread([&] {
        other = threadTag();
        otherExpected = expectedFor(static_cast<std::uint32_t>(::gettid()));
    }).join();
    EXPECT_EQ(other, otherExpected);
    for (const std::string& tag : {threadTag(), other}) {
        ASSERT_EQ(tag.size(), 4u);
        EXPECT_EQ(tag.find_first_not_of("0123456789abcdef"), std::string::npos) << tag;
    }
}

TEST(LoggerInstanceTest, IsOneObjectForTheWholeProcess) {
    Logger* fromHere = &Logger::instance();
    Logger* fromThere = nullptr;
    std::thread([&] { fromThere = &Logger::instance(); }).join();
    EXPECT_EQ(fromHere, fromThere);
}
