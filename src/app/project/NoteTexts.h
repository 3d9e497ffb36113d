#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace ostrel::app {

// One note as ProjectController::clipNotes writes it: five texts a note, id, pitch, velocity,
// start and length (beats from the clip's start, six significant digits).
struct NoteText {
    QString id;
    int pitch = 0;
    int velocity = 0;
    double startBeats = 0.0;
    double lengthBeats = 0.0;
};

// The notes of such a list in its order, whole groups of five only: texts after the last
// whole group are left out.
std::vector<NoteText> readNoteTexts(const QStringList& texts);

// The first note with that id, or null.
const NoteText* findNoteText(const std::vector<NoteText>& notes, const QString& id);

}  // namespace ostrel::app
