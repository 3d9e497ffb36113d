#pragma once

#include <string>

#include "model/document/EditKey.h"

namespace ostrel::model {

class Project;

// An undoable edit of a Project. The History owns each one and calls apply once, then
// revert and apply alternately. apply saves inside the command what revert needs; both
// throw before changing anything when a target id is missing. GUI thread only.
class Command {
public:
    virtual ~Command() = default;

    virtual void apply(Project& project, EditKey key) = 0;
    virtual void revert(Project& project, EditKey key) = 0;

    // The text of the step in the Undo and Redo menu items, in sentence case.
    virtual std::string description() const = 0;

    // Asked of the newest undo step with the command just applied: true when this command
    // has taken over next's new value, so next does not become a step of its own.
    virtual bool mergeWith(const Command& next);

    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

protected:
    Command() = default;
};

}  // namespace ostrel::model
