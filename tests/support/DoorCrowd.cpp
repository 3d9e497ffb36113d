// A crowd at the JSON-RPC door, as another user's program could make it: each of several
// threads connects to 127.0.0.1:<port> over and over, as fast as it can, keeps its last
// <keep> connections open without a word, and closes the oldest beyond them. It runs for
// <seconds>, or until SIGTERM, then prints "connections <n>" and exits 0 (2 on wrong
// arguments).
//
//   ostrel_door_crowd <port> <seconds> [threads=8] [keep=20]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> ended{false};

void onTerm(int) { ended.store(true); }

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <port> <seconds> [threads] [keep]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(std::atof(argv[2]));
    const int threads = argc > 3 ? std::atoi(argv[3]) : 8;
    const std::size_t keep = argc > 4 ? static_cast<std::size_t>(std::atoi(argv[4])) : 20;
    std::signal(SIGTERM, onTerm);
    std::atomic<long> connections{0};
    std::vector<std::thread> crowd;
    for (int t = 0; t < threads; ++t) {
        crowd.emplace_back([&] {
            std::deque<int> open;
            while (!ended.load() && std::chrono::steady_clock::now() < end) {
                const int fd = connectTo(port);
                if (fd < 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                connections.fetch_add(1, std::memory_order_relaxed);
                open.push_back(fd);
                if (open.size() > keep) {
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
    std::fflush(stdout);
    return 0;
}
