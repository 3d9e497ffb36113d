#pragma once

#include "api_server/jsonrpc/ApiServer.h"
#include "core/log/LogSink.h"
#include "core/log/Logger.h"
#include "support/AnotherUser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace ostrel::test {

// Only a guard against a hung test; nothing is measured against it.
inline constexpr std::chrono::milliseconds kGuard{10000};

// Log lines as the server wrote them, readable from the test's thread.
class LogCapture : public core::LogSink {
public:
    void write(const core::LogRecord& record) override {
        {
            std::lock_guard lock(mutex_);
            lines_.push_back({record.level, record.category, record.message});
        }
        changed_.notify_all();
    }

    struct Line {
        core::LogLevel level;
        std::string category;
        std::string message;
    };

    std::vector<Line> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    int count(std::string_view message) const {
        std::lock_guard lock(mutex_);
        int found = 0;
        for (const Line& line : lines_) {
            found += line.message == message ? 1 : 0;
        }
        return found;
    }

    // The clients a summed-up kind of line speaks of: one for each line that is message,
    // n for each message followed by " (<n> more in the last 10 s)".
    int tally(std::string_view message) const {
        std::lock_guard lock(mutex_);
        int clients = 0;
        for (const Line& line : lines_) {
            if (line.message == message) {
                ++clients;
            } else if (line.message.starts_with(std::string(message) + " (")) {
                clients += std::stoi(line.message.substr(message.size() + 2));
            }
        }
        return clients;
    }

    // Waits until the message has been logged `times` times in all.
    bool waitFor(std::string_view message, int times = 1) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] {
            int found = 0;
            for (const Line& line : lines_) {
                found += line.message == message ? 1 : 0;
            }
            return found >= times;
        });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Line> lines_;
};

// A plain loopback TCP client, as a script would be.
class TestClient {
public:
    // Later: the connection is on its way when the client is made, as when many connect
    // at once; such a client only reads.
    enum class Connect { Now, Later };

    explicit TestClient(std::uint16_t port, Connect connect = Connect::Now) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | (connect == Connect::Later ? SOCK_NONBLOCK : 0), 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            !(connect == Connect::Later && errno == EINPROGRESS)) {
            close();
        }
    }
    ~TestClient() { close(); }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connected() const { return fd_ >= 0; }

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }
    bool sendLine(std::string_view line) { return send(std::string(line) + "\n"); }
    // Half-closes, as `nc -N` does: nothing more is sent, replies are still read.
    void finishSending() { ::shutdown(fd_, SHUT_WR); }
    // Whether the server's end came as a reset rather than an orderly close.
    bool wasReset() const { return reset_; }
    // Whether a read has found the connection ended by the server.
    bool closedByServer() const { return peerClosed_; }

    // The next line without its '\n'; nothing when the server closed or the wait ran out.
    std::optional<std::string> readLine(std::chrono::milliseconds wait = kGuard) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            if (const std::size_t end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            if (!fill(deadline)) {
                return std::nullopt;
            }
        }
    }

    // The next line that is not a notification, counting the notifications skipped.
    std::optional<std::string> readReply(int* notifications = nullptr) {
        for (;;) {
            std::optional<std::string> line = readLine();
            if (!line || line->rfind("{\"jsonrpc\":\"2.0\",\"method\":", 0) != 0) {
                return line;
            }
            if (notifications != nullptr) {
                ++*notifications;
            }
        }
    }

    // True when the server closes the connection (before the guard runs out), after
    // whatever lines it still sent, which go to `rest`.
    bool waitClosed(std::string* rest = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        while (fill(deadline)) {
        }
        if (rest != nullptr) {
            *rest = buffer_;
        }
        return peerClosed_;
    }

    // Request text with an id and method and the given extra members ("" for none).
    static std::string request(int id, std::string_view method, std::string_view extra = "") {
        std::string text = "{\"id\":" + std::to_string(id) + ",\"method\":\"" + std::string(method) + "\"";
        if (!extra.empty()) {
            text += "," + std::string(extra);
        }
        return text + "}";
    }

    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    bool fill(std::chrono::steady_clock::time_point deadline) {
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (::poll(&entry, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, 50))) <= 0) {
                continue;
            }
            char chunk[65536];
            const ssize_t received = ::recv(fd_, chunk, sizeof chunk, 0);
            if (received > 0) {
                buffer_.append(chunk, static_cast<std::size_t>(received));
                return true;
            }
            if (received == 0 || (errno != EINTR && errno != EAGAIN)) {
                reset_ = received < 0 && errno == ECONNRESET;
                peerClosed_ = true;
                return false;
            }
        }
        return false;
    }

    int fd_ = -1;
    std::string buffer_;
    bool peerClosed_ = false;
    bool reset_ = false;
};

