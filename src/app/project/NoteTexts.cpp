#include "app/project/NoteTexts.h"

#include <algorithm>

namespace ostrel::app {

namespace {
constexpr qsizetype kTextsPerNote = 5;
}  // namespace

std::vector<NoteText> readNoteTexts(const QStringList& texts) {
    std::vector<NoteText> notes;
    notes.reserve(static_cast<std::size_t>(texts.size() / kTextsPerNote));
    for (qsizetype i = 0; i + kTextsPerNote <= texts.size(); i += kTextsPerNote) {
        notes.push_back({texts[i], texts[i + 1].toInt(), texts[i + 2].toInt(), texts[i + 3].toDouble(),
                         texts[i + 4].toDouble()});
    }
    return notes;
}

const NoteText* findNoteText(const std::vector<NoteText>& notes, const QString& id) {
    const auto found = std::find_if(notes.begin(), notes.end(), [&id](const NoteText& note) { return note.id == id; });
    return found != notes.end() ? &*found : nullptr;
}

}  // namespace ostrel::app
