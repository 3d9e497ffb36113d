#include "api_server/jsonrpc/Connection.h"

#include "api_server/jsonrpc/ApiError.h"
#include "api_server/rings/MessageRing.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <utility>

namespace ostrel::api_server {
namespace {

using Clock = std::chrono::steady_clock;

// Each wait for bytes is this short whatever the caller's limit, so a reader notices
// its deadline and its owner's stop request soon.
constexpr int kReadWaitMs = 20;
constexpr std::size_t kChunkBytes = 4096;
// closeInOrder reads at most this much of what the client sent; a client that floods
// the socket past it gets its reset.
constexpr std::size_t kDrainBytes = 1 << 20;

}  // namespace

Connection::~Connection() { close(); }

void Connection::close() noexcept {
    closeSocket(std::exchange(handle_, kInvalidSocket));
    buffer_.clear();
    closed_ = true;
}

void Connection::closeInOrder() noexcept {
    if (handle_ != kInvalidSocket) {
        ::shutdown(handle_, SHUT_WR);
        char chunk[kChunkBytes];
        for (std::size_t drained = 0; drained < kDrainBytes;) {
            const ssize_t received = ::recv(handle_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (received < 0 && errno == EINTR) {
                continue;
            }
            if (received <= 0) {
                break;
            }
            drained += static_cast<std::size_t>(received);
        }
    }
    close();
}

void Connection::noteUnfinishedLine(std::string_view chunk) {
    if (chunk.back() == '\n') {
        unfinishedSince_ = {};
    } else if (chunk.find('\n') != std::string_view::npos || unfinishedSince_ == Clock::time_point{}) {
        unfinishedSince_ = Clock::now();  // a line begun in this chunk
    }
}

bool Connection::hasWaitingLine() const noexcept {
    return !discarding_ && buffer_.find('\n') != std::string::npos;
}

LineRead Connection::takeLine(std::string& out) {
    out.clear();
    if (discarding_) {
        const std::size_t end = buffer_.find('\n');
        if (end == std::string::npos) {
            buffer_.clear();
            return LineRead::Nothing;
        }
        buffer_.erase(0, end + 1);
        discarding_ = false;
    }
    const std::size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
        const bool fits = end <= kMaxMessageBytes;
        if (fits) {
            out.assign(buffer_, 0, end);
        }
        buffer_.erase(0, end + 1);
        return fits ? LineRead::Line : LineRead::TooLong;
    }
    if (buffer_.size() > kMaxMessageBytes) {
        buffer_.clear();
        discarding_ = true;
        return LineRead::TooLong;
    }
    return LineRead::Nothing;
}

void Connection::putBack(std::string_view line) {
    buffer_.insert(0, 1, '\n');
    buffer_.insert(0, line);
}

void Connection::receive(int flags) {
    char chunk[kChunkBytes];
    const ssize_t received = ::recv(handle_, chunk, sizeof chunk, flags);
    if (received > 0) {
        heardFrom_ = true;
        noteUnfinishedLine(std::string_view(chunk, static_cast<std::size_t>(received)));
        buffer_.append(chunk, static_cast<std::size_t>(received));
    } else if (received == 0) {
        inputEnded_ = true;  // the client may still read: replies go out until the server closes
    } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
        closed_ = true;
    }
}

void Connection::receiveWaiting() {
    if (!closed() && !inputEnded_) {
        receive(MSG_DONTWAIT);
    }
}

LineRead Connection::readLine(std::string& out, int timeoutMs, SocketHandle wake) {
    out.clear();
    if (closed()) {
        return LineRead::Nothing;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const LineRead taken = takeLine(out);
        if (taken != LineRead::Nothing) {
            return taken;
        }
        if (inputEnded_) {
            // A last line without its '\n' is a request cut short: dropped.
            buffer_.clear();
            discarding_ = false;
            return LineRead::Nothing;
        }
        if (Clock::now() >= deadline) {
            return LineRead::Nothing;
        }
        const Readiness ready = waitReadableOrWoken(handle_, wake, kReadWaitMs);
        if (ready == Readiness::Woken) {
            return LineRead::Nothing;
        }
        if (ready == Readiness::Nothing) {
            continue;
        }
        receive(0);
        if (closed_) {
            return LineRead::Nothing;
        }
    }
}

bool Connection::writeLine(std::string_view text, int timeoutMs) {
    if (closed()) {
        return false;
    }
    std::string data;
    data.reserve(text.size() + 1);
    data.append(text);
    data.push_back('\n');
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t sent = 0;
    while (sent < data.size()) {
        if (Clock::now() > deadline) {
            closed_ = true;
            return false;
        }
        // MSG_NOSIGNAL: a peer that has gone makes send fail instead of raising SIGPIPE.
        const ssize_t result = ::send(handle_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (result < 1) {
            if (result < 0 && errno == EINTR) {
                continue;
            }
            // Also the 50 ms send limit running out: a client that does not read is dropped.
            closed_ = true;
            return false;
        }
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

}  // namespace ostrel::api_server
