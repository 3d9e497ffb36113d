#pragma once

#include "api_server/rings/MessageRing.h"
#include "api_server/rings/SlotBudget.h"
#include "api_server/socket/PeerOwner.h"
#include "api_server/socket/Socket.h"
#include "api_server/socket/WakeSignal.h"

#include <nlohmann/json_fwd.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ostrel::core {
class Logger;
enum class LogLevel : int;
}

namespace ostrel::api_server {

class Connection;

using InboundRing = MessageRing<32>;
using OutboundRing = MessageRing<64>;

// The JSON-RPC 2.0 server on 127.0.0.1: one client at a time, one request per line.
// A network thread of its own moves lines between the sockets and two fixed rings; the
// requests are handled on the owner's (GUI) thread in pump. The door serves only the
// processes of the user running the program: a connection from another user's is told so
// and closed before its first line is read, whatever token it holds (PeerOwner). The door
// belongs to the first client that sends a request with the right token: until one has, up to
// kMaxWaitingClients clients are read side by side, each line without the token answered
// by the network thread itself, so no client without it can keep the door, fill the
// queue or hear a notification. Lines about clients sent away are summed up
// (RefusalSummary), so a flood of them cannot fill the log. Every member but the network
// thread's body is for the owner's thread. The rings are 64-byte aligned, so the owner
// keeps the server on the heap (std::make_unique).
class ApiServer {
public:
    // Method name and parameters as compact JSON text in, the result as JSON text out.
    // Refusals are thrown as ApiError; any other std::exception is an internal error.
    using Handler = std::function<std::string(const std::string& method, const std::string& params)>;

    // Clients read side by side while none holds the door, or waiting for it to be free.
    // When another comes, the one that has kept silent longest is turned away, else the
    // one that has waited longest; enough that another user's program holding a crowd of
    // silent connections rarely turns away a client that is about to show the token.
    static constexpr std::size_t kMaxWaitingClients = 256;

    // logger may be null; everything is logged in category "api_server". ownerWays are the
    // ways tried, in order, to tell whose process a connection comes from.
    explicit ApiServer(core::Logger* logger, std::vector<PeerOwner::Way> ownerWays = {PeerOwner::Way::SocketDiagnostics,
                                                                                      PeerOwner::Way::SocketTable});
    ~ApiServer();
    ApiServer(const ApiServer&) = delete;
    ApiServer& operator=(const ApiServer&) = delete;

    // Assigned before start; called only inside pump.
    Handler handler;

    // Listens on 127.0.0.1:port (0: a port the system chooses) and starts the network
    // thread. Requests must carry this token; an empty token lets requests without one in.
    // True when the server runs afterwards; a second call keeps the first token. Where the
    // system cannot tell whose process a connection comes from, a WARN says so and the
    // token is the only rule. Why it could not start goes to error (may be null).
    [[nodiscard]] bool start(std::uint16_t port, const std::string& token, std::string* error = nullptr);

    // Ends the network thread and closes the sockets. Never from the network thread.
    void stop();

    // Handles every waiting request line, in arrival order, and queues one reply for each.
    // A reply longer than a slot is handed to the network thread whole. Returns at once
    // while the server is not started.
    void pump();

    // Queues a notification for the client that holds the door. Dropped without a word
    // when none does, when the line is too long or when every outbound slot is taken or
    // kept for a reply.
    void notify(std::string_view method, const nlohmann::json& params);

    // The port actually bound; 0 before the first start.
    std::uint16_t port() const noexcept { return port_; }
    bool running() const noexcept { return running_.load(std::memory_order_acquire); }
    // Whether a client holds the door (it has sent a request with the right token). A hint
    // only: a client may come or go at any moment.
    bool clientConnected() const noexcept { return currentConnection_.load(std::memory_order_acquire) != 0; }

private:
    struct NetworkState;

