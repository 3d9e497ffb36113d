#pragma once

#include <cstdint>

#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// amount * input + offset; with nothing plugged in, a constant control signal.
class AttenuverterNode : public DeviceNode {
public:
    enum Knob : std::uint32_t { Amount, Offset };
    static const ParamDescriptor kParams[2];

    AttenuverterNode();

    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
              std::uint32_t silentInputs) const override;
    const char* typeId() const override { return "ostrel.mod.attenuverter"; }
    const char* displayName() const override { return "Attenuverter"; }
};

} }  // namespace ostrel::engine::devices
