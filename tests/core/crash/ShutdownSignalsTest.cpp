#include "core/crash/ShutdownSignals.h"

#include "core/files/AtomicWriter.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <poll.h>
#include <unistd.h>

using namespace ostrel::core;
using namespace ostrel::test;

namespace {

bool readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
}

}  // namespace

// In a child: the handlers replace SIGTERM's and SIGINT's default action for good.
TEST(ShutdownSignalsDeathTest, ASignalBecomesARequestInThePipeAndASecondEndsTheProcess) {
    const auto run = [] {
        const int pipe = ShutdownSignals::install();
        if (pipe < 0 || ShutdownSignals::install() != pipe || readable(pipe) || ShutdownSignals::takePending() != 0) {
            std::_Exit(1);
        }
        std::raise(SIGTERM);  // asked to close: the process goes on
        if (!readable(pipe) || ShutdownSignals::takePending() != SIGTERM || ShutdownSignals::takePending() != 0) {
            std::_Exit(2);
        }
        std::raise(SIGINT);  // asked again while closing: ends at once, by that signal
        std::_Exit(3);
    };
    EXPECT_EXIT(run(), ::testing::KilledBySignal(SIGINT), "");
}

// Regression: SIGHUP (the terminal that started the program closing) ended it at once,
// without the orderly close the other two get. One ignored at start (nohup, a background
// job) stays ignored.
TEST(ShutdownSignalsDeathTest, AHangUpIsARequestToCloseUnlessItWasIgnoredAtStart) {
    const auto run = [] {
        std::signal(SIGINT, SIG_IGN);
        const int pipe = ShutdownSignals::install();
        std::raise(SIGINT);
        const bool ignored = !readable(pipe);
        std::raise(SIGHUP);
        std::_Exit(ignored && readable(pipe) && ShutdownSignals::takePending() == SIGHUP ? 0 : 2);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

// Regression: with the close blocked (a save waiting for another program's file), SIGTERM
// could not end the program. The child never closes; without the limit it would give up
// by itself after a minute, exiting with 4. Then: the limit left the file being written
// half done, as "song.wav.tmp", and the log said nothing of it.
TEST(ShutdownSignalsDeathTest, AProcessThatHasNotClosedInTimeEndsByTheSignalItWasAskedWithAndLeavesNoHalfFile) {
    TempDir dir;
    const std::filesystem::path log = dir / "logs" / "ostrel.log";
    const auto run = [&] {
        (void)ShutdownSignals::install();
        ShutdownSignals::setLogFile(log);
        std::filesystem::create_directories(log.parent_path());
        AtomicFileWriter song;
        if (!song.open(dir / "song.wav", nullptr) || !song.write("RIFF", nullptr)) {
            std::_Exit(5);
        }
        std::raise(SIGTERM);
        for (int wait = 0; wait < 600; ++wait) {
            ::usleep(100000);
        }
        std::_Exit(4);
    };
    EXPECT_EXIT(run(), ::testing::KilledBySignal(SIGTERM),
                "did not close in time(.|\n)*ERROR \\[app\\] the close was cut short by its limit of 5 s");
    EXPECT_FALSE(std::filesystem::exists(dir / "song.wav.tmp"));
    EXPECT_FALSE(std::filesystem::exists(dir / "song.wav"));
    const std::string line = readFile(log);
    EXPECT_THAT(line, ::testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\\.[0-9]{3}Z ERROR \\[app\\] the close "
                                              "was cut short by its limit of 5 s; lost, its unfinished file removed: "
                                              "writing " +
                                              (dir / "song.wav").string() + "  \\(thread [0-9a-f]{4}\\)\n"));
}
