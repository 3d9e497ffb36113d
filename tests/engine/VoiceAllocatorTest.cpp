#include "engine/VoiceAllocator.h"

#include <gtest/gtest.h>

#include <vector>

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

std::vector<int> notesOf(const std::vector<VoiceAction>& actions) {
    std::vector<int> notes;
    for (const VoiceAction& a : actions) {
        notes.push_back(a.note);
    }
    return notes;
}

}  // namespace

TEST(VoiceAllocatorChoiceTest, RetriggerThenNeverUsedThenReleasedLongestAgoThenStealTheOldest) {
    VoiceAllocator a(8);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(a.noteOn(60 + i, 100).voice, i);
    }
    EXPECT_EQ(a.noteOn(64, 50).voice, 4) << "a sounding note is retriggered on its voice";
    EXPECT_EQ(release(a, 62), 2);
    EXPECT_EQ(release(a, 61, nullptr), 2);
    EXPECT_EQ(release(a, 70), 0) << "an unplayed note releases nothing";
    EXPECT_EQ(a.noteOn(65, 100).voice, 5) << "a never used voice beats released ones";
    a.noteOn(66, 100);
    a.noteOn(67, 100);
    EXPECT_EQ(a.noteOn(68, 100).voice, 2) << "of the free voices, the one released longest ago";
    EXPECT_EQ(a.noteOn(69, 100).voice, 1);
    const VoiceAction stolen = a.noteOn(80, 90);  // all eight sound: the oldest note goes
    EXPECT_EQ(stolen.voice, 0);
    EXPECT_EQ(stolen.type, kOn);
    EXPECT_EQ(stolen.note, 80u);
    EXPECT_EQ(stolen.velocity, 90u);
    EXPECT_EQ(a.voice(0).note, 80);
}

TEST(VoiceAllocatorChoiceTest, VoiceCountIsClampedToOneToEight) {
    EXPECT_EQ(VoiceAllocator(0).voiceCount(), 1);
    EXPECT_EQ(VoiceAllocator(-3).voiceCount(), 1);
    VoiceAllocator a(12);
    EXPECT_EQ(a.voiceCount(), 8);
    a.setVoiceCount(99);
    EXPECT_EQ(a.voiceCount(), 8);
}

TEST(VoiceAllocatorPedalTest, PedalHoldsReleasedVoicesAndLetsThemGoInVoiceOrder) {
    VoiceAllocator a(8);
    EXPECT_TRUE(a.setSustain(false).empty());
    a.noteOn(64, 100);
    a.noteOn(60, 100);
    a.noteOn(67, 100);
    EXPECT_TRUE(a.setSustain(true).empty());
    EXPECT_TRUE(a.setSustain(true).empty()) << "a repeated pedal state answers nothing";
    EXPECT_EQ(release(a, 60), 1);
    EXPECT_EQ(release(a, 64), 1);
    EXPECT_EQ(release(a, 60), 0);
    EXPECT_TRUE(a.voice(1).active && a.voice(1).heldBySustain);
    EXPECT_EQ(a.noteOn(67, 100).voice, 2);
    release(a, 67);
    EXPECT_EQ(a.noteOn(67, 100).voice, 2);
    EXPECT_FALSE(a.voice(2).heldBySustain) << "replaying a held key clears its hold";

    const auto offs = a.setSustain(false);
    ASSERT_EQ(offs.size(), 2u);
    EXPECT_EQ(offs[0].voice, 0);
    EXPECT_EQ(offs[1].voice, 1);
    EXPECT_EQ(notesOf(offs), (std::vector<int>{64, 60}));
    EXPECT_EQ(offs[0].type, kOff);
    EXPECT_EQ(offs[0].velocity, 0u);
    EXPECT_FALSE(a.voice(0).active);
    EXPECT_TRUE(a.voice(2).active);
}

TEST(VoiceAllocatorMonoTest, EveryNoteOnVoiceZeroOffsAlwaysSentAndThePedalHoldsKeys) {
    VoiceAllocator a(1);
    EXPECT_EQ(a.noteOn(36, 100).voice, 0);
    EXPECT_EQ(a.noteOn(38, 100).voice, 0);
    VoiceAction off{};
    EXPECT_EQ(release(a, 50, &off), 2);
    EXPECT_EQ(off.voice, 0);
    EXPECT_EQ(off.note, 50u);
    EXPECT_EQ(off.type, kOff);

    a.setSustain(true);
    EXPECT_EQ(release(a, 36), 1);
    EXPECT_EQ(notesOf(a.setSustain(false)), (std::vector<int>{36}));
    a.setSustain(true);
    release(a, 36);
    a.noteOn(36, 100);
    EXPECT_TRUE(a.setSustain(false).empty()) << "a replayed key is no longer held";
}

TEST(VoiceAllocatorReleaseTest, ReleaseAllSendsEveryMonoKeyOrEverySoundingAndHeldVoice) {
    VoiceAllocator mono(1);
    mono.setSustain(true);
    const auto keys = mono.releaseAll();
    ASSERT_EQ(keys.size(), 128u);
    EXPECT_EQ(keys.front().note, 0u);
    EXPECT_EQ(keys.back().note, 127u);
    EXPECT_FALSE(mono.sustain());

    VoiceAllocator poly(8);
    poly.noteOn(60, 100);
    poly.noteOn(62, 100);
    poly.noteOn(64, 100);
    poly.setSustain(true);
    release(poly, 62);
    EXPECT_EQ(notesOf(poly.releaseAll()), (std::vector<int>{60, 62, 64}));
    for (int v = 0; v < 8; ++v) {
        EXPECT_FALSE(poly.voice(v).active || poly.voice(v).heldBySustain);
    }
    EXPECT_EQ(poly.voice(0).note, 60) << "notes are kept";

    poly.setSustain(true);
    poly.reset();
    EXPECT_EQ(poly.voice(0).note, -1);
    EXPECT_EQ(poly.voice(0).age, 0u);
    EXPECT_TRUE(poly.sustain()) << "reset keeps the pedal";
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
