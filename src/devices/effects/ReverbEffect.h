#pragma once

#include "engine/graph/DeviceNode.h"

#include <array>
#include <cstdint>
#include <vector>

namespace ostrel::engine { inline namespace devices {

// Freeverb-style stereo reverb: a pre-delay, then per side eight damped combs
// in parallel into four all-passes in series.
class ReverbEffect final : public DeviceNode {
public:
    static constexpr int kCombsPerSide = 8;
    static constexpr int kAllPassesPerSide = 4;

    ReverbEffect();

    // GUI or render thread: sizes every line (allocates) and clears the sound.
    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    const char* typeId() const override;
    const char* displayName() const override;

    // Line lengths in samples, 0 until prepared. Channel 0 is left, 1 right.
    std::int32_t combLength(int channel, int comb) const;
    std::int32_t allPassLength(int channel, int allPass) const;
    std::int32_t preDelayLength() const { return static_cast<std::int32_t>(preDelay_.size()); }

private:
    struct Comb {
        std::vector<float> buffer;
        std::int32_t index = 0;
        float store = 0.0f;  // damping low-pass memory
    };
    struct AllPass {
        std::vector<float> buffer;
        std::int32_t index = 0;
    };

    double sampleRate_ = 48000.0;
    std::array<Comb, 2 * kCombsPerSide> combs_{};              // left eight, then right eight
    std::array<AllPass, 2 * kAllPassesPerSide> allPasses_{};  // left four, then right four
    std::vector<float> preDelay_;
    std::int32_t preWrite_ = 0;
};

} }  // namespace ostrel::engine::devices
