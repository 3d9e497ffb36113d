#include "model/commands/ClipCommands.h"

#include "model/document/Lookup.h"
#include "model/document/Project.h"

namespace ostrel::model {

AddClipCommand::AddClipCommand(Uuid trackId, Clip clip) : trackId_(trackId), clip_(std::move(clip)) {}

void AddClipCommand::apply(Project& project, EditKey key) {
    const std::size_t index = findTrack(project, trackId_).clips.size();
    project.insertClip(key, trackId_, index, clip_);
    index_ = index;
}

void AddClipCommand::revert(Project& project, EditKey key) {
    project.removeClip(key, trackId_, index_);
}

std::string AddClipCommand::description() const {
    return "Add clip";
}

RemoveClipCommand::RemoveClipCommand(Uuid trackId, Uuid clipId) : trackId_(trackId), clipId_(clipId) {}

void RemoveClipCommand::apply(Project& project, EditKey key) {
    const Track& track = findTrack(project, trackId_);
    const std::size_t index = findClipIndex(track, clipId_);
    removed_ = project.removeClip(key, trackId_, index);
    index_ = index;
}

void RemoveClipCommand::revert(Project& project, EditKey key) {
    project.insertClip(key, trackId_, index_, removed_);
}

std::string RemoveClipCommand::description() const {
    return "Remove clip";
}

UpdateClipCommand::UpdateClipCommand(Uuid trackId, Uuid clipId, double startBeats, double lengthBeats)
    : trackId_(trackId), clipId_(clipId), startBeats_(startBeats), lengthBeats_(lengthBeats) {}

void UpdateClipCommand::apply(Project& project, EditKey key) {
    const Track& track = findTrack(project, trackId_);
    const std::size_t index = findClipIndex(track, clipId_);
    Clip clip = project.removeClip(key, trackId_, index);
    index_ = index;
    previousStart_ = clip.startBeats;
    previousLength_ = clip.lengthBeats;
    clip.startBeats = startBeats_;
    clip.lengthBeats = lengthBeats_;
    project.insertClip(key, trackId_, index, std::move(clip));
}

void UpdateClipCommand::revert(Project& project, EditKey key) {
    Clip clip = project.removeClip(key, trackId_, index_);
    clip.startBeats = previousStart_;
    clip.lengthBeats = previousLength_;
    project.insertClip(key, trackId_, index_, std::move(clip));
}

std::string UpdateClipCommand::description() const {
    return "Edit clip";
}

bool UpdateClipCommand::mergeWith(const Command& next) {
    const auto* other = dynamic_cast<const UpdateClipCommand*>(&next);
    if (!other || other->trackId_ != trackId_ || other->clipId_ != clipId_) return false;
    if (other != this) {
        startBeats_ = other->startBeats_;
        lengthBeats_ = other->lengthBeats_;
    }
    return true;
}

}  // namespace ostrel::model
