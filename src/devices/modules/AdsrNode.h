#pragma once

#include <cstdint>

#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// Attack, decay, sustain, release envelope driven by a gate on input 0 (on above 0.5).
// Linear attack; decay and release fall exponentially, to about 1 % in the set time.
class AdsrNode : public DeviceNode {
public:
    enum Knob : std::uint32_t { AttackMs, DecayMs, Sustain, ReleaseMs };
    enum class Stage : std::uint8_t { Idle, Attack, Decay, Sustain, Release };
    static const ParamDescriptor kParams[4];

    AdsrNode();

    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
              std::uint32_t silentInputs) const override;
    const char* typeId() const override { return "ostrel.mod.adsr"; }
    const char* displayName() const override { return "Envelope"; }

    Stage stage() const { return stage_; }

private:
    double sampleRate_ = 48000.0;
    Stage stage_ = Stage::Idle;
    float level_ = 0.0f;
    bool previousGate_ = false;
};

} }  // namespace ostrel::engine::devices
