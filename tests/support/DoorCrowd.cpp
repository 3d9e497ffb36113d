// Another user's crowd at the JSON-RPC door: 8 threads connect to 127.0.0.1:<port> over and
// over, each keeping its last 20 connections open without a word. After <seconds>, or at
// SIGTERM, it prints "connections <n>".
//
//   ostrel_door_crowd <port> <seconds>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> ended{false};

void onTerm(int) { ended.store(true); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[2]));
    std::signal(SIGTERM, onTerm);
    std::atomic<long> connections{0};
    std::vector<std::thread> crowd;
    for (int t = 0; t < 8; ++t) {
        crowd.emplace_back([&] {
            std::deque<int> open;
            while (!ended.load() && std::chrono::steady_clock::now() < end) {
                const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                    ::close(fd);
                    continue;
                }
                connections.fetch_add(1);
                open.push_back(fd);
                if (open.size() > 20) {
                    ::close(open.front());
                    open.pop_front();
                }
            }
            for (const int fd : open) {
                ::close(fd);
            }
        });
    }
    for (std::thread& thread : crowd) {
        thread.join();
    }
    std::printf("connections %ld\n", connections.load());
    return 0;
}
