#include "engine/MidiInputRing.h"

#include <gtest/gtest.h>

#include <memory>

namespace ostrel::engine {
namespace {

MidiInputWord noteOnWord(std::uint8_t note) {
    const std::uint8_t bytes[3] = {0x90, note, 100};
    return packMidiInputWord(bytes, 3);
}

TEST(MidiInputWordPacking, KeepsUpToThreeBytesInOrderWithTheirCountOnTop) {
    const std::uint8_t bytes[5] = {0x90, 0x3C, 0x64, 3, 4};
    EXPECT_EQ(packMidiInputWord(bytes, 3), 0x03643C90u);
    EXPECT_EQ(packMidiInputWord(bytes, 5), 0x03643C90u) << "longer messages are cut to three bytes";
    EXPECT_EQ(packMidiInputWord(bytes, 2), 0x02003C90u) << "unused bytes stay zero";
    EXPECT_EQ(packMidiInputWord(bytes, 0), 0u);
    EXPECT_EQ(packMidiInputWord(nullptr, 3), 0u);

    std::uint8_t out[3] = {9, 9, 9};
    EXPECT_EQ(unpackMidiInputWord(0x03643C90u, out), 3u);
    EXPECT_EQ(out[0], 0x90);
    EXPECT_EQ(out[1], 0x3C);
    EXPECT_EQ(out[2], 0x64);
    EXPECT_EQ(unpackMidiInputWord(0x020005C0u, out), 2u);
    EXPECT_EQ(out[1], 0x05);
    EXPECT_EQ(out[2], 0) << "a byte past the count reads zero";
}

TEST(MidiInputRing, HandsWordsBackInOrderAndDiscardAllEmptiesIt) {
    auto ring = std::make_unique<MidiInputRing>();
    MidiInputWord word = 7;
    EXPECT_FALSE(ring->pop(word));
    EXPECT_EQ(word, 7u) << "an empty ring leaves the word alone";
    for (std::uint8_t n = 0; n < 5; ++n) ASSERT_TRUE(ring->push(noteOnWord(n)));
    EXPECT_EQ(ring->waiting(), 5u);
    for (std::uint8_t n = 0; n < 5; ++n) {
        ASSERT_TRUE(ring->pop(word));
        EXPECT_EQ(word, noteOnWord(n));
    }
    EXPECT_FALSE(ring->pop(word));

    for (std::uint8_t n = 0; n < 10; ++n) ASSERT_TRUE(ring->push(noteOnWord(n)));
    ring->discardAll();
    EXPECT_FALSE(ring->pop(word));
    ASSERT_TRUE(ring->push(noteOnWord(99)));
    ASSERT_TRUE(ring->pop(word));
    EXPECT_EQ(word, noteOnWord(99));
}

}  // namespace
}  // namespace ostrel::engine
