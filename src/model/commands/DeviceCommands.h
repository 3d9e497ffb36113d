#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "model/commands/Command.h"
#include "model/document/Device.h"
#include "model/document/Uuid.h"

namespace ostrel::model {

// Appends a copy of the device to the end of the track's chain.
class AddDeviceCommand final : public Command {
public:
    AddDeviceCommand(Uuid trackId, Device device);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    Device device_;
    std::size_t index_ = 0;
};

class RemoveDeviceCommand final : public Command {
public:
    RemoveDeviceCommand(Uuid trackId, Uuid deviceId);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    Uuid deviceId_;
    std::size_t index_ = 0;
    Device removed_;
};

// Moves a device within its chain; a target past the end moves it to the end.
class MoveDeviceCommand final : public Command {
public:
    MoveDeviceCommand(Uuid trackId, Uuid deviceId, std::size_t targetIndex);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    Uuid deviceId_;
    std::size_t targetIndex_;
    std::size_t from_ = 0;
};

// Switches a device on, or bypasses it.
class SetDeviceEnabledCommand final : public Command {
public:
    SetDeviceEnabledCommand(Uuid trackId, Uuid deviceId, bool enabled);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;

private:
    Uuid trackId_;
    Uuid deviceId_;
    bool enabled_;
    std::size_t index_ = 0;
    bool previous_ = false;
};

// Sets one knob. Undo of a knob that had no value removes the key again.
// Merges with a following change of the same knob of the same device.
class SetDeviceParameterCommand final : public Command {
public:
    SetDeviceParameterCommand(Uuid trackId, Uuid deviceId, std::string knob, double value);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;
    bool mergeWith(const Command& next) override;

private:
    Uuid trackId_;
    Uuid deviceId_;
    std::string knob_;
    double value_;
    std::optional<double> previous_;
};

}  // namespace ostrel::model
