#include "api_server/osc/OscServer.h"

#include "OscTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::api_server {
namespace {

using test::oscMessage;

// A controller on a thread of its own sends while the test's thread pumps, as the GUI
// thread's timer would: the receive thread fills the ring as the pump empties it. The
// sender keeps at most `kWindow` calls unhandled, so none is lost to a full ring, and every
// call must arrive once, whole and in order.
TEST(OscServerThreadTest, CallsCrossTheRingWholeAndInOrderWhileThePumpRuns) {
    constexpr int kCount = 5000;
    constexpr int kWindow = 48;
    auto door = std::make_unique<OscServer>(nullptr);
    std::atomic<int> handled{0};
    std::vector<std::string> names;
    door->handler = [&](const std::string& method, const std::string& params) {
        EXPECT_EQ(method, "tracks.rename");
        names.push_back(nlohmann::json::parse(params).at("name").get<std::string>());
        handled.fetch_add(1, std::memory_order_release);
        return std::string("{}");
    };
    ASSERT_TRUE(door->start(0));
    const std::uint16_t port = door->port();

    // The n-th name: its length, and so the datagram's, depends on n.
    auto name = [](int n) { return std::to_string(n) + ":" + std::string(static_cast<std::size_t>(n % 97), 'a' + n % 26); };
    std::atomic<bool> senderFailed{false};
    std::atomic<bool> giveUp{false};  // set only when the guard runs out, so the join never hangs
    std::thread sender([&] {
        test::UdpSender socket;
        for (int n = 0; n < kCount; ++n) {
            while (n - handled.load(std::memory_order_acquire) >= kWindow) {
                if (giveUp.load()) {
                    return;
                }
                std::this_thread::yield();
            }
            if (!socket.send(port, oscMessage("/ostrel/tracks/rename", ",ss").string("1").string(name(n)))) {
                senderFailed.store(true);
                return;
            }
        }
    });
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (handled.load() < kCount && !senderFailed.load() && std::chrono::steady_clock::now() < guard) {
        door->pump();
        std::this_thread::yield();
    }
    giveUp.store(true);
    sender.join();
    door->stop();

    ASSERT_FALSE(senderFailed.load());
    ASSERT_EQ(names.size(), static_cast<std::size_t>(kCount));
    for (int n = 0; n < kCount; ++n) {
        ASSERT_EQ(names[static_cast<std::size_t>(n)], name(n)) << n;
    }
}

// Stopping while datagrams keep coming and the pump keeps running ends cleanly; a pump
// after the stop hands over nothing.
TEST(OscServerThreadTest, StopEndsTheReceiveThreadWhileASenderFloodsTheDoor) {
    auto door = std::make_unique<OscServer>(nullptr);
    std::atomic<int> handled{0};
    door->handler = [&](const std::string&, const std::string&) {
        handled.fetch_add(1, std::memory_order_relaxed);
        return std::string("{}");
    };
    ASSERT_TRUE(door->start(0));
    const std::uint16_t port = door->port();
    std::atomic<bool> stopSending{false};
    std::thread sender([&] {
        test::UdpSender socket;
        const std::string play = oscMessage("/ostrel/transport/play");
        while (!stopSending.load(std::memory_order_relaxed)) {
            (void)socket.send(port, play);
        }
    });
    ASSERT_TRUE(test::waitForDatagrams(*door, 200));
    for (int i = 0; i < 20; ++i) {
        door->pump();
    }
    door->stop();
    EXPECT_FALSE(door->running());
    const int before = handled.load();
    door->pump();
    EXPECT_EQ(handled.load(), before);
    EXPECT_GT(before, 0);
    stopSending.store(true);
    sender.join();
}

}  // namespace
}  // namespace ostrel::api_server
