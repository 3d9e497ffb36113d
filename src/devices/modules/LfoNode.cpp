#include "devices/modules/LfoNode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

namespace {

// What a block of frames starts from and ends in.
struct Motion {
    double phase;
    float held;
    dsp::XorShift32 random;
    bool previousTrigger;
};

// One frame of wave W (0 sine, 1 triangle, 2 saw, 3 square, 4 random steps) at phase p.
template <int W, bool Bipolar>
[[gnu::always_inline]] inline float shape(double p, float held, float depth) {
    float v;
    if constexpr (W == 0) {
        v = static_cast<float>(dsp::sin(2.0 * std::numbers::pi * p));
    } else if constexpr (W == 1) {
        v = static_cast<float>(1.0 - 4.0 * std::fabs(p - 0.5));
    } else if constexpr (W == 2) {
        v = static_cast<float>(2.0 * p - 1.0);
    } else if constexpr (W == 3) {
        v = p < 0.5 ? 1.0f : -1.0f;
    } else {
        v = held;
    }
    if constexpr (!Bipolar) v = (v + 1.0f) / 2.0f;
    return v * depth;
}

// Frame by frame: a rising edge on `restart` (when Restart) goes back to phase 0 and
// draws a step, then the frame's value (W < 0: none, the phases only), then the phase
// moves on and a completed cycle draws the next step.
template <int W, bool Bipolar, bool Restart>
void run(Motion& m, int n, const float* restart, double increment, float depth, float* out) {
    double phase = m.phase;
    float held = m.held;
    dsp::XorShift32 random = m.random;
    bool previousTrigger = m.previousTrigger;
    for (int i = 0; i < n; ++i) {
        if constexpr (Restart) {
            const bool trigger = restart[i] > 0.5f;
            if (trigger && !previousTrigger) {
                phase = 0.0;
                held = random.next();
            }
            previousTrigger = trigger;
        }
        if constexpr (W >= 0) out[i] = shape<W, Bipolar>(phase, held, depth);
        phase += increment;
        if (phase >= 1.0) {
            phase -= std::floor(phase);
            held = random.next();  // random steps change once per cycle
        }
    }
    m = {phase, held, random, previousTrigger};
}

using Runner = void (*)(Motion&, int, const float*, double, float, float*);

template <int W>
constexpr Runner runnerFor(bool bipolar, bool restart) {
    if (bipolar) return restart ? &run<W, true, true> : &run<W, true, false>;
    return restart ? &run<W, false, true> : &run<W, false, false>;
}

// Any stepped value other than the first four is the random steps.
int waveIndex(int wave) { return wave >= 0 && wave <= 3 ? wave : 4; }

// W -1: the phases only.
Runner runner(int wave, bool bipolar, bool restart) {
    switch (wave) {
        case -1: return runnerFor<-1>(bipolar, restart);
        case 0: return runnerFor<0>(bipolar, restart);
        case 1: return runnerFor<1>(bipolar, restart);
        case 2: return runnerFor<2>(bipolar, restart);
        case 3: return runnerFor<3>(bipolar, restart);
        default: return runnerFor<4>(bipolar, restart);
    }
}

// Everything a block without a restart input is a pure function of, compared as bits.
struct BlockKey {
    double phase;
    double increment;
    float held;
    float depth;
    std::uint32_t random;
    std::int32_t wave;
    std::int32_t bipolar;
    std::int32_t frames;

    bool operator==(const BlockKey& other) const { return std::memcmp(this, &other, sizeof(BlockKey)) == 0; }
};
static_assert(sizeof(BlockKey) == 2 * sizeof(double) + 6 * 4, "compared as bytes: no padding");

inline constexpr int kMemoFrames = 2048;

// The last block computed on this thread. The voices of a patch run their LFOs in step
// from the start (a sleeping voice's LFO runs on), so a chord's voices ask for the block
// another voice just computed; a hit copies it and takes its end state.
struct BlockMemo {
    BlockKey key{};  // frames 0: none
    bool hasOutput = false;  // false: only the end state (a sleeping voice's advance)
    double phase = 0.0;
    float held = 0.0f;
    std::uint32_t random = 0;
    float out[kMemoFrames]{};
};

constinit thread_local BlockMemo blockMemo;

// A block without a restart input, through the memo in pieces it can hold. `out` null:
// the phases only (a sleeping voice), which takes a hit with or without output.
void runFree(Motion& m, int n, int wave, bool bipolar, double increment, float depth, float* out) {
    const Runner compute = runner(out != nullptr ? wave : -1, bipolar, false);
    BlockMemo& memo = blockMemo;
    for (int start = 0; start < n; start += kMemoFrames) {
        const int count = std::min(kMemoFrames, n - start);
        float* piece = out != nullptr ? out + start : nullptr;
        const BlockKey key{m.phase, increment, m.held, depth, m.random.state, wave, bipolar ? 1 : 0, count};
        if (memo.key == key && (memo.hasOutput || piece == nullptr)) {
            if (piece != nullptr) std::copy_n(memo.out, count, piece);
            m.phase = memo.phase;
            m.held = memo.held;
            m.random.state = memo.random;
            continue;
        }
        compute(m, count, nullptr, increment, depth, piece);
        memo.key = key;
        memo.hasOutput = piece != nullptr;
        memo.phase = m.phase;
        memo.held = m.held;
        memo.random = m.random.state;
        if (piece != nullptr) std::copy_n(piece, count, memo.out);
    }
}

}  // namespace

