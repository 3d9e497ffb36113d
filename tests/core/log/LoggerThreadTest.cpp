#include "core/log/FileSink.h"
#include "core/log/Logger.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <thread>

using namespace ostrel::core;
using namespace ostrel::test;

TEST(LoggerThreadTest, ConcurrentWritersAndLevelChangesNeverInterleaveLinesOrMixActionStacks) {
    constexpr int writers = 4;
    constexpr int recordsPerWriter = 300;
    TempDir dir;
    const std::filesystem::path path = dir / "ostrel.log";
    Logger logger;
    // A small limit makes rotations happen while others wait on the lock; enough older
    // files are kept that no record is dropped.
    logger.addSink(std::make_shared<FileSink>(path, 32 * 1024, 100));

    // Reads the ring and switches between levels that both let every record through.
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::vector<LogStep> copy;
        for (int i = 0; !done.load(std::memory_order_acquire); ++i) {
            logger.setLevel(i % 2 == 0 ? LogLevel::TRACE : LogLevel::INFO);
            if (logger.copyRecentSteps(copy) && copy.size() > Logger::maxRecentSteps) {
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
                logger.log(i % 10 == 0 ? LogLevel::ERROR : LogLevel::INFO, category,
                           std::string("record ").append(std::to_string(i)));
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

    // Every first line is whole, each writer's records appear in its own order, and an
    // ERROR's action line names its own thread's action.
    std::string all;
    for (unsigned n = 100; n >= 1; --n) {
        all += readFile(rotatedLogPath(path, n));  // empty for a file never made
    }
    EXPECT_TRUE(std::filesystem::exists(rotatedLogPath(path, 2)));
    all += readFile(path);
    std::istringstream lines(all);
    std::map<std::string, int> nextIndex;
    std::string expectedAction;
    int firstLines = 0;
    int actionLines = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("    ", 0) == 0) {
            if (line.rfind("    action: ", 0) == 0) {
                EXPECT_EQ(line, expectedAction);
                ++actionLines;
            }
            continue;
        }
        ++firstLines;
        const auto open = line.find(" [");
        const auto close = line.find("] record ");
        const auto tail = line.find("  (thread ");
        ASSERT_TRUE(open != std::string::npos && close != std::string::npos && tail + 15 == line.size()) << line;
        const std::string category = line.substr(open + 2, close - open - 2);
        EXPECT_EQ(std::stoi(line.substr(close + 9, tail - close - 9)), nextIndex[category]++) << line;
        expectedAction = std::string("    action: work ").append(category);
    }
    EXPECT_EQ(firstLines, writers * recordsPerWriter);
    EXPECT_EQ(actionLines, writers * recordsPerWriter / 10);
}
