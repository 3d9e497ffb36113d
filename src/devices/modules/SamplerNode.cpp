#include "devices/modules/SamplerNode.h"

#include <algorithm>
#include <cmath>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

const ParamDescriptor SamplerNode::kParams[10] = {
    {0, "gain", "Gain", "%", 0.0f, 2.0f, 1.0f, ParamKind::Continuous,
     "How loud the recording is (100 % = as recorded)."},
    {1, "root_note", "Root note", "", 0.0f, 127.0f, 60.0f, ParamKind::Stepped,
     "The key that plays the recording exactly as it is (60 = middle C). Keys above it play it higher and "
     "faster, keys below lower and slower."},
    {2, "tune_cents", "Tune", "ct", -100.0f, 100.0f, 0.0f, ParamKind::Continuous,
     "Fine tuning in cents (100 cents = one semitone)."},
    {3, "attack_ms", "Attack", "ms", 0.0f, 2000.0f, 2.0f, ParamKind::Continuous,
     "How quickly the sound fades in after a key press (a few milliseconds avoids a click)."},
    {4, "release_ms", "Release", "ms", 1.0f, 5000.0f, 80.0f, ParamKind::Continuous,
     "How long the sound takes to fade out after the key comes up."},
    {5, "loop", "Loop", "", 0.0f, 1.0f, 0.0f, ParamKind::OnOff,
     "On: the recording repeats for as long as the key is held. Off: it plays once."},
    {6, "one_shot", "One shot", "", 0.0f, 1.0f, 0.0f, ParamKind::OnOff,
     "On: the recording plays to its end whatever the key does (right for drum hits). Off: letting go of the "
     "key fades it out."},
    {7, "follow_pitch", "Follow pitch", "", 0.0f, 1.0f, 1.0f, ParamKind::OnOff,
     "On: different keys play the recording at different pitches. Off: every key plays it at its own pitch "
     "(drum pads)."},
    {8, "voice", "Voice", "", -1.0f, 15.0f, -1.0f, ParamKind::Stepped,
     "Which voice number this sampler answers to. -1 = every key. The polyphonic player gives each copy its own "
     "number."},
    {9, "note", "Only note", "", -1.0f, 127.0f, -1.0f, ParamKind::Stepped,
     "-1 = answers to every key. A number from 0 to 127 makes it answer only to that MIDI note (a drum pad)."},
};

SamplerNode::SamplerNode() : DeviceNode(kParams) {}

void SamplerNode::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    reset();
}

void SamplerNode::reset() {
    stage_ = Stage::Silent;
    position_ = 0.0;
    envelope_ = 0.0f;
    note_ = -1;
}

void SamplerNode::process(const ProcessContext& context, std::span<const AudioBuffer* const>,
                          AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;
    rules::clearFrames(output, n);

    const AudioData* sound = sample.get();
    // A rate that is not a positive finite number gives no sensible speed: silence.
    if (sound == nullptr || sound->channels < 1 || !std::isfinite(sound->sampleRate) || sound->sampleRate <= 0.0)
        return;
    // Never read past the samples actually held, whatever the frame count claims.
    const std::int64_t held = static_cast<std::int64_t>(sound->samples.size()) / sound->channels;
    const std::int64_t frames = std::min(sound->frames, held);
    if (frames < 1) return;

    Block block;
    block.gain = rules::knob(params, Gain);
    block.root = rules::steppedKnob(params, RootNote);
    block.tune = rules::knob(params, TuneCents);
    block.attackMs = rules::knob(params, AttackMs);
    block.releaseMs = rules::knob(params, ReleaseMs);
    block.loop = rules::switchKnob(params, Loop);
    block.oneShot = rules::switchKnob(params, OneShot);
    block.follow = rules::switchKnob(params, FollowPitch);
    block.frames = frames;
    block.q = sound->sampleRate / sampleRate_;
    block.channels = sound->channels;
    block.samples = sound->samples.data();

    rules::NoteCursor cursor(context.events, rules::steppedKnob(params, Voice), rules::steppedKnob(params, Note));
    cursor.walk(
        n, [&](rules::NoteAction action, const Event& e) { takeNote(action, e, block); },
        [&](int from, int to) { play(from, to, block, output); });
}

inline void SamplerNode::takeNote(rules::NoteAction action, const Event& e, const Block& block) {
    if (action == rules::NoteAction::NoteOn) {
        const double semitones = (block.follow ? e.note - block.root : 0) + block.tune / 100.0;
        step_ = std::exp2(semitones / 12.0) * block.q;
        position_ = 0.0;  // a new note always restarts the sound
        envelope_ = 0.0f;
        velocity_ = static_cast<float>(e.velocity) / 127.0f;
        // At least 2 ms of fade-in, so a key press never clicks.
        attackStep_ = static_cast<float>(1.0 / (sampleRate_ * std::max(2.0f, block.attackMs) * 0.001));
        note_ = e.note;
        stage_ = Stage::Attack;
    } else if (action == rules::NoteAction::NoteOff && stage_ != Stage::Silent && !block.oneShot && e.note == note_) {
        stage_ = Stage::Release;
        // The fade from the current level lasts release_ms, at least 1 ms.
        releaseStep_ =
            static_cast<float>(std::max(0.001f, envelope_) / (sampleRate_ * std::max(1.0f, block.releaseMs) * 0.001));
    }
}

inline void SamplerNode::play(int from, int to, const Block& block, AudioBuffer& output) {
    const std::int64_t frames = block.frames;
    const double F = static_cast<double>(frames);
    const bool loop = block.loop;
    const float gain = block.gain;
    const int c = block.channels;
    const float* s = block.samples;
    float* left = output.channel(0);
    for (int i = from; i < to; ++i) {
        if (stage_ == Stage::Silent) return;  // silent until the next event

        const std::int64_t i0 = static_cast<std::int64_t>(position_);
        std::int64_t i1 = i0 + 1;
        if (i1 >= frames) i1 = loop ? 0 : i0;
        const float frac = static_cast<float>(position_ - static_cast<double>(i0));
        const float l = dsp::lerp(s[i0 * c], s[i1 * c], frac);
        const float r = c >= 2 ? dsp::lerp(s[i0 * c + 1], s[i1 * c + 1], frac) : l;

        const float amp = gain * velocity_ * envelope_;
        left[i] = amp * l;
        for (int ch = 1; ch < output.channels; ++ch) output.channel(ch)[i] = amp * r;

        if (stage_ == Stage::Attack) {
            envelope_ += attackStep_;
            if (envelope_ >= 1.0f) {
                envelope_ = 1.0f;
                stage_ = Stage::Full;
            }
        } else if (stage_ == Stage::Release) {
            envelope_ -= releaseStep_;
            if (envelope_ <= 0.0f) {
                envelope_ = 0.0f;
                stage_ = Stage::Silent;
                continue;
            }
        }

        position_ += step_;
        if (position_ >= F) {
            if (!loop || stage_ == Stage::Release) {
                stage_ = Stage::Silent;
                envelope_ = 0.0f;
            } else {
                position_ = std::fmod(position_, F);
            }
        }
    }
}

} }  // namespace ostrel::engine::devices