// A client run as another user, nobody: a child process that becomes that user, connects to
// 127.0.0.1:port, sends `bytes`, and reads until the server closes the connection, `lines`
// lines have come (0: until the close), or the guard runs out. Between its start and finish
// the test may accept the connection itself. The child makes only system calls, as a child
// of a process with threads must.
class AnotherUsersClient {
public:
    struct Visit {
        std::string received;
        bool closedByServer = false;
        std::string problem;  // why the visit could not be made as meant; empty when it was
    };

    AnotherUsersClient(std::uint16_t port, std::string bytes, int lines = 0) : bytes_(std::move(bytes)) {
        int ends[2];
        if (::pipe(ends) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ends[0]);
            visit(port, lines, ends[1]);
        }
        ::close(ends[1]);
        output_ = pid_ > 0 ? ends[0] : (::close(ends[0]), -1);
    }
    ~AnotherUsersClient() {
        if (pid_ > 0) {
            (void)finish();
        }
    }
    AnotherUsersClient(const AnotherUsersClient&) = delete;
    AnotherUsersClient& operator=(const AnotherUsersClient&) = delete;

    // Waits for the visit to end.
    Visit finish() {
        if (pid_ <= 0) {
            return {{}, false, pid_ < 0 ? "could not start the other user's client" : "finished already"};
        }
        Visit visit;
        char chunk[4096];
        for (ssize_t got; (got = ::read(output_, chunk, sizeof chunk)) != 0;) {
            if (got > 0) {
                visit.received.append(chunk, static_cast<std::size_t>(got));
            } else if (errno != EINTR) {
                break;
            }
        }
        ::close(output_);
        int status = 0;
        ::waitpid(std::exchange(pid_, 0), &status, 0);
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        visit.closedByServer = code == kClosed;
        if (code == kCouldNotBecomeAnotherUser) {
            visit.problem = "the client could not become another user";
        } else if (code == kNoConnection) {
            visit.problem = "the client could not connect";
        } else if (code == kReadFailed) {
            visit.problem = "the client's read failed";
        } else if (code != kClosed && code != kHadItsLines && code != kGuardRanOut) {
            visit.problem = "the client ended with " + std::to_string(code);
        }
        return visit;
    }

private:
    static constexpr int kClosed = 0;
    static constexpr int kHadItsLines = 1;
    static constexpr int kNoConnection = 2;
    static constexpr int kGuardRanOut = 3;
    static constexpr int kReadFailed = 4;

    static long long nowMs() {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
    }

    [[noreturn]] void visit(std::uint16_t port, int lines, int output) const {
        becomeAnotherUser();
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::_exit(kNoConnection);
        }
        for (std::size_t sent = 0; sent < bytes_.size();) {
            const ssize_t result = ::send(fd, bytes_.data() + sent, bytes_.size() - sent, MSG_NOSIGNAL);
            if (result <= 0) {
                break;  // the server may have closed already
            }
            sent += static_cast<std::size_t>(result);
        }
        const long long guard = nowMs() + kGuard.count();
        char chunk[4096];
        for (int seen = 0; nowMs() < guard;) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0) {
                continue;
            }
            const ssize_t received = ::recv(fd, chunk, sizeof chunk, 0);
            if (received <= 0) {
                ::_exit(received == 0 || errno == ECONNRESET ? kClosed : kReadFailed);
            }
            [[maybe_unused]] const ssize_t written = ::write(output, chunk, static_cast<std::size_t>(received));
            for (ssize_t i = 0; i < received; ++i) {
                seen += chunk[i] == '\n' ? 1 : 0;
            }
            if (lines > 0 && seen >= lines) {
                ::_exit(kHadItsLines);
            }
        }
        ::_exit(kGuardRanOut);
    }

    std::string bytes_;
    pid_t pid_ = -1;
    int output_ = -1;
};

// Stands in for the program's GUI thread and its door timer: pumps the server over and
// over until stopped. While it runs, only the handler touches the server.
class PumpThread {
public:
    explicit PumpThread(api_server::ApiServer& server) : server_(server) {}
    ~PumpThread() { stop(); }
    PumpThread(const PumpThread&) = delete;
    PumpThread& operator=(const PumpThread&) = delete;

    void start() {
        stop();
        stopping_.store(false);
        thread_ = std::thread([this] {
            while (!stopping_.load()) {
                server_.pump();
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }

    void stop() {
        if (thread_.joinable()) {
            stopping_.store(true);
            thread_.join();
        }
    }

private:
    api_server::ApiServer& server_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace ostrel::test
