#include "engine/graph/GraphPlayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "EngineTestSupport.h"

namespace ostrel::engine {
namespace {

using test::ConstNode;
using test::constGraph;

ProcessContext block(int frames, std::span<const Event> events = {}) {
    return ProcessContext{frames, 48000.0, 0, false, 120.0, 4, events};
}

TEST(GraphPlayerCrossfade, FirstGraphPlaysAtOnceANewOneRisesOver256FramesBothHearEventsThenTheOldRetires) {
    std::atomic<int> alive{0};
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    AudioBuffer out(2, 128);
    player->process(block(128), out);
    EXPECT_EQ(out.data, std::vector<float>(256, 0.0f)) << "silent without a graph";
    auto newNode = std::make_unique<ConstNode>(0.0f, &alive);
    ConstNode* newSeen = newNode.get();
    ASSERT_TRUE(player->publish(constGraph(1.0f, &alive)));
    player->process(block(128), out);
    EXPECT_EQ(out.channel(1)[0], 1.0f);
    ASSERT_TRUE(player->publish(test::graphOf(std::move(newNode))));

    const std::array<Event, 3> events{};
    player->process(block(128, events), out);
    EXPECT_EQ(newSeen->events.size(), 3u);
    for (int i = 0; i < 128; ++i) {
        // Old graph 1.0, new graph 0.0: what is heard is the old graph's share, 1 - g.
        ASSERT_FLOAT_EQ(out.channel(i % 2)[i], 1.0f - static_cast<float>(i + 1) / 256.0f) << i;
    }
    player->process(block(128), out);
    EXPECT_FLOAT_EQ(out.channel(1)[127], 0.0f);
    EXPECT_EQ(player->collectRetired(), 0);
    player->process(block(128), out);
    EXPECT_EQ(alive.load(), 2) << "retired graphs are freed by collectRetired only";
    EXPECT_EQ(player->collectRetired(), 1);
    EXPECT_EQ(alive.load(), 1);
}

TEST(GraphPlayerPublish, NewestFittingGraphWinsWaitsForARunningFadeAndRefusedOnesAreFreed) {
    std::atomic<int> alive{0};
    auto player = std::make_unique<GraphPlayer>(2, 4096, 256);
    ASSERT_TRUE(player->publish(constGraph(0.25f, &alive)));
    ASSERT_TRUE(player->publish(constGraph(1.0f)));
    EXPECT_EQ(alive.load(), 0) << "a publication the audio thread never took is freed at once";
    EXPECT_FALSE(player->publish(constGraph(0.9f, &alive, 1, 4096)));  // other channel count
    EXPECT_FALSE(player->publish(constGraph(0.9f, &alive, 2, 512)));   // smaller max block
    EXPECT_FALSE(player->publish(nullptr));
    EXPECT_EQ(alive.load(), 0);
    AudioBuffer out(2, 128);
    for (float level : {2.0f, 3.0f}) {
        player->process(block(128), out);
        ASSERT_TRUE(player->publish(constGraph(level)));
    }
    player->process(block(128), out);
    EXPECT_FLOAT_EQ(out.channel(0)[127], 2.0f) << "3 waited for the fade from 1 to 2";
}

TEST(GraphPlayerRetire, FullRingHoldsTheFinishedGraphUntilCollectedAndTheDestructorFreesTheRest) {
    std::atomic<int> alive{0};
    {
        auto player = std::make_unique<GraphPlayer>(1, 4096, 1);
        AudioBuffer out(1, 32);
        // Each swap takes two blocks: one to fade, one to retire and take the next.
        EXPECT_TRUE(player->publish(constGraph(0.0f, &alive, 1)));
        player->process(block(32), out);
        for (int k = 1; k <= 16; ++k) {
            EXPECT_TRUE(player->publish(constGraph(static_cast<float>(k), &alive, 1)));
            player->process(block(32), out);
            player->process(block(32), out);
        }
        // 16 graphs (values 0..15) sit in the ring; 16 is active.
        EXPECT_TRUE(player->publish(constGraph(17.0f, &alive, 1)));
        player->process(block(32), out);  // takes 17; 16 fades out in this block
        player->process(block(32), out);  // ring full: 16 stays, silent
        EXPECT_TRUE(player->publish(constGraph(18.0f, &alive, 1)));
        player->process(block(32), out);
        EXPECT_EQ(out.channel(0)[0], 17.0f);
        EXPECT_EQ(alive.load(), 19);

        EXPECT_EQ(player->collectRetired(), 16);
        player->process(block(32), out);  // 16 retires, 18 starts fading in
        player->process(block(32), out);
        EXPECT_EQ(out.channel(0)[0], 18.0f);
        EXPECT_TRUE(player->publish(constGraph(19.0f, &alive, 1)));
        player->process(block(32), out);  // 18 fades to 19; 16 and 17 wait in the ring
        EXPECT_TRUE(player->publish(constGraph(20.0f, &alive, 1)));  // pending
        EXPECT_EQ(alive.load(), 5);
    }
    EXPECT_EQ(alive.load(), 0);
}

}  // namespace
}  // namespace ostrel::engine
