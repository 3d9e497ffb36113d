#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "api_server/osc/OscMessage.h"
#include "api_server/osc/OscRoute.h"
#include "api_server/osc/OscServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <bit>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace ostrel::api_server {
namespace {

using Clock = std::chrono::steady_clock;

void putString(std::string& out, const std::string& text) {
    out += text;
    out += '\0';
    while (out.size() % 4 != 0) {
        out += '\0';
    }
}

// "/ostrel/devices/setParameter" with four arguments: the longest of the twenty routes.
std::string setParameterDatagram() {
    std::string out;
    putString(out, "/ostrel/devices/setParameter");
    putString(out, ",sssf");
    putString(out, "1");
    putString(out, "0b6f3a52-6e0c-4c1e-9a53-2f1c0e7d9b11");
    putString(out, "mix");
    const auto bits = std::bit_cast<std::uint32_t>(0.25f);
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((bits >> shift) & 0xFF);
    }
    return out;
}

// The door with a drain loop standing in for the program's door timer: it pumps every
// `periodMs` milliseconds (0: as fast as it can) into a handler that only counts.
class Rig {
public:
    explicit Rig(int periodMs) : door_(std::make_unique<OscServer>(nullptr)) {
        door_->handler = [this](const std::string&, const std::string&) {
            handled_.fetch_add(1, std::memory_order_release);
            return std::string("{}");
        };
        bench::require(door_->start(0), "the OSC door starts on a free port");
        drain_ = std::thread([this, periodMs] {
            auto next = Clock::now();
            while (!stop_.load(std::memory_order_relaxed)) {
                door_->pump();
                if (periodMs == 0) {
                    std::this_thread::yield();
                } else {
                    next += std::chrono::milliseconds(periodMs);
                    std::this_thread::sleep_until(next);
                }
            }
        });
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(door_->port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bench::require(::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0,
                       "a UDP socket aimed at the door");
    }
    ~Rig() {
        ::close(fd_);
        stop_.store(true);
        drain_.join();
        door_->stop();
    }

    // Sends `count` datagrams, never more than `window` of them unhandled (a ring's worth,
    // so none is dropped), and waits until the last one has reached the handler.
    void run(const std::string& datagram, int count, int window) {
        const long start = handled_.load(std::memory_order_acquire);
        for (int sent = 0; sent < count; ++sent) {
            while (sent - (handled_.load(std::memory_order_acquire) - start) >= window) {
                std::this_thread::yield();
            }
            bench::require(::send(fd_, datagram.data(), datagram.size(), 0) == static_cast<ssize_t>(datagram.size()),
                           "a datagram is sent");
        }
        while (handled_.load(std::memory_order_acquire) - start < count) {
            std::this_thread::yield();
        }
    }

private:
    std::unique_ptr<OscServer> door_;
    std::thread drain_;
    std::atomic<bool> stop_{false};
    std::atomic<long> handled_{0};
    int fd_ = -1;
};

// Datagrams per second from a sender's socket to the handler: the receive thread's parse
// and ring, and the pump. With a 30 ms pump the ring's 64 slots bound it near 2,130 per second.
void BM_OscDoorDatagrams(benchmark::State& state) {
    const int periodMs = static_cast<int>(state.range(0));
    const int count = periodMs == 0 ? 20000 : 2000;
    const std::string datagram = setParameterDatagram();
    Rig rig(periodMs);
    for (auto _ : state) {
        rig.run(datagram, count, static_cast<int>(OscServer::InboundRing::kCapacity));
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_OscDoorDatagrams)->ArgName("pumpMs")->Arg(0)->Arg(30)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The parse alone.
void BM_OscParse(benchmark::State& state) {
    const std::string datagram = setParameterDatagram();
    for (auto _ : state) {
        auto message = parseOscMessage(datagram.data(), datagram.size());
        benchmark::DoNotOptimize(message);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OscParse);

// The receive thread's own work on one datagram: parse, map and write the call's text.
void BM_OscParseAndMap(benchmark::State& state) {
    const std::string datagram = setParameterDatagram();
    for (auto _ : state) {
        const auto message = parseOscMessage(datagram.data(), datagram.size());
        const auto request = oscToRequest(*message);
        std::string text = nlohmann::json{{"method", request->method}, {"params", request->params}}.dump();
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OscParseAndMap);

}  // namespace
}  // namespace ostrel::api_server
