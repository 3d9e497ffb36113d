#pragma once

#include <cstdint>

#include "devices/Dsp.h"
#include "devices/effects/StereoDelayLine.h"
#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// Stereo chorus: one short line per side, both taps swept by one sine LFO
// with the right side a quarter cycle ahead of the left.
class ChorusEffect final : public DeviceNode {
public:
    ChorusEffect();

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
    float phase_ = 0.0f;  // radians, 0 .. 2 pi
    dsp::Glide centre_;  // samples
    dsp::Glide mix_;
};

} }  // namespace ostrel::engine::devices
