#pragma once

#include <cstddef>
#include <string>

#include "model/commands/Command.h"
#include "model/document/JsonValue.h"
#include "model/document/Track.h"
#include "model/document/Uuid.h"

namespace ostrel::model {

// Appends a new default track with this id, name and kind ("midi" or "audio").
class AddTrackCommand final : public Command {
public:
    AddTrackCommand(std::string name, Uuid id, std::string kind);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Track track_;
    std::size_t index_ = 0;
};

class RemoveTrackCommand final : public Command {
public:
    explicit RemoveTrackCommand(Uuid trackId);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    std::size_t index_ = 0;
    Track removed_;
};

// Merges with a following rename of the same track.
class RenameTrackCommand final : public Command {
public:
    RenameTrackCommand(Uuid trackId, std::string name);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;
    bool mergeWith(const Command& next) override;

private:
    Uuid trackId_;
    std::string name_;
    std::string previous_;
};

class SetTrackInstrumentCommand final : public Command {
public:
    SetTrackInstrumentCommand(Uuid trackId, std::string patchName);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    std::string patchName_;
    std::string previous_;
};

class SetTrackInstrumentConfigCommand final : public Command {
public:
    SetTrackInstrumentConfigCommand(Uuid trackId, JsonValue config);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    JsonValue config_;
    JsonValue previous_;
};

class SetTrackMutedCommand final : public Command {
public:
    SetTrackMutedCommand(Uuid trackId, bool muted);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    bool muted_;
    bool previous_ = false;
};

class SetTrackSoloCommand final : public Command {
public:
    SetTrackSoloCommand(Uuid trackId, bool solo);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    bool solo_;
    bool previous_ = false;
};

// Merges with a following volume change of the same track.
class SetTrackVolumeCommand final : public Command {
public:
    SetTrackVolumeCommand(Uuid trackId, double volume);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;
    bool mergeWith(const Command& next) override;

private:
    Uuid trackId_;
    double volume_;
    double previous_ = 0.0;
};

}  // namespace ostrel::model
