#pragma once

#include <cstddef>
#include <string>

#include "model/commands/Command.h"
#include "model/document/Note.h"
#include "model/document/Uuid.h"

namespace ostrel::model {

// Appends a copy of the note to the clip's notes.
class AddNoteCommand final : public Command {
public:
    AddNoteCommand(Uuid trackId, Uuid clipId, Note note);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    Uuid clipId_;
    Note note_;
    std::size_t index_ = 0;
};

class RemoveNoteCommand final : public Command {
public:
    RemoveNoteCommand(Uuid trackId, Uuid clipId, Uuid noteId);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    Uuid clipId_;
    Uuid noteId_;
    std::size_t index_ = 0;
    Note removed_;
};

// Replaces a whole note in place. The new note always takes noteId as its id, so the
// edited note keeps its identity. Merges with a following update of the same note.
class UpdateNoteCommand final : public Command {
public:
    UpdateNoteCommand(Uuid trackId, Uuid clipId, Uuid noteId, Note note);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;
    bool mergeWith(const Command& next) override;

private:
    Uuid trackId_;
    Uuid clipId_;
    Uuid noteId_;
    Note note_;
    std::size_t index_ = 0;
    Note previous_;
};

}  // namespace ostrel::model
