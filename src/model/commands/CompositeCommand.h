#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/commands/Command.h"

namespace ostrel::model {

// Several commands as one undo step (a committed transaction). Applies the children in
// order and reverts them newest first. Never merges.
class CompositeCommand final : public Command {
public:
    CompositeCommand(std::string description, std::vector<std::unique_ptr<Command>> children);

    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

    std::size_t size() const { return children_.size(); }

private:
    std::string description_;
    std::vector<std::unique_ptr<Command>> children_;
};

}  // namespace ostrel::model
