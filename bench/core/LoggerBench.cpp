#include "core/log/FileSink.h"
#include "core/log/Logger.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace ostrel::core;

namespace {

class NullSink : public LogSink {
public:
    void write(const LogRecord& record) override { benchmark::DoNotOptimize(record.message.data()); }
};

std::filesystem::path freshLogFolder() {
    char pattern[] = "/tmp/ostrel-bench-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made != nullptr ? std::filesystem::path(made) : std::filesystem::temp_directory_path();
}

void fillRing(Logger& logger) {
    for (std::size_t i = 0; i < Logger::maxRecentSteps; ++i) {
        logger.recordStep("ui", "clicked a typical control of the main window");
    }
}

// The logger's own cost: lock, clock, record, ring step and one sink call.
void BM_InfoRecordToNullSink(benchmark::State& state) {
    Logger logger;
    logger.addSink(std::make_shared<NullSink>());
    for (auto _ : state) {
        logger.log(LogLevel::INFO, "project", "saved /home/user/Documents/Ostrel/Projects/song.ostproj");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InfoRecordToNullSink);

void BM_DebugRecordFilteredOut(benchmark::State& state) {
    Logger logger;
    logger.addSink(std::make_shared<NullSink>());
    for (auto _ : state) {
        logger.log(LogLevel::DEBUG, "audio", "buffer refilled");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DebugRecordFilteredOut);

// What the program pays per line: the file is opened, appended to and closed each time.
void BM_InfoRecordToFile(benchmark::State& state) {
    const std::filesystem::path folder = freshLogFolder();
    Logger logger;
    logger.addSink(std::make_shared<FileSink>(folder / "logs/ostrel.log", 5242880, 3));
    for (auto _ : state) {
        logger.log(LogLevel::INFO, "project", "saved /home/user/Documents/Ostrel/Projects/song.ostproj");
    }
    state.SetItemsProcessed(state.iterations());
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_InfoRecordToFile);

// An ERROR inside an action with a full ring (66 lines to the file) while three threads
// contend for the logger. The loggers are made once, before any thread opens its scope.
std::filesystem::path contendedFolder;

Logger& contendedFileLogger() {
    static Logger* logger = [] {
        contendedFolder = freshLogFolder();
        std::atexit([] { std::filesystem::remove_all(contendedFolder); });
        auto* made = new Logger;
        made->addSink(std::make_shared<FileSink>(contendedFolder / "ostrel.log", 5242880, 3));
        fillRing(*made);
        return made;
    }();
    return *logger;
}

Logger& contendedNullLogger() {
    static Logger* logger = [] {
        auto* made = new Logger;
        made->addSink(std::make_shared<NullSink>());
        fillRing(*made);
        return made;
    }();
    return *logger;
}

void BM_ErrorRecordThreeThreads(benchmark::State& state) {
    Logger& logger = contendedFileLogger();
    ActionScope scope("Project > save /home/user/song.ostproj", logger);
    for (auto _ : state) {
        logger.log(LogLevel::ERROR, "project", "cannot save: disk full");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ErrorRecordThreeThreads)->Threads(3)->UseRealTime();

void BM_ErrorRecordThreeThreadsNullSink(benchmark::State& state) {
    Logger& logger = contendedNullLogger();
    ActionScope scope("Project > save /home/user/song.ostproj", logger);
    for (auto _ : state) {
        logger.log(LogLevel::ERROR, "project", "cannot save: disk full");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ErrorRecordThreeThreadsNullSink)->Threads(3)->UseRealTime();

}  // namespace
