#include "devices/effects/ReverbEffect.h"

#include <algorithm>
#include <cmath>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

namespace {

enum Knob : std::uint32_t { kRoomSize, kDamping, kWidth, kMix, kPreDelay };

constexpr ParamDescriptor kKnobs[] = {
    {kRoomSize, "room_size", "Room size", "%", 0.0f, 1.0f, 0.5f, ParamKind::Continuous,
     "How big the room is. Bigger rooms have longer tails."},
    {kDamping, "damping", "Damping", "%", 0.0f, 1.0f, 0.5f, ParamKind::Continuous,
     "How quickly high pitches die away. Higher = a softer, darker room."},
    {kWidth, "width", "Width", "%", 0.0f, 1.0f, 1.0f, ParamKind::Continuous,
     "How wide the reverb sounds. 0 = mono, 1 = full stereo."},
    {kMix, "mix", "Mix", "%", 0.0f, 1.0f, 0.3f, ParamKind::Continuous,
     "Balance between the original sound (0) and the reverb (1)."},
    {kPreDelay, "predelay_ms", "Pre-delay", "ms", 0.0f, 100.0f, 0.0f, ParamKind::Continuous,
     "A short gap before the reverb starts, which keeps the original sound clear."},
};

// Freeverb's tunings, in samples at 44.1 kHz; the right side is 23 samples longer
// so the two banks decorrelate.
constexpr std::int32_t kCombTunings[ReverbEffect::kCombsPerSide] = {1116, 1188, 1277, 1356,
                                                                    1422, 1491, 1557, 1617};
constexpr std::int32_t kAllPassTunings[ReverbEffect::kAllPassesPerSide] = {556, 441, 341, 225};
constexpr std::int32_t kStereoSpread = 23;
constexpr double kTuningRate = 44100.0;

// Freeverb's fixed gains: the input is scaled down before 8 combs sum it, and the
// wet sum is scaled back up on the way out.
constexpr float kInputGain = 0.015f;
constexpr float kWetGain = 3.0f;
constexpr float kAllPassFeedback = 0.5f;

std::int32_t scaledLength(std::int32_t tuning, double ratio) {
    return std::max<std::int32_t>(2, static_cast<std::int32_t>(tuning * ratio));
}

}  // namespace

ReverbEffect::ReverbEffect() : DeviceNode(kKnobs) {}

const char* ReverbEffect::typeId() const { return "ostrel.reverb"; }
const char* ReverbEffect::displayName() const { return "Reverb"; }

std::int32_t ReverbEffect::combLength(int channel, int comb) const {
    if (channel < 0 || channel > 1 || comb < 0 || comb >= kCombsPerSide) return 0;
    return static_cast<std::int32_t>(combs_[static_cast<std::size_t>(channel * kCombsPerSide + comb)].buffer.size());
}

std::int32_t ReverbEffect::allPassLength(int channel, int allPass) const {
    if (channel < 0 || channel > 1 || allPass < 0 || allPass >= kAllPassesPerSide) return 0;
    return static_cast<std::int32_t>(
        allPasses_[static_cast<std::size_t>(channel * kAllPassesPerSide + allPass)].buffer.size());
}

void ReverbEffect::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    const double ratio = sampleRate / kTuningRate;
    for (int ch = 0; ch < 2; ++ch) {
        for (int k = 0; k < kCombsPerSide; ++k) {
            Comb& comb = combs_[static_cast<std::size_t>(ch * kCombsPerSide + k)];
            comb.buffer.assign(static_cast<std::size_t>(scaledLength(kCombTunings[k] + kStereoSpread * ch, ratio)),
                               0.0f);
        }
        for (int j = 0; j < kAllPassesPerSide; ++j) {
            AllPass& allPass = allPasses_[static_cast<std::size_t>(ch * kAllPassesPerSide + j)];
            allPass.buffer.assign(
                static_cast<std::size_t>(scaledLength(kAllPassTunings[j] + kStereoSpread * ch, ratio)), 0.0f);
        }
    }
    // 100 ms, the knob's top, plus 2.
    preDelay_.assign(static_cast<std::size_t>(std::ceil(sampleRate * 0.1)) + 2, 0.0f);
    reset();
}

