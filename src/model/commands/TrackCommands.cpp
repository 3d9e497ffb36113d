#include "model/commands/TrackCommands.h"

#include <nlohmann/json.hpp>

#include "model/document/Lookup.h"
#include "model/document/Project.h"

namespace ostrel::model {

AddTrackCommand::AddTrackCommand(std::string name, Uuid id, std::string kind) {
    track_.id = id;
    track_.name = std::move(name);
    track_.kind = std::move(kind);
}

void AddTrackCommand::apply(Project& project, EditKey key) {
    index_ = project.tracks().size();
    project.insertTrack(key, index_, track_);
}

void AddTrackCommand::revert(Project& project, EditKey key) {
    project.removeTrack(key, index_);
}

std::string AddTrackCommand::description() const {
    return "Add track";
}

RemoveTrackCommand::RemoveTrackCommand(Uuid trackId) : trackId_(trackId) {}

void RemoveTrackCommand::apply(Project& project, EditKey key) {
    const std::size_t index = findTrackIndex(project, trackId_);
    removed_ = project.removeTrack(key, index);
    index_ = index;
}

void RemoveTrackCommand::revert(Project& project, EditKey key) {
    project.insertTrack(key, index_, removed_);
}

std::string RemoveTrackCommand::description() const {
    return "Remove track";
}

RenameTrackCommand::RenameTrackCommand(Uuid trackId, std::string name) : trackId_(trackId), name_(std::move(name)) {}

void RenameTrackCommand::apply(Project& project, EditKey key) {
    std::string previous = findTrack(project, trackId_).name;
    project.setTrackName(key, trackId_, name_);
    previous_ = std::move(previous);
}

void RenameTrackCommand::revert(Project& project, EditKey key) {
    project.setTrackName(key, trackId_, previous_);
}

std::string RenameTrackCommand::description() const {
    return "Rename track";
}

bool RenameTrackCommand::mergeWith(const Command& next) {
    const auto* other = dynamic_cast<const RenameTrackCommand*>(&next);
    if (!other || other->trackId_ != trackId_) return false;
    if (other != this) name_ = other->name_;
    return true;
}

SetTrackInstrumentCommand::SetTrackInstrumentCommand(Uuid trackId, std::string patchName)
    : trackId_(trackId), patchName_(std::move(patchName)) {}

void SetTrackInstrumentCommand::apply(Project& project, EditKey key) {
    std::string previous = findTrack(project, trackId_).instrumentPatch;
    project.setTrackInstrument(key, trackId_, patchName_);
    previous_ = std::move(previous);
}

void SetTrackInstrumentCommand::revert(Project& project, EditKey key) {
    project.setTrackInstrument(key, trackId_, previous_);
}

std::string SetTrackInstrumentCommand::description() const {
    return "Set instrument";
}

SetTrackInstrumentConfigCommand::SetTrackInstrumentConfigCommand(Uuid trackId, JsonValue config)
    : trackId_(trackId), config_(std::move(config)), previous_(nlohmann::json()) {}

void SetTrackInstrumentConfigCommand::apply(Project& project, EditKey key) {
    JsonValue previous = findTrack(project, trackId_).instrumentConfig;
    project.setTrackInstrumentConfig(key, trackId_, config_);
    previous_ = std::move(previous);
}

void SetTrackInstrumentConfigCommand::revert(Project& project, EditKey key) {
    project.setTrackInstrumentConfig(key, trackId_, previous_);
}

std::string SetTrackInstrumentConfigCommand::description() const {
    return "Set instrument settings";
}

SetTrackMutedCommand::SetTrackMutedCommand(Uuid trackId, bool muted) : trackId_(trackId), muted_(muted) {}

void SetTrackMutedCommand::apply(Project& project, EditKey key) {
    const bool previous = findTrack(project, trackId_).muted;
    project.setTrackMuted(key, trackId_, muted_);
    previous_ = previous;
}

void SetTrackMutedCommand::revert(Project& project, EditKey key) {
    project.setTrackMuted(key, trackId_, previous_);
}

std::string SetTrackMutedCommand::description() const {
    return muted_ ? "Mute track" : "Unmute track";
}

SetTrackSoloCommand::SetTrackSoloCommand(Uuid trackId, bool solo) : trackId_(trackId), solo_(solo) {}

void SetTrackSoloCommand::apply(Project& project, EditKey key) {
    const bool previous = findTrack(project, trackId_).solo;
    project.setTrackSolo(key, trackId_, solo_);
    previous_ = previous;
}

void SetTrackSoloCommand::revert(Project& project, EditKey key) {
    project.setTrackSolo(key, trackId_, previous_);
}

std::string SetTrackSoloCommand::description() const {
    return solo_ ? "Solo track" : "Unsolo track";
}

SetTrackVolumeCommand::SetTrackVolumeCommand(Uuid trackId, double volume) : trackId_(trackId), volume_(volume) {}

void SetTrackVolumeCommand::apply(Project& project, EditKey key) {
    const double previous = findTrack(project, trackId_).volume;
    project.setTrackVolume(key, trackId_, volume_);
    previous_ = previous;
}

void SetTrackVolumeCommand::revert(Project& project, EditKey key) {
    project.setTrackVolume(key, trackId_, previous_);
}

std::string SetTrackVolumeCommand::description() const {
    return "Set track volume";
}

bool SetTrackVolumeCommand::mergeWith(const Command& next) {
    const auto* other = dynamic_cast<const SetTrackVolumeCommand*>(&next);
    if (!other || other->trackId_ != trackId_) return false;
    if (other != this) volume_ = other->volume_;
    return true;
}

}  // namespace ostrel::model
