#pragma once

#include "api_server/rings/MessageRing.h"
#include "api_server/socket/Socket.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace ostrel::core {
class Logger;
enum class LogLevel : int;
}

namespace ostrel::api_server {

// The OSC door: one-way OSC 1.0 over UDP on 127.0.0.1, no token, no replies. A receive
// thread of its own parses each datagram, maps it onto a Control API method and queues
// {"method":...,"params":...} in a ring of 64 calls; pump hands them to the handler on the
// owner's (GUI) thread. Whatever goes wrong with a datagram, or with its call, is dropped
// without a word. Every member but the receive thread's body is for the owner's thread.
// The ring is 64-byte aligned, so the owner keeps the door on the heap (std::make_unique).
class OscServer {
public:
    // Method name and parameters as compact JSON text in, the result as JSON text out
    // (ignored); the same form as the JSON-RPC server's handler. Tracks may be named by
    // their position in the song ("2") where a method takes a track id.
    using Handler = std::function<std::string(const std::string& method, const std::string& params)>;

    // The largest datagram taken; a longer one is dropped whole, never read cut.
    static constexpr std::size_t kMaxDatagramBytes = 2048;
    using InboundRing = MessageRing<64>;

    // logger may be null; everything is logged in category "api_server".
    explicit OscServer(core::Logger* logger);
    ~OscServer();
    OscServer(const OscServer&) = delete;
    OscServer& operator=(const OscServer&) = delete;

    // Assigned before start; called only inside pump. Whatever it throws is dropped there.
    Handler handler;

    // Binds 127.0.0.1:port (0: a port the system chooses) and starts the receive thread.
    // True when the door runs afterwards; a failed start may be tried again. Why it could
    // not start goes to error (may be null).
    [[nodiscard]] bool start(std::uint16_t port, std::string* error = nullptr);

    // Ends the receive thread (within its 100 ms wait) and closes the socket.
    void stop();

    // Hands each call that waited when it began to the handler, oldest first. Returns at
    // once while the door is closed.
    void pump();

    // The port actually bound; 0 before the first start.
    std::uint16_t port() const noexcept { return port_; }
    bool running() const noexcept { return running_.load(std::memory_order_acquire); }
    // Calls waiting for pump; a hint while the door runs.
    std::size_t waiting() const noexcept { return inbound_.size(); }
    // Non-empty datagrams the receive thread has finished with, used or dropped. Once it
    // reads n, the calls made by the first n datagrams are in the ring.
    std::uint64_t datagramsRead() const noexcept { return datagramsRead_.load(std::memory_order_acquire); }

private:
    void run();
    void take(const char* datagram, std::size_t size);
    void log(core::LogLevel level, const std::string& message) const;

    core::Logger* logger_;
    std::thread receiveThread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::uint16_t port_ = 0;
    std::unique_ptr<Socket> socket_;
    // Release on each increment, so a reader that sees the count also sees the ring's
    // calls made before it.
    std::atomic<std::uint64_t> datagramsRead_{0};
    InboundRing inbound_;
};

}  // namespace ostrel::api_server
