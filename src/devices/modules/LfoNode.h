#pragma once

#include <cstdint>

#include "devices/Dsp.h"
#include "engine/graph/DeviceNode.h"

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
    // A sleeping voice's LFO runs on without output; see Node.
    Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
              std::uint32_t silentInputs) const override;
    void advance(const ProcessContext& context, std::span<const AudioBuffer* const> inputs) override;
    void beginWarmup(std::int64_t frames) override;
    void endWarmup() override;
    const char* typeId() const override { return "ostrel.mod.lfo"; }
    const char* displayName() const override { return "LFO"; }

private:
    double sampleRate_ = 48000.0;
    double phase_ = 0.0;  // cycles, 0..1
    float held_ = 0.0f;
    dsp::XorShift32 random_{kSeed};
    bool previousTrigger_ = false;
    struct Saved {
        double phase = 0.0;
        float held = 0.0f;
        std::uint32_t random = 0;
        bool previousTrigger = false;
    } warmup_;  // the true state while a warm-up runs
};

} }  // namespace ostrel::engine::devices
