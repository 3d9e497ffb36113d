#pragma once

#include <cstdint>

#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// Resonant trapezoidal state-variable filter (low-, high- or band-pass). Input 0 is
// audio, input 1 moves the cutoff in octaves times cv_amount.
class VcfNode : public DeviceNode {
public:
    enum Knob : std::uint32_t { Mode, CutoffHz, Resonance, CvAmount };
    static const ParamDescriptor kParams[4];

    VcfNode();

    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    // In a sleeping voice the filter forgets its state and is warmed up before it sounds again.
    Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
              std::uint32_t silentInputs) const override;
    std::int64_t warmupFrames() const override;
    const char* typeId() const override { return "ostrel.mod.vcf"; }
    const char* displayName() const override { return "Filter"; }

private:
    template <int M>
    void run(int n, const float* in, const float* control, double cutoff, double cvAmount, double fixedFc, double k,
             float* out);

    double sampleRate_ = 48000.0;
    double ic1_ = 0.0;
    double ic2_ = 0.0;
    // Held between frames and blocks while what they are computed from stays the same.
    double heldCutoff_ = -1.0;
    double heldCvAmount_ = -1.0;
    float heldControl_ = 0.0f;  // NaN: none yet
    double heldControlFc_ = 0.0;
    double heldK_ = -1.0;
    double heldFc_ = -1.0;  // the cutoff the coefficients belong to
    double heldA1_ = 0.0;
    double heldA2_ = 0.0;
    double heldA3_ = 0.0;
};

} }  // namespace ostrel::engine::devices
