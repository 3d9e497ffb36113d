#include "api_server/jsonrpc/ApiServer.h"

#include "api_server/jsonrpc/ApiError.h"
#include "api_server/jsonrpc/ApiMessages.h"
#include "api_server/jsonrpc/Connection.h"
#include "api_server/jsonrpc/RefusalSummary.h"
#include "core/Failure.h"
#include "core/log/Logger.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace ostrel::api_server {
namespace {

using core::LogLevel;
using Clock = std::chrono::steady_clock;

constexpr int kAcceptWaitMs = 100;
constexpr int kLineWaitMs = 20;
constexpr int kWriteLimitMs = 1000;
constexpr int kPushAttempts = 1000;
// A client that comes while the door is held hears it is turned away on the second pass
// after it was taken; if the door is free by then, it is read instead.
constexpr int kBusyAfterPasses = 2;
// Clients taken from the listening queue in one pass: beyond kMaxWaitingClients each
// turns the one that waited longest away, so a crowd connecting together is answered
// within a pass or two.
constexpr int kAcceptsPerPass = 64;
// A client that has finished sending waits this long at most for the replies still owed
// to it, which come as soon as the owner pumps; the bound only frees the door from a
// client whose replies never come (an owner that stopped pumping).
constexpr int kDrainLimitMs = 3000;
// The most bytes that replies longer than a slot may hold together while they wait to be
// sent, so a client that asks for many and reads slowly cannot make the program grow.
constexpr std::size_t kLongReplyBudget = std::size_t{64} << 20;

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

ApiServer::ApiServer(core::Logger* logger, std::vector<PeerOwner::Way> ownerWays)
    : logger_(logger), ownerWays_(std::move(ownerWays)) {}

ApiServer::~ApiServer() { stop(); }

void ApiServer::log(LogLevel level, const std::string& message) const {
    if (logger_ != nullptr) {
        logger_->log(level, "api_server", message);
    }
}

bool ApiServer::start(std::uint16_t port, const std::string& token, std::string* error) {
    if (running_.load(std::memory_order_acquire)) {
        return true;
    }
    if (!handler) {
        log(LogLevel::ERROR, "the API server needs a handler before it starts");
        return core::fail(error, "the API server has no handler");
    }
    Socket listener;
    if (!listener.listenTcp(port, logger_, error)) {
        return false;
    }
    port_ = listener.port();
    token_ = token;
    PeerOwner owners(listener, ownerWays_);
    const bool ownersTold = owners.way() != PeerOwner::Way::None;
    stopRequested_.store(false, std::memory_order_relaxed);
    networkThread_ = std::thread([this, socket = std::move(listener), owners = std::move(owners)]() mutable {
        run(std::move(socket), std::move(owners));
    });
    running_.store(true, std::memory_order_release);
    log(LogLevel::INFO, "the Control API is listening on 127.0.0.1:" + std::to_string(port_));
    if (!ownersTold) {
        log(LogLevel::WARN, "this system does not tell whose process a connection comes from (neither the kernel's "
                            "socket diagnostics nor /proc/net/tcp answer), so the Control API cannot keep other users' "
                            "processes out: any process that sends the token is served");
    }
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
        std::size_t longBytes = 0;
        if (text.size() > kMaxReplyBytes) {
            text = makeErrorReply(extractRequestId(request.view()), kTooLong, kReplyTooLongMessage);
        } else if (text.size() > kMaxMessageBytes) {
            // Longer than a slot: the text itself is handed over, within a bound on the
            // bytes such replies hold together while a client is slow to read them.
            longBytes = text.size();
            if (longReplyBytes_.fetch_add(longBytes, std::memory_order_relaxed) + longBytes > kLongReplyBudget) {
                longReplyBytes_.fetch_sub(longBytes, std::memory_order_relaxed);
                longBytes = 0;
                text = makeErrorReply(extractRequestId(request.view()), kQueueFull, kQueueFullMessage);
            }
        }
        if (longBytes != 0) {
            reply.longText = std::make_unique<std::string>(std::move(text));
        } else {
            std::memcpy(reply.text, text.data(), text.size());
            reply.length = static_cast<std::uint32_t>(text.size());
        }
        // The request's tag: a reply to a client that has gone is dropped, never sent to
        // the next one. Its slot was claimed when the line was taken, so this finds room.
        reply.connection = request.connection;
        if (pushMessage(outbound_, reply, logger_, "reply")) {
            queued = true;
        } else {
            outboundClaims_.give(1);
            reply.longText.reset();
            longReplyBytes_.fetch_sub(longBytes, std::memory_order_relaxed);
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
        if (answer.size() > kMaxReplyBytes) {
            // Refused before it is read: its reply could not go out anyway.
            throw ApiError(kTooLong, std::string(kReplyTooLongMessage));
        }
        nlohmann::json result = nlohmann::json::parse(answer, nullptr, false);
        if (result.is_discarded()) {
            throw ApiError(kInternalError, std::string(kHandlerNotJsonMessage));
        }
        return makeResultReply(request.id, result);
    } catch (const ApiError& error) {
        return makeErrorReply(extractRequestId(line), error.code, error.what());
    } catch (const nlohmann::json::exception&) {
        // The library's own text names its internals, not the client's mistake.
        return makeErrorReply(extractRequestId(line), kInternalError, kJsonValueMessage);
    } catch (const std::bad_alloc&) {
        return makeErrorReply("null", kInternalError, kOutOfMemoryMessage);
    } catch (const std::exception& error) {
        return makeErrorReply(extractRequestId(line), kInternalError, std::string(kInternalErrorPrefix) + error.what());
    } catch (...) {
        // Nothing may escape into the owner's event loop, and every request is answered.
        return makeErrorReply(extractRequestId(line), kInternalError,
                              std::string(kInternalErrorPrefix) + "unknown exception");
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

namespace {

// A client taken from the listening queue that has not shown the token yet.
struct WaitingClient {
    std::unique_ptr<Connection> client;
    Clock::time_point admitBy;
    int passesWhileHeld = 0;  // passes made while another client held the door
};

}  // namespace

// What the network thread keeps from one client to the next.
struct ApiServer::NetworkState {
    NetworkState(core::Logger* logger, PeerOwner peerOwners) : owners(std::move(peerOwners)), refusals(logger) {}

    MessageSlot outgoing;
    std::string line;
    std::deque<WaitingClient> waiting;  // oldest first
    std::vector<SocketHandle> handles;
    std::vector<bool> readable;
    // Clients just taken from the listening queue, and whose process each comes from.
    std::vector<SocketHandle> newcomers;
    std::vector<PeerOwner::Peer> peers;
    // The claim for the next request's reply, taken before the line is read.
    bool replyClaimed = false;
    // Requests of the current client whose replies have not gone out yet.
    int repliesOwed = 0;
    // Whether a client holds the door: it decides what one turned away is told.
    bool doorHeld = false;
    PeerOwner owners;
    RefusalSummary refusals;
    const std::string busyReply = makeErrorReply("null", kBusy, kBusyMessage);
    const std::string crowdedReply = makeErrorReply("null", kBusy, kCrowdedMessage);
    const std::string noTokenInTimeReply = makeErrorReply("null", kTooSlow, kNoTokenInTimeMessage);
    const std::string unfinishedLineReply = makeErrorReply("null", kTooSlow, kUnfinishedLineMessage);
    const std::string anotherUserReply = makeErrorReply("null", kNotTheUsers, kAnotherUserMessage);
    const std::string ownerUnknownReply = makeErrorReply("null", kNotTheUsers, kOwnerUnknownMessage);
    const std::string outOfMemoryReply = makeErrorReply("null", kInternalError, kOutOfMemoryMessage);
    const std::string requestTooLongReply = tooLongReply();
};

void ApiServer::run(Socket listener, PeerOwner owners) {
    NetworkState state(logger_, std::move(owners));
    while (!stopRequested_.load(std::memory_order_acquire)) {
        std::unique_ptr<Connection> client = admitOne(listener, state);
        if (!client) {
            continue;
        }
        const std::uint64_t connection = ++connectionsSeen_;
        state.repliesOwed = 0;
        currentConnection_.store(connection, std::memory_order_release);
        log(LogLevel::INFO, "a Control-API client connected");

        state.doorHeld = true;
        serveClient(listener, *client, connection, state);
        state.doorHeld = false;

        currentConnection_.store(0, std::memory_order_release);
        // What waits now is for this client only; a reply still being made is dropped by
        // its tag when it comes.
        sendOutbound(nullptr, 0, state);
        log(LogLevel::INFO, "the Control-API client disconnected");
        client->closeInOrder();
        for (WaitingClient& other : state.waiting) {
            other.passesWhileHeld = 0;
        }
    }
    state.waiting.clear();  // closed without a reply
    state.refusals.flushAll();
    if (state.replyClaimed) {
        outboundClaims_.give(1);
    }
}

std::unique_ptr<Connection> ApiServer::admitOne(Socket& listener, NetworkState& state) {
    // What waits now was meant for a client that has gone.
    sendOutbound(nullptr, 0, state);
    state.handles.clear();
    state.handles.push_back(listener.handle());
    bool lineWaiting = false;  // read when the client was taken, so its socket shows nothing new
    for (const WaitingClient& waiting : state.waiting) {
        state.handles.push_back(waiting.client->closed() ? kInvalidSocket : waiting.client->handle());
        lineWaiting = lineWaiting || waiting.client->hasWaitingLine();
    }
    waitAnyReadable(state.handles, outboundWaiting_.handle(),
                    lineWaiting ? 0 : state.waiting.empty() ? kAcceptWaitMs : kLineWaitMs, state.readable);
    if (stopRequested_.load(std::memory_order_acquire)) {
        return nullptr;
    }
    state.refusals.flushDue(Clock::now());
    // Oldest first: of several with the token, the one that came first is let in.
    for (std::size_t i = 0; i < state.waiting.size(); ++i) {
        Connection& client = *state.waiting[i].client;
        if ((state.readable[i + 1] || client.hasWaitingLine()) && readWaitingClient(client, state)) {
            std::unique_ptr<Connection> admitted = std::move(state.waiting[i].client);
            state.waiting.erase(state.waiting.begin() + static_cast<std::ptrdiff_t>(i));
            return admitted;
        }
    }
    for (auto it = state.waiting.begin(); it != state.waiting.end();) {
        Connection& client = *it->client;
        const bool gone = client.closed() || (client.inputEnded() && !client.hasWaitingLine()) ||
                          closeIfLingering(client, it->admitBy, state);
        if (gone) {
            client.closeInOrder();
            it = state.waiting.erase(it);
        } else {
            ++it;
        }
    }
    takeNewClients(listener, state);
    return nullptr;
}

bool ApiServer::readWaitingClient(Connection& client, NetworkState& state) {
    client.receiveWaiting();
    while (!client.closed()) {
        switch (client.takeLine(state.line)) {
        case LineRead::Nothing:
            return false;
        case LineRead::TooLong:
            writeStraight(client, state.requestTooLongReply, state);
            break;
        case LineRead::Line:
            if (const std::optional<std::string> refusal = refusalBeforeAdmission(state.line, state)) {
                writeStraight(client, *refusal, state);
            } else {
                client.putBack(state.line);  // the pump handles it like any other
                return true;
            }
            break;
        }
    }
    return false;
}

std::optional<std::string> ApiServer::refusalBeforeAdmission(std::string_view line, const NetworkState& state) const {
    // What the pump would answer: the same checks in the same order, up to the token.
    try {
        if (sameToken(parseRequest(line).token, token_)) {
            return std::nullopt;
        }
        return makeErrorReply(extractRequestId(line), kBadToken, kBadTokenMessage);
    } catch (const ApiError& error) {
        return makeErrorReply(extractRequestId(line), error.code, error.what());
    } catch (...) {
        return state.outOfMemoryReply;  // the parser throws nothing else
    }
}

void ApiServer::serveClient(Socket& listener, Connection& client, std::uint64_t connection, NetworkState& state) {
    Clock::time_point drainEnd{};
    while (!stopRequested_.load(std::memory_order_acquire) && servePass(client, connection, drainEnd, state)) {
        // Only once this client is known to stay are those who came meanwhile told the door
        // is busy: one that came the moment it left is let in instead.
        for (auto it = state.waiting.begin(); it != state.waiting.end();) {
            if (++it->passesWhileHeld >= kBusyAfterPasses) {
                turnAway(*it->client, state);
                it = state.waiting.erase(it);
            } else {
                ++it;
            }
        }
        takeNewClients(listener, state);
    }
}

bool ApiServer::servePass(Connection& client, std::uint64_t connection, Clock::time_point& drainEnd,
                          NetworkState& state) {
    state.refusals.flushDue(Clock::now());
    sendOutbound(&client, connection, state);
    if (client.closed() || closeIfLingering(client, std::nullopt, state)) {
        return false;
    }
    if (client.inputEnded() && !client.hasWaitingLine()) {
        // Half-closed (`nc -N`): the client still reads, so it gets what it asked for
        // before the door closes.
        if (state.repliesOwed <= 0) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (drainEnd == Clock::time_point{}) {
            drainEnd = now + std::chrono::milliseconds(kDrainLimitMs);
        } else if (now >= drainEnd) {
            return false;
        }
        (void)waitReadable(outboundWaiting_.handle(), kLineWaitMs);
        return true;
    }
    if (!state.replyClaimed) {
        state.replyClaimed = outboundClaims_.tryTake();
    }
    if (!state.replyClaimed) {
        // No room for one more reply: the client's next line stays unread until the pump
        // has queued the replies ahead of it and they have gone out.
        (void)waitReadable(outboundWaiting_.handle(), kLineWaitMs);
        return true;
    }
    readRequest(client, connection, state);
    // A client that has just gone with nothing owed leaves now, before the pass's end.
    return !client.closed() && !(client.inputEnded() && !client.hasWaitingLine() && state.repliesOwed <= 0);
}

bool ApiServer::closeIfLingering(Connection& client, std::optional<Clock::time_point> admitBy,
                                 NetworkState& state) {
    if (client.inputEnded()) {
        return false;  // it has had its say; the drain has a bound of its own
    }
    const Clock::time_point now = Clock::now();
    const Clock::time_point unfinishedSince = client.unfinishedSince();
    const std::string* reply = nullptr;
    if (admitBy && now >= *admitBy) {
        reply = &state.noTokenInTimeReply;
        state.refusals.note(RefusalSummary::Kind::NoTokenInTime, now);
    } else if (unfinishedSince != Clock::time_point{} &&
               now - unfinishedSince >= std::chrono::milliseconds(kClientPatienceMs)) {
        reply = &state.unfinishedLineReply;
        state.refusals.note(RefusalSummary::Kind::UnfinishedLine, now);
    } else {
        return false;
    }
    writeStraight(client, *reply, state);
    return true;
}

void ApiServer::takeNewClients(Socket& listener, NetworkState& state) {
    state.newcomers.clear();
    for (int taken = 0; taken < kAcceptsPerPass; ++taken) {
        const SocketHandle handle = listener.accept(0);
        if (handle == kInvalidSocket) {
            break;
        }
        state.newcomers.push_back(handle);
    }
    if (state.newcomers.empty()) {
        return;
    }
    // Whose each one is, asked of them all at once, before a byte of theirs is read.
    if (state.owners.way() == PeerOwner::Way::None) {
        state.peers.assign(state.newcomers.size(), PeerOwner::Peer::TheUser);  // the token rule alone, as warned
    } else {
        state.owners.peersOf(state.newcomers, state.peers);
    }
    for (std::size_t i = 0; i < state.newcomers.size(); ++i) {
        auto client = std::make_unique<Connection>(state.newcomers[i]);
        if (state.peers[i] != PeerOwner::Peer::TheUser) {
            sendAwayUnread(*client, state.peers[i] == PeerOwner::Peer::AnotherUser, state);
            continue;
        }
        // A client usually sends its request the moment it connects: read now, it is
        // known to be talking before room has to be made.
        client->receiveWaiting();
        if (state.waiting.size() >= kMaxWaitingClients) {
            makeRoom(state);
        }
        state.waiting.push_back({std::move(client), Clock::now() + std::chrono::milliseconds(kClientPatienceMs), 0});
    }
}

void ApiServer::sendAwayUnread(Connection& client, bool anotherUser, NetworkState& state) {
    // Not another user's, yet not known to be the user's: mostly a client that has closed
    // already, and what it sent could be anyone's.
    (void)client.writeLine(anotherUser ? state.anotherUserReply : state.ownerUnknownReply, kWriteLimitMs);
    state.refusals.note(anotherUser ? RefusalSummary::Kind::AnotherUser : RefusalSummary::Kind::OwnerUnknown,
                        Clock::now());
    client.closeInOrder();
}

void ApiServer::makeRoom(NetworkState& state) {
    // Oldest first. A silent client is read once more, since it may have gone or sent its
    // request meanwhile: one that has gone makes room without a word.
    auto chosen = state.waiting.end();
    for (auto it = state.waiting.begin(); it != state.waiting.end(); ++it) {
        Connection& client = *it->client;
        if (!client.heardFrom()) {
            client.receiveWaiting();
        }
        if (client.closed() || (client.inputEnded() && !client.hasWaitingLine())) {
            client.closeInOrder();
            state.waiting.erase(it);
            return;
        }
        if (!client.heardFrom()) {
            chosen = it;
            break;
        }
    }
    if (chosen == state.waiting.end()) {
        chosen = std::find_if(state.waiting.begin(), state.waiting.end(),
                              [](const WaitingClient& waiting) { return !waiting.client->hasWaitingLine(); });
    }
    if (chosen == state.waiting.end()) {
        chosen = state.waiting.begin();
    }
    turnAway(*chosen->client, state);
    state.waiting.erase(chosen);
}

void ApiServer::turnAway(Connection& client, NetworkState& state) {
    // Told the truth: while nobody holds the door, it is the crowd that turns it away.
    (void)client.writeLine(state.doorHeld ? state.busyReply : state.crowdedReply, kWriteLimitMs);
    state.refusals.note(state.doorHeld ? RefusalSummary::Kind::Busy : RefusalSummary::Kind::Crowded, Clock::now());
    // What it sent is read first: closing over unread bytes would reset the connection,
    // and the reset can destroy the busy line before the client reads it.
    client.closeInOrder();
}

void ApiServer::readRequest(Connection& client, std::uint64_t connection, NetworkState& state) {
    switch (client.readLine(state.line, kLineWaitMs, outboundWaiting_.handle())) {
    case LineRead::Nothing:
        break;
    case LineRead::TooLong:
        writeStraight(client, state.requestTooLongReply, state);
        break;
    case LineRead::Line:
        if (inbound_.tryPush(state.line, connection)) {
            state.replyClaimed = false;  // the reply's claim travels with the line
            ++state.repliesOwed;
        } else {
            writeStraight(client, makeErrorReply(extractRequestId(state.line), kQueueFull, kQueueFullMessage), state);
        }
        break;
    }
}

void ApiServer::sendOutbound(Connection* client, std::uint64_t connection, NetworkState& state) {
    MessageSlot& outgoing = state.outgoing;
    // Cleared before the ring is read, so a message pushed from now on raises it anew.
    outboundWaiting_.clear();
    while (outbound_.tryPop(outgoing)) {
        outboundClaims_.give(1);
        if (client != nullptr && outgoing.connection == connection && !client->closed()) {
            if (isReply(outgoing.view())) {
                --state.repliesOwed;
            }
            if (!client->writeLine(outgoing.view(), kWriteLimitMs)) {
                log(LogLevel::WARN, "the client stopped reading; dropping it");
            }
        }
        if (outgoing.longText) {
            const std::size_t bytes = outgoing.longText->size();
            outgoing.longText.reset();
            longReplyBytes_.fetch_sub(bytes, std::memory_order_relaxed);
        }
    }
}

void ApiServer::writeStraight(Connection& client, const std::string& text, NetworkState& state) {
    if (!client.writeLine(text, kWriteLimitMs)) {
        state.refusals.note(RefusalSummary::Kind::StoppedReading, Clock::now());
    }
}

bool pushMessage(OutboundRing& ring, MessageSlot& slot, core::Logger* logger, std::string_view label) {
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
