#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "api_server/jsonrpc/ApiServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::api_server {
namespace {

using Clock = std::chrono::steady_clock;

// The server with a drain loop standing in for the program's door timer: it pumps every
// `periodMs` milliseconds (0: as fast as it can) with a handler that answers {} at once.
// The rig's own client connects unless told not to.
class Rig {
public:
    enum class OwnClient { Yes, No };

    explicit Rig(int periodMs, OwnClient own = OwnClient::Yes) : server_(std::make_unique<ApiServer>(nullptr)) {
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
        if (own == OwnClient::No) {
            return;
        }
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
        if (fd_ >= 0) {
            ::close(fd_);
        }
        stop_.store(true);
        drain_.join();
        server_->stop();
    }

    std::uint16_t port() const { return server_->port(); }

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

// A client connecting without waiting: connected, or on its way, once made.
int connectWithoutWaiting(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    bench::require(fd >= 0 && (result == 0 || errno == EINPROGRESS), "a client connects");
    return fd;
}

// 200 clients connect at once, each sending a ping as soon as it can, while a client that
// never sends a byte (the rig's own) is connected first. A client is answered by its first
// line, a busy reply or its ping's reply; one closed without a line, or still waiting
// after 30 s, is not.
void BM_ApiServer200ClientsAtASilentDoor(benchmark::State& state) {
    constexpr int kClients = 200;
    constexpr auto kGiveUp = std::chrono::seconds(30);
    Rig rig(30);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the silent client is taken
    for (auto _ : state) {
        const auto start = Clock::now();
        std::vector<pollfd> clients;
        std::vector<bool> sent(kClients, false);
        for (int i = 0; i < kClients; ++i) {
            clients.push_back({connectWithoutWaiting(rig.port()), POLLOUT | POLLIN, 0});
        }
        std::vector<double> answeredMs;
        int closedWithoutALine = 0;
        while (answeredMs.size() + static_cast<std::size_t>(closedWithoutALine) < kClients &&
               Clock::now() - start < kGiveUp) {
            if (::poll(clients.data(), clients.size(), 50) <= 0) {
                continue;
            }
            for (std::size_t i = 0; i < clients.size(); ++i) {
                pollfd& client = clients[i];
                if (client.fd < 0 || client.revents == 0) {
                    continue;
                }
                if ((client.revents & POLLOUT) != 0 && !sent[i]) {
                    (void)::send(client.fd, kRequest.data(), kRequest.size(), MSG_NOSIGNAL);
                    sent[i] = true;
                    client.events = POLLIN;
                }
                if ((client.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                    continue;
                }
                char chunk[4096];
                const ssize_t received = ::recv(client.fd, chunk, sizeof chunk, 0);
                if (received < 0 && (errno == EAGAIN || errno == EINTR)) {
                    continue;
                }
                if (received > 0) {
                    answeredMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                } else {
                    ++closedWithoutALine;
                }
                ::close(client.fd);
                client.fd = -1;
            }
        }
        for (const pollfd& client : clients) {
            if (client.fd >= 0) {
                ::close(client.fd);
            }
        }
        std::sort(answeredMs.begin(), answeredMs.end());
        state.counters["answered"] = static_cast<double>(answeredMs.size());
        state.counters["closedWithoutALine"] = closedWithoutALine;
        state.counters["medianMs"] = answeredMs.empty() ? 0.0 : answeredMs[answeredMs.size() / 2];
        state.counters["lastAnswerMs"] = answeredMs.empty() ? 0.0 : answeredMs.back();
    }
}
BENCHMARK(BM_ApiServer200ClientsAtASilentDoor)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A client with the token makes `tries` tries, each a new connection and a ping: a try is
// served when the ping's reply comes (not a busy line, nor a close). Counted: the tries
// served, the median and longest time from connecting to the reply.
void tokenClientTries(benchmark::State& state, std::uint16_t port, int tries) {
    std::vector<double> servedMs;
    for (int i = 0; i < tries; ++i) {
        const auto start = Clock::now();
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bench::require(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0,
                       "the client connects");
        (void)::send(fd, kRequest.data(), kRequest.size(), MSG_NOSIGNAL);
        std::string line;
        char chunk[4096];
        while (line.find('\n') == std::string::npos) {
            const ssize_t received = ::recv(fd, chunk, sizeof chunk, 0);
            if (received <= 0) {
                break;
            }
            line.append(chunk, static_cast<std::size_t>(received));
        }
        if (line.rfind(R"({"id":1,"jsonrpc":"2.0","result")", 0) == 0) {
            servedMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        ::close(fd);
    }
    std::sort(servedMs.begin(), servedMs.end());
    state.counters["tries"] = tries;
    state.counters["served"] = static_cast<double>(servedMs.size());
    state.counters["medianMs"] = servedMs.empty() ? 0.0 : servedMs[servedMs.size() / 2];
    state.counters["longestMs"] = servedMs.empty() ? 0.0 : servedMs.back();
}

// A program without the token connects again the moment it is closed and never sends a
// byte, while a client with the token makes 100 tries (tokenClientTries); also counted, the
// loop's connections meanwhile.
void BM_ApiServerTokenClientAgainstAReconnectLoop(benchmark::State& state) {
    constexpr int kTries = 100;
    Rig rig(30, Rig::OwnClient::No);
    std::atomic<bool> stopping{false};
    std::atomic<int> loopConnections{0};
    std::thread loop([&] {
        while (!stopping.load()) {
            const int fd = connectWithoutWaiting(rig.port());
            loopConnections.fetch_add(1);
            // Until the server closes it.
            pollfd entry{fd, POLLIN, 0};
            char chunk[4096];
            while (!stopping.load()) {
                if (::poll(&entry, 1, 20) > 0 && ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT) == 0) {
                    break;
                }
                if ((entry.revents & (POLLERR | POLLHUP)) != 0) {
                    break;
                }
            }
            ::close(fd);
        }
    });
    while (loopConnections.load() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the loop's client is taken
    for (auto _ : state) {
        tokenClientTries(state, rig.port(), kTries);
    }
    stopping.store(true);
    loop.join();
    state.counters["loopConnections"] = loopConnections.load();
}
BENCHMARK(BM_ApiServerTokenClientAgainstAReconnectLoop)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Another user's program: 8 threads that connect over and over, as fast as they can, and
// keep their last 20 connections open, silent. Meanwhile a client with the token makes 100
// tries (tokenClientTries); also counted, the crowd's connections meanwhile.
void BM_ApiServerTokenClientAgainstSilentConnections(benchmark::State& state) {
    constexpr int kTries = 100;
    constexpr int kThreads = 8;
    constexpr std::size_t kKept = 20;
    Rig rig(30, Rig::OwnClient::No);
    std::atomic<bool> stopping{false};
    std::atomic<long> crowdConnections{0};
    std::vector<std::thread> crowd;
    for (int t = 0; t < kThreads; ++t) {
        crowd.emplace_back([&] {
            std::vector<int> open;
            while (!stopping.load()) {
                const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_port = htons(rig.port());
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                    ::close(fd);
                    continue;
                }
                crowdConnections.fetch_add(1);
                open.push_back(fd);
                if (open.size() > kKept) {
                    ::close(open.front());
                    open.erase(open.begin());
                }
            }
            for (const int fd : open) {
                ::close(fd);
            }
        });
    }
    while (crowdConnections.load() < static_cast<long>(kThreads * kKept)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (auto _ : state) {
        tokenClientTries(state, rig.port(), kTries);
    }
    stopping.store(true);
    for (std::thread& thread : crowd) {
        thread.join();
    }
    state.counters["crowdConnections"] = static_cast<double>(crowdConnections.load());
}
BENCHMARK(BM_ApiServerTokenClientAgainstSilentConnections)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace ostrel::api_server
