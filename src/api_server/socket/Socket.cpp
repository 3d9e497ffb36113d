#include "api_server/socket/Socket.h"

#include "api_server/socket/PortHolder.h"
#include "core/Failure.h"
#include "core/files/PrivateFolder.h"
#include "core/log/Logger.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace ostrel::api_server {
namespace {

constexpr int kClientTimeoutMs = 50;

// Logs what failed with the reason, and hands the reason on.
bool failWith(core::Logger* logger, const std::string& what, const std::string& why, std::string* error) {
    if (logger != nullptr) {
        logger->log(core::LogLevel::ERROR, "api_server", what + ": " + why);
    }
    return core::fail(error, why);
}

// The system's words for a failed bind or listen, and for a port in use whose program
// holds it, where the kernel tells: a client sending to that port reaches that program.
std::string whyNotBound(int code, bool tcp, std::uint16_t port) {
    std::string why = core::systemMessage(code);
    if (code == EADDRINUSE && port != 0) {
        if (const std::optional<uid_t> holder = holderOfPort(tcp ? Transport::Tcp : Transport::Udp, port)) {
            why += "; a program of the user " + core::userLabel(*holder) + " holds it";
        }
    }
    return why;
}

timeval toTimeval(int ms) {
    timeval value{};
    value.tv_sec = ms / 1000;
    value.tv_usec = (ms % 1000) * 1000;
    return value;
}

}  // namespace

Socket::~Socket() { close(); }

Socket::Socket(Socket&& other) noexcept
    : handle_(std::exchange(other.handle_, kInvalidSocket)), port_(std::exchange(other.port_, 0)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, kInvalidSocket);
        port_ = std::exchange(other.port_, 0);
    }
    return *this;
}

bool Socket::listenTcp(std::uint16_t port, core::Logger* logger, std::string* error) {
    return open(SOCK_STREAM, port, logger, error);
}

bool Socket::bindUdp(std::uint16_t port, core::Logger* logger, std::string* error) {
    return open(SOCK_DGRAM, port, logger, error);
}

bool Socket::open(int type, std::uint16_t port, core::Logger* logger, std::string* error) {
    close();
    const bool tcp = type == SOCK_STREAM;
    // Close-on-exec: a child the program starts must not keep the door open.
    const SocketHandle handle = ::socket(AF_INET, type | SOCK_CLOEXEC, tcp ? IPPROTO_TCP : IPPROTO_UDP);
    if (handle < 0) {
        return failWith(logger, tcp ? "could not create the local socket" : "could not create the UDP socket",
                        core::systemMessage(errno), error);
    }
    if (tcp) {
        // A restarted program may listen at once, past the old connections' wait. Not for
        // UDP: there it would let a second program share the port and take its datagrams.
        const int yes = 1;
        ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    // A long queue: clients that connect together all wait their turn in it, to be let in
    // or told the door is busy, instead of having their connection attempts dropped and
    // retried seconds later.
    if (!bound || (tcp && ::listen(handle, SOMAXCONN) != 0)) {
        const int code = errno;
        closeSocket(handle);
        return failWith(logger,
                        tcp ? "could not listen on 127.0.0.1:" + std::to_string(port)
                            : "could not bind 127.0.0.1:" + std::to_string(port) + " (UDP)",
                        whyNotBound(code, tcp, port), error);
    }
    handle_ = handle;
    port_ = port;
    socklen_t length = sizeof address;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port_ = ntohs(address.sin_port);
    }
    return true;
}

SocketHandle Socket::accept(int timeoutMs) {
    if (handle_ == kInvalidSocket || !waitReadable(handle_, timeoutMs)) {
        return kInvalidSocket;
    }
    const SocketHandle client = ::accept4(handle_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        return kInvalidSocket;
    }
    const timeval limit = toTimeval(kClientTimeoutMs);
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    // Each reply is one small write: send it now rather than wait for the client's
    // acknowledgement of the one before.
    const int yes = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return client;
}

long Socket::receiveDatagram(char* buffer, std::size_t size, int timeoutMs) {
    if (handle_ == kInvalidSocket) {
        return -1;
    }
    if (!waitReadable(handle_, timeoutMs)) {
        return 0;
    }
    // MSG_TRUNC: the answer is the datagram's real length even when the buffer cut it,
    // so the caller can tell a whole datagram from a cut one.
    const ssize_t received = ::recvfrom(handle_, buffer, size, MSG_TRUNC, nullptr, nullptr);
    return received < 0 ? -1 : static_cast<long>(received);
}

void Socket::close() noexcept {
    closeSocket(std::exchange(handle_, kInvalidSocket));
    port_ = 0;
}

bool waitReadable(SocketHandle socket, int timeoutMs) {
    if (socket == kInvalidSocket) {
        return false;
    }
    // poll rather than select: select cannot take a descriptor above FD_SETSIZE.
    pollfd entry{};
    entry.fd = socket;
    entry.events = POLLIN;
    return ::poll(&entry, 1, timeoutMs < 0 ? 0 : timeoutMs) > 0;
}

Readiness waitReadableOrWoken(SocketHandle socket, SocketHandle wake, int timeoutMs) {
    if (socket == kInvalidSocket) {
        return Readiness::Nothing;
    }
    pollfd entries[2]{};
    entries[0].fd = socket;
    entries[0].events = POLLIN;
    entries[1].fd = wake;  // poll skips a negative descriptor
    entries[1].events = POLLIN;
    if (::poll(entries, 2, timeoutMs < 0 ? 0 : timeoutMs) <= 0) {
        return Readiness::Nothing;
    }
    if (entries[0].revents != 0) {
        return Readiness::Readable;
    }
    return entries[1].revents != 0 ? Readiness::Woken : Readiness::Nothing;
}

void waitAnyReadable(const std::vector<SocketHandle>& sockets, SocketHandle wake, int timeoutMs,
                     std::vector<bool>& readable) {
    std::vector<pollfd> entries(sockets.size() + 1);
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        entries[i].fd = sockets[i];  // poll skips a negative descriptor
        entries[i].events = POLLIN;
    }
    entries.back().fd = wake;
    entries.back().events = POLLIN;
    const bool any = ::poll(entries.data(), entries.size(), timeoutMs < 0 ? 0 : timeoutMs) > 0;
    readable.assign(sockets.size(), false);
    for (std::size_t i = 0; any && i < sockets.size(); ++i) {
        readable[i] = entries[i].revents != 0;
    }
}

void closeSocket(SocketHandle socket) noexcept {
    if (socket != kInvalidSocket) {
        ::close(socket);
    }
}

}  // namespace ostrel::api_server
