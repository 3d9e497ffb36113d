#include "engine/GraphPlayer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

// Outputs a constant and notes its destruction.
class ConstNode : public Node {
public:
    ConstNode(float value, int* destroyed) : value_(value), destroyed_(destroyed) {}
    ~ConstNode() override {
        if (destroyed_ != nullptr) {
            ++*destroyed_;
        }
    }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) override {
        lastEvents = context.events.size();
        const int n = std::min(context.frames, output.frames);
        for (int c = 0; c < output.channels; ++c) {
            std::fill_n(output.channel(c), n, value_);
        }
    }
    std::size_t lastEvents = 0;

private:
    float value_;
    int* destroyed_;
};

std::unique_ptr<Graph> constant(float value, int* destroyed = nullptr, int channels = 2, int maxBlock = 4096,
                                ConstNode** node = nullptr) {
    GraphBuilder builder;
    auto made = std::make_unique<ConstNode>(value, destroyed);
    if (node != nullptr) {
        *node = made.get();
    }
    builder.output = builder.addNode(std::move(made));
    return builder.compile(48000.0, maxBlock, channels, nullptr);
}

ProcessContext block(int frames, std::span<const Event> events = {}) {
    return ProcessContext{frames, 48000.0, 0, false, 120.0, 4, events};
}

TEST(GraphPlayerPlayback, WithoutAGraphTheOutputIsSilent) {
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    AudioBuffer out(2, 128);
    out.data.assign(out.data.size(), 3.0f);
    player->process(block(128), out);
    for (float v : out.data) {
        EXPECT_EQ(v, 0.0f);
    }
}

TEST(GraphPlayerPlayback, FirstGraphPlaysAtFullLevelFromTheNextBlock) {
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    ASSERT_TRUE(player->publish(constant(0.7f)));
    AudioBuffer out(2, 128);
    player->process(block(128), out);
    for (float v : out.data) {
        EXPECT_EQ(v, 0.7f);
    }
}

TEST(GraphPlayerPlayback, BlockIsCutToThePlayersMaxBlock) {
    auto player = std::make_unique<GraphPlayer>(1, 256, 16);
    ASSERT_TRUE(player->publish(constant(1.0f, nullptr, 1, 256)));
    AudioBuffer out(1, 1024);
    player->process(block(1024), out);
    EXPECT_EQ(out.channel(0)[255], 1.0f);
    EXPECT_EQ(out.channel(0)[256], 0.0f);
}

TEST(GraphPlayerCrossfade, NewGraphRisesLinearlyOverTheFadeThenTheOldOneRetires) {
    int destroyed = 0;
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    ASSERT_TRUE(player->publish(constant(1.0f, &destroyed)));
    AudioBuffer out(2, 128);
    player->process(block(128), out);
    ASSERT_TRUE(player->publish(constant(0.0f, &destroyed)));

    player->process(block(128), out);
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < 128; ++i) {
            // Old graph 1.0, new graph 0.0: what is heard is the old graph's share, 1 - g.
            EXPECT_FLOAT_EQ(out.channel(c)[i], 1.0f - static_cast<float>(i + 1) / 256.0f);
        }
    }
    player->process(block(128), out);
    EXPECT_FLOAT_EQ(out.channel(0)[0], 1.0f - 129.0f / 256.0f);
    EXPECT_FLOAT_EQ(out.channel(1)[127], 0.0f);
    EXPECT_EQ(player->collectRetired(), 0);

    player->process(block(128), out);
    for (float v : out.data) {
        EXPECT_EQ(v, 0.0f);
    }
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(player->collectRetired(), 1);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(player->collectRetired(), 0);
}

TEST(GraphPlayerCrossfade, BothGraphsReceiveTheBlocksEventsDuringTheFade) {
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    ConstNode* first = nullptr;
    ConstNode* second = nullptr;
    player->publish(constant(1.0f, nullptr, 2, 4096, &first));
    AudioBuffer out(2, 64);
    player->process(block(64), out);
    player->publish(constant(0.0f, nullptr, 2, 4096, &second));
    const std::array<Event, 3> events{};
    player->process(block(64, events), out);
    EXPECT_EQ(first->lastEvents, 3u);
    EXPECT_EQ(second->lastEvents, 3u);
}

TEST(GraphPlayerCrossfade, GraphPublishedDuringAFadeWaitsForItsEnd) {
    auto player = std::make_unique<GraphPlayer>(1, 4096, 256);
    AudioBuffer out(1, 128);
    player->publish(constant(1.0f, nullptr, 1));
    player->process(block(128), out);
    player->publish(constant(2.0f, nullptr, 1));
    player->process(block(128), out);
    player->publish(constant(3.0f, nullptr, 1));
    player->process(block(128), out);
    EXPECT_FLOAT_EQ(out.channel(0)[127], 2.0f);
    player->process(block(128), out);  // old graph retired, third taken: fade 2 -> 3 begins
    EXPECT_GT(out.channel(0)[0], 2.0f);
    EXPECT_LT(out.channel(0)[0], 2.1f);
}

