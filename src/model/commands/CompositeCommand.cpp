#include "model/commands/CompositeCommand.h"

namespace ostrel::model {

CompositeCommand::CompositeCommand(std::string description, std::vector<std::unique_ptr<Command>> children)
    : description_(std::move(description)), children_(std::move(children)) {}

// A child that throws leaves the document as it was: the children done before it are
// taken back first, so a failed redo or undo never leaves half a step behind.
void CompositeCommand::apply(Project& project, EditKey key) {
    std::size_t done = 0;
    try {
        for (; done < children_.size(); ++done) children_[done]->apply(project, key);
    } catch (...) {
        while (done > 0) children_[--done]->revert(project, key);
        throw;
    }
}

void CompositeCommand::revert(Project& project, EditKey key) {
    std::size_t left = children_.size();
    try {
        for (; left > 0; --left) children_[left - 1]->revert(project, key);
    } catch (...) {
        for (; left < children_.size(); ++left) children_[left]->apply(project, key);
        throw;
    }
}

std::string CompositeCommand::description() const {
    return description_;
}

}  // namespace ostrel::model
