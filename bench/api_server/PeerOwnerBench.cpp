#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "api_server/socket/PeerOwner.h"
#include "api_server/socket/Socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace ostrel::api_server {
namespace {

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bench::require(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0,
                   "a client connects");
    return fd;
}

// The question the door asks of the clients it takes from the listening queue together (up
// to 64): whose process is at the other end of each. Socket diagnostics ask once per
// connection; the TCP table is read once per batch, and costs what the number of sockets on
// the computer makes it (closed ones stay listed for a minute), so it is counted too.
void BM_PeerOwnerLookup(benchmark::State& state) {
    const auto way = static_cast<PeerOwner::Way>(state.range(0));
    Socket listener;
    bench::require(listener.listenTcp(0, nullptr), "the listener opens");
    PeerOwner owners(listener, {way});
    bench::require(owners.way() == way, "the system offers the way");
    std::vector<int> clients;
    std::vector<SocketHandle> taken;
    for (long i = 0; i < state.range(1); ++i) {
        clients.push_back(connectTo(listener.port()));
        taken.push_back(listener.accept(1000));
        bench::require(taken.back() != kInvalidSocket, "the connection is taken");
    }
    std::vector<PeerOwner::Peer> peers;
    for (auto _ : state) {
        owners.peersOf(taken, peers);
        benchmark::DoNotOptimize(peers.data());
    }
    bench::require(std::count(peers.begin(), peers.end(), PeerOwner::Peer::TheUser) == state.range(1),
                   "every owner is told");
    state.SetItemsProcessed(state.iterations() * state.range(1));
    std::FILE* table = std::fopen("/proc/net/tcp", "r");
    long rows = 0;
    for (int c; table != nullptr && (c = std::fgetc(table)) != EOF;) {
        rows += c == '\n' ? 1 : 0;
    }
    if (table != nullptr) {
        std::fclose(table);
    }
    state.counters["tcpTableRows"] = static_cast<double>(rows - 1);
    for (const int fd : clients) {
        ::close(fd);
    }
    for (const SocketHandle fd : taken) {
        closeSocket(fd);
    }
}
BENCHMARK(BM_PeerOwnerLookup)
    ->ArgNames({"way", "batch"})
    ->Args({static_cast<long>(PeerOwner::Way::SocketDiagnostics), 1})
    ->Args({static_cast<long>(PeerOwner::Way::SocketDiagnostics), 64})
    ->Args({static_cast<long>(PeerOwner::Way::SocketTable), 1})
    ->Args({static_cast<long>(PeerOwner::Way::SocketTable), 64})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ostrel::api_server
