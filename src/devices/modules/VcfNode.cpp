#include "devices/modules/VcfNode.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
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

void VcfNode::reset() {
    ic1_ = ic2_ = 0.0;
    heldControl_ = std::numeric_limits<float>::quiet_NaN();
    heldFc_ = -1.0;
}

Rest VcfNode::rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                   std::uint32_t silentInputs) const {
    if (!params.atRest(context.events)) return Rest::Busy;
    // Nothing plugged in clears the output; zeros into an empty filter stay zeros.
    if (rules::inputSignal(inputs, 0, context.frames) == nullptr) return Rest::Silent;
    const bool empty = ic1_ == 0.0 && ic2_ == 0.0;
    return empty && rules::quietInput(inputs, silentInputs, 0, context.frames) ? Rest::Silent : Rest::Forgetful;
}

namespace {

// Frames after which the trapezoidal filter with these coefficients has forgotten its
// start state: r^frames of it is left, r the radius of the slower pole of the
// denominator (1 + g(g + k)) z^2 + 2(g^2 - 1) z + (1 - gk + g^2). 2^-44 of it is far
// below a float's resolution; twice that covers a cutoff that moves in the meantime.
std::int64_t framesToForget(double g, double k) {
    const double a = 1.0 + g * (g + k), b = 2.0 * (g * g - 1.0), c = 1.0 - g * k + g * g;
    const double disc = b * b - 4.0 * a * c;
    double r;
    if (disc < 0.0) {
        r = std::sqrt(c / a);
    } else {
        const double root = std::sqrt(disc);
        r = std::max(std::fabs((-b + root) / (2.0 * a)), std::fabs((-b - root) / (2.0 * a)));
    }
    constexpr double kForgotten = -30.5;  // ln(2^-44)
    const double frames = r > 0.0 ? 2.0 * kForgotten / std::log(r) : 1.0;
    if (!(r < 1.0) || frames >= 1e15) return std::numeric_limits<std::int64_t>::max();
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(frames)));
}

// exp2 remembered by its argument, per thread. The voices of a patch often share their
// control (LFOs that ran in step since the start), so most of a chord's filters ask for
// what another voice just computed. The same bits as exp2: it is exp2's own result.
struct OctaveMemo {
    std::uint64_t key[256];
    double value[256];
};

// 0 octaves is a factor of 1: every slot starts as a true pair. Constant, so the
// thread's copy needs no set-up on first use.
constexpr OctaveMemo emptyOctaveMemo() {
    OctaveMemo m{};
    std::fill(std::begin(m.value), std::end(m.value), 1.0);
    return m;
}

double octaveFactor(double octaves) {
    constinit thread_local OctaveMemo memo = emptyOctaveMemo();
    const auto bits = std::bit_cast<std::uint64_t>(octaves);
    const std::size_t slot = (bits ^ (bits >> 17) ^ (bits >> 33)) & 255u;
    if (memo.key[slot] != bits) {
        memo.key[slot] = bits;
        memo.value[slot] = std::exp2(octaves);
    }
    return memo.value[slot];
}

// The knobs a frame's coefficients follow from besides its control sample, compared as
// bits.
struct CoefficientKey {
    double cutoff;
    double cvAmount;
    double k;
    double rate;

    bool operator==(const CoefficientKey& other) const {
        return std::memcmp(this, &other, sizeof(CoefficientKey)) == 0;
    }
};

inline constexpr int kCoefficientFrames = 512;

// The last piece of coefficients computed on this thread and what they came from.
struct CoefficientMemo {
    CoefficientKey key{};
    int frames = 0;  // 0: none
    float control[kCoefficientFrames]{};
    double fc[kCoefficientFrames]{};
    double a1[kCoefficientFrames]{};
    double a2[kCoefficientFrames]{};
    double a3[kCoefficientFrames]{};

    bool holds(const CoefficientKey& k, const float* samples, int m) const {
        return frames == m && key == k && std::memcmp(control, samples, sizeof(float) * static_cast<std::size_t>(m)) == 0;
    }
    void keep(const CoefficientKey& k, const float* samples, int m) {
        key = k;
        frames = m;
        std::copy_n(samples, m, control);
    }
};

constinit thread_local CoefficientMemo coefficientMemo;

// One frame of the filter in mode M (0 low-, 1 high-, 2 band-pass).
template <int M>
inline void step(float input, double a1, double a2, double a3, double k, double& ic1, double& ic2, float& out) {
    const double x = input;
    const double d = x - ic2;
    const double band = a1 * ic1 + a2 * d;
    const double low = ic2 + a2 * ic1 + a3 * d;
    ic1 = 2.0 * band - ic1;
    ic2 = 2.0 * low - ic2;
    double y;
    if constexpr (M == 0) {
        y = low;
    } else if constexpr (M == 1) {
        y = x - k * band - low;
    } else {
        y = band;
    }
    out = static_cast<float>(y);
    dsp::flushTiny(ic1);
    dsp::flushTiny(ic2);
}

// The held values a piece of coefficients starts from.
struct HeldCoefficients {
    float control;
    double controlFc;
    double fc;
    double a1, a2, a3;
};

