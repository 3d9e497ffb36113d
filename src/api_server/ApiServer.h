#pragma once

#include "api_server/MessageRing.h"
#include "api_server/SlotBudget.h"
#include "api_server/Socket.h"
#include "api_server/WakeSignal.h"

#include <nlohmann/json_fwd.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace ostrel::core {
class Logger;
enum class LogLevel : int;
}

namespace ostrel::api_server {

class Connection;

using InboundRing = MessageRing<32>;
using OutboundRing = MessageRing<64>;

// The JSON-RPC 2.0 server on 127.0.0.1: one client at a time, one request per line.
// A network thread of its own moves lines between the socket and two fixed rings; the
// requests are handled on the owner's (GUI) thread in pump. Every member but the network
// thread's body is for the owner's thread. The rings are 64-byte aligned, so the owner
// keeps the server on the heap (std::make_unique).
class ApiServer {
public:
    // Method name and parameters as compact JSON text in, the result as JSON text out.
    // Refusals are thrown as ApiError; any other std::exception is an internal error.
    using Handler = std::function<std::string(const std::string& method, const std::string& params)>;

    // logger may be null; everything is logged in category "api_server".
    explicit ApiServer(core::Logger* logger);
    ~ApiServer();
    ApiServer(const ApiServer&) = delete;
    ApiServer& operator=(const ApiServer&) = delete;

    // Assigned before start; called only inside pump.
    Handler handler;

    // Listens on 127.0.0.1:port (0: a port the system chooses) and starts the network
    // thread. Requests must carry this token; an empty token lets requests without one in.
    // True when the server runs afterwards; a second call keeps the first token.
    [[nodiscard]] bool start(std::uint16_t port, const std::string& token);

    // Ends the network thread and closes the sockets. Never from the network thread.
    void stop();

    // Handles every waiting request line, in arrival order, and queues one reply for each.
    // Returns at once while the server is not started.
    void pump();

    // Queues a notification for the connected client. Dropped without a word when no
    // client is connected, when the line is too long or when every outbound slot is
    // taken or kept for a reply.
    void notify(std::string_view method, const nlohmann::json& params);

    // The port actually bound; 0 before the first start.
    std::uint16_t port() const noexcept { return port_; }
    bool running() const noexcept { return running_.load(std::memory_order_acquire); }
    // A hint only: a client may come or go at any moment.
    bool clientConnected() const noexcept { return currentConnection_.load(std::memory_order_acquire) != 0; }

private:
    struct NetworkState;

    // The network thread's body, and the parts below it that run on that thread only.
    void run(Socket listener);
    // Moves lines between one client and the rings until it goes or stop is asked.
    void serveClient(Socket& listener, Connection& client, std::uint64_t connection, NetworkState& state);
    // Takes a second client to hold, turns the held one away once it has waited, and
    // every other client waiting to be taken at once.
    void holdOrTurnAway(Socket& listener, NetworkState& state);
    void turnAway(Connection& client, const NetworkState& state);
    // Tells a client that has lingered past kClientPatienceMs (without sending a request
    // with the right token, or with a line left unfinished) why it goes; true when it must.
    bool closeIfLingering(Connection& client, NetworkState& state);
    // Whether a request line holds the server's token (and is a request at all).
    bool carriesToken(std::string_view line) const;
    // Reads one request line into the inbound ring, its reply's claim already taken.
    void readRequest(Connection& client, std::uint64_t connection, NetworkState& state);
    // Frees every waiting outbound slot; those not for the given connection are dropped.
    void sendOutbound(Connection* client, std::uint64_t connection, NetworkState& state);
    void writeStraight(Connection& client, const std::string& text);
    std::string handleLine(std::string_view line);
    void log(core::LogLevel level, const std::string& message) const;

    core::Logger* logger_;
    std::thread networkThread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::uint16_t port_ = 0;
    // The tag of the connected client's lines and replies; 0 while none is connected.
    std::atomic<std::uint64_t> currentConnection_{0};
    std::uint64_t connectionsSeen_ = 0;  // network thread only
    std::string token_;
    InboundRing inbound_;
    OutboundRing outbound_;
    // Every outbound message holds a claim from here until the network thread frees its
    // slot. A request line takes its reply's claim before it enters the inbound ring, so
    // notifications can never crowd out a reply.
    SlotBudget outboundClaims_{OutboundRing::kCapacity};
    // Raised after messages enter the outbound ring and on stop, so the network thread
    // sends at once instead of when its wait for the client's next line runs out.
    WakeSignal outboundWaiting_;
};

// Pushes the slot into the outbound ring, yielding up to 1000 times while it is full;
// false, with a WARN naming the label, when it never found room.
bool pushMessage(OutboundRing& ring, const MessageSlot& slot, core::Logger* logger, std::string_view label);

}  // namespace ostrel::api_server
