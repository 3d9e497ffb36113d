#pragma once

#include <cstdint>

#include "engine/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// Band-limited oscillator (PolyBLEP saw and pulse, plain sine and triangle).
// Input 0 is pitch in octaves from middle C, input 1 an FM signal.
class VcoNode : public DeviceNode {
public:
    enum Knob : std::uint32_t { Waveform, Coarse, Fine, PulseWidth, Level, FmDepth };
    static const ParamDescriptor kParams[6];
    // Middle C, MIDI note 60, in Hz.
    static constexpr double kBaseHz = 261.6255653005986;

    VcoNode();

    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    const char* typeId() const override { return "ostrel.mod.vco"; }
    const char* displayName() const override { return "Oscillator"; }

private:
    double sampleRate_ = 48000.0;
    double phase_ = 0.0;  // cycles, 0..1
};

} }  // namespace ostrel::engine::devices
