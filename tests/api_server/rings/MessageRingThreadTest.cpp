#include "api_server/rings/MessageRing.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

namespace ostrel::api_server {
namespace {

// The n-th message of a stream: its length and bytes both depend on n.
std::string message(std::uint64_t n) {
    std::string text = std::to_string(n) + ":";
    text.append(n * 37 % 300, static_cast<char>('a' + n % 26));
    return text;
}

TEST(MessageRingThreadTest, HoldsExactlyItsCapacityInOrder) {
    auto ring = std::make_unique<MessageRing<4>>();
    EXPECT_TRUE(ring->empty());
    for (std::uint64_t n = 0; n < 4; ++n) {
        EXPECT_TRUE(ring->tryPush(message(n), n + 10));
    }
    EXPECT_TRUE(ring->full());
    EXPECT_FALSE(ring->tryPush("one more", 0));
    MessageSlot slot;
    for (std::uint64_t n = 0; n < 4; ++n) {
        ASSERT_TRUE(ring->tryPop(slot));
        EXPECT_EQ(slot.view(), message(n));
        EXPECT_EQ(slot.connection, n + 10);
    }
    EXPECT_FALSE(ring->tryPop(slot));
}

TEST(MessageRingThreadTest, TextLongerThanALineNeverEntersASlot) {
    auto ring = std::make_unique<MessageRing<2>>();
    EXPECT_TRUE(ring->tryPush(std::string(8191, 'x'), 1));
    EXPECT_FALSE(ring->tryPush(std::string(8192, 'x'), 1));
    EXPECT_EQ(ring->size(), 1u);
}

// A longer text is handed over whole instead: the ring takes it on a push that succeeds,
// the caller keeps it on one that fails, and what the ring still holds is freed with it
// (the sanitizer build counts a leak as a failure).
TEST(MessageRingThreadTest, ALongTextIsHandedOverWholeAndFreedWithTheSlot) {
    const std::string text(100000, 'l');
    auto ring = std::make_unique<MessageRing<2>>();
    MessageSlot slot;
    slot.connection = 7;
    for (int i = 0; i < 2; ++i) {
        slot.longText = std::make_unique<std::string>(text);
        ASSERT_TRUE(ring->tryPush(slot));
        EXPECT_EQ(slot.longText, nullptr);
    }
    slot.longText = std::make_unique<std::string>(text);
    EXPECT_FALSE(ring->tryPush(slot));
    EXPECT_NE(slot.longText, nullptr);

    MessageSlot out;
    ASSERT_TRUE(ring->tryPop(out));
    EXPECT_EQ(out.view(), text);
    EXPECT_EQ(out.connection, 7u);
    ASSERT_TRUE(ring->tryPush("short", 8));
    ASSERT_TRUE(ring->tryPop(out));  // frees the long text it held
    EXPECT_EQ(out.view(), text);
    ASSERT_TRUE(ring->tryPop(out));
    EXPECT_EQ(out.view(), "short");
    EXPECT_EQ(out.longText, nullptr);

    ASSERT_TRUE(ring->tryPush(slot));
    EXPECT_EQ(ring->discardAll(), 1u);
    ASSERT_TRUE(ring->tryPush("left", 9));
    slot.longText = std::make_unique<std::string>(text);
    ASSERT_TRUE(ring->tryPush(slot));  // left in the ring when it goes
}

TEST(MessageRingThreadTest, DiscardAllFreesEveryWaitingSlot) {
    auto ring = std::make_unique<MessageRing<4>>();
    ASSERT_TRUE(ring->tryPush("a", 1));
    ASSERT_TRUE(ring->tryPush("b", 1));
    EXPECT_EQ(ring->discardAll(), 2u);
    EXPECT_TRUE(ring->empty());
    EXPECT_EQ(ring->discardAll(), 0u);
    ASSERT_TRUE(ring->tryPush("c", 2));
    MessageSlot slot;
    ASSERT_TRUE(ring->tryPop(slot));
    EXPECT_EQ(slot.view(), "c");
}

// One producer and one consumer at full speed: every message arrives once, whole and in order.
TEST(MessageRingThreadTest, TwoThreadsPassEveryMessageWholeAndInOrder) {
    constexpr std::uint64_t kCount = 20000;
    auto ring = std::make_unique<MessageRing<32>>();
    std::thread producer([&] {
        for (std::uint64_t n = 0; n < kCount;) {
            if (ring->tryPush(message(n), n)) {
                ++n;
            } else {
                std::this_thread::yield();
            }
        }
    });
    MessageSlot slot;
    std::uint64_t wrong = 0;
    for (std::uint64_t n = 0; n < kCount;) {
        if (!ring->tryPop(slot)) {
            std::this_thread::yield();
            continue;
        }
        wrong += (slot.view() != message(n) || slot.connection != n) ? 1 : 0;
        ++n;
    }
    producer.join();
    EXPECT_EQ(wrong, 0u);
    EXPECT_TRUE(ring->empty());
}

}  // namespace
}  // namespace ostrel::api_server
