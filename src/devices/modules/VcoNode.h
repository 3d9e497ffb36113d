#pragma once

#include <cmath>
#include <cstdint>

#include "devices/Dsp.h"
#include "engine/graph/DeviceNode.h"

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
    // A sleeping voice's oscillator runs on without output; see Node.
    Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
              std::uint32_t silentInputs) const override;
    void advance(const ProcessContext& context, std::span<const AudioBuffer* const> inputs) override;
    void beginWarmup(std::int64_t frames) override;
    void endWarmup() override;
    const char* typeId() const override { return "ostrel.mod.vco"; }
    const char* displayName() const override { return "Oscillator"; }

private:
    // Phase step per frame for a pitch in octaves. The pitch only moves at notes, glides
    // and FM, so most frames reuse the last step; a NaN never equals itself, so it is
    // recomputed (and bounded) every time.
    double stepFor(double octaves) {
        if (octaves != heldOctaves_) {
            heldOctaves_ = octaves;
            double f = kBaseHz * std::exp2(octaves);
            // fmax/fmin also turn a NaN control signal into a bounded frequency.
            f = dsp::bounded(f, 0.01, 0.45 * sampleRate_);
            heldStep_ = f / sampleRate_;
        }
        return heldStep_;
    }
    // Runs n frames of wave W.
    template <int W>
    void run(int n, const float* pitchIn, const float* fmIn, double offset, double fmDepth, double pw, float level,
             float* out);

    double sampleRate_ = 48000.0;
    double phase_ = 0.0;  // cycles, 0..1
    double heldOctaves_ = 0.0;  // the pitch heldStep_ belongs to; NaN: none yet
    double heldStep_ = 0.0;
    double warmupPhase_ = 0.0;  // the true phase while a warm-up runs
};

} }  // namespace ostrel::engine::devices