    // The network thread's body, and the parts below it that run on that thread only.
    void run(Socket listener, PeerOwner owners);
    // One round while nobody holds the door: waits for the waiting clients' bytes and new
    // clients, answers their lines, and hands out the first client whose request carries
    // the token (that line is left unread for serveClient).
    std::unique_ptr<Connection> admitOne(Socket& listener, NetworkState& state);
    // Reads what a waiting client has sent and answers its lines; true when one carries
    // the token.
    bool readWaitingClient(Connection& client, NetworkState& state);
    // The reply to a line from a client not admitted yet; nothing when the line admits it.
    std::optional<std::string> refusalBeforeAdmission(std::string_view line, const NetworkState& state) const;
    // Moves lines between the client holding the door and the rings until it goes or stop
    // is asked.
    void serveClient(Socket& listener, Connection& client, std::uint64_t connection, NetworkState& state);
    // One pass of it: sends what waits, then reads a line; false when the client must go.
    bool servePass(Connection& client, std::uint64_t connection, std::chrono::steady_clock::time_point& drainEnd,
                   NetworkState& state);
    // Takes every client waiting in the listening queue (a bounded number per call),
    // sending away those not of the user's processes and reading what the others have sent.
    void takeNewClients(Socket& listener, NetworkState& state);
    // Tells a connection from another user's process, or one whose owner cannot be told,
    // why it goes, and closes it unread.
    void sendAwayUnread(Connection& client, bool anotherUser, NetworkState& state);
    // Turns away one waiting client to make room for another: the longest silent (read
    // once more first), else the longest waiting without a line to judge, else the oldest.
    void makeRoom(NetworkState& state);
    // Tells the client why it goes (the door is held, or too many wait) and closes it.
    void turnAway(Connection& client, NetworkState& state);
    // Tells a client that has lingered past kClientPatienceMs (admitBy passed without a
    // request with the right token, or a line left unfinished) why it goes; true when it must.
    bool closeIfLingering(Connection& client, std::optional<std::chrono::steady_clock::time_point> admitBy,
                          NetworkState& state);
    // Reads one request line into the inbound ring, its reply's claim already taken.
    void readRequest(Connection& client, std::uint64_t connection, NetworkState& state);
    // Frees every waiting outbound slot; those not for the given connection are dropped.
    void sendOutbound(Connection* client, std::uint64_t connection, NetworkState& state);
    void writeStraight(Connection& client, const std::string& text, NetworkState& state);
    std::string handleLine(std::string_view line);
    void log(core::LogLevel level, const std::string& message) const;

    core::Logger* logger_;
    const std::vector<PeerOwner::Way> ownerWays_;
    std::thread networkThread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::uint16_t port_ = 0;
    // The tag of the lines and replies of the client holding the door; 0 while none does.
    std::atomic<std::uint64_t> currentConnection_{0};
    std::uint64_t connectionsSeen_ = 0;  // network thread only
    std::string token_;
    InboundRing inbound_;
    OutboundRing outbound_;
    // Every outbound message holds a claim from here until the network thread frees its
    // slot. A request line takes its reply's claim before it enters the inbound ring, so
    // notifications can never crowd out a reply.
    SlotBudget outboundClaims_{OutboundRing::kCapacity};
    // The bytes of the long replies in the outbound ring or being sent: the pump adds,
    // the network thread takes away once it has freed one; bounded by the pump. A counter
    // only: the ring hands the texts themselves over.
    std::atomic<std::size_t> longReplyBytes_{0};
    // Raised after messages enter the outbound ring and on stop, so the network thread
    // sends at once instead of when its wait for the client's next line runs out.
    WakeSignal outboundWaiting_;
};

// Pushes the slot into the outbound ring, yielding up to 1000 times while it is full;
// false, with a WARN naming the label, when it never found room.
// A long text moves into the ring when the push succeeds.
bool pushMessage(OutboundRing& ring, MessageSlot& slot, core::Logger* logger, std::string_view label);

}  // namespace ostrel::api_server
