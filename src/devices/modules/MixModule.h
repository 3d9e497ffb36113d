#pragma once

#include <cstdint>

#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// Sums up to four signals (inputs 0 to 3), each with its own level.
class MixModule : public DeviceNode {
public:
    enum Knob : std::uint32_t { Level1, Level2, Level3, Level4 };
    static const ParamDescriptor kParams[4];

    MixModule();

    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
              std::uint32_t silentInputs) const override;
    const char* typeId() const override { return "ostrel.mod.mixer"; }
    const char* displayName() const override { return "Mixer"; }
};

} }  // namespace ostrel::engine::devices
