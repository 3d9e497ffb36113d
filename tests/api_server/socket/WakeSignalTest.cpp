#include "api_server/socket/WakeSignal.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace ostrel::api_server {
namespace {

class WakeSignalTest : public ::testing::Test {
protected:
    WakeSignalTest() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0); }
    ~WakeSignalTest() override {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    int ends[2] = {-1, -1};
    WakeSignal wake;
};

TEST_F(WakeSignalTest, ARaisedSignalEndsAWaitUntilCleared) {
    ASSERT_NE(wake.handle(), kInvalidSocket);
    EXPECT_EQ(waitReadableOrWoken(ends[0], wake.handle(), 0), Readiness::Nothing);
    wake.raise();
    wake.raise();
    EXPECT_EQ(waitReadableOrWoken(ends[0], wake.handle(), 0), Readiness::Woken);
    wake.clear();
    EXPECT_EQ(waitReadableOrWoken(ends[0], wake.handle(), 0), Readiness::Nothing);
}

TEST_F(WakeSignalTest, AReadableSocketWinsOverTheSignal) {
    wake.raise();
    ASSERT_EQ(::send(ends[1], "x", 1, 0), 1);
    EXPECT_EQ(waitReadableOrWoken(ends[0], wake.handle(), 0), Readiness::Readable);
    EXPECT_EQ(waitReadableOrWoken(ends[0], kInvalidSocket, 0), Readiness::Readable);
    EXPECT_EQ(waitReadableOrWoken(kInvalidSocket, wake.handle(), 0), Readiness::Nothing);
}

}  // namespace
}  // namespace ostrel::api_server
