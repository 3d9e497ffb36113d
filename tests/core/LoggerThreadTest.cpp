#include "core/FileSink.h"
#include "core/Logger.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <thread>

using namespace ostrel::core;
using ostrel::test::readFile;
using ostrel::test::TempDir;

namespace {

// Checks, under the logger's lock, what every record carries; no lock of its own.
class CheckingSink : public LogSink {
public:
    void write(const LogRecord& record) override {
        ++records;
        if (record.level == LogLevel::ERROR) {
            // The action must be the writing thread's own, named after its category.
            if (record.actionStack.size() != 1 || record.actionStack[0] != std::string("work ").append(record.category)) {
                ++foreignActions;
            }
            if (record.recentSteps.size() > Logger::maxRecentSteps) {
                ++oversizedSnapshots;
            }
        }
    }
    int records = 0;
    int foreignActions = 0;
    int oversizedSnapshots = 0;
};

constexpr int writers = 4;
constexpr int recordsPerWriter = 300;

}  // namespace

TEST(LoggerThreadTest, ConcurrentWritersNeverInterleaveLinesOrMixActionStacks) {
    TempDir dir;
    Logger logger;
    auto checking = std::make_shared<CheckingSink>();
    logger.addSink(checking);
    // A small limit makes rotations happen while others wait on the lock; enough older
    // files are kept that no record is dropped.
    logger.addSink(std::make_shared<FileSink>(dir / "ostrel.log", 32 * 1024, 100));

    std::atomic<bool> done{false};
    std::atomic<int> busyReads{0};
    std::thread reader([&] {
        std::vector<LogStep> copy;
        while (!done.load(std::memory_order_acquire)) {
            if (!logger.copyRecentSteps(copy)) {
                busyReads.fetch_add(1, std::memory_order_relaxed);
            } else if (copy.size() > Logger::maxRecentSteps) {
                ADD_FAILURE() << "ring grew to " << copy.size();
            }
            std::this_thread::yield();
        }
    });

    std::vector<std::thread> threads;
    for (int t = 0; t < writers; ++t) {
        threads.emplace_back([&logger, t] {
            const std::string category = std::string("t").append(std::to_string(t));
            ActionScope scope(std::string("work ").append(category), logger);
            for (int i = 0; i < recordsPerWriter; ++i) {
                const LogLevel level = i % 10 == 0 ? LogLevel::ERROR : LogLevel::INFO;
                logger.log(level, category, std::string("record ").append(std::to_string(i)));
                if (i % 7 == 0) {
                    logger.recordStep(category, "step");
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    done.store(true, std::memory_order_release);
    reader.join();

    EXPECT_EQ(checking->records, writers * recordsPerWriter);
    EXPECT_EQ(checking->foreignActions, 0);
    EXPECT_EQ(checking->oversizedSnapshots, 0);

    // Every first line is whole, and each writer's records appear in its own order.
    std::string all;
    unsigned rotated = 0;
    for (unsigned n = 100; n >= 1; --n) {
        if (std::filesystem::exists(rotatedLogPath(dir / "ostrel.log", n))) {
            all += readFile(rotatedLogPath(dir / "ostrel.log", n));
            ++rotated;
        }
    }
    all += readFile(dir / "ostrel.log");
    EXPECT_GE(rotated, 2u);
    std::istringstream lines(all);
    std::map<std::string, int> nextIndex;
    std::string line;
    int firstLines = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("    ", 0) == 0) {
            continue;  // action and step lines of ERROR records
        }
        ++firstLines;
        const auto open = line.find(" [");
        const auto close = line.find("] record ");
        const auto tail = line.find("  (thread ");
        ASSERT_TRUE(open != std::string::npos && close != std::string::npos && tail != std::string::npos) << line;
        ASSERT_EQ(tail + 15, line.size()) << line;
        const std::string category = line.substr(open + 2, close - open - 2);
        const int index = std::stoi(line.substr(close + 9, tail - close - 9));
        EXPECT_EQ(index, nextIndex[category]++) << line;
    }
    EXPECT_EQ(firstLines, writers * recordsPerWriter);

    std::vector<LogStep> ring;
    ASSERT_TRUE(logger.copyRecentSteps(ring));
    EXPECT_EQ(ring.size(), Logger::maxRecentSteps);
}

TEST(LoggerThreadTest, LevelChangesWhileOthersLogAreSeenWhole) {
    Logger logger;
    auto checking = std::make_shared<CheckingSink>();
    logger.addSink(checking);
    std::thread switcher([&] {
        for (int i = 0; i < 500; ++i) {
            logger.setLevel(i % 2 == 0 ? LogLevel::FATAL : LogLevel::TRACE);
        }
        logger.setLevel(LogLevel::INFO);
    });
    std::thread writer([&] {
        for (int i = 0; i < 500; ++i) {
            logger.log(LogLevel::DEBUG, "audio", "x");
        }
    });
    switcher.join();
    writer.join();
    EXPECT_LE(checking->records, 500);
    EXPECT_EQ(logger.level(), LogLevel::INFO);
    // DEBUG never enters the ring, whatever the level was.
    std::vector<LogStep> ring;
    ASSERT_TRUE(logger.copyRecentSteps(ring));
    EXPECT_TRUE(ring.empty());
}
