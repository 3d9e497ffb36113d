#include "model/commands/DeviceCommands.h"

#include <algorithm>

#include "model/document/Lookup.h"
#include "model/document/Project.h"

namespace ostrel::model {

AddDeviceCommand::AddDeviceCommand(Uuid trackId, Device device) : trackId_(trackId), device_(std::move(device)) {}

void AddDeviceCommand::apply(Project& project, EditKey key) {
    const std::size_t index = findTrack(project, trackId_).devices.size();
    project.insertDevice(key, trackId_, index, device_);
    index_ = index;
}

void AddDeviceCommand::revert(Project& project, EditKey key) {
    project.removeDevice(key, trackId_, index_);
}

std::string AddDeviceCommand::description() const {
    return "Add device";
}

RemoveDeviceCommand::RemoveDeviceCommand(Uuid trackId, Uuid deviceId) : trackId_(trackId), deviceId_(deviceId) {}

void RemoveDeviceCommand::apply(Project& project, EditKey key) {
    const std::size_t index = findDeviceIndex(findTrack(project, trackId_), deviceId_);
    removed_ = project.removeDevice(key, trackId_, index);
    index_ = index;
}

void RemoveDeviceCommand::revert(Project& project, EditKey key) {
    project.insertDevice(key, trackId_, index_, removed_);
}

std::string RemoveDeviceCommand::description() const {
    return "Remove device";
}

MoveDeviceCommand::MoveDeviceCommand(Uuid trackId, Uuid deviceId, std::size_t targetIndex)
    : trackId_(trackId), deviceId_(deviceId), targetIndex_(targetIndex) {}

void MoveDeviceCommand::apply(Project& project, EditKey key) {
    const std::size_t from = findDeviceIndex(findTrack(project, trackId_), deviceId_);
    Device device = project.removeDevice(key, trackId_, from);
    from_ = from;
    const std::size_t to = std::min(targetIndex_, findTrack(project, trackId_).devices.size());
    project.insertDevice(key, trackId_, to, std::move(device));
}

void MoveDeviceCommand::revert(Project& project, EditKey key) {
    const std::size_t current = findDeviceIndex(findTrack(project, trackId_), deviceId_);
    Device device = project.removeDevice(key, trackId_, current);
    project.insertDevice(key, trackId_, from_, std::move(device));
}

std::string MoveDeviceCommand::description() const {
    return "Move device";
}

SetDeviceEnabledCommand::SetDeviceEnabledCommand(Uuid trackId, Uuid deviceId, bool enabled)
    : trackId_(trackId), deviceId_(deviceId), enabled_(enabled) {}

void SetDeviceEnabledCommand::apply(Project& project, EditKey key) {
    const std::size_t index = findDeviceIndex(findTrack(project, trackId_), deviceId_);
    Device device = project.removeDevice(key, trackId_, index);
    index_ = index;
    previous_ = device.enabled;
    device.enabled = enabled_;
    project.insertDevice(key, trackId_, index, std::move(device));
}

void SetDeviceEnabledCommand::revert(Project& project, EditKey key) {
    Device device = project.removeDevice(key, trackId_, index_);
    device.enabled = previous_;
    project.insertDevice(key, trackId_, index_, std::move(device));
}

std::string SetDeviceEnabledCommand::description() const {
    return enabled_ ? "Switch device on" : "Bypass device";
}

SetDeviceParameterCommand::SetDeviceParameterCommand(Uuid trackId, Uuid deviceId, std::string knob, double value)
    : trackId_(trackId), deviceId_(deviceId), knob_(std::move(knob)), value_(value) {}

void SetDeviceParameterCommand::apply(Project& project, EditKey key) {
    const Track& track = findTrack(project, trackId_);
    const Device& device = track.devices[findDeviceIndex(track, deviceId_)];
    std::optional<double> previous;
    if (auto it = device.parameters.find(knob_); it != device.parameters.end()) previous = it->second;
    project.setDeviceParameter(key, trackId_, deviceId_, knob_, value_);
    previous_ = previous;
}

void SetDeviceParameterCommand::revert(Project& project, EditKey key) {
    if (previous_) {
        project.setDeviceParameter(key, trackId_, deviceId_, knob_, *previous_);
    } else {
        project.eraseDeviceParameter(key, trackId_, deviceId_, knob_);
    }
}

std::string SetDeviceParameterCommand::description() const {
    return "Set " + knob_;
}

bool SetDeviceParameterCommand::mergeWith(const Command& next) {
    const auto* other = dynamic_cast<const SetDeviceParameterCommand*>(&next);
    if (!other || other->trackId_ != trackId_ || other->deviceId_ != deviceId_ || other->knob_ != knob_) {
        return false;
    }
    if (other != this) value_ = other->value_;
    return true;
}

}  // namespace ostrel::model
