#include "api_server/socket/Socket.h"

#include "core/files/PrivateFolder.h"
#include "core/log/LogSink.h"
#include "core/log/Logger.h"
#include "support/AnotherUser.h"
#include "support/HeldPort.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace ostrel::api_server {
namespace {

struct MessageSink : core::LogSink {
    void write(const core::LogRecord& record) override { messages.push_back(record.message); }
    std::vector<std::string> messages;
};

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void sendDatagram(std::uint16_t port, const std::string& bytes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in address = loopback(port);
    EXPECT_EQ(::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address),
              static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

class SocketTest : public ::testing::Test {
protected:
    SocketTest() { logger.addSink(sink); }
    core::Logger logger;
    std::shared_ptr<MessageSink> sink = std::make_shared<MessageSink>();
};

TEST_F(SocketTest, ListeningOnPortZeroReadsBackTheChosenPort) {
    Socket listener;
    ASSERT_TRUE(listener.listenTcp(0, &logger));
    EXPECT_NE(listener.port(), 0);
    EXPECT_NE(listener.handle(), kInvalidSocket);
    EXPECT_EQ(listener.accept(0), kInvalidSocket);
    listener.close();
    EXPECT_EQ(listener.port(), 0);
    EXPECT_EQ(listener.accept(0), kInvalidSocket);
}

TEST_F(SocketTest, AcceptHandsOverAWaitingClient) {
    Socket listener;
    ASSERT_TRUE(listener.listenTcp(0, &logger));
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(listener.port());
    ASSERT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const SocketHandle accepted = listener.accept(5000);
    EXPECT_NE(accepted, kInvalidSocket);
    closeSocket(accepted);
    ::close(client);
}

// The system's reason, and whose program holds the port: a client written to that port
// would reach that program.
TEST_F(SocketTest, APortThatIsTakenIsRefusedWithTheReasonAndWhoseProgramHoldsIt) {
    struct Case {
        int type;
        test::HeldPort::By by;
        const char* door;  // the log line's words before ": " and the reason; {port} is the port
    };
    const Case cases[] = {
        {SOCK_STREAM, test::HeldPort::By::TheUser, "could not listen on 127.0.0.1:{port}"},
        {SOCK_DGRAM, test::HeldPort::By::TheUser, "could not bind 127.0.0.1:{port} (UDP)"},
        {SOCK_STREAM, test::HeldPort::By::AnotherUser, "could not listen on 127.0.0.1:{port}"},
        {SOCK_DGRAM, test::HeldPort::By::AnotherUser, "could not bind 127.0.0.1:{port} (UDP)"},
    };
    for (const Case& c : cases) {
        const bool another = c.by == test::HeldPort::By::AnotherUser;
        SCOPED_TRACE(std::string(c.door) + (another ? ", another user's" : ""));
        if (another && !test::mayActAsAnotherUser()) {
            continue;  // only root may hold a port as another user
        }
        const test::HeldPort held(c.type, c.by);
        ASSERT_NE(held.port(), 0) << held.problem();
        const std::string why = "Address already in use; a program of the user " +
                                (another ? std::string("nobody") : core::userLabel(::geteuid())) + " holds it";
        std::string said = c.door;
        said.replace(said.find("{port}"), 6, std::to_string(held.port()));
        sink->messages.clear();
        Socket socket;
        std::string error;
        EXPECT_FALSE(c.type == SOCK_STREAM ? socket.listenTcp(held.port(), &logger, &error)
                                           : socket.bindUdp(held.port(), &logger, &error));
        EXPECT_EQ(socket.handle(), kInvalidSocket);
        EXPECT_EQ(sink->messages, std::vector<std::string>{said + ": " + why});
        EXPECT_EQ(error, why);
        // Neither a logger nor an error asked for: nothing logged, no crash.
        EXPECT_FALSE(c.type == SOCK_STREAM ? socket.listenTcp(held.port(), nullptr) : socket.bindUdp(held.port(), nullptr));
        EXPECT_EQ(sink->messages.size(), 1u);
    }
}

TEST_F(SocketTest, ADatagramIsReadWhole) {
    Socket udp;
    ASSERT_TRUE(udp.bindUdp(0, &logger));
    sendDatagram(udp.port(), "/ostrel/play");
    char buffer[64];
    ASSERT_EQ(udp.receiveDatagram(buffer, sizeof buffer, 5000), 12);
    EXPECT_EQ(std::string(buffer, 12), "/ostrel/play");
}

TEST_F(SocketTest, ADatagramLargerThanTheBufferReportsItsFullLength) {
    Socket udp;
    ASSERT_TRUE(udp.bindUdp(0, &logger));
    sendDatagram(udp.port(), std::string(3000, 'd'));
    sendDatagram(udp.port(), "next");
    char buffer[2048];
    EXPECT_EQ(udp.receiveDatagram(buffer, sizeof buffer, 5000), 3000);
    // The rest of the long one is gone; the next datagram comes whole.
    ASSERT_EQ(udp.receiveDatagram(buffer, sizeof buffer, 5000), 4);
    EXPECT_EQ(std::string(buffer, 4), "next");
}

TEST_F(SocketTest, NoDatagramAnswersZeroAndAClosedSocketMinusOne) {
    Socket udp;
    ASSERT_TRUE(udp.bindUdp(0, &logger));
    char buffer[16];
    EXPECT_EQ(udp.receiveDatagram(buffer, sizeof buffer, 0), 0);
    udp.close();
    EXPECT_EQ(udp.receiveDatagram(buffer, sizeof buffer, 0), -1);
}

TEST_F(SocketTest, AMovedSocketKeepsItsHandleAndPort) {
    Socket first;
    ASSERT_TRUE(first.listenTcp(0, &logger));
    const std::uint16_t port = first.port();
    Socket moved(std::move(first));
    EXPECT_EQ(first.handle(), kInvalidSocket);
    EXPECT_EQ(moved.port(), port);
    Socket assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.port(), port);
    EXPECT_EQ(moved.port(), 0);
}

}  // namespace
}  // namespace ostrel::api_server
