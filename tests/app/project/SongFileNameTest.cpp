#include "app/project/SongFileName.h"

#include <gtest/gtest.h>

using namespace ostrel::app;

namespace {

TEST(SongFileName, KeepsLettersDigitsSpacesUnderscoresAndDashes) {
    EXPECT_EQ(songFileBase("Song-2 take_3"), "Song-2 take_3");
}

TEST(SongFileName, EveryOtherCharacterBecomesOneUnderscore) {
    EXPECT_EQ(songFileBase("Song: 1/2"), "Song_ 1_2");
    EXPECT_EQ(songFileBase("My Song!"), "My Song_");
    EXPECT_EQ(songFileBase("Café"), "Caf_");
    EXPECT_EQ(songFileBase(QString::fromUtf8("\xF0\x9F\x8E\xB5 beat")), "_ beat") << "a character beyond 16 bits is one";
    EXPECT_EQ(songFileBase("a.b"), "a_b");
}

TEST(SongFileName, TrimsAndFallsBackToUntitled) {
    EXPECT_EQ(songFileBase("  Demo  "), "Demo");
    EXPECT_EQ(songFileBase("   "), "Untitled");
    EXPECT_EQ(songFileBase(""), "Untitled");
    EXPECT_EQ(songFileBase("!!"), "__");
}

TEST(SongFileName, IsNotCutHere) {
    EXPECT_EQ(songFileBase(QString(70, 'x')).size(), 70);
}

}  // namespace
