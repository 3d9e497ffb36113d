#include "devices/modules/KeyboardCvNode.h"

#include <algorithm>
#include <cmath>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

const ParamDescriptor KeyboardCvNode::kParams[5] = {
    {0, "output", "Output", "", 0.0f, 2.0f, 0.0f, ParamKind::Stepped,
     "Which signal this module sends: 0 = pitch, 1 = gate (key down), 2 = velocity (how hard the key was hit)."},
    {1, "glide_ms", "Glide", "ms", 0.0f, 2000.0f, 0.0f, ParamKind::Continuous,
     "Slides smoothly between notes instead of jumping (portamento)."},
    {2, "voice", "Voice", "", -1.0f, 15.0f, -1.0f, ParamKind::Stepped,
     "Which voice number this keyboard answers to. -1 = every key. The polyphonic player gives each copy of a "
     "patch its own number, so each copy plays its own note."},
    {3, "bend_range", "Bend range", "st", 0.0f, 24.0f, 2.0f, ParamKind::Continuous,
     "How far the pitch wheel of a MIDI keyboard bends the pitch, in semitones (2 is the usual setting)."},
    {4, "note", "Only note", "", -1.0f, 127.0f, -1.0f, ParamKind::Stepped,
     "-1 = this keyboard answers to every key. A number from 0 to 127 makes it answer only to that one MIDI "
     "note (a drum kit uses this: 36 is the kick, 38 the snare)."},
};

KeyboardCvNode::KeyboardCvNode() : DeviceNode(kParams) {}

void KeyboardCvNode::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    reset();
}

void KeyboardCvNode::reset() {
    heldCount_ = 0;
    pitch_ = targetPitch_ = velocity_ = bendTarget_ = bend_ = 0.0f;
    gate_ = false;
}

void KeyboardCvNode::removeHeld(int note) {
    for (int i = 0; i < heldCount_; ++i) {
        if (heldNotes_[i] != note) continue;
        for (int j = i + 1; j < heldCount_; ++j) {
            heldNotes_[j - 1] = heldNotes_[j];
            heldVelocities_[j - 1] = heldVelocities_[j];
        }
        --heldCount_;
        return;
    }
}

void KeyboardCvNode::noteOn(int note, float velocity) {
    removeHeld(note);
    const bool wasSilent = heldCount_ == 0;
    if (heldCount_ == kMaxHeld) removeHeld(heldNotes_[0]);
    heldNotes_[heldCount_] = note;
    heldVelocities_[heldCount_] = velocity;
    ++heldCount_;
    targetPitch_ = static_cast<float>(note - 60) / 12.0f;
    if (wasSilent) pitch_ = targetPitch_;  // a note after silence does not glide
    velocity_ = velocity;
    gate_ = true;
}

void KeyboardCvNode::noteOff(int note) {
    removeHeld(note);
    if (heldCount_ > 0) {
        targetPitch_ = static_cast<float>(heldNotes_[heldCount_ - 1] - 60) / 12.0f;
        velocity_ = heldVelocities_[heldCount_ - 1];
    } else {
        gate_ = false;
    }
}

Rest KeyboardCvNode::rest(const ProcessContext& context, std::span<const AudioBuffer* const>, std::uint32_t) const {
    if (!params.atRest(context.events)) return Rest::Busy;
    if (rules::notesReach(context.events, rules::steppedKnob(params, Voice), rules::steppedKnob(params, Note),
                          rules::Bend::Take)) {
        return Rest::Busy;
    }
    if (pitch_ != targetPitch_ || bend_ != bendTarget_) return Rest::Busy;  // still gliding
    // Settled and untouched: the output holds still, and a closed gate is exact zeros.
    return rules::steppedKnob(params, Output) == 1 && !gate_ ? Rest::Silent : Rest::Steady;
}

void KeyboardCvNode::process(const ProcessContext& context, std::span<const AudioBuffer* const>,
                             AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;

    const int choice = rules::steppedKnob(params, Output);
    const float glideMs = rules::knob(params, GlideMs);
    const float bendRange = rules::knob(params, BendRange);
    const float sr = static_cast<float>(sampleRate_);
    const float glide = dsp::onePoleFactor(glideMs * 0.001f * sr);  // 0 ms: jump at once
    const float bendSmoothing = dsp::onePoleFactor(sr * 0.005f);     // 5 ms

    rules::NoteCursor cursor(context.events, rules::steppedKnob(params, Voice), rules::steppedKnob(params, Note),
                             rules::Bend::Take);
    auto take = [this](rules::NoteAction action, const Event& e) {
        switch (action) {
            case rules::NoteAction::PitchBend:
                // A bend that is not a number would poison the smoother for good.
                bendTarget_ = std::isfinite(e.value) ? std::clamp(e.value, -1.0f, 1.0f) : 0.0f;
                break;
            case rules::NoteAction::NoteOn: noteOn(e.note, static_cast<float>(e.velocity) / 127.0f); break;
            case rules::NoteAction::NoteOff: noteOff(e.note); break;
        }
    };

    auto value = [&] {
        switch (choice) {
            case 0: return pitch_ + bend_ * bendRange / 12.0f;
            case 1: return gate_ ? 1.0f : 0.0f;
            default: return velocity_;
        }
    };
    float* out = output.channel(0);
    cursor.walk(n, take, [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            if (pitch_ == targetPitch_ && bend_ == bendTarget_) {
                // Settled: the signal holds still until the next event, the usual case by far.
                std::fill(out + i, out + to, value());
                return;
            }
            dsp::onePoleSettling(pitch_, targetPitch_, glide);
            dsp::onePoleSettling(bend_, bendTarget_, bendSmoothing);
            out[i] = value();
        }
    });
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
