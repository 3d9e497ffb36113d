#include "engine/GraphPlayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

std::atomic<int> liveNodes{0};

// Outputs a constant; counts how many exist so the test sees every graph freed.
class LevelNode : public Node {
public:
    explicit LevelNode(float value) : value_(value) { liveNodes.fetch_add(1, std::memory_order_relaxed); }
    ~LevelNode() override { liveNodes.fetch_sub(1, std::memory_order_relaxed); }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) override {
        const int n = std::min(context.frames, output.frames);
        for (int c = 0; c < output.channels; ++c) {
            std::fill_n(output.channel(c), n, value_);
        }
    }

private:
    float value_;
};

// The GUI thread publishes graphs of rising level and collects retired ones while the
// audio thread plays: the output never falls (a fade only moves towards a newer graph),
// it ends on the last graph, the audio thread never touches the heap, and every graph
// is freed exactly once.
TEST(GraphPlayerThreads, SwapsUnderLoadStayOrderedAllocationFreeAndLeakFree) {
    constexpr int kGraphs = 3000;
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
            GraphBuilder builder;
            builder.output = builder.addNode(std::make_unique<LevelNode>(static_cast<float>(k)));
            ASSERT_TRUE(player->publish(builder.compile(48000.0, 256, 2, nullptr)));
            player->collectRetired();
            if (k % 16 == 0) {
                std::this_thread::yield();
            }
        }
        published.store(true, std::memory_order_release);
        for (int spin = 0; spin < 2000000 && audio.joinable(); ++spin) {
            player->collectRetired();
            if (liveNodes.load() <= 2) {
                break;
            }
            std::this_thread::yield();
        }
        audio.join();
        player->collectRetired();
    }
    EXPECT_EQ(liveNodes.load(), 0);
}

}  // namespace
}  // namespace ostrel::engine
