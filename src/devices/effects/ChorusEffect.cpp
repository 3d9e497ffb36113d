#include "devices/effects/ChorusEffect.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

namespace {

enum Knob : std::uint32_t { Rate, Depth, Delay, Feedback, Mix };

constexpr ParamDescriptor kKnobs[] = {
    {Rate, "rate_hz", "Rate", "Hz", 0.02f, 8.0f, 0.5f, ParamKind::Continuous, "How fast the pitch wobble cycles."},
    {Depth, "depth_ms", "Depth", "ms", 0.0f, 8.0f, 3.0f, ParamKind::Continuous,
     "How far the delay time wobbles up and down. More = a stronger, wavier chorus."},
    {Delay, "delay_ms", "Delay", "ms", 2.0f, 30.0f, 12.0f, ParamKind::Continuous,
     "The centre delay the wobble happens around. Short and wobbly is a classic chorus; longer and gentle is a "
     "subtle doubling."},
    {Feedback, "feedback", "Feedback", "%", 0.0f, 0.5f, 0.0f, ParamKind::Continuous,
     "Feeds a little of the wobbled sound back in, for a more resonant, flangy colour."},
    {Mix, "mix", "Mix", "%", 0.0f, 1.0f, 0.35f, ParamKind::Continuous,
     "Balance between the original sound (0) and the wobbled copies (1)."},
};

constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;
constexpr float kCentreGlide = 0.0008f;
constexpr float kMixGlide = 0.002f;

}  // namespace

ChorusEffect::ChorusEffect() : DeviceNode(kKnobs) {}

const char* ChorusEffect::typeId() const { return "ostrel.chorus"; }
const char* ChorusEffect::displayName() const { return "Chorus"; }

void ChorusEffect::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    // 30 ms of centre delay plus 8 ms of depth, and a few samples for the taps.
    line_.allocate(static_cast<std::int32_t>(std::ceil(0.038 * sampleRate)) + 8);
    reset();
}

void ChorusEffect::reset() {
    line_.clear();
    phase_ = 0.0f;
    centre_.restart();
    mix_.restart();
}

void ChorusEffect::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                           AudioBuffer& output) {
    const rules::EffectBlock block = rules::beginEffectBlock(params, context, output);
    if (block.empty() || line_.length() == 0) return;
    const int n = block.frames;

    const float rate = static_cast<float>(sampleRate_);
    const float depth = rate * params.value(Depth) / 1000.0f;
    const float centre = rate * params.value(Delay) / 1000.0f;
    const float fb = params.value(Feedback);
    const float mix = params.value(Mix);
    const float phaseStep = params.value(Rate) * kTwoPi / rate;

    centre_.begin(centre);
    mix_.begin(mix);

    const rules::StereoIn in = rules::stereoInput(inputs, n);
    const rules::StereoOut out = rules::stereoOutput(output, block);

    for (int i = 0; i < n; ++i) {
        const float inL = in.leftAt(i);
        const float inR = in.rightAt(i);

        dsp::onePole(centre_.value, centre, kCentreGlide);
        dsp::onePole(mix_.value, mix, kMixGlide);

        // The right tap runs a quarter cycle ahead of the left. A depth beyond the centre
        // delay puts a tap ahead of the write position: it wraps round to the oldest samples.
        const float wetL = line_.readLeft(line_.tapPosition(centre_.value + depth * std::sin(phase_)));
        const float wetR = line_.readRight(
            line_.tapPosition(centre_.value + depth * std::sin(phase_ + 0.5f * std::numbers::pi_v<float>)));

        float writeL = inL + fb * wetL;
        float writeR = inR + fb * wetR;
        dsp::flushTiny(writeL);
        dsp::flushTiny(writeR);
        line_.write(writeL, writeR);

        phase_ += phaseStep;
        if (phase_ >= kTwoPi) phase_ -= kTwoPi;

        out.write(i, dsp::blend(inL, wetL, mix_.value), dsp::blend(inR, wetR, mix_.value));
    }
}

} }  // namespace ostrel::engine::devices