// The cutoffs and coefficients of the m frames of control into memo. In chunks: the
// cutoffs, then their coefficients in a loop with no carried state (the divisions run side
// by side) unless the cutoff held still. Where it leaves the held values the caller takes
// from memo.
inline void computeCoefficients(CoefficientMemo& memo, const float* control, int m, const CoefficientKey& key,
                                double maxHz, HeldCoefficients held) {
    const double cutoff = key.cutoff;
    const double cvAmount = key.cvAmount;
    const double k = key.k;
    const double rate = key.rate;
    // Locals, not the caller's: the stores to memo could otherwise alias them every frame.
    float heldControl = held.control;
    double heldControlFc = held.controlFc;
    double heldFc = held.fc;
    double a1 = held.a1, a2 = held.a2, a3 = held.a3;
    constexpr int kChunk = 64;
    for (int chunk = 0; chunk < m; chunk += kChunk) {
        const int end = std::min(m, chunk + kChunk);
        bool moving = false;
        for (int i = chunk; i < end; ++i) {
            const float c = control[i];
            if (c != heldControl) {
                heldControl = c;
                const double f = cutoff * octaveFactor(cvAmount * c);
                heldControlFc = dsp::bounded(f, 10.0, maxHz);  // also bounds a NaN control
            }
            memo.fc[i] = heldControlFc;
            moving |= heldControlFc != heldFc;
        }
        if (moving) {
            for (int i = chunk; i < end; ++i) {
                const dsp::SvfCoefficients a = dsp::svfCoefficients(memo.fc[i], rate, k);
                memo.a1[i] = a.a1;
                memo.a2[i] = a.a2;
                memo.a3[i] = a.a3;
            }
            heldFc = memo.fc[end - 1];
            a1 = memo.a1[end - 1];
            a2 = memo.a2[end - 1];
            a3 = memo.a3[end - 1];
        } else {
            std::fill(memo.a1 + chunk, memo.a1 + end, a1);
            std::fill(memo.a2 + chunk, memo.a2 + end, a2);
            std::fill(memo.a3 + chunk, memo.a3 + end, a3);
        }
    }
}

}  // namespace

std::int64_t VcfNode::warmupFrames() const {
    // The cutoff it last ran at, and the knob's own: a voice may have slept from the start.
    const double k = 2.0 - 2.0 * std::min(static_cast<double>(rules::knob(params, Resonance)), 0.98);
    const double knobFc = dsp::bounded(rules::knob(params, CutoffHz), 10.0, 0.45 * sampleRate_);
    std::int64_t frames = framesToForget(std::tan(std::numbers::pi * knobFc / sampleRate_), k);
    if (heldFc_ > 0.0 && heldA1_ > 0.0) frames = std::max(frames, framesToForget(heldA2_ / heldA1_, heldK_));
    return frames;
}

template <int M>
void VcfNode::run(int n, const float* in, const float* control, double cutoff, double cvAmount, double fixedFc,
                  double k, float* out) {
    const double maxHz = 0.45 * sampleRate_;
    const double rate = sampleRate_;
    // Locals, not members: the stores to out could otherwise alias them every frame.
    float heldControl = heldControl_;
    double heldControlFc = heldControlFc_;
    double heldFc = heldFc_;
    double a1 = heldA1_, a2 = heldA2_, a3 = heldA3_;
    double ic1 = ic1_, ic2 = ic2_;
    if (control == nullptr) {
        if (fixedFc != heldFc) {
            heldFc = fixedFc;
            const dsp::SvfCoefficients a = dsp::svfCoefficients(fixedFc, rate, k);
            a1 = a.a1;
            a2 = a.a2;
            a3 = a.a3;
        }
        for (int i = 0; i < n; ++i) step<M>(in[i], a1, a2, a3, k, ic1, ic2, out[i]);
    }
    // A moving cutoff: the coefficients of a piece of the block first, then the filter.
    // Each frame's coefficients are a pure function of its control sample and the knobs,
    // so a piece another filter on this thread just computed for the same control (the
    // voices of a chord swept by LFOs running in step) is taken as it is.
    const CoefficientKey key{cutoff, cvAmount, k, rate};
    for (int start = 0; control != nullptr && start < n; start += kCoefficientFrames) {
        const int m = std::min(kCoefficientFrames, n - start);
        CoefficientMemo& memo = coefficientMemo;
        if (!memo.holds(key, control + start, m)) {
            memo.keep(key, control + start, m);
            computeCoefficients(memo, control + start, m, key, maxHz, {heldControl, heldControlFc, heldFc, a1, a2, a3});
        }
        for (int i = 0; i < m; ++i)
            step<M>(in[start + i], memo.a1[i], memo.a2[i], memo.a3[i], k, ic1, ic2, out[start + i]);
        // Where the frames above leave the held values (an equal control sample kept in
        // place of the last one behaves the same).
        heldControl = control[start + m - 1];
        heldControlFc = memo.fc[m - 1];
        heldFc = memo.fc[m - 1];
        a1 = memo.a1[m - 1];
        a2 = memo.a2[m - 1];
        a3 = memo.a3[m - 1];
    }
    heldControl_ = heldControl;
    heldControlFc_ = heldControlFc;
    heldFc_ = heldFc;
    ic1_ = ic1;
    ic2_ = ic2;
    heldA1_ = a1;
    heldA2_ = a2;
    heldA3_ = a3;
}

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

    // The cutoff is a pure function of the knobs and the control sample, and the
    // coefficients of the cutoff and k: both are kept while what they come from holds.
    if (cutoff != heldCutoff_ || cvAmount != heldCvAmount_) {
        heldCutoff_ = cutoff;
        heldCvAmount_ = cvAmount;
        heldControl_ = std::numeric_limits<float>::quiet_NaN();
    }
    if (k != heldK_) {
        heldK_ = k;
        heldFc_ = -1.0;
    }
    const double fixedFc = dsp::bounded(cutoff, 10.0, maxHz);
    float* out = output.channel(0);
    switch (mode) {
        case 0: run<0>(n, in, control, cutoff, cvAmount, fixedFc, k, out); break;
        case 1: run<1>(n, in, control, cutoff, cvAmount, fixedFc, k, out); break;
        default: run<2>(n, in, control, cutoff, cvAmount, fixedFc, k, out); break;
    }
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
