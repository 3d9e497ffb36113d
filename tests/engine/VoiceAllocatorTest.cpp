#include "engine/VoiceAllocator.h"

#include <gtest/gtest.h>

using ostrel::engine::VoiceAction;
using ostrel::engine::VoiceAllocator;

namespace {

constexpr std::uint8_t kOn = 0;
constexpr std::uint8_t kOff = 1;

int release(VoiceAllocator& a, int note, VoiceAction* sent = nullptr) {
    VoiceAction action{};
    const int result = a.noteOff(note, action);
    if (sent != nullptr) {
        *sent = action;
    }
    return result;
}

}  // namespace

TEST(VoiceAllocatorChoiceTest, NotesFillVoicesInOrderThenStealTheOldest) {
    VoiceAllocator a(8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(a.noteOn(60 + i, 100).voice, i);
    }
    const VoiceAction stolen = a.noteOn(80, 90);
    EXPECT_EQ(stolen.voice, 0);
    EXPECT_EQ(stolen.type, kOn);
    EXPECT_EQ(stolen.note, 80u);
    EXPECT_EQ(stolen.velocity, 90u);
    EXPECT_EQ(a.voice(0).note, 80);
}

TEST(VoiceAllocatorChoiceTest, NeverUsedFreeVoiceBeatsRecentlyReleasedOnes) {
    VoiceAllocator a(8);
    a.noteOn(60, 100);
    a.noteOn(62, 100);
    a.noteOn(64, 100);
    EXPECT_EQ(release(a, 62), 2);
    EXPECT_EQ(release(a, 60), 2);
    EXPECT_EQ(a.noteOn(65, 100).voice, 3);
}

TEST(VoiceAllocatorChoiceTest, FreeVoiceReleasedLongestAgoIsTaken) {
    VoiceAllocator a(8);
    for (int i = 0; i < 8; ++i) {
        a.noteOn(60 + i, 100);
    }
    release(a, 65);  // voice 5
    release(a, 62);  // voice 2
    EXPECT_EQ(a.noteOn(70, 100).voice, 5);
}

TEST(VoiceAllocatorChoiceTest, SoundingNoteIsRetriggeredOnItsVoice) {
    VoiceAllocator a(8);
    for (int i = 0; i < 5; ++i) {
        a.noteOn(60 + i, 100);
    }
    EXPECT_EQ(a.noteOn(64, 50).voice, 4);
}

TEST(VoiceAllocatorChoiceTest, VoiceCountIsClamped) {
    EXPECT_EQ(VoiceAllocator(0).voiceCount(), 1);
    EXPECT_EQ(VoiceAllocator(-3).voiceCount(), 1);
    EXPECT_EQ(VoiceAllocator(12).voiceCount(), 8);
    VoiceAllocator a(4);
    a.setVoiceCount(99);
    EXPECT_EQ(a.voiceCount(), 8);
}

TEST(VoiceAllocatorChoiceTest, NoteOffOfAnUnplayedNoteReleasesNothing) {
    VoiceAllocator a(8);
    a.noteOn(60, 100);
    EXPECT_EQ(release(a, 61), 0);
}

TEST(VoiceAllocatorPedalTest, PedalHoldsThenReleasesAndRetriggerClearsTheHold) {
    VoiceAllocator a(8);
    a.noteOn(60, 100);
    a.setSustain(true);
    EXPECT_EQ(release(a, 60), 1);
    EXPECT_TRUE(a.voice(0).active);
    EXPECT_TRUE(a.voice(0).heldBySustain);
    EXPECT_EQ(release(a, 60), 0);
    EXPECT_EQ(a.noteOn(60, 100).voice, 0);
    EXPECT_FALSE(a.voice(0).heldBySustain);
    EXPECT_TRUE(a.setSustain(false).empty());
    EXPECT_TRUE(a.voice(0).active);
}

TEST(VoiceAllocatorPedalTest, PedalUpReleasesHeldVoicesInVoiceOrder) {
    VoiceAllocator a(8);
    a.noteOn(64, 100);
    a.noteOn(60, 100);
    a.setSustain(true);
    release(a, 60);
    release(a, 64);
    const auto offs = a.setSustain(false);
    ASSERT_EQ(offs.size(), 2u);
    EXPECT_EQ(offs[0].voice, 0);
    EXPECT_EQ(offs[0].note, 64u);
    EXPECT_EQ(offs[1].voice, 1);
    EXPECT_EQ(offs[1].note, 60u);
    EXPECT_EQ(offs[0].type, kOff);
    EXPECT_EQ(offs[0].velocity, 0u);
    EXPECT_FALSE(a.voice(0).active);
}

