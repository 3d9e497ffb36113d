#include "devices/effects/CompressorEffect.h"

#include <algorithm>
#include <cmath>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

namespace {

enum Knob : std::uint32_t { Threshold, Ratio, Attack, Release, Makeup, Mix };

constexpr ParamDescriptor kKnobs[] = {
    {Threshold, "threshold_db", "Threshold", "dB", -60.0f, 0.0f, -18.0f, ParamKind::Continuous,
     "Sound louder than this gets turned down."},
    {Ratio, "ratio", "Ratio", ":1", 1.0f, 20.0f, 4.0f, ParamKind::Continuous,
     "How strongly loud sound is turned down. 4:1 means 4 dB over the threshold becomes 1 dB."},
    {Attack, "attack_ms", "Attack", "ms", 0.1f, 200.0f, 10.0f, ParamKind::Continuous,
     "How fast the compressor reacts to a loud sound."},
    {Release, "release_ms", "Release", "ms", 5.0f, 2000.0f, 120.0f, ParamKind::Continuous,
     "How fast the compressor lets go after the loud sound is over."},
    {Makeup, "makeup_db", "Makeup", "dB", 0.0f, 24.0f, 0.0f, ParamKind::Continuous,
     "Turns the whole sound back up after compression."},
    {Mix, "mix", "Mix", "%", 0.0f, 1.0f, 1.0f, ParamKind::Continuous,
     "Blends the compressed sound with the original (parallel compression)."},
};

// -180 dB: keeps log10 finite on silence.
constexpr float kLevelFloor = 1e-9f;

}  // namespace

CompressorEffect::CompressorEffect() : DeviceNode(kKnobs) {}

const char* CompressorEffect::typeId() const { return "ostrel.compressor"; }
const char* CompressorEffect::displayName() const { return "Compressor"; }

void CompressorEffect::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    envelope_ = 0.0f;
}

void CompressorEffect::reset() { envelope_ = 0.0f; }

void CompressorEffect::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                               AudioBuffer& output) {
    const rules::EffectBlock block = rules::beginEffectBlock(params, context, output);
    if (block.empty()) return;
    const int n = block.frames;

    const rules::StereoIn in = rules::stereoInputOrSilence(inputs, output, n);
    if (in.left == nullptr) return;

    const float rate = static_cast<float>(sampleRate_);
    const float threshold = params.value(Threshold);
    const float slope = 1.0f - 1.0f / params.value(Ratio);
    const float ka = dsp::onePoleKeepFactor(rate * params.value(Attack) * 0.001f);
    const float kr = dsp::onePoleKeepFactor(rate * params.value(Release) * 0.001f);
    const float makeup = params.value(Makeup);
    const float mix = params.value(Mix);

    const rules::StereoOut out = rules::stereoOutput(output, block);

    for (int i = 0; i < n; ++i) {
        const float xl = in.left[i];
        const float xr = in.right[i];
        // Linked detector: one envelope for both sides keeps the stereo image still.
        const float peak = out.right != nullptr ? std::max(std::fabs(xl), std::fabs(xr)) : std::fabs(xl);
        const float k = peak > envelope_ ? ka : kr;
        dsp::onePoleKeep(envelope_, peak, k);
        dsp::flushTiny(envelope_);

        // Hard knee.
        const float level = dsp::gainToDb(std::max(envelope_, kLevelFloor));
        const float over = level - threshold;
        const float reduction = over > 0.0f ? over * slope : 0.0f;
        const float gain = dsp::dbToGain(makeup - reduction);

        const float wet = dsp::blend(1.0f, gain, mix);  // parallel: the dry part at gain 1
        out.write(i, xl * wet, xr * wet);
    }
}

} }  // namespace ostrel::engine::devices
