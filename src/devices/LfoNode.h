#pragma once

#include <cstdint>

#include "devices/Dsp.h"
#include "engine/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// Slow oscillator: sine, triangle, saw, square or random steps (sample and hold),
// restarted by a rising edge on input 0.
class LfoNode : public DeviceNode {
public:
    enum Knob : std::uint32_t { RateHz, Waveform, Depth, Bipolar };
    static const ParamDescriptor kParams[4];
    static constexpr std::uint32_t kSeed = 12345;
    // The generator state one step after kSeed; prepare and reset start here.
    static constexpr std::uint32_t kResetState = 0xC6E5747Au;

    LfoNode();

    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    const char* typeId() const override { return "ostrel.mod.lfo"; }
    const char* displayName() const override { return "LFO"; }

private:
    double sampleRate_ = 48000.0;
    double phase_ = 0.0;  // cycles, 0..1
    float held_ = 0.0f;
    dsp::XorShift32 random_{kSeed};
    bool previousTrigger_ = false;
};

} }  // namespace ostrel::engine::devices
