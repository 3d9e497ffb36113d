#include "devices/VcfNode.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

const ParamDescriptor VcfNode::kParams[4] = {
    {0, "mode", "Mode", "", 0.0f, 2.0f, 0.0f, ParamKind::Stepped,
     "0 = low-pass (removes high pitches), 1 = high-pass (removes low pitches), 2 = band-pass (keeps a band)."},
    {1, "cutoff_hz", "Cutoff", "Hz", 20.0f, 20000.0f, 1000.0f, ParamKind::Continuous,
     "The pitch where the filter starts working. Turn it while playing for the classic synth sweep."},
    {2, "resonance", "Resonance", "%", 0.0f, 1.0f, 0.2f, ParamKind::Continuous,
     "Emphasises the sound right at the cutoff. High values give a whistling, squelchy tone."},
    {3, "cv_amount", "CV amount", "oct", 0.0f, 4.0f, 1.0f, ParamKind::Continuous,
     "How strongly the signal plugged into the cutoff input moves the cutoff (in octaves)."},
};

VcfNode::VcfNode() : DeviceNode(kParams) {}

void VcfNode::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    reset();
}

void VcfNode::reset() { ic1_ = ic2_ = 0.0; }

void VcfNode::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                      AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;
    const float* in = rules::inputOrSilence(inputs, 0, output, n);
    if (in == nullptr) return;

    const int mode = rules::steppedKnob(params, Mode);
    const double cutoff = rules::knob(params, CutoffHz);
    // Resonance stops short of 1 so the filter never self-oscillates without bound.
    const double k = 2.0 - 2.0 * std::min(static_cast<double>(rules::knob(params, Resonance)), 0.98);
    const double cvAmount = rules::knob(params, CvAmount);
    const float* control = rules::inputSignal(inputs, 1, n);
    const double maxHz = 0.45 * sampleRate_;

    double lastFc = -1.0;
    double a1 = 0.0, a2 = 0.0, a3 = 0.0;
    float* out = output.channel(0);
    for (int i = 0; i < n; ++i) {
        double fc = control != nullptr ? cutoff * std::exp2(cvAmount * control[i]) : cutoff;
        fc = std::fmin(std::fmax(fc, 10.0), maxHz);  // fmax/fmin also bound a NaN control
        if (fc != lastFc) {  // a tangent only when the cutoff moves
            lastFc = fc;
            const double g = std::tan(std::numbers::pi * fc / sampleRate_);
            a1 = 1.0 / (1.0 + g * (g + k));
            a2 = g * a1;
            a3 = g * a2;
        }
        const double x = in[i];
        const double d = x - ic2_;
        const double band = a1 * ic1_ + a2 * d;
        const double low = ic2_ + a2 * ic1_ + a3 * d;
        ic1_ = 2.0 * band - ic1_;
        ic2_ = 2.0 * low - ic2_;
        double y;
        switch (mode) {
            case 0: y = low; break;
            case 1: y = x - k * band - low; break;
            default: y = band; break;
        }
        out[i] = static_cast<float>(y);
        dsp::flushTiny(ic1_);
        dsp::flushTiny(ic2_);
    }
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
