#include "playback/live/VoiceAllocator.h"

#include <gtest/gtest.h>

#include <vector>

using ostrel::engine::NoteRelease;
using ostrel::engine::VoiceAction;
using ostrel::engine::VoiceAllocator;

namespace {

NoteRelease release(VoiceAllocator& a, int note) {
    VoiceAction action{};
    return a.noteOff(note, action);
}

}  // namespace

TEST(VoiceAllocatorChoiceTest, RetriggerThenNeverUsedThenReleasedLongestAgoThenStealTheOldest) {
    VoiceAllocator a(8);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(a.noteOn(60 + i, 100).voice, i);
    }
    EXPECT_EQ(a.noteOn(64, 50).voice, 4) << "a sounding note is retriggered on its voice";
    EXPECT_EQ(release(a, 62), NoteRelease::Now);
    EXPECT_EQ(release(a, 61), NoteRelease::Now);
    EXPECT_EQ(release(a, 70), NoteRelease::Nothing) << "an unplayed note releases nothing";
    EXPECT_EQ(a.noteOn(65, 100).voice, 5) << "a never used voice beats released ones";
    a.noteOn(66, 100);
    a.noteOn(67, 100);
    EXPECT_EQ(a.noteOn(68, 100).voice, 2) << "of the free voices, the one released longest ago";
    EXPECT_EQ(a.noteOn(69, 100).voice, 1);
    const VoiceAction stolen = a.noteOn(80, 90);  // all eight sound: the oldest note goes
    EXPECT_EQ(stolen.voice, 0);
    EXPECT_EQ(stolen.note, 80u);
    EXPECT_EQ(stolen.velocity, 90u);
}

// Regression: a note number outside 0..127 used to index the 128 key marks.
TEST(VoiceAllocatorSafetyTest, NotesOutsideTheMidiRangeAreIgnored) {
    for (int voices : {1, 8}) {
        VoiceAllocator a(voices);
        a.setSustain(true);
        for (int note : {-1, 128, 1000, -100000}) {
            EXPECT_EQ(a.noteOn(note, 100).voice, VoiceAllocator::kNoVoice);
            EXPECT_EQ(release(a, note), NoteRelease::Nothing);
        }
        EXPECT_TRUE(a.setSustain(false).empty());
        EXPECT_FALSE(a.voice(0).active);
    }
}
