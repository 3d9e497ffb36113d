#include "model/commands/NoteCommands.h"

#include "model/document/Lookup.h"
#include "model/document/Project.h"

namespace ostrel::model {

AddNoteCommand::AddNoteCommand(Uuid trackId, Uuid clipId, Note note)
    : trackId_(trackId), clipId_(clipId), note_(std::move(note)) {}

void AddNoteCommand::apply(Project& project, EditKey key) {
    const std::size_t index = findClip(project, trackId_, clipId_).notes.size();
    project.insertNote(key, trackId_, clipId_, index, note_);
    index_ = index;
}

void AddNoteCommand::revert(Project& project, EditKey key) {
    project.removeNote(key, trackId_, clipId_, index_);
}

std::string AddNoteCommand::description() const {
    return "Add note";
}

RemoveNoteCommand::RemoveNoteCommand(Uuid trackId, Uuid clipId, Uuid noteId)
    : trackId_(trackId), clipId_(clipId), noteId_(noteId) {}

void RemoveNoteCommand::apply(Project& project, EditKey key) {
    const std::size_t index = findNoteIndex(findClip(project, trackId_, clipId_), noteId_);
    removed_ = project.removeNote(key, trackId_, clipId_, index);
    index_ = index;
}

void RemoveNoteCommand::revert(Project& project, EditKey key) {
    project.insertNote(key, trackId_, clipId_, index_, removed_);
}

std::string RemoveNoteCommand::description() const {
    return "Remove note";
}

UpdateNoteCommand::UpdateNoteCommand(Uuid trackId, Uuid clipId, Uuid noteId, Note note)
    : trackId_(trackId), clipId_(clipId), noteId_(noteId), note_(std::move(note)) {
    note_.id = noteId;
}

void UpdateNoteCommand::apply(Project& project, EditKey key) {
    const Clip& clip = findClip(project, trackId_, clipId_);
    // A redo meets the document its first apply left, so the saved place still holds the
    // note; ids being unique, that place is also where a scan would stop.
    const bool atSavedPlace = index_ < clip.notes.size() && clip.notes[index_].id == noteId_;
    const std::size_t index = atSavedPlace ? index_ : findNoteIndex(clip, noteId_);
    previous_ = project.replaceNote(key, trackId_, clipId_, index, note_);
    index_ = index;
}

void UpdateNoteCommand::revert(Project& project, EditKey key) {
    project.replaceNote(key, trackId_, clipId_, index_, previous_);
}

std::string UpdateNoteCommand::description() const {
    return "Edit note";
}

bool UpdateNoteCommand::mergeWith(const Command& next) {
    const auto* other = dynamic_cast<const UpdateNoteCommand*>(&next);
    if (!other || other->trackId_ != trackId_ || other->clipId_ != clipId_ || other->noteId_ != noteId_) {
        return false;
    }
    if (other != this) note_ = other->note_;
    return true;
}

}  // namespace ostrel::model
