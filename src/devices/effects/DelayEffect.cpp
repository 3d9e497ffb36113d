#include "devices/effects/DelayEffect.h"

#include <algorithm>
#include <cmath>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

namespace {

enum Knob : std::uint32_t { Time, Feedback, Mix, PingPong, Tone };

constexpr ParamDescriptor kKnobs[] = {
    {Time, "time_ms", "Time", "ms", 1.0f, 2000.0f, 350.0f, ParamKind::Continuous,
     "How long until the echo is heard."},
    {Feedback, "feedback", "Feedback", "%", 0.0f, 0.95f, 0.4f, ParamKind::Continuous,
     "How many times the echo repeats. Higher = more repeats."},
    {Mix, "mix", "Mix", "%", 0.0f, 1.0f, 0.3f, ParamKind::Continuous,
     "Balance between the original sound (0) and the echoes (1)."},
    {PingPong, "ping_pong", "Ping-pong", "", 0.0f, 1.0f, 0.0f, ParamKind::OnOff,
     "Makes the echoes bounce between the left and right speakers."},
    {Tone, "tone_hz", "Tone", "Hz", 500.0f, 20000.0f, 8000.0f, ParamKind::Continuous,
     "Darkens each repeat. Lower = duller, more tape-like echoes."},
};

// Per-frame glide factors: about 26 ms for the delay time and 10 ms for the mix
// at 48 kHz, slow enough that a moving knob neither clicks nor zips.
constexpr float kDelayGlide = 0.0008f;
constexpr float kMixGlide = 0.002f;

}  // namespace

DelayEffect::DelayEffect() : DeviceNode(kKnobs) {}

const char* DelayEffect::typeId() const { return "ostrel.delay"; }
const char* DelayEffect::displayName() const { return "Delay"; }

void DelayEffect::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    // Two seconds plus room for the interpolation's second tap and the clamp.
    line_.allocate(static_cast<std::int32_t>(std::ceil(2.0 * sampleRate)) + 4);
    reset();
}

void DelayEffect::reset() {
    line_.clear();
    toneL_ = toneR_ = 0.0f;
    delay_.restart();
    mix_.restart();
}

void DelayEffect::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                          AudioBuffer& output) {
    const rules::EffectBlock block = rules::beginEffectBlock(params, context, output);
    if (block.empty() || line_.length() == 0) return;
    const int n = block.frames;

    const double targetSamples = static_cast<double>(params.value(Time)) * sampleRate_ / 1000.0;
    const float target = std::clamp(static_cast<float>(targetSamples), 1.0f, static_cast<float>(line_.length() - 3));
    const float fb = params.value(Feedback);
    const float mix = params.value(Mix);
    const bool pingPong = rules::switchKnob(params, PingPong);
    const float toneFactor = dsp::onePoleFactorAt(params.value(Tone), sampleRate_);

    delay_.begin(target);
    mix_.begin(mix);

    const rules::StereoIn in = rules::stereoInput(inputs, n);
    const rules::StereoOut out = rules::stereoOutput(output, block);

    for (int i = 0; i < n; ++i) {
        const float inL = in.leftAt(i);
        const float inR = in.rightAt(i);

        dsp::onePoleSettling(delay_.value, target, kDelayGlide);
        dsp::onePole(mix_.value, mix, kMixGlide);

        const double r = line_.tapPosition(delay_.value);
        const float dl = line_.readLeft(r);
        const float dr = line_.readRight(r);

        dsp::onePole(toneL_, dl, toneFactor);
        dsp::onePole(toneR_, dr, toneFactor);
        dsp::flushTiny(toneL_);
        dsp::flushTiny(toneR_);

        if (pingPong) {
            // The mono sum enters on the left; each repeat crosses to the other side.
            line_.write((inL + inR) * 0.5f + fb * toneR_, fb * toneL_);
        } else {
            line_.write(inL + fb * toneL_, inR + fb * toneR_);
        }

        // The wet signal is the unfiltered tap: the tone darkens only the repeats.
        out.write(i, dsp::blend(inL, dl, mix_.value), dsp::blend(inR, dr, mix_.value));
    }
}

} }  // namespace ostrel::engine::devices
