#include "api_server/osc/OscServer.h"

#include "api_server/osc/OscMessage.h"
#include "api_server/osc/OscRoute.h"
#include "core/Failure.h"
#include "core/log/Logger.h"

#include <nlohmann/json.hpp>

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <utility>

namespace ostrel::api_server {
namespace {

using core::LogLevel;
using nlohmann::json;

// How long the receive thread waits for a datagram before it looks at the stop flag.
constexpr int kReceiveWaitMs = 100;

}  // namespace

OscServer::OscServer(core::Logger* logger) : logger_(logger) {}

OscServer::~OscServer() { stop(); }

void OscServer::log(LogLevel level, const std::string& message) const {
    if (logger_ != nullptr) {
        logger_->log(level, "api_server", message);
    }
}

bool OscServer::start(std::uint16_t port, std::string* error) {
    if (running_.load(std::memory_order_acquire)) {
        return true;
    }
    if (!handler) {
        log(LogLevel::ERROR, "the OSC server needs a handler before it starts");
        return core::fail(error, "the OSC server has no handler");
    }
    socket_ = std::make_unique<Socket>();
    if (!socket_->bindUdp(port, logger_, error)) {
        socket_.reset();
        return false;
    }
    port_ = socket_->port();
    // Calls left from before a stop are stale by now; no receive thread runs yet.
    inbound_.discardAll();
    stopRequested_.store(false, std::memory_order_relaxed);
    receiveThread_ = std::thread([this] { run(); });
    running_.store(true, std::memory_order_release);
    log(LogLevel::INFO, "the OSC door is listening on 127.0.0.1:" + std::to_string(port_) + " (UDP)");
    return true;
}

void OscServer::stop() {
    if (!running_.exchange(false, std::memory_order_acq_rel)) {
        return;
    }
    stopRequested_.store(true, std::memory_order_release);
    receiveThread_.join();
    socket_.reset();
    log(LogLevel::INFO, "the OSC door is closed");
}

void OscServer::run() {
    std::array<char, kMaxDatagramBytes> buffer{};
    while (!stopRequested_.load(std::memory_order_acquire)) {
        const long received = socket_->receiveDatagram(buffer.data(), buffer.size(), kReceiveWaitMs);
        if (received < 1) {
            continue;
        }
        // A datagram longer than the buffer arrives cut; its remains could read as another
        // message, so it is dropped whole.
        if (static_cast<unsigned long>(received) <= buffer.size()) {
            take(buffer.data(), static_cast<std::size_t>(received));
        }
        datagramsRead_.fetch_add(1, std::memory_order_release);
    }
}

void OscServer::take(const char* datagram, std::size_t size) {
    try {
        const std::optional<OscMessage> message = parseOscMessage(datagram, size);
        if (!message) {
            return;
        }
        std::optional<OscRequest> request = oscToRequest(*message);
        if (!request) {
            return;
        }
        // Throws for a string argument that is not UTF-8: it cannot become JSON text.
        const std::string text =
            json{{"method", std::move(request->method)}, {"params", std::move(request->params)}}.dump();
        // Full ring or too long a text: dropped, as every unusable datagram is.
        (void)inbound_.tryPush(text, 0);
    } catch (const std::exception&) {
        // No datagram ends the receive thread.
    }
}

void OscServer::pump() {
    if (!running_.load(std::memory_order_acquire)) {
        return;
    }
    // Only what waits now: a sender that never pauses cannot keep the GUI thread in here.
    std::size_t calls = inbound_.size();
    MessageSlot slot;
    while (calls-- > 0 && inbound_.tryPop(slot)) {
        try {
            const json call = json::parse(slot.view(), nullptr, false);
            if (!call.is_object() || !handler) {
                continue;
            }
            (void)handler(call.at("method").get<std::string>(), call.at("params").dump());
        } catch (...) {
            // The door answers nothing, refusals included, and nothing may escape into the
            // owner's event loop.
        }
    }
}

}  // namespace ostrel::api_server