const ParamDescriptor LfoNode::kParams[4] = {
    {0, "rate_hz", "Rate", "Hz", 0.01f, 50.0f, 2.0f, ParamKind::Continuous,
     "How fast the wobble goes, in cycles per second."},
    {1, "waveform", "Wave", "", 0.0f, 4.0f, 0.0f, ParamKind::Stepped,
     "0 = sine, 1 = triangle, 2 = saw, 3 = square, 4 = random steps (sample and hold)."},
    {2, "depth", "Depth", "%", 0.0f, 1.0f, 1.0f, ParamKind::Continuous, "How big the wobble is."},
    {3, "bipolar", "Bipolar", "", 0.0f, 1.0f, 1.0f, ParamKind::OnOff,
     "On: swings both above and below zero (-1..+1). Off: only upward (0..1)."},
};

LfoNode::LfoNode() : DeviceNode(kParams) {}

void LfoNode::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    reset();
}

void LfoNode::reset() {
    phase_ = 0.0;
    previousTrigger_ = false;
    random_.state = kResetState;
    held_ = dsp::XorShift32::toFloat(kResetState);
}

Rest LfoNode::rest(const ProcessContext& context, std::span<const AudioBuffer* const>, std::uint32_t) const {
    return params.atRest(context.events) ? Rest::FreeRunning : Rest::Busy;
}

void LfoNode::advance(const ProcessContext& context, std::span<const AudioBuffer* const> inputs) {
    const int n = std::max(0, context.frames);
    params.applyEvents(context.events, n);
    if (n < 1) return;
    const double increment = rules::knob(params, RateHz) / sampleRate_;
    const float* restart = rules::inputSignal(inputs, 0, n);
    // process's phase, restart and random steps without the wave.
    Motion m{phase_, held_, random_, previousTrigger_};
    if (restart != nullptr) {
        run<-1, true, true>(m, n, restart, increment, 0.0f, nullptr);
    } else {
        const bool bipolar = rules::switchKnob(params, Bipolar);
        runFree(m, n, waveIndex(rules::steppedKnob(params, Waveform)), bipolar, increment, rules::knob(params, Depth),
                nullptr);
    }
    phase_ = m.phase;
    held_ = m.held;
    random_ = m.random;
    previousTrigger_ = m.previousTrigger;
}

void LfoNode::beginWarmup(std::int64_t frames) {
    warmup_ = {phase_, held_, random_.state, previousTrigger_};
    const double back = phase_ - static_cast<double>(frames) * (rules::knob(params, RateHz) / sampleRate_);
    phase_ = back - std::floor(back);
}

void LfoNode::endWarmup() {
    phase_ = warmup_.phase;
    held_ = warmup_.held;
    random_.state = warmup_.random;
    previousTrigger_ = warmup_.previousTrigger;
}

void LfoNode::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                      AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;

    const int wave = waveIndex(rules::steppedKnob(params, Waveform));
    const double increment = rules::knob(params, RateHz) / sampleRate_;
    const float depth = rules::knob(params, Depth);
    const bool bipolar = rules::switchKnob(params, Bipolar);
    const float* restart = rules::inputSignal(inputs, 0, n);

    Motion m{phase_, held_, random_, previousTrigger_};
    float* out = output.channel(0);
    if (restart != nullptr) {
        runner(wave, bipolar, true)(m, n, restart, increment, depth, out);
    } else {
        runFree(m, n, wave, bipolar, increment, depth, out);
    }
    phase_ = m.phase;
    held_ = m.held;
    random_ = m.random;
    previousTrigger_ = m.previousTrigger;
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
