#include "core/log/FileSink.h"
#include "core/log/Logger.h"

#include <benchmark/benchmark.h>

#include <filesystem>

#include "BenchSupport.h"

using namespace ostrel::core;

namespace {

class NullSink : public LogSink {
public:
    void write(const LogRecord& record) override { benchmark::DoNotOptimize(record.message.data()); }
};

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
    const ostrel::bench::ScratchFolder folder;
    Logger logger;
    logger.addSink(std::make_shared<FileSink>(folder / "logs/ostrel.log", 5242880, 3));
    for (auto _ : state) {
        logger.log(LogLevel::INFO, "project", "saved /home/user/Documents/Ostrel/Projects/song.ostproj");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InfoRecordToFile);

// An ERROR inside an action with a full ring (66 lines to the file) while three threads
// contend for the logger. The loggers are made once, before any thread opens its scope.
Logger& contendedFileLogger() {
    static const ostrel::bench::ScratchFolder folder;
    static Logger* logger = [] {
        auto* made = new Logger;
        made->addSink(std::make_shared<FileSink>(folder / "ostrel.log", 5242880, 3));
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
