#pragma once

#include <cstdint>

#include "devices/Dsp.h"
#include "devices/effects/StereoDelayLine.h"
#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// Stereo echo on a two-second line, with a one-pole tone filter in the
// feedback path and a ping-pong mode that crosses the repeats between sides.
class DelayEffect final : public DeviceNode {
public:
    DelayEffect();

    // GUI or render thread: sizes the lines (allocates) and clears the sound.
    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    const char* typeId() const override;
    const char* displayName() const override;

    // Line length in samples; 0 until prepared.
    std::int32_t lineLength() const { return line_.length(); }

private:
    double sampleRate_ = 48000.0;
    dsp::StereoDelayLine line_;
    dsp::Glide delay_;  // samples
    dsp::Glide mix_;
    float toneL_ = 0.0f;
    float toneR_ = 0.0f;
};

} }  // namespace ostrel::engine::devices
