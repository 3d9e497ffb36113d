#include "engine/GraphPlayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "EngineTestSupport.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

using test::ConstNode;
using test::constGraph;

ProcessContext block(int frames, std::span<const Event> events = {}) {
    return ProcessContext{frames, 48000.0, 0, false, 120.0, 4, events};
}

TEST(GraphPlayerPlayback, SilentWithoutAGraphThenTheFirstPlaysAtFullLevelCutToTheMaxBlock) {
    auto player = std::make_unique<GraphPlayer>(1, 256, 16);
    AudioBuffer out(1, 1024);
    out.data.assign(out.data.size(), 3.0f);
    player->process(block(1024), out);
    EXPECT_EQ(out.channel(0)[0], 0.0f);
    EXPECT_EQ(out.channel(0)[255], 0.0f);

    ASSERT_TRUE(player->publish(constGraph(0.7f, nullptr, 1, 256)));
    player->process(block(1024), out);
    EXPECT_EQ(out.channel(0)[0], 0.7f);
    EXPECT_EQ(out.channel(0)[255], 0.7f);
    EXPECT_EQ(out.channel(0)[256], 3.0f) << "frames past the max block are not written";
}

TEST(GraphPlayerCrossfade, NewGraphRisesLinearlyOver256FramesBothHearEventsThenTheOldOneRetires) {
    std::atomic<int> alive{0};
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    auto oldNode = std::make_unique<ConstNode>(1.0f, &alive);
    auto newNode = std::make_unique<ConstNode>(0.0f, &alive);
    ConstNode* oldSeen = oldNode.get();
    ConstNode* newSeen = newNode.get();
    ASSERT_TRUE(player->publish(test::graphOf(std::move(oldNode))));
    AudioBuffer out(2, 128);
    player->process(block(128), out);
    ASSERT_TRUE(player->publish(test::graphOf(std::move(newNode))));

    const std::array<Event, 3> events{};
    player->process(block(128, events), out);
    EXPECT_EQ(oldSeen->lastEvents, 3u);
    EXPECT_EQ(newSeen->lastEvents, 3u);
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
    EXPECT_EQ(out.data, std::vector<float>(256, 0.0f));
    EXPECT_EQ(alive.load(), 2) << "retired graphs are freed by collectRetired only";
    EXPECT_EQ(player->collectRetired(), 1);
    EXPECT_EQ(alive.load(), 1);
    EXPECT_EQ(player->collectRetired(), 0);
}

TEST(GraphPlayerCrossfade, GraphPublishedDuringAFadeWaitsForItsEnd) {
    auto player = std::make_unique<GraphPlayer>(1, 4096, 256);
    AudioBuffer out(1, 128);
    for (float level : {1.0f, 2.0f, 3.0f}) {
        player->publish(constGraph(level, nullptr, 1));
        player->process(block(128), out);
    }
    EXPECT_FLOAT_EQ(out.channel(0)[127], 2.0f);
    player->process(block(128), out);  // old graph retired, third taken: fade 2 -> 3 begins
    EXPECT_GT(out.channel(0)[0], 2.0f);
    EXPECT_LT(out.channel(0)[0], 2.1f);
}

TEST(GraphPlayerPublish, NewestFittingGraphWinsAndRefusedOnesAreFreedWhilePlayGoesOn) {
    std::atomic<int> alive{0};
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    ASSERT_TRUE(player->publish(constGraph(0.25f, &alive)));
    ASSERT_TRUE(player->publish(constGraph(0.5f)));
    EXPECT_EQ(alive.load(), 0) << "a publication the audio thread never took is freed at once";
    AudioBuffer out(2, 64);
    player->process(block(64), out);
    EXPECT_EQ(out.channel(0)[0], 0.5f);

    EXPECT_FALSE(player->publish(constGraph(0.9f, &alive, 1, 4096)));  // other channel count
    EXPECT_FALSE(player->publish(constGraph(0.9f, &alive, 2, 512)));   // smaller max block
    EXPECT_FALSE(player->publish(nullptr));
    EXPECT_EQ(alive.load(), 0);
    player->process(block(64), out);
    EXPECT_EQ(out.channel(1)[63], 0.5f);
    EXPECT_TRUE(player->publish(constGraph(0.9f, nullptr, 2, 8192)));
}

TEST(GraphPlayerRetire, FullRingHoldsTheFinishedGraphUntilCollected) {
    std::atomic<int> alive{0};
    auto player = std::make_unique<GraphPlayer>(1, 4096, 1);
    AudioBuffer out(1, 32);
    // Each swap takes two blocks: one to fade, one to retire and take the next.
    player->publish(constGraph(0.0f, &alive, 1));
    player->process(block(32), out);
    for (int k = 1; k <= 16; ++k) {
        player->publish(constGraph(static_cast<float>(k), &alive, 1));
        player->process(block(32), out);
        player->process(block(32), out);
    }
    // 16 graphs (values 0..15) sit in the ring; 16 is active and 15 was retired last.
    EXPECT_EQ(out.channel(0)[0], 16.0f);
    player->publish(constGraph(17.0f, &alive, 1));
    player->process(block(32), out);  // takes 17; 16 fades out in this block
    player->process(block(32), out);  // ring full: 16 stays, silent
    player->publish(constGraph(18.0f, &alive, 1));
    player->process(block(32), out);
    EXPECT_EQ(out.channel(0)[0], 17.0f);
    EXPECT_EQ(alive.load(), 19);

    EXPECT_EQ(player->collectRetired(), 16);
    EXPECT_EQ(alive.load(), 3);
    player->process(block(32), out);  // 16 retires, 18 starts fading in
    player->process(block(32), out);
    EXPECT_EQ(out.channel(0)[0], 18.0f);
    EXPECT_EQ(player->collectRetired(), 2);
}

TEST(GraphPlayerLifetime, DestructorFreesTheFadingActiveAndPendingGraphs) {
    std::atomic<int> alive{0};
    {
        auto player = std::make_unique<GraphPlayer>(1, 4096, 256);
        AudioBuffer out(1, 64);
        player->publish(constGraph(1.0f, &alive, 1));
        player->process(block(64), out);
        player->publish(constGraph(2.0f, &alive, 1));
        player->process(block(64), out);                  // 1 fading, 2 active
        player->publish(constGraph(3.0f, &alive, 1));  // pending
        EXPECT_EQ(alive.load(), 3);
    }
    EXPECT_EQ(alive.load(), 0);
}

TEST(GraphPlayerLifetime, ProcessNeverAllocatesOrFreesAcrossSwaps) {
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    AudioBuffer out(2, 512);
    std::size_t allocations = 0;
    std::size_t frees = 0;
    for (int k = 0; k < 4; ++k) {
        player->publish(constGraph(static_cast<float>(k)));
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
