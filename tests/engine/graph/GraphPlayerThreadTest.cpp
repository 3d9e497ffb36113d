#include "engine/graph/GraphPlayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "EngineTestSupport.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

// The GUI thread publishes graphs of rising level and collects retired ones while the
// audio thread plays: the output never falls (a fade only moves towards a newer graph),
// it ends on the last graph, the audio thread never touches the heap, and every graph
// is freed exactly once.
TEST(GraphPlayerThreads, SwapsUnderLoadStayOrderedAllocationFreeAndLeakFree) {
    constexpr int kGraphs = 3000;
    std::atomic<int> liveNodes{0};
    {
        auto player = std::make_unique<GraphPlayer>(2, 256, 64);
        std::atomic<bool> published{false};

        std::thread audio([&] {
            AudioBuffer out(2, 256);
            float last = 0.0f;
            bool ordered = true;
            test::AllocationCounter counter;
            while (true) {
                player->process(ProcessContext{48, 48000.0, 0, false, 120.0, 4, {}}, out);
                for (int i = 0; i < 48; ++i) {
                    const float v = out.channel(0)[i];
                    ordered = ordered && v >= last - 1e-3f && out.channel(1)[i] == v;
                    last = v;
                }
                if (published.load(std::memory_order_acquire) && last == static_cast<float>(kGraphs)) {
                    break;
                }
            }
            EXPECT_TRUE(ordered);
            EXPECT_EQ(last, static_cast<float>(kGraphs));
            EXPECT_EQ(counter.allocations(), 0u);
            EXPECT_EQ(counter.frees(), 0u);
        });

        for (int k = 1; k <= kGraphs; ++k) {
            ASSERT_TRUE(player->publish(test::constGraph(static_cast<float>(k), &liveNodes, 2, 256)));
            player->collectRetired();
            if (k % 16 == 0) {
                std::this_thread::yield();
            }
        }
        published.store(true, std::memory_order_release);
        for (int spin = 0; spin < 2000000 && liveNodes.load() > 2; ++spin) {
            player->collectRetired();
            std::this_thread::yield();
        }
        audio.join();
        player->collectRetired();
    }
    EXPECT_EQ(liveNodes.load(), 0);
}

}  // namespace
}  // namespace ostrel::engine
