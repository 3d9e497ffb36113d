#pragma once

#include <cstdint>

#include "devices/Dsp.h"
#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// White noise from xorshift32. Keeps no sample rate; two modules reset together
// give the same sequence.
class NoiseNode : public DeviceNode {
public:
    enum Knob : std::uint32_t { Level };
    static const ParamDescriptor kParams[1];
    static constexpr std::uint32_t kSeed = 0x92D68CA2u;

    NoiseNode();

    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    // A sleeping voice's noise runs on without output; see Node.
    Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
              std::uint32_t silentInputs) const override;
    void advance(const ProcessContext& context, std::span<const AudioBuffer* const> inputs) override;
    void beginWarmup(std::int64_t frames) override;
    void endWarmup() override;
    const char* typeId() const override { return "ostrel.mod.noise"; }
    const char* displayName() const override { return "Noise"; }

private:
    dsp::XorShift32 random_{kSeed};
    std::uint32_t warmupState_ = kSeed;  // the true state while a warm-up runs
};

} }  // namespace ostrel::engine::devices
