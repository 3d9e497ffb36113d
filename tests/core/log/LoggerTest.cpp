#include "core/log/Logger.h"

#include "CoreTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace ostrel::core;
using namespace ostrel::test;
using ::testing::ElementsAre;

namespace {

template <typename Items>
std::vector<std::string> messages(const Items& items) {
    std::vector<std::string> out;
    for (const auto& item : items) {
        out.push_back(item.message);
    }
    return out;
}

struct LoggerTest : ::testing::Test {
    LoggerTest() { logger.addSink(sink); }
    std::vector<std::string> ring() {
        std::vector<LogStep> steps;
        EXPECT_TRUE(logger.copyRecentSteps(steps));
        return messages(steps);
    }
    Logger logger;
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
};

}  // namespace

TEST_F(LoggerTest, LevelDecidesWhatReachesTheSinksAndOnlyInfoAndAboveEnterTheRing) {
    logger.log(LogLevel::DEBUG, "audio", "dropped at the default level");
    logger.setLevel(LogLevel::TRACE);
    logger.log(LogLevel::TRACE, "audio", "trace");
    logger.log(LogLevel::WARN, "audio", "underrun");
    logger.setLevel(LogLevel::FATAL);
    logger.log(LogLevel::ERROR, "audio", "below fatal");
    logger.recordStep("ui", "a step whatever the level");
    EXPECT_THAT(messages(sink->records), ElementsAre("trace", "underrun"));
    EXPECT_EQ(sink->records[1].threadTag, threadTag());
    EXPECT_THAT(threadTag(), ::testing::MatchesRegex("[0-9a-f]{4}"));
    EXPECT_THAT(ring(), ElementsAre("underrun", "a step whatever the level"));
}

TEST_F(LoggerTest, OnlyFailuresCarryTheActionsAndTheSixtyFourStepsBeforeThem) {
    ActionScope scope("Transport > play", logger);
    for (int i = 1; i <= 64; ++i) {
        logger.recordStep("test", std::to_string(i));
    }
    logger.log(LogLevel::WARN, "audio", "underrun");
    logger.log(LogLevel::ERROR, "audio", "device lost");
    ASSERT_EQ(sink->records.size(), 2u);
    EXPECT_TRUE(sink->records[0].actionStack.empty() && sink->records[0].recentSteps.empty());
    EXPECT_THAT(sink->records[1].actionStack, ElementsAre("Transport > play"));
    const std::vector<std::string> snapshot = messages(sink->records[1].recentSteps);
    ASSERT_EQ(snapshot.size(), 64u);
    EXPECT_EQ(snapshot.front(), "2");  // the scope's begin and "1" have dropped out
    EXPECT_EQ(snapshot.back(), "underrun");
    EXPECT_EQ(ring().back(), "device lost");
}

TEST(LoggerSinkTest, SinksRunInTheOrderAddedAndAThrowingOneSilencesNoOther) {
    struct NamedSink : LogSink {
        NamedSink(std::string name, std::vector<std::string>& calls) : name(std::move(name)), calls(calls) {}
        void write(const LogRecord& record) override {
            calls.push_back(name + ":" + record.message);
            if (name == "throwing") {
                throw std::runtime_error("disk on fire");
            }
        }
        std::string name;
        std::vector<std::string>& calls;
    };
    std::vector<std::string> calls;
    Logger logger;
    for (const char* name : {"throwing", "file", "console"}) {
        logger.addSink(std::make_shared<NamedSink>(name, calls));
    }
    EXPECT_NO_THROW(logger.log(LogLevel::ERROR, "app", "one"));
    logger.log(LogLevel::INFO, "app", "two");  // the mutex was released after the throw
    EXPECT_THAT(calls,
                ElementsAre("throwing:one", "file:one", "console:one", "throwing:two", "file:two", "console:two"));
}

TEST_F(LoggerTest, ScopesRecordBeginAndEndEvenOnAnExceptionAndErrorsCarryTheStackOutermostFirst) {
    {
        ActionScope a("A", logger);
        try {
            ActionScope b("Project > save /tmp/x.ostproj", logger);
            logger.log(LogLevel::ERROR, "project", "cannot save");
            throw std::runtime_error("disk full");
        } catch (const std::runtime_error&) {
        }
        logger.log(LogLevel::ERROR, "project", "still failing");
    }
    ASSERT_EQ(sink->records.size(), 2u);
    EXPECT_THAT(sink->records[0].actionStack, ElementsAre("A", "Project > save /tmp/x.ostproj"));
    EXPECT_THAT(sink->records[1].actionStack, ElementsAre("A"));
    EXPECT_THAT(ring(), ElementsAre("begin: A", "begin: Project > save /tmp/x.ostproj", "cannot save",
                                    "end: Project > save /tmp/x.ostproj", "still failing", "end: A"));
    EXPECT_TRUE(currentActionStack().empty());
}

// The stack outgrows its reserved storage several times; the signal-safe view must
// follow every move.
TEST_F(LoggerTest, DeepNestingKeepsEveryNameInOrderInTheView) {
    std::vector<std::unique_ptr<ActionScope>> scopes;
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i) {
        names.push_back("level " + std::to_string(i));
        scopes.push_back(std::make_unique<ActionScope>(names.back(), logger));
        const std::span<const std::string> view = currentActionStackView();
        ASSERT_EQ(std::vector<std::string>(view.begin(), view.end()), names);
    }
    scopes.clear();
    EXPECT_TRUE(currentActionStack().empty());
}

TEST(LogLevelTest, ParsingFoldsAsciiCaseOnlyAndLeavesTheOutputAloneOnNoMatch) {
    const std::pair<const char*, LogLevel> cases[] = {
        {"Error", LogLevel::ERROR}, {"wArN", LogLevel::WARN}, {"trace", LogLevel::TRACE}, {"FATAL", LogLevel::FATAL},
        {"", LogLevel::INFO}, {"warning", LogLevel::INFO}, {" info", LogLevel::INFO}, {"\xc3\x89RROR", LogLevel::INFO},
    };
    for (const auto& [text, expected] : cases) {
        LogLevel level = LogLevel::INFO;  // left alone when nothing matches
        EXPECT_EQ(parseLogLevel(text, level), expected != LogLevel::INFO) << text;
        EXPECT_EQ(level, expected) << text;
    }
}
