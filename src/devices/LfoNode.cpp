#include "devices/LfoNode.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

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
    const double increment = rules::knob(params, RateHz) / sampleRate_;
    const float* restart = rules::inputSignal(inputs, 0, n);
    // process's phase, restart and random steps without the wave.
    for (int i = 0; i < n; ++i) {
        if (restart != nullptr) {
            const bool trigger = restart[i] > 0.5f;
            if (trigger && !previousTrigger_) {
                phase_ = 0.0;
                held_ = random_.next();
            }
            previousTrigger_ = trigger;
        }
        phase_ += increment;
        if (phase_ >= 1.0) {
            phase_ -= std::floor(phase_);
            held_ = random_.next();
        }
    }
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

    const int wave = rules::steppedKnob(params, Waveform);
    const double increment = rules::knob(params, RateHz) / sampleRate_;
    const float depth = rules::knob(params, Depth);
    const bool bipolar = rules::switchKnob(params, Bipolar);
    const float* restart = rules::inputSignal(inputs, 0, n);

    // Locals: the output could alias the held value for all the compiler knows.
    double phase = phase_;
    float held = held_;
    bool previousTrigger = previousTrigger_;
    float* out = output.channel(0);
    for (int i = 0; i < n; ++i) {
        if (restart != nullptr) {
            const bool trigger = restart[i] > 0.5f;
            if (trigger && !previousTrigger) {
                phase = 0.0;
                held = random_.next();
            }
            previousTrigger = trigger;
        }
        const double p = phase;
        float v;
        switch (wave) {
            case 0: v = static_cast<float>(dsp::sin(2.0 * std::numbers::pi * p)); break;
            case 1: v = static_cast<float>(1.0 - 4.0 * std::fabs(p - 0.5)); break;
            case 2: v = static_cast<float>(2.0 * p - 1.0); break;
            case 3: v = p < 0.5 ? 1.0f : -1.0f; break;
            default: v = held; break;
        }
        if (!bipolar) v = (v + 1.0f) / 2.0f;
        out[i] = v * depth;

        phase += increment;
        if (phase >= 1.0) {
            phase -= std::floor(phase);
            held = random_.next();  // random steps change once per cycle
        }
    }
    phase_ = phase;
    held_ = held;
    previousTrigger_ = previousTrigger;
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
