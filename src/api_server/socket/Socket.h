#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::core {
class Logger;
}

namespace ostrel::api_server {

using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;

// The owner of one socket bound to 127.0.0.1: a TCP listener or a UDP receiver.
// Used by one thread at a time; closes the socket when destroyed.
class Socket {
public:
    Socket() = default;
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Listens on 127.0.0.1:port (0: a port the system chooses, read back into port()).
    // Failures are logged at ERROR in category "api_server" with the system's reason, and
    // for a port in use whose user's program holds it, where the kernel tells; that reason
    // alone goes to error. logger and error may be null.
    [[nodiscard]] bool listenTcp(std::uint16_t port, core::Logger* logger, std::string* error = nullptr);
    [[nodiscard]] bool bindUdp(std::uint16_t port, core::Logger* logger, std::string* error = nullptr);

    // The next client, or kInvalidSocket when none came within the wait. The client's
    // receives and sends give up after 50 ms each.
    SocketHandle accept(int timeoutMs);

    // Reads the next datagram into buffer and answers its full length, which is larger
    // than size when the datagram did not fit (the rest is lost); 0 when none came within
    // the wait (or the datagram was empty); -1 when the socket is closed or the receive failed.
    long receiveDatagram(char* buffer, std::size_t size, int timeoutMs);

    void close() noexcept;

    SocketHandle handle() const noexcept { return handle_; }
    std::uint16_t port() const noexcept { return port_; }

private:
    [[nodiscard]] bool open(int type, std::uint16_t port, core::Logger* logger, std::string* error);

    SocketHandle handle_ = kInvalidSocket;
    std::uint16_t port_ = 0;
};

// True when the socket has something to read (or has been closed by the peer) within
// the wait; a wait of 0 polls.
bool waitReadable(SocketHandle socket, int timeoutMs);

enum class Readiness { Nothing, Readable, Woken };

// Like waitReadable, but also ends early when `wake` (a WakeSignal's handle, or
// kInvalidSocket for none) becomes readable; a readable socket wins.
Readiness waitReadableOrWoken(SocketHandle socket, SocketHandle wake, int timeoutMs);

// Waits until one of the sockets is readable (or closed by its peer) or `wake` (as above)
// is, at most timeoutMs; afterwards readable[i] says whether sockets[i] is. Invalid handles
// are never readable.
void waitAnyReadable(const std::vector<SocketHandle>& sockets, SocketHandle wake, int timeoutMs,
                     std::vector<bool>& readable);

// Closes a socket handle that no Socket or Connection owns; kInvalidSocket is ignored.
void closeSocket(SocketHandle socket) noexcept;

}  // namespace ostrel::api_server
