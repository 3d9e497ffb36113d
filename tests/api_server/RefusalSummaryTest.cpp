#include "api_server/RefusalSummary.h"

#include "ApiTestSupport.h"
#include "core/log/Logger.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ostrel::api_server {
namespace {

using Kind = RefusalSummary::Kind;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kBusyLine = "a second client was turned away: one client at a time";

std::vector<std::string> messages(const test::LogCapture& capture) {
    std::vector<std::string> out;
    for (const test::LogCapture::Line& line : capture.lines()) {
        out.push_back(line.message);
    }
    return out;
}

class RefusalSummaryTest : public ::testing::Test {
protected:
    RefusalSummaryTest() { logger.addSink(capture); }

    core::Logger logger;
    std::shared_ptr<test::LogCapture> capture = std::make_shared<test::LogCapture>();
    RefusalSummary summary{&logger};
    const RefusalSummary::Clock::time_point start = RefusalSummary::Clock::now();
};

// Regression: every client turned away was a line of its own, so another user's flood of
// connections grew the log by megabytes and rotated its start away. Kinds are counted apart;
// a note after its interval ends that interval's count first, and what is held back is
// logged at the end.
TEST_F(RefusalSummaryTest, TheFirstOfAnIntervalIsLoggedAtOnceAndTheOthersAsOneCountWhenItEnds) {
    for (int i = 0; i < 1000; ++i) {
        summary.note(Kind::Busy, start + milliseconds(i));
    }
    summary.note(Kind::StoppedReading, start);
    summary.flushDue(start + milliseconds(9999));
    EXPECT_EQ(messages(*capture).size(), 2u) << "nothing more before the interval ends";
    summary.flushDue(start + seconds(10));
    summary.note(Kind::Crowded, start + seconds(11));
    summary.note(Kind::Crowded, start + seconds(12));
    summary.note(Kind::StoppedReading, start + seconds(12));
    summary.note(Kind::StoppedReading, start + seconds(13));
    summary.flushAll();
    summary.flushAll();  // nothing twice
    const std::vector<std::string> expected = {
        kBusyLine,
        "the client stopped reading; dropping it",
        std::string(kBusyLine) + " (999 more in the last 10 s)",
        "a client was turned away: too many clients were waiting to show the token",
        "the client stopped reading; dropping it",
        "a client was turned away: too many clients were waiting to show the token (1 more in the last 10 s)",
        "the client stopped reading; dropping it (1 more in the last 10 s)",
    };
    EXPECT_EQ(messages(*capture), expected);
    const std::vector<test::LogCapture::Line> lines = capture->lines();
    ASSERT_EQ(lines.size(), expected.size());
    EXPECT_EQ(lines[0].level, core::LogLevel::INFO);
    EXPECT_EQ(lines[1].level, core::LogLevel::WARN);
    EXPECT_EQ(lines[0].category, "api_server");
}

}  // namespace
}  // namespace ostrel::api_server
