#pragma once

#include <cstdint>

#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// Gain stage: input 0 audio times level, times the control on input 1 when plugged.
class VcaNode : public DeviceNode {
public:
    enum Knob : std::uint32_t { Level };
    static const ParamDescriptor kParams[1];

    VcaNode();

    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
              std::uint32_t silentInputs) const override;
    const char* typeId() const override { return "ostrel.mod.vca"; }
    const char* displayName() const override { return "Amplifier"; }
};

} }  // namespace ostrel::engine::devices
