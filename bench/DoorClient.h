#pragma once

// A loopback client of the JSON-RPC door for the benchmarks: it sends what it is given (a
// burst of lines pipelines) and reads the replies line by line, skipping notifications.

#include "BenchSupport.h"

#include <QEventLoop>
#include <QMetaObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace ostrel::bench {

// A loopback port of `type` (SOCK_STREAM or SOCK_DGRAM) that was free when asked.
inline int freeLoopbackPort(int type = SOCK_STREAM) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

class DoorClient {
public:
    // Not connected() when nothing listens on the port yet.
    explicit DoorClient(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        const int yes = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    }
    ~DoorClient() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    DoorClient(const DoorClient&) = delete;
    DoorClient& operator=(const DoorClient&) = delete;

    bool connected() const { return fd_ >= 0; }

    void send(const std::string& bytes) {
        require(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()),
                "the client sends");
    }

    // The next line that is a reply. The door writes its keys in order, so a reply starts
    // with its "id" and a notification, which has none, with "jsonrpc".
    std::string readReply() {
        for (;;) {
            const std::size_t end = buffer_.find('\n');
            if (end == std::string::npos) {
                char chunk[65536];
                const ssize_t received = ::recv(fd_, chunk, sizeof chunk, 0);
                require(received > 0, "the door answers");
                buffer_.append(chunk, static_cast<std::size_t>(received));
                continue;
            }
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (line.compare(0, 10, "{\"jsonrpc\"") != 0) {
                return line;
            }
        }
    }

private:
    int fd_;
    std::string buffer_;
};

// Runs the event loop, and with it the door's pump, until `client` has returned on a thread
// of its own; answers the seconds the client took.
inline double runClientThread(const std::function<void()>& client) {
    QEventLoop loop;
    double seconds = 0.0;
    std::thread thread([&] {
        const auto start = std::chrono::steady_clock::now();
        client();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    thread.join();
    return seconds;
}

}  // namespace ostrel::bench
