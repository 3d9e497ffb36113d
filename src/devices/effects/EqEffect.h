#pragma once

#include "engine/graph/DeviceNode.h"

#include <array>

namespace ostrel::engine { inline namespace devices {

// Four-band equaliser: low shelf, two bells, high shelf, then an output gain.
// Cookbook biquads run in double; coefficients follow the knobs once per block.
class EqEffect final : public DeviceNode {
public:
    static constexpr int kBands = 4;
    static constexpr int kKnobs = 13;

    EqEffect();

    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    const char* typeId() const override;
    const char* displayName() const override;

    // How many times the sections were recomputed since construction.
    int coefficientUpdates() const { return updates_; }

private:
    // Normalised by a0.
    struct Coefficients {
        double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    };
    struct Memory {
        double z1 = 0.0, z2 = 0.0;
    };

    void updateCoefficients();
    void clearMemory();

    double sampleRate_ = 48000.0;
    std::array<Coefficients, kBands> coefficients_{};
    std::array<std::array<Memory, 2>, kBands> memory_{};  // [band][channel]
    std::array<float, kKnobs> lastKnobs_{};
    bool coefficientsValid_ = false;
    float outputGain_ = 1.0f;  // linear
    int updates_ = 0;
};

} }  // namespace ostrel::engine::devices