TEST(GraphPlayerPublish, SecondPublicationBeforeTheAudioThreadRunsReplacesTheFirst) {
    int destroyedFirst = 0;
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    ASSERT_TRUE(player->publish(constant(0.25f, &destroyedFirst)));
    ASSERT_TRUE(player->publish(constant(0.5f)));
    EXPECT_EQ(destroyedFirst, 1);
    AudioBuffer out(2, 64);
    player->process(block(64), out);
    EXPECT_EQ(out.channel(0)[0], 0.5f);
}

TEST(GraphPlayerPublish, RefusesGraphsThatDoNotFitAndKeepsPlaying) {
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    ASSERT_TRUE(player->publish(constant(0.5f)));
    AudioBuffer out(2, 64);
    player->process(block(64), out);
    int destroyed = 0;
    EXPECT_FALSE(player->publish(constant(0.9f, &destroyed, 1, 4096)));
    EXPECT_FALSE(player->publish(constant(0.9f, &destroyed, 2, 512)));
    EXPECT_FALSE(player->publish(nullptr));
    EXPECT_EQ(destroyed, 2);
    player->process(block(64), out);
    EXPECT_EQ(out.channel(1)[63], 0.5f);
    EXPECT_TRUE(player->publish(constant(0.9f, nullptr, 2, 8192)));
}

TEST(GraphPlayerRetire, FullRingHoldsTheFinishedGraphUntilCollected) {
    int destroyed = 0;
    auto player = std::make_unique<GraphPlayer>(1, 4096, 1);
    AudioBuffer out(1, 32);
    // Each swap takes two blocks: one to fade, one to retire and take the next.
    player->publish(constant(0.0f, &destroyed, 1));
    player->process(block(32), out);
    for (int k = 1; k <= 16; ++k) {
        player->publish(constant(static_cast<float>(k), &destroyed, 1));
        player->process(block(32), out);
        player->process(block(32), out);
    }
    // 16 graphs (values 0..15) sit in the ring; 16 is active and 15 was retired last.
    EXPECT_EQ(out.channel(0)[0], 16.0f);
    player->publish(constant(17.0f, &destroyed, 1));
    player->process(block(32), out);  // takes 17; 16 fades out in this block
    player->process(block(32), out);  // ring full: 16 stays, silent
    player->publish(constant(18.0f, &destroyed, 1));
    player->process(block(32), out);
    EXPECT_EQ(out.channel(0)[0], 17.0f);
    EXPECT_EQ(destroyed, 0);

    EXPECT_EQ(player->collectRetired(), 16);
    EXPECT_EQ(destroyed, 16);
    player->process(block(32), out);  // 16 retires, 18 starts fading in
    player->process(block(32), out);
    EXPECT_EQ(out.channel(0)[0], 18.0f);
    EXPECT_EQ(player->collectRetired(), 2);
}

TEST(GraphPlayerLifetime, DestructorFreesEveryGraphItHolds) {
    int destroyed = 0;
    {
        auto player = std::make_unique<GraphPlayer>(1, 4096, 256);
        AudioBuffer out(1, 64);
        player->publish(constant(1.0f, &destroyed, 1));
        player->process(block(64), out);
        player->publish(constant(2.0f, &destroyed, 1));
        player->process(block(64), out);  // 1 fading, 2 active
        player->publish(constant(3.0f, &destroyed, 1));  // pending
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(player.get()) % 64, 0u);
    }
    EXPECT_EQ(destroyed, 3);
}

TEST(GraphPlayerLifetime, ProcessNeverAllocatesOrFreesAcrossSwaps) {
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    AudioBuffer out(2, 512);
    std::vector<std::unique_ptr<Graph>> graphs;
    for (int k = 0; k < 4; ++k) {
        graphs.push_back(constant(static_cast<float>(k)));
    }
    std::size_t allocations = 0;
    std::size_t frees = 0;
    for (auto& graph : graphs) {
        player->publish(std::move(graph));
        test::AllocationCounter counter;
        for (int b = 0; b < 3; ++b) {
            player->process(block(512), out);
        }
        allocations += counter.allocations();
        frees += counter.frees();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(frees, 0u);
    EXPECT_EQ(player->collectRetired(), 3);
}

}  // namespace
}  // namespace ostrel::engine
