#pragma once

#include <string>

#include "model/commands/Command.h"

namespace ostrel::model {

// Any two renames of the project merge.
class SetProjectNameCommand final : public Command {
public:
    explicit SetProjectNameCommand(std::string name);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;
    bool mergeWith(const Command& next) override;

private:
    std::string name_;
    std::string previous_;
};

// Tempo in beats per minute, stored as given (the caller rounds and clamps).
// Any two tempo changes merge.
class SetTempoCommand final : public Command {
public:
    explicit SetTempoCommand(double bpm);
    void apply(Project& project, EditKey key) override;
    void revert(Project& project, EditKey key) override;
    std::string description() const override;
    bool mergeWith(const Command& next) override;

private:
    double bpm_;
    double previous_ = 0.0;
};

}  // namespace ostrel::model
