#include "core/ForkedTrial.h"

#include "core/files/FileDescriptorIo.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string_view>

using ostrel::core::runForkedTrial;
using ostrel::core::TrialOutcome;

namespace {

void say(int out, std::string_view text) { ostrel::core::writeAll(out, text.data(), text.size()); }

}  // namespace

// What the copy wrote and how it ended come back; a signal that ends the copy leaves this
// process standing, and a trial's changes stay in the copy.
TEST(ForkedTrial, TellsWhatTheCopySaidAndHowItEndedLeavingThisProcessAsItWas) {
    int touched = 0;
    const TrialOutcome exited = runForkedTrial([&](int out) {
        touched = 1;
        say(out, "first, ");
        say(out, "then");
        return 7;
    });
    EXPECT_EQ(exited.ending, TrialOutcome::Ending::Exited);
    EXPECT_EQ(exited.code, 7);
    EXPECT_EQ(exited.said, "first, then");
    EXPECT_EQ(touched, 0);

    // SIGTERM, not an abort: it leaves no core file behind.
    const TrialOutcome ended = runForkedTrial([](int out) {
        say(out, "about to end");
        std::signal(SIGTERM, SIG_DFL);
        std::raise(SIGTERM);
        return 0;
    });
    EXPECT_EQ(ended.ending, TrialOutcome::Ending::Signalled);
    EXPECT_EQ(ended.code, SIGTERM);
    EXPECT_EQ(ended.said, "about to end");

    const TrialOutcome silent = runForkedTrial([](int) { return 0; });
    EXPECT_EQ(silent.ending, TrialOutcome::Ending::Exited);
    EXPECT_EQ(silent.code, 0);
    EXPECT_EQ(silent.said, "");
}
