#include "core/crash/ShutdownSignals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <poll.h>

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
