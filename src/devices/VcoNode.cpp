#include "devices/VcoNode.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

const ParamDescriptor VcoNode::kParams[6] = {
    {0, "waveform", "Wave", "", 0.0f, 3.0f, 2.0f, ParamKind::Stepped,
     "The shape of the tone: 0 = sine (pure), 1 = triangle (soft), 2 = saw (bright, buzzy), 3 = square (hollow)."},
    {1, "coarse", "Coarse", "st", -36.0f, 36.0f, 0.0f, ParamKind::Continuous,
     "Shifts the pitch up or down in semitones (12 = one octave)."},
    {2, "fine", "Fine", "ct", -100.0f, 100.0f, 0.0f, ParamKind::Continuous,
     "Fine tuning in cents (100 cents = one semitone). Detune two oscillators slightly for a fat sound."},
    {3, "pulse_width", "Pulse width", "%", 0.05f, 0.95f, 0.5f, ParamKind::Continuous,
     "Changes the hollowness of the square wave."},
    {4, "level", "Level", "%", 0.0f, 1.0f, 0.5f, ParamKind::Continuous, "How loud this oscillator is."},
    {5, "fm_depth", "FM depth", "oct", 0.0f, 4.0f, 0.0f, ParamKind::Continuous,
     "How strongly the signal plugged into the FM input bends the pitch (in octaves)."},
};

VcoNode::VcoNode() : DeviceNode(kParams) {}

void VcoNode::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    phase_ = 0.0;
}

void VcoNode::reset() { phase_ = 0.0; }

void VcoNode::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                      AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;

    const int wave = rules::steppedKnob(params, Waveform);
    const double offset = rules::knob(params, Coarse) / 12.0 + rules::knob(params, Fine) / 1200.0;
    const double pw = rules::knob(params, PulseWidth);
    const float level = rules::knob(params, Level);
    const double fmDepth = rules::knob(params, FmDepth);
    const float* pitchIn = rules::inputSignal(inputs, 0, n);
    const float* fmIn = rules::inputSignal(inputs, 1, n);
    const double maxHz = 0.45 * sampleRate_;

    float* out = output.channel(0);
    double p = phase_;
    for (int i = 0; i < n; ++i) {
        double octaves = offset;
        if (pitchIn != nullptr) octaves += pitchIn[i];
        if (fmIn != nullptr) octaves += fmDepth * fmIn[i];
        double f = kBaseHz * std::exp2(octaves);
        // fmax/fmin also turn a NaN control signal into a bounded frequency.
        f = std::fmin(std::fmax(f, 0.01), maxHz);
        const double dt = f / sampleRate_;

        double v;
        switch (wave) {
            case 0: v = std::sin(2.0 * std::numbers::pi * p); break;
            case 1: v = 1.0 - 4.0 * std::fabs(p - 0.5); break;
            case 2: v = (2.0 * p - 1.0) - dsp::polyBlep(p, dt); break;
            default: {
                double q = p - pw;
                if (q < 0.0) q += 1.0;
                v = (p < pw ? 1.0 : -1.0) + dsp::polyBlep(p, dt) - dsp::polyBlep(q, dt);
                break;
            }
        }
        out[i] = static_cast<float>(v * level);

        p += dt;
        if (p >= 1.0) p -= std::floor(p);
    }
    phase_ = p;
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
