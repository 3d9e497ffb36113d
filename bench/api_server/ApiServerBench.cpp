#include <benchmark/benchmark.h>

#include "api_server/ApiServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace ostrel::api_server {
namespace {

using Clock = std::chrono::steady_clock;

// The server with a drain loop standing in for the program's door timer: it pumps every
// `periodMs` milliseconds (0: as fast as it can) with a handler that answers {} at once.
class Rig {
public:
    explicit Rig(int periodMs) : server_(std::make_unique<ApiServer>(nullptr)) {
        server_->handler = [](const std::string&, const std::string&) { return std::string("{}"); };
        if (!server_->start(0, "token")) {
            std::abort();
        }
        drain_ = std::thread([this, periodMs] {
            auto next = Clock::now();
            while (!stop_.load(std::memory_order_relaxed)) {
                server_->pump();
                if (periodMs == 0) {
                    std::this_thread::yield();
                } else {
                    next += std::chrono::milliseconds(periodMs);
                    std::this_thread::sleep_until(next);
                }
            }
        });
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(server_->port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            std::abort();
        }
        // As a client that pipelines small requests should: otherwise its own stack holds
        // each request back until the previous one is acknowledged.
        const int yes = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    }
    ~Rig() {
        ::close(fd_);
        stop_.store(true);
        drain_.join();
        server_->stop();
    }

    void send(const std::string& bytes) {
        if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
            std::abort();
        }
    }

    // Waits for the next reply line.
    void readLine() {
        for (;;) {
            if (const std::size_t end = buffer_.find('\n'); end != std::string::npos) {
                buffer_.erase(0, end + 1);
                return;
            }
            char chunk[65536];
            const ssize_t received = ::recv(fd_, chunk, sizeof chunk, 0);
            if (received <= 0) {
                std::abort();
            }
            buffer_.append(chunk, static_cast<std::size_t>(received));
        }
    }

private:
    std::unique_ptr<ApiServer> server_;
    std::thread drain_;
    std::atomic<bool> stop_{false};
    int fd_ = -1;
    std::string buffer_;
};

const std::string kRequest = R"({"id":1,"jsonrpc":"2.0","method":"app.ping","token":"token"})"
                             "\n";

// One request and its reply over the socket.
void BM_ApiServerRoundTrip(benchmark::State& state) {
    Rig rig(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        rig.send(kRequest);
        rig.readLine();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ApiServerRoundTrip)->ArgName("pumpMs")->Arg(0)->Arg(30)->Unit(benchmark::kMillisecond)->UseRealTime();

// 10,000 requests, at most 32 waiting for their replies at any time.
void BM_ApiServer10000Requests32InFlight(benchmark::State& state) {
    constexpr int kRequests = 10000;
    constexpr int kInFlight = 32;
    Rig rig(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        int sent = 0;
        int answered = 0;
        while (answered < kRequests) {
            std::string burst;
            while (sent < kRequests && sent - answered < kInFlight) {
                burst += kRequest;
                ++sent;
            }
            if (!burst.empty()) {
                rig.send(burst);
            }
            rig.readLine();
            ++answered;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
}
BENCHMARK(BM_ApiServer10000Requests32InFlight)
    ->ArgName("pumpMs")
    ->Arg(0)
    ->Arg(30)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace ostrel::api_server
