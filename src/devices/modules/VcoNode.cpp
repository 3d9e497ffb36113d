#include "devices/modules/VcoNode.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <limits>
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
    reset();
}

void VcoNode::reset() {
    phase_ = 0.0;
    heldOctaves_ = std::numeric_limits<double>::quiet_NaN();
}

namespace {

enum class Wave { Sine, Triangle, Saw, Pulse };

// The wave at phase p, one template per shape so the frame loop carries no switch.
template <Wave W>
double waveAt(double p, double dt, double pw) {
    if constexpr (W == Wave::Sine) {
        return dsp::sin(2.0 * std::numbers::pi * p);
    } else if constexpr (W == Wave::Triangle) {
        return 1.0 - 4.0 * std::fabs(p - 0.5);
    } else if constexpr (W == Wave::Saw) {
        return (2.0 * p - 1.0) - dsp::polyBlep(p, dt);
    } else {
        double q = p - pw;
        if (q < 0.0) q += 1.0;
        return (p < pw ? 1.0 : -1.0) + dsp::polyBlep(p, dt) - dsp::polyBlep(q, dt);
    }
}

// Whether the pitch input holds one value for the n > 0 frames (no input: the knobs
// alone). Compared as bits: equal bits give equal sums, and the loop vectorises.
bool steadyPitch(const float* pitchIn, int n) {
    if (pitchIn == nullptr) return true;
    const auto first = std::bit_cast<std::uint32_t>(pitchIn[0]);
    std::uint32_t differ = 0;
    for (int i = 1; i < n; ++i) differ |= std::bit_cast<std::uint32_t>(pitchIn[i]) ^ first;
    return differ == 0;
}

}  // namespace

template <int W>
void VcoNode::run(int n, const float* pitchIn, const float* fmIn, double offset, double fmDepth, double pw,
                  float level, float* out) {
    double p = phase_;
    if (fmIn == nullptr && steadyPitch(pitchIn, n)) {
        const double dt = stepFor(pitchIn != nullptr ? offset + pitchIn[0] : offset);
        for (int i = 0; i < n; ++i) {
            const double v = waveAt<static_cast<Wave>(W)>(p, dt, pw);
            out[i] = static_cast<float>(v * level);
            p += dt;
            if (p >= 1.0) p -= std::floor(p);
        }
        phase_ = p;
        return;
    }
    for (int i = 0; i < n; ++i) {
        double octaves = offset;
        if (pitchIn != nullptr) octaves += pitchIn[i];
        if (fmIn != nullptr) octaves += fmDepth * fmIn[i];
        const double dt = stepFor(octaves);
        const double v = waveAt<static_cast<Wave>(W)>(p, dt, pw);
        out[i] = static_cast<float>(v * level);
        p += dt;
        if (p >= 1.0) p -= std::floor(p);
    }
    phase_ = p;
}

Rest VcoNode::rest(const ProcessContext& context, std::span<const AudioBuffer* const>, std::uint32_t) const {
    return params.atRest(context.events) ? Rest::FreeRunning : Rest::Busy;
}

void VcoNode::advance(const ProcessContext& context, std::span<const AudioBuffer* const> inputs) {
    const int n = std::max(0, context.frames);
    params.applyEvents(context.events, n);
    const double offset = rules::knob(params, Coarse) / 12.0 + rules::knob(params, Fine) / 1200.0;
    const double fmDepth = rules::knob(params, FmDepth);
    const float* pitchIn = rules::inputSignal(inputs, 0, n);
    const float* fmIn = rules::inputSignal(inputs, 1, n);
    // The same steps as run, without the wave: the phase lands on the same bits.
    double p = phase_;
    if (n > 0 && fmIn == nullptr && steadyPitch(pitchIn, n)) {
        // A held key gives one pitch for the whole block, so one step: the same sums
        // without reading the input, taken a binade at a time.
        const double dt = stepFor(pitchIn != nullptr ? offset + pitchIn[0] : offset);
        phase_ = dsp::advancePhase(p, dt, n);
        return;
    }
    for (int i = 0; i < n; ++i) {
        double octaves = offset;
        if (pitchIn != nullptr) octaves += pitchIn[i];
        if (fmIn != nullptr) octaves += fmDepth * fmIn[i];
        p += stepFor(octaves);
        if (p >= 1.0) p -= std::floor(p);
    }
    phase_ = p;
}

void VcoNode::beginWarmup(std::int64_t frames) {
    warmupPhase_ = phase_;
    // Near enough: the warm-up only feeds what forgot its state.
    const double back = phase_ - static_cast<double>(frames) * heldStep_;
    phase_ = back - std::floor(back);
}

void VcoNode::endWarmup() { phase_ = warmupPhase_; }

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

    float* out = output.channel(0);
    switch (wave) {
        case 0: run<0>(n, pitchIn, fmIn, offset, fmDepth, pw, level, out); break;
        case 1: run<1>(n, pitchIn, fmIn, offset, fmDepth, pw, level, out); break;
        case 2: run<2>(n, pitchIn, fmIn, offset, fmDepth, pw, level, out); break;
        default: run<3>(n, pitchIn, fmIn, offset, fmDepth, pw, level, out); break;
    }
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
