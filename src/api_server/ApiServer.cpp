#include "api_server/ApiServer.h"

#include "api_server/ApiError.h"
#include "api_server/ApiMessages.h"
#include "api_server/Connection.h"
#include "core/log/Logger.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <utility>

namespace ostrel::api_server {
namespace {

using core::LogLevel;
using Clock = std::chrono::steady_clock;

constexpr int kAcceptWaitMs = 100;
constexpr int kLineWaitMs = 20;
constexpr int kWriteLimitMs = 1000;
constexpr int kPushAttempts = 1000;
// A second client hears it is turned away on the second pass after it was taken.
constexpr int kBusyAfterPasses = 2;
// Clients taken from the listening queue in one pass beyond the one held: each is answered
// busy at once, so a crowd connecting together is answered within a pass or two.
constexpr int kAcceptsPerPass = 64;
// A client that has finished sending waits this long at most for the replies still owed
// to it, which come as soon as the owner pumps; the bound only frees the door from a
// client whose replies never come (an owner that stopped pumping).
constexpr int kDrainLimitMs = 3000;

// Replies start with "error" or "id", the keys before "jsonrpc"; notifications with it.
bool isReply(std::string_view text) { return !text.starts_with(R"({"jsonrpc":"2.0","method":)"); }

// Byte for byte, in a time that does not depend on where the first difference is.
bool sameToken(const std::string& given, const std::string& expected) {
    if (given.size() != expected.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (std::size_t i = 0; i < given.size(); ++i) {
        difference |= static_cast<unsigned char>(given[i] ^ expected[i]);
    }
    return difference == 0;
}

}  // namespace

ApiServer::ApiServer(core::Logger* logger) : logger_(logger) {}

ApiServer::~ApiServer() { stop(); }

void ApiServer::log(LogLevel level, const std::string& message) const {
    if (logger_ != nullptr) {
        logger_->log(level, "api_server", message);
    }
}

bool ApiServer::start(std::uint16_t port, const std::string& token) {
    if (running_.load(std::memory_order_acquire)) {
        return true;
    }
    if (!handler) {
        log(LogLevel::ERROR, "the API server needs a handler before it starts");
        return false;
    }
    Socket listener;
    if (!listener.listenTcp(port, logger_)) {
        return false;
    }
    port_ = listener.port();
    token_ = token;
    stopRequested_.store(false, std::memory_order_relaxed);
    networkThread_ = std::thread([this, socket = std::move(listener)]() mutable { run(std::move(socket)); });
    running_.store(true, std::memory_order_release);
    log(LogLevel::INFO, "the Control API is listening on 127.0.0.1:" + std::to_string(port_));
    return true;
}

void ApiServer::stop() {
    if (!running_.exchange(false, std::memory_order_acq_rel)) {
        return;
    }
    stopRequested_.store(true, std::memory_order_release);
    outboundWaiting_.raise();
    networkThread_.join();
    log(LogLevel::INFO, "the Control API is closed");
}

void ApiServer::pump() {
    if (!running_.load(std::memory_order_acquire)) {
        return;
    }
    MessageSlot request;
    MessageSlot reply;
    bool queued = false;
    while (inbound_.tryPop(request)) {
        std::string text = handleLine(request.view());
        if (text.size() > kMaxMessageBytes) {
            text = makeErrorReply("null", kTooLong, kReplyTooLongMessage);
        }
        std::memcpy(reply.text, text.data(), text.size());
        reply.length = static_cast<std::uint32_t>(text.size());
        // The request's tag: a reply to a client that has gone is dropped, never sent to
        // the next one. Its slot was claimed when the line was taken, so this finds room.
        reply.connection = request.connection;
        if (pushMessage(outbound_, reply, logger_, "reply")) {
            queued = true;
        } else {
            outboundClaims_.give(1);
        }
    }
    if (queued) {
        outboundWaiting_.raise();
    }
}

std::string ApiServer::handleLine(std::string_view line) {
    try {
        const Request request = parseRequest(line);
        if (!sameToken(request.token, token_)) {
            throw ApiError(kBadToken, std::string(kBadTokenMessage));
        }
        if (!handler) {
            throw ApiError(kInternalError, std::string(kNoHandlerMessage));
        }
        const std::string answer = handler(request.method, request.params.dump());
        nlohmann::json result = nlohmann::json::parse(answer, nullptr, false);
        if (result.is_discarded()) {
            throw ApiError(kInternalError, std::string(kHandlerNotJsonMessage));
        }
        return makeResultReply(request.id, result);
    } catch (const ApiError& error) {
        return makeErrorReply(extractRequestId(line), error.code, error.what());
    } catch (const nlohmann::json::exception&) {
        // The library's own text names its internals, not the client's mistake.
        return makeErrorReply("null", kInternalError, kJsonValueMessage);
    } catch (const std::bad_alloc&) {
        return makeErrorReply("null", kInternalError, kOutOfMemoryMessage);
    } catch (const std::exception& error) {
        return makeErrorReply("null", kInternalError, std::string(kInternalErrorPrefix) + error.what());
    } catch (...) {
        // Nothing may escape into the owner's event loop, and every request is answered.
        return makeErrorReply("null", kInternalError, std::string(kInternalErrorPrefix) + "unknown exception");
    }
}

void ApiServer::notify(std::string_view method, const nlohmann::json& params) {
    const std::uint64_t connection = currentConnection_.load(std::memory_order_acquire);
    if (connection == 0) {
        return;
    }
    const std::string text = makeNotification(method, params);
    if (text.size() > kMaxMessageBytes || !outboundClaims_.tryTake()) {
        return;
    }
    if (outbound_.tryPush(text, connection)) {
        outboundWaiting_.raise();
    } else {
        outboundClaims_.give(1);
    }
}

// What the network thread keeps from one client to the next.
struct ApiServer::NetworkState {
    MessageSlot outgoing;
    std::string line;
    std::unique_ptr<Connection> held;  // a second client, not answered yet
    int heldPasses = 0;
    // The claim for the next request's reply, taken before the line is read.
    bool replyClaimed = false;
    // Requests of the current client whose replies have not gone out yet.
    int repliesOwed = 0;
    // Whether the current client has sent a request with the right token, and by when it must.
    bool admitted = false;
    Clock::time_point admitBy{};
    const std::string busyReply = makeErrorReply("null", kBusy, kBusyMessage);
    const std::string noTokenInTimeReply = makeErrorReply("null", kTooSlow, kNoTokenInTimeMessage);
    const std::string unfinishedLineReply = makeErrorReply("null", kTooSlow, kUnfinishedLineMessage);
    const std::string queueFullReply = makeErrorReply("null", kQueueFull, kQueueFullMessage);
    const std::string requestTooLongReply = tooLongReply();
};

void ApiServer::run(Socket listener) {
    NetworkState state;
    while (!stopRequested_.load(std::memory_order_acquire)) {
        std::unique_ptr<Connection> client = std::move(state.held);
        if (!client) {
            sendOutbound(nullptr, 0, state);
            const SocketHandle handle = listener.accept(kAcceptWaitMs);
            if (handle == kInvalidSocket) {
                continue;
            }
            client = std::make_unique<Connection>(handle);
        }
        const std::uint64_t connection = ++connectionsSeen_;
        state.repliesOwed = 0;
        state.admitted = false;
        state.admitBy = Clock::now() + std::chrono::milliseconds(kClientPatienceMs);
        currentConnection_.store(connection, std::memory_order_release);
        log(LogLevel::INFO, "a Control-API client connected");

        serveClient(listener, *client, connection, state);

        currentConnection_.store(0, std::memory_order_release);
        // What waits now is for this client only; a reply still being made is dropped by
        // its tag when it comes.
        sendOutbound(nullptr, 0, state);
        log(LogLevel::INFO, "the Control-API client disconnected");
        client->closeInOrder();
        client.reset();
        if (stopRequested_.load(std::memory_order_acquire)) {
            state.held.reset();
        }
    }
    if (state.replyClaimed) {
        outboundClaims_.give(1);
    }
}

void ApiServer::serveClient(Socket& listener, Connection& client, std::uint64_t connection, NetworkState& state) {
    std::chrono::steady_clock::time_point drainEnd{};
    while (!stopRequested_.load(std::memory_order_acquire) && !client.closed()) {
        holdOrTurnAway(listener, state);

        sendOutbound(&client, connection, state);
        if (client.closed()) {
            break;
        }
        if (closeIfLingering(client, state)) {
            break;
        }

        if (client.inputEnded() && !client.hasWaitingLine()) {
            // Half-closed (`nc -N`): the client still reads, so it gets what it asked for
            // before the door closes.
            if (state.repliesOwed <= 0) {
                break;
            }
            const auto now = std::chrono::steady_clock::now();
            if (drainEnd == std::chrono::steady_clock::time_point{}) {
                drainEnd = now + std::chrono::milliseconds(kDrainLimitMs);
            } else if (now >= drainEnd) {
                break;
            }
            (void)waitReadable(outboundWaiting_.handle(), kLineWaitMs);
            continue;
        }

        if (!state.replyClaimed) {
            state.replyClaimed = outboundClaims_.tryTake();
        }
        if (!state.replyClaimed) {
            // No room for one more reply: the client's next line stays unread until
            // the pump has queued the replies ahead of it and they have gone out.
            (void)waitReadable(outboundWaiting_.handle(), kLineWaitMs);
            continue;
        }
        readRequest(client, connection, state);
    }
}

bool ApiServer::closeIfLingering(Connection& client, NetworkState& state) {
    if (client.inputEnded()) {
        return false;  // it has had its say; the drain has a bound of its own
    }
    const Clock::time_point now = Clock::now();
    const Clock::time_point unfinishedSince = client.unfinishedSince();
    const std::string* reply = nullptr;
    if (!state.admitted && now >= state.admitBy) {
        reply = &state.noTokenInTimeReply;
        log(LogLevel::INFO, "a Control-API client sent no request with the right token within 3 seconds; closing it");
    } else if (unfinishedSince != Clock::time_point{} &&
               now - unfinishedSince >= std::chrono::milliseconds(kClientPatienceMs)) {
        reply = &state.unfinishedLineReply;
        log(LogLevel::INFO, "a Control-API client left a request line unfinished for 3 seconds; closing it");
    } else {
        return false;
    }
    writeStraight(client, *reply);
    return true;
}

void ApiServer::holdOrTurnAway(Socket& listener, NetworkState& state) {
    if (state.held && ++state.heldPasses >= kBusyAfterPasses) {
        turnAway(*state.held, state);
        state.held.reset();
    }
    for (int taken = 0; taken < kAcceptsPerPass; ++taken) {
        const SocketHandle handle = listener.accept(0);
        if (handle == kInvalidSocket) {
            break;
        }
        if (!state.held) {
            state.held = std::make_unique<Connection>(handle);
            state.heldPasses = 0;
        } else {
            Connection other(handle);
            turnAway(other, state);
        }
    }
}

void ApiServer::turnAway(Connection& client, const NetworkState& state) {
    (void)client.writeLine(state.busyReply, kWriteLimitMs);
    log(LogLevel::INFO, "a second client was turned away: one client at a time");
    // What it sent is read first: closing over unread bytes would reset the connection,
    // and the reset can destroy the busy line before the client reads it.
    client.closeInOrder();
}

void ApiServer::readRequest(Connection& client, std::uint64_t connection, NetworkState& state) {
    switch (client.readLine(state.line, kLineWaitMs, outboundWaiting_.handle())) {
    case LineRead::Nothing:
        break;
    case LineRead::TooLong:
        writeStraight(client, state.requestTooLongReply);
        break;
    case LineRead::Line:
        if (!state.admitted) {
            state.admitted = carriesToken(state.line);
        }
        if (inbound_.tryPush(state.line, connection)) {
            state.replyClaimed = false;  // the reply's claim travels with the line
            ++state.repliesOwed;
        } else {
            writeStraight(client, state.queueFullReply);
        }
        break;
    }
}

bool ApiServer::carriesToken(std::string_view line) const {
    try {
        return sameToken(parseRequest(line).token, token_);
    } catch (...) {
        return false;  // the pump answers why; the line admits nobody
    }
}

void ApiServer::sendOutbound(Connection* client, std::uint64_t connection, NetworkState& state) {
    MessageSlot& outgoing = state.outgoing;
    // Cleared before the ring is read, so a message pushed from now on raises it anew.
    outboundWaiting_.clear();
    while (outbound_.tryPop(outgoing)) {
        outboundClaims_.give(1);
        if (client == nullptr || outgoing.connection != connection || client->closed()) {
            continue;
        }
        if (isReply(outgoing.view())) {
            --state.repliesOwed;
        }
        if (!client->writeLine(outgoing.view(), kWriteLimitMs)) {
            log(LogLevel::WARN, "the client stopped reading; dropping it");
        }
    }
}

void ApiServer::writeStraight(Connection& client, const std::string& text) {
    if (!client.writeLine(text, kWriteLimitMs)) {
        log(LogLevel::WARN, "the client stopped reading; dropping it");
    }
}

bool pushMessage(OutboundRing& ring, const MessageSlot& slot, core::Logger* logger, std::string_view label) {
    for (int attempt = 0; attempt < kPushAttempts; ++attempt) {
        if (ring.tryPush(slot)) {
            return true;
        }
        std::this_thread::yield();
    }
    if (logger != nullptr) {
        logger->log(LogLevel::WARN, "api_server", "dropped an API message (queue full): " + std::string(label));
    }
    return false;
}

}  // namespace ostrel::api_server
