#pragma once

#include <cstddef>
#include <string>

#include "model/commands/Command.h"
#include "model/document/Clip.h"
#include "model/document/Uuid.h"

namespace ostrel::model {

// Appends a copy of the clip to the track's clips.
class AddClipCommand final : public Command {
public:
    AddClipCommand(Uuid trackId, Clip clip);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    Clip clip_;
    std::size_t index_ = 0;
};

class RemoveClipCommand final : public Command {
public:
    RemoveClipCommand(Uuid trackId, Uuid clipId);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    Uuid clipId_;
    std::size_t index_ = 0;
    Clip removed_;
};

// Sets a clip's start and length together (move or resize); the rest of the clip stays.
// Merges with a following update of the same clip.
class UpdateClipCommand final : public Command {
public:
    UpdateClipCommand(Uuid trackId, Uuid clipId, double startBeats, double lengthBeats);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;
    bool mergeWith(const Command& next) override;

private:
    Uuid trackId_;
    Uuid clipId_;
    double startBeats_;
    double lengthBeats_;
    std::size_t index_ = 0;
    double previousStart_ = 0.0;
    double previousLength_ = 0.0;
};

}  // namespace ostrel::model
