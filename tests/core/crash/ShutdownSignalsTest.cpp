#include "core/crash/ShutdownSignals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

using namespace ostrel::core;

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
// by itself after a minute, exiting with 4.
TEST(ShutdownSignalsDeathTest, AProcessThatHasNotClosedInTimeEndsByTheSignalItWasAskedWith) {
    const auto run = [] {
        (void)ShutdownSignals::install();
        std::raise(SIGTERM);
        for (int wait = 0; wait < 600; ++wait) {
            ::usleep(100000);
        }
        std::_Exit(4);
    };
    EXPECT_EXIT(run(), ::testing::KilledBySignal(SIGTERM), "did not close in time");
}
