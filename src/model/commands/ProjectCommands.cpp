#include "model/commands/ProjectCommands.h"

#include "model/document/Project.h"

namespace ostrel::model {

SetProjectNameCommand::SetProjectNameCommand(std::string name) : name_(std::move(name)) {}

void SetProjectNameCommand::apply(Project& project, EditKey key) {
    std::string previous = project.name();
    project.setName(key, name_);
    previous_ = std::move(previous);
}

void SetProjectNameCommand::revert(Project& project, EditKey key) {
    project.setName(key, previous_);
}

std::string SetProjectNameCommand::description() const {
    return "Rename project";
}

bool SetProjectNameCommand::mergeWith(const Command& next) {
    const auto* other = dynamic_cast<const SetProjectNameCommand*>(&next);
    if (!other) return false;
    if (other != this) name_ = other->name_;
    return true;
}

SetTempoCommand::SetTempoCommand(double bpm) : bpm_(bpm) {}

void SetTempoCommand::apply(Project& project, EditKey key) {
    previous_ = project.tempoBpm();
    project.setTempo(key, bpm_);
}

void SetTempoCommand::revert(Project& project, EditKey key) {
    project.setTempo(key, previous_);
}

std::string SetTempoCommand::description() const {
    return "Set tempo";
}

bool SetTempoCommand::mergeWith(const Command& next) {
    const auto* other = dynamic_cast<const SetTempoCommand*>(&next);
    if (!other) return false;
    if (other != this) bpm_ = other->bpm_;
    return true;
}

}  // namespace ostrel::model
