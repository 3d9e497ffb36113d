#include "app/project/NoteTexts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ostrel::app;

namespace {

struct ReadCase {
    std::string name;
    QStringList texts;
    std::vector<QString> ids;
};

// Whole groups of five only, in the list's order; a shorter tail is left out.
TEST(NoteTexts, ReadsWholeGroupsOfFiveOnly) {
    const std::vector<ReadCase> cases = {
        {"no texts", {}, {}},
        {"one note", {"a", "60", "100", "0", "1"}, {"a"}},
        {"two notes in order", {"b", "62", "90", "1", "0.5", "a", "60", "100", "0", "1"}, {"b", "a"}},
        {"four texts are no note", {"a", "60", "100", "0"}, {}},
        {"a tail of two is left out", {"a", "60", "100", "0", "1", "b", "62"}, {"a"}},
        {"a tail of four is left out", {"a", "60", "100", "0", "1", "b", "62", "90", "1"}, {"a"}},
    };
    for (const ReadCase& c : cases) {
        std::vector<QString> ids;
        for (const NoteText& note : readNoteTexts(c.texts)) {
            ids.push_back(note.id);
        }
        EXPECT_EQ(ids, c.ids) << c.name;
    }
}

TEST(NoteTexts, ReadsPitchVelocityStartAndLength) {
    const std::vector<NoteText> notes = readNoteTexts({"n1", "61", "87", "1.33333", "0.25"});
    ASSERT_EQ(notes.size(), 1U);
    EXPECT_EQ(notes[0].pitch, 61);
    EXPECT_EQ(notes[0].velocity, 87);
    EXPECT_DOUBLE_EQ(notes[0].startBeats, 1.33333);
    EXPECT_DOUBLE_EQ(notes[0].lengthBeats, 0.25);
}

TEST(NoteTexts, FindsTheFirstNoteWithAnId) {
    const std::vector<NoteText> notes =
        readNoteTexts({"a", "60", "100", "0", "1", "b", "62", "90", "1", "1", "b", "64", "80", "2", "1", "c"});
    ASSERT_NE(findNoteText(notes, "b"), nullptr);
    EXPECT_EQ(findNoteText(notes, "b")->pitch, 62);
    EXPECT_EQ(findNoteText(notes, "a")->velocity, 100);
    EXPECT_EQ(findNoteText(notes, "c"), nullptr) << "an id in the tail is no note";
    EXPECT_EQ(findNoteText(notes, "nope"), nullptr);
    EXPECT_EQ(findNoteText({}, "a"), nullptr);
}

}  // namespace
