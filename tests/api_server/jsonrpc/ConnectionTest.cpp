#include "api_server/jsonrpc/Connection.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace ostrel::api_server {
namespace {

// A connection over one end of a local socket pair; the test holds the other end.
class ConnectionTest : public ::testing::Test {
protected:
    ConnectionTest() {
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        connection = std::make_unique<Connection>(ends[0]);
        peer = ends[1];
    }
    ~ConnectionTest() override { closePeer(); }

    void send(const std::string& bytes) {
        ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void closePeer() {
        if (peer >= 0) {
            ::close(peer);
            peer = -1;
        }
    }
    std::string received() {
        char chunk[256];
        const ssize_t n = ::recv(peer, chunk, sizeof chunk, MSG_DONTWAIT);
        return n > 0 ? std::string(chunk, static_cast<std::size_t>(n)) : std::string();
    }

    std::unique_ptr<Connection> connection;
    int peer = -1;
    std::string line;
};

TEST_F(ConnectionTest, LinesAreCutAtNewlinesAndJoinedAcrossWrites) {
    send("one\ntwo\r\nth");
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Line);
    EXPECT_EQ(line, "one");
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Line);
    EXPECT_EQ(line, "two\r");
    EXPECT_EQ(connection->readLine(line, 0), LineRead::Nothing);
    EXPECT_EQ(line, "");
    send("ree\n\n");
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Line);
    EXPECT_EQ(line, "three");
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Line);
    EXPECT_EQ(line, "");
    EXPECT_FALSE(connection->closed());
}

TEST_F(ConnectionTest, TheLongestLineFitsAndOneByteMoreIsTooLong) {
    send(std::string(8191, 'a') + "\n" + std::string(8192, 'b') + "\nnext\n");
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Line);
    EXPECT_EQ(line.size(), 8191u);
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::TooLong);
    EXPECT_EQ(line, "");
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Line);
    EXPECT_EQ(line, "next");
}

// Regression: bytes without a newline were kept without bound.
TEST_F(ConnectionTest, BytesWithoutANewlineAreTooLongOnceThenDroppedUpToTheNewline) {
    send(std::string(8192, 'x'));
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::TooLong);
    for (int i = 0; i < 8; ++i) {
        send(std::string(8192, 'x'));
        EXPECT_EQ(connection->readLine(line, 30), LineRead::Nothing);
    }
    send("xxx\nafter\n");
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Line);
    EXPECT_EQ(line, "after");
}

TEST_F(ConnectionTest, APeerThatClosesEndsItsInputAfterItsLastLine) {
    send("last\npartial");
    closePeer();
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Line);
    EXPECT_EQ(line, "last");
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Nothing);  // the cut-short line is dropped
    EXPECT_TRUE(connection->inputEnded());
    EXPECT_FALSE(connection->hasWaitingLine());
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Nothing);
}

// Regression: the end of the client's input closed the connection, so a client that
// half-closed after its request (nc -N) never got the reply.
TEST_F(ConnectionTest, APeerThatOnlyFinishedSendingStillGetsItsReplyAndAnOrderlyEnd) {
    send("request\n");
    ASSERT_EQ(::shutdown(peer, SHUT_WR), 0);
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Line);
    EXPECT_EQ(connection->readLine(line, 1000), LineRead::Nothing);
    EXPECT_TRUE(connection->inputEnded());
    EXPECT_FALSE(connection->closed());
    EXPECT_TRUE(connection->writeLine("reply", 1000));
    connection->closeInOrder();
    EXPECT_EQ(received(), "reply\n");
    char byte = 0;
    EXPECT_EQ(::recv(peer, &byte, 1, 0), 0);  // an end, not an error
}

TEST_F(ConnectionTest, WriteLineSendsTheTextAndANewline) {
    EXPECT_TRUE(connection->writeLine("{\"id\":1}", 1000));
    EXPECT_EQ(received(), "{\"id\":1}\n");
}

TEST_F(ConnectionTest, WritingToAPeerThatHasGoneFailsWithoutASignal) {
    closePeer();
    EXPECT_FALSE(connection->writeLine("reply", 1000));
    EXPECT_TRUE(connection->closed());
}

}  // namespace
}  // namespace ostrel::api_server
