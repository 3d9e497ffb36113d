#pragma once

#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// Stereo-linked peak compressor with a hard knee, make-up gain and a dry/wet
// mix for parallel compression.
class CompressorEffect final : public DeviceNode {
public:
    CompressorEffect();

    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    const char* typeId() const override;
    const char* displayName() const override;

private:
    double sampleRate_ = 48000.0;
    float envelope_ = 0.0f;  // linear peak, shared by both sides
};

} }  // namespace ostrel::engine::devices
