#include "devices/effects/EqEffect.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

namespace {

constexpr ParamDescriptor kKnobTable[] = {
    {0, "low_freq", "Low freq", "Hz", 20.0f, 500.0f, 80.0f, ParamKind::Continuous,
     "Where the bass control starts working."},
    {1, "low_gain", "Low gain", "dB", -18.0f, 18.0f, 0.0f, ParamKind::Continuous, "Boost or cut the bass."},
    {2, "low_q", "Low slope", "", 0.3f, 2.0f, 0.7f, ParamKind::Continuous, "How sharply the bass control bends."},
    {3, "mid1_freq", "Mid 1 freq", "Hz", 50.0f, 5000.0f, 400.0f, ParamKind::Continuous,
     "Centre pitch of the first bell."},
    {4, "mid1_gain", "Mid 1 gain", "dB", -18.0f, 18.0f, 0.0f, ParamKind::Continuous,
     "Boost or cut around the first bell's pitch."},
    {5, "mid1_q", "Mid 1 width", "", 0.2f, 10.0f, 1.0f, ParamKind::Continuous, "Higher = narrower bell."},
    {6, "mid2_freq", "Mid 2 freq", "Hz", 200.0f, 12000.0f, 2500.0f, ParamKind::Continuous,
     "Centre pitch of the second bell."},
    {7, "mid2_gain", "Mid 2 gain", "dB", -18.0f, 18.0f, 0.0f, ParamKind::Continuous,
     "Boost or cut around the second bell's pitch."},
    {8, "mid2_q", "Mid 2 width", "", 0.2f, 10.0f, 1.0f, ParamKind::Continuous, "Higher = narrower bell."},
    {9, "high_freq", "High freq", "Hz", 1000.0f, 20000.0f, 10000.0f, ParamKind::Continuous,
     "Where the treble control starts working."},
    {10, "high_gain", "High gain", "dB", -18.0f, 18.0f, 0.0f, ParamKind::Continuous, "Boost or cut the treble."},
    {11, "high_q", "High slope", "", 0.3f, 2.0f, 0.7f, ParamKind::Continuous, "How sharply the treble control bends."},
    {12, "output_gain", "Output", "dB", -24.0f, 24.0f, 0.0f, ParamKind::Continuous, "Overall level after the EQ."},
};
static_assert(std::size(kKnobTable) == EqEffect::kKnobs);

constexpr std::uint32_t kOutputGain = 12;

}  // namespace

EqEffect::EqEffect() : DeviceNode(kKnobTable) {}

const char* EqEffect::typeId() const { return "ostrel.eq"; }
const char* EqEffect::displayName() const { return "EQ"; }

void EqEffect::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    clearMemory();
    coefficientsValid_ = false;  // the next block recomputes them for the new rate
}

void EqEffect::reset() {
    clearMemory();
    coefficientsValid_ = false;
}

void EqEffect::clearMemory() {
    for (auto& band : memory_) band.fill(Memory{});
}

void EqEffect::updateCoefficients() {
    ++updates_;
    for (int b = 0; b < kBands; ++b) {
        const auto knob = static_cast<std::uint32_t>(3 * b);
        const double freq = params.value(knob);
        const double gain = params.value(knob + 1);
        const double q = params.value(knob + 2);

        const double A = std::pow(10.0, gain / 40.0);
        // Keep the corner below Nyquist: a 12 kHz bell at 22.05 kHz would fold over.
        double f = freq;
        if (f > 0.45 * sampleRate_) f = 0.45 * sampleRate_;
        if (f < 10.0) f = 10.0;
        const double w = 2.0 * std::numbers::pi * f / sampleRate_;
        const double cs = std::cos(w);
        // The Q form of alpha on the shelves too, so the slope knobs act as their Q.
        const double alpha = std::sin(w) / (2.0 * q);
        const double s = 2.0 * std::sqrt(A) * alpha;

        double b0, b1, b2, a0, a1, a2;
        if (b == 0) {
            b0 = A * ((A + 1) - (A - 1) * cs + s);
            b1 = 2 * A * ((A - 1) - (A + 1) * cs);
            b2 = A * ((A + 1) - (A - 1) * cs - s);
            a0 = (A + 1) + (A - 1) * cs + s;
            a1 = -2 * ((A - 1) + (A + 1) * cs);
            a2 = (A + 1) + (A - 1) * cs - s;
        } else if (b == kBands - 1) {
            b0 = A * ((A + 1) + (A - 1) * cs + s);
            b1 = -2 * A * ((A - 1) + (A + 1) * cs);
            b2 = A * ((A + 1) + (A - 1) * cs - s);
            a0 = (A + 1) - (A - 1) * cs + s;
            a1 = 2 * ((A - 1) - (A + 1) * cs);
            a2 = (A + 1) - (A - 1) * cs - s;
        } else {
            b0 = 1 + alpha * A;
            b1 = -2 * cs;
            b2 = 1 - alpha * A;
            a0 = 1 + alpha / A;
            a1 = -2 * cs;
            a2 = 1 - alpha / A;
        }
        coefficients_[static_cast<std::size_t>(b)] = {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
    }
    outputGain_ = dsp::dbToGain(params.value(kOutputGain));
}

void EqEffect::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                       AudioBuffer& output) {
    const rules::EffectBlock block = rules::beginEffectBlock(params, context, output);
    if (block.empty()) return;
    const int n = block.frames;

    const rules::StereoIn in = rules::stereoInputOrSilence(inputs, output, n);
    if (in.left == nullptr) return;

    // Knobs are compared once per block, so a ramp costs one recomputation per block.
    bool changed = !coefficientsValid_;
    for (std::uint32_t k = 0; k < kKnobs; ++k) {
        const float v = params.value(k);
        if (v != lastKnobs_[k]) {
            lastKnobs_[k] = v;
            changed = true;
        }
    }
    if (changed) {
        updateCoefficients();
        coefficientsValid_ = true;
    }

    for (int ch = 0; ch < block.channels; ++ch) {
        const float* src = ch == 0 ? in.left : in.right;
        float* dst = output.channel(ch);
        for (int i = 0; i < n; ++i) {
            double x = src[i];
            for (int b = 0; b < kBands; ++b) {
                const Coefficients& k = coefficients_[static_cast<std::size_t>(b)];
                Memory& m = memory_[static_cast<std::size_t>(b)][static_cast<std::size_t>(ch)];
                // Transposed direct form II.
                const double y = k.b0 * x + m.z1;
                m.z1 = k.b1 * x - k.a1 * y + m.z2;
                m.z2 = k.b2 * x - k.a2 * y;
                x = y;
            }
            dst[i] = static_cast<float>(x) * outputGain_;
        }
        for (int b = 0; b < kBands; ++b) {
            Memory& m = memory_[static_cast<std::size_t>(b)][static_cast<std::size_t>(ch)];
            dsp::flushTiny(m.z1);
            dsp::flushTiny(m.z2);
        }
    }
}

} }  // namespace ostrel::engine::devices