void ReverbEffect::reset() {
    for (Comb& comb : combs_) {
        std::fill(comb.buffer.begin(), comb.buffer.end(), 0.0f);
        comb.index = 0;
        comb.store = 0.0f;
    }
    for (AllPass& allPass : allPasses_) {
        std::fill(allPass.buffer.begin(), allPass.buffer.end(), 0.0f);
        allPass.index = 0;
    }
    std::fill(preDelay_.begin(), preDelay_.end(), 0.0f);
    preWrite_ = 0;
}

void ReverbEffect::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                           AudioBuffer& output) {
    const rules::EffectBlock block = rules::beginEffectBlock(params, context, output);
    if (block.empty() || preDelay_.empty()) return;
    const int n = block.frames;

    const float feedback = params.value(kRoomSize) * 0.28f + 0.7f;
    const float damp = params.value(kDamping) * 0.4f;
    const float width = params.value(kWidth);
    const float wet1 = width * 0.5f + 0.5f;
    const float wet2 = (1.0f - width) * 0.5f;
    const float mix = params.value(kMix);
    const float dry = 1.0f - mix;
    const auto preLength = static_cast<std::int32_t>(preDelay_.size());
    const auto preDelay = static_cast<std::int32_t>(
        std::clamp(std::trunc(static_cast<double>(params.value(kPreDelay)) * sampleRate_ / 1000.0), 0.0,
                   static_cast<double>(preLength - 1)));

    // One side: eight combs in parallel, then four all-passes in series.
    auto bank = [&](int ch, float x) {
        float acc = 0.0f;
        for (int k = 0; k < kCombsPerSide; ++k) {
            Comb& comb = combs_[static_cast<std::size_t>(ch * kCombsPerSide + k)];
            const float y = comb.buffer[static_cast<std::size_t>(comb.index)];
            dsp::onePoleKeep(comb.store, y, damp);
            dsp::flushTiny(comb.store);
            comb.buffer[static_cast<std::size_t>(comb.index)] = x + comb.store * feedback;
            if (++comb.index == static_cast<std::int32_t>(comb.buffer.size())) comb.index = 0;
            acc += y;
        }
        for (int j = 0; j < kAllPassesPerSide; ++j) {
            AllPass& allPass = allPasses_[static_cast<std::size_t>(ch * kAllPassesPerSide + j)];
            const float b = allPass.buffer[static_cast<std::size_t>(allPass.index)];
            float& slot = allPass.buffer[static_cast<std::size_t>(allPass.index)];
            slot = acc + b * kAllPassFeedback;
            dsp::flushTiny(slot);  // a silent tail would otherwise halve down through denormals
            if (++allPass.index == static_cast<std::int32_t>(allPass.buffer.size())) allPass.index = 0;
            acc = b - acc;
        }
        return acc;
    };

    const rules::StereoIn in = rules::stereoInput(inputs, n);
    const rules::StereoOut out = rules::stereoOutput(output, block);

    for (int i = 0; i < n; ++i) {
        // Unplugged: the room hears silence and keeps ringing.
        const float inL = in.leftAt(i);
        const float inR = in.rightAt(i);

        preDelay_[static_cast<std::size_t>(preWrite_)] = (inL + inR) * kInputGain;
        std::int32_t read = preWrite_ - preDelay;
        if (read < 0) read += preLength;
        const float x = preDelay_[static_cast<std::size_t>(read)];
        if (++preWrite_ == preLength) preWrite_ = 0;

        const float accL = bank(0, x);
        const float accR = bank(1, x);

        out.write(i, (accL * wet1 + accR * wet2) * kWetGain * mix + dry * inL,
                  (accR * wet1 + accL * wet2) * kWetGain * mix + dry * inR);
    }
}

} }  // namespace ostrel::engine::devices