TEST(VoiceAllocatorPedalTest, RepeatedPedalStatesAnswerNothing) {
    VoiceAllocator a(8);
    EXPECT_TRUE(a.setSustain(false).empty());
    EXPECT_TRUE(a.setSustain(true).empty());
    EXPECT_TRUE(a.setSustain(true).empty());
    EXPECT_TRUE(a.sustain());
}

TEST(VoiceAllocatorMonoTest, EveryNoteOnVoiceZeroAndOffsAlwaysSent) {
    VoiceAllocator a(1);
    EXPECT_EQ(a.noteOn(36, 100).voice, 0);
    EXPECT_EQ(a.noteOn(38, 100).voice, 0);
    VoiceAction off{};
    EXPECT_EQ(release(a, 50, &off), 2);
    EXPECT_EQ(off.voice, 0);
    EXPECT_EQ(off.note, 50u);
    EXPECT_EQ(off.type, kOff);
}

TEST(VoiceAllocatorMonoTest, PedalHoldsKeysUntilReleasedOrReplayed) {
    VoiceAllocator a(1);
    a.noteOn(36, 100);
    a.setSustain(true);
    EXPECT_EQ(release(a, 36), 1);
    auto offs = a.setSustain(false);
    ASSERT_EQ(offs.size(), 1u);
    EXPECT_EQ(offs[0].note, 36u);

    a.setSustain(true);
    release(a, 36);
    a.noteOn(36, 100);
    EXPECT_TRUE(a.setSustain(false).empty());
}

TEST(VoiceAllocatorReleaseTest, ReleaseAllMonoSendsEveryKey) {
    VoiceAllocator a(1);
    a.setSustain(true);
    const auto offs = a.releaseAll();
    ASSERT_EQ(offs.size(), 128u);
    EXPECT_EQ(offs.front().note, 0u);
    EXPECT_EQ(offs.back().note, 127u);
    EXPECT_FALSE(a.sustain());
}

TEST(VoiceAllocatorReleaseTest, ReleaseAllPolyIncludesHeldVoices) {
    VoiceAllocator a(8);
    a.noteOn(60, 100);
    a.noteOn(62, 100);
    a.noteOn(64, 100);
    a.setSustain(true);
    release(a, 62);
    const auto offs = a.releaseAll();
    ASSERT_EQ(offs.size(), 3u);
    EXPECT_EQ(offs[1].note, 62u);
    for (int v = 0; v < 8; ++v) {
        EXPECT_FALSE(a.voice(v).active);
        EXPECT_FALSE(a.voice(v).heldBySustain);
    }
    EXPECT_EQ(a.voice(0).note, 60) << "notes are kept";
}

TEST(VoiceAllocatorReleaseTest, ResetForgetsVoicesButKeepsThePedal) {
    VoiceAllocator a(8);
    a.noteOn(60, 100);
    a.noteOn(62, 100);
    a.setSustain(true);
    a.reset();
    for (int v = 0; v < 8; ++v) {
        EXPECT_EQ(a.voice(v).note, -1);
        EXPECT_EQ(a.voice(v).age, 0u);
        EXPECT_FALSE(a.voice(v).active);
    }
    EXPECT_TRUE(a.sustain());
}

// Regression: a note number outside 0..127 used to index the 128 key marks.
TEST(VoiceAllocatorSafetyTest, NotesOutsideTheMidiRangeAreIgnored) {
    for (int voices : {1, 8}) {
        VoiceAllocator a(voices);
        a.setSustain(true);
        for (int note : {-1, 128, 1000, -100000}) {
            EXPECT_EQ(a.noteOn(note, 100).voice, VoiceAllocator::kNoVoice);
            VoiceAction action{};
            EXPECT_EQ(a.noteOff(note, action), 0);
        }
        EXPECT_TRUE(a.setSustain(false).empty());
        EXPECT_FALSE(a.voice(0).active);
    }
}
