#include "devices/FmNode.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

const FmAlgorithm fmAlgorithmTable[8] = {
    {{2, 4, 8, 0}, 1},   // chain 4 > 3 > 2 > 1
    {{6, 0, 8, 0}, 1},   // 2 and 3 into 1, 4 into 3
    {{2, 12, 0, 0}, 1},  // 2 into 1, 3 and 4 into 2
    {{2, 0, 8, 0}, 5},   // two pairs: 2 > 1, 4 > 3
    {{14, 0, 0, 0}, 1},  // 2, 3 and 4 into 1
    {{8, 8, 8, 0}, 7},   // 4 into 1, 2 and 3
    {{2, 0, 0, 0}, 13},  // 2 > 1, with 3 and 4 heard plainly
    {{0, 0, 0, 0}, 15},  // four plain tones
};

namespace {

constexpr const char* kRatioHelp =
    "How many times faster than the key's pitch this operator vibrates (1 = the note itself, 2 = an octave up; "
    "odd or fractional ratios make bells).";
constexpr const char* kLevelHelp =
    "How loud this operator is (a carrier) or how strongly it bends the operators it modulates (a modulator).";
constexpr const char* kAttackHelp = "How quickly this operator fades in after a key press.";
constexpr const char* kDecayHelp = "How long this operator takes to fall from full to its sustain level.";
constexpr const char* kSustainHelp =
    "The level this operator stays at while the key is held (0 = it dies away like a struck bell).";

struct OperatorTexts {
    const char* ids[5];
    const char* names[5];
};

constexpr OperatorTexts kOperatorTexts[4] = {
    {{"op1_ratio", "op1_level", "op1_attack_ms", "op1_decay_ms", "op1_sustain"},
     {"Op 1 ratio", "Op 1 level", "Op 1 attack", "Op 1 decay", "Op 1 sustain"}},
    {{"op2_ratio", "op2_level", "op2_attack_ms", "op2_decay_ms", "op2_sustain"},
     {"Op 2 ratio", "Op 2 level", "Op 2 attack", "Op 2 decay", "Op 2 sustain"}},
    {{"op3_ratio", "op3_level", "op3_attack_ms", "op3_decay_ms", "op3_sustain"},
     {"Op 3 ratio", "Op 3 level", "Op 3 attack", "Op 3 decay", "Op 3 sustain"}},
    {{"op4_ratio", "op4_level", "op4_attack_ms", "op4_decay_ms", "op4_sustain"},
     {"Op 4 ratio", "Op 4 level", "Op 4 attack", "Op 4 decay", "Op 4 sustain"}},
};

// Radians of phase shift a modulator at full output gives its carrier.
constexpr float kModulationIndex = 6.0f;
// Feedback knob 1 makes operator 4 shift itself by up to 3 radians.
constexpr float kFeedbackScale = 3.0f;
// Headroom: one carrier peaks at 0.18 * gain; more carriers share it by 1/sqrt(n).
constexpr float kCarrierLevel = 0.18f;
// A releasing envelope below this has ended.
constexpr float kSilentEnvelope = 1e-5f;

// A one-pole that covers 95 % of the way (three time constants) in `ms`.
float exponentialFactor(double rate, float ms) {
    return static_cast<float>(dsp::onePoleFactor(rate * std::max(1.0f, ms) * 0.001, 3.0));
}

}  // namespace

std::array<ParamDescriptor, FmNode::kParamCount> FmNode::buildParamTable() {
    std::array<ParamDescriptor, kParamCount> t{{
        {0, "algorithm", "Algorithm", "", 0.0f, 7.0f, 0.0f, ParamKind::Stepped,
         "Who modulates whom (0 = a chain of all four, 3 = two pairs, 7 = four plain tones)."},
        {1, "feedback", "Feedback", "%", 0.0f, 1.0f, 0.0f, ParamKind::Continuous,
         "Operator 4 modulates itself: more feedback makes its tone buzzier and brighter."},
        {2, "gain", "Gain", "%", 0.0f, 2.0f, 1.0f, ParamKind::Continuous, "How loud the synth is."},
        {3, "release_ms", "Release", "ms", 1.0f, 5000.0f, 200.0f, ParamKind::Continuous,
         "How long every operator takes to fade out after the key comes up."},
        {4, "tune_cents", "Tune", "ct", -100.0f, 100.0f, 0.0f, ParamKind::Continuous,
         "Fine tuning in cents (100 cents = one semitone)."},
        {5, "voice", "Voice", "", -1.0f, 15.0f, -1.0f, ParamKind::Stepped,
         "Which voice number this synth answers to. -1 = every key. The polyphonic player gives each copy its "
         "own number."},
        {6, "note", "Only note", "", -1.0f, 127.0f, -1.0f, ParamKind::Stepped,
         "-1 = answers to every key; 0 to 127 = only that MIDI note."},
    }};
    for (std::uint32_t k = 0; k < kOperators; ++k) {
        const OperatorTexts& text = kOperatorTexts[k];
        const std::uint32_t base = FirstOperator + kKnobsPerOperator * k;
        // Only operator 1 sounds by default, so a new synth is a plain sine.
        const float level = k == 0 ? 1.0f : 0.0f;
        t[base + Ratio] = {base + Ratio, text.ids[Ratio], text.names[Ratio], "x", 0.25f, 16.0f, 1.0f,
                           ParamKind::Continuous, kRatioHelp};
        t[base + Level] = {base + Level, text.ids[Level], text.names[Level], "%", 0.0f, 1.0f, level,
                           ParamKind::Continuous, kLevelHelp};
        t[base + AttackMs] = {base + AttackMs, text.ids[AttackMs], text.names[AttackMs], "ms", 0.0f, 2000.0f, 1.0f,
                              ParamKind::Continuous, kAttackHelp};
        t[base + DecayMs] = {base + DecayMs, text.ids[DecayMs], text.names[DecayMs], "ms", 1.0f, 5000.0f, 300.0f,
                             ParamKind::Continuous, kDecayHelp};
        t[base + Sustain] = {base + Sustain, text.ids[Sustain], text.names[Sustain], "%", 0.0f, 1.0f, 1.0f,
                             ParamKind::Continuous, kSustainHelp};
    }
    return t;
}

std::span<const ParamDescriptor> FmNode::paramTable() {
    static const std::array<ParamDescriptor, kParamCount> table = buildParamTable();
    return table;
}

FmNode::FmNode() : DeviceNode(paramTable()) {}

void FmNode::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    reset();
}

void FmNode::reset() {
    ops_ = {};
    active_ = false;
    gate_ = false;
    note_ = -1;
    feedbackSample_ = 0.0f;
}

void FmNode::startNote(int note, float velocity) {
    // Every note retriggers from silence; there is no legato.
    note_ = note;
    gate_ = true;
    active_ = true;
    velocity_ = velocity;
    ops_ = {};
    for (Operator& op : ops_) op.stage = Attack;
    feedbackSample_ = 0.0f;
}

void FmNode::releaseNote(int note) {
    if (!active_ || note != note_) return;
    gate_ = false;
    for (Operator& op : ops_) {
        if (op.stage != Silent) op.stage = Release;
    }
}

Rest FmNode::rest(const ProcessContext& context, std::span<const AudioBuffer* const>, std::uint32_t) const {
    // Between notes nothing moves: phases start over at the next note.
    const bool idle = !active_ && params.atRest(context.events) &&
                      !rules::notesReach(context.events, rules::steppedKnob(params, Voice),
                                         rules::steppedKnob(params, Note), rules::Bend::Ignore);
    return idle ? Rest::Silent : Rest::Busy;
}

void FmNode::process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;
    rules::clearFrames(output, n);

    const FmAlgorithm& alg = fmAlgorithmTable[std::clamp(rules::steppedKnob(params, Algorithm), 0, 7)];
    const int carrierCount = std::max(1, std::popcount(alg.carriers & 15u));
    const float carrierScale = kCarrierLevel / std::sqrt(static_cast<float>(carrierCount));
    const float gain = rules::knob(params, Gain);
    const float feedbackAmount = kFeedbackScale * rules::knob(params, Feedback);
    const float releaseFactor = exponentialFactor(sampleRate_, rules::knob(params, ReleaseMs));
    const float tune = rules::knob(params, TuneCents);

    float ratio[kOperators], level[kOperators], sustain[kOperators], attackStep[kOperators], decayFactor[kOperators];
    for (std::uint32_t k = 0; k < kOperators; ++k) {
        const std::uint32_t base = FirstOperator + kKnobsPerOperator * k;
        ratio[k] = rules::knob(params, base + Ratio);
        level[k] = rules::knob(params, base + Level);
        sustain[k] = rules::knob(params, base + Sustain);
        attackStep[k] =
            static_cast<float>(1.0 / (sampleRate_ * std::max(0.5f, rules::knob(params, base + AttackMs)) * 0.001));
        decayFactor[k] = exponentialFactor(sampleRate_, rules::knob(params, base + DecayMs));
    }

    rules::NoteCursor cursor(context.events, rules::steppedKnob(params, Voice), rules::steppedKnob(params, Note));
    auto take = [this](rules::NoteAction action, const Event& e) {
        if (action == rules::NoteAction::NoteOn) {
            startNote(e.note, static_cast<float>(e.velocity) / 127.0f);
        } else if (action == rules::NoteAction::NoteOff) {
            releaseNote(e.note);
        }
    };

    float* out = output.channel(0);
    double step = 0.0;  // cycles per frame at ratio 1, for the note playing
    std::int32_t stepNote = -1;
    cursor.walk(n, take, [&](int from, int to) {
        if (!active_) return;  // silent until the next event
        if (note_ != stepNote) {
            stepNote = note_;
            const double freq = 440.0 * std::exp2((note_ - 69) / 12.0 + tune / 1200.0);
            step = freq / sampleRate_;
        }
        const float velocity = velocity_;
        const float modulatorVelocity = 0.5f + 0.5f * velocity;  // a soft key is also less bright

        // Operator by operator over a stretch rather than frame by frame: nothing arrives
        // inside a stretch, each operator still takes exactly its own steps, and the
        // independent frames of an operator without feedback overlap in the processor.
        float heard[kOperators][kStretch];
        for (int start = from; start < to; start += kStretch) {
            const int m = std::min(kStretch, to - start);
            for (std::uint32_t k = kOperators; k-- > 0;) {
                Operator op = ops_[k];
                const bool carrier = (alg.carriers & (1u << k)) != 0;
                const float opLevel = level[k];
                const float opVelocity = carrier ? velocity : modulatorVelocity;
                const double increment = ratio[k] * step;
                float feedback = feedbackSample_;
                float* own = heard[k];
                for (int i = 0; i < m; ++i) {
                    switch (op.stage) {
                        case Attack:
                            op.envelope += attackStep[k];
                            if (op.envelope >= 1.0f) {
                                op.envelope = 1.0f;
                                op.stage = DecaySustain;
                            }
                            break;
                        case DecaySustain:
                            dsp::onePole(op.envelope, sustain[k], decayFactor[k]);
                            dsp::flushTiny(op.envelope);  // sustain 0 would otherwise crawl through denormals
                            break;
                        case Release:
                            dsp::onePole(op.envelope, 0.0f, releaseFactor);
                            if (op.envelope < kSilentEnvelope) {
                                op.envelope = 0.0f;
                                op.stage = Silent;
                            }
                            break;
                        default: break;
                    }
                    float pm = 0.0f;
                    for (std::uint32_t j = k + 1; j < kOperators; ++j) {
                        if (alg.modulators[k] & (1u << j)) pm += heard[j][i];
                    }
                    float offset = kModulationIndex * pm;
                    if (k == 3) offset += feedbackAmount * feedback;
                    const auto s = static_cast<float>(dsp::sin(offset + 2.0 * std::numbers::pi * op.phase));
                    own[i] = s * op.envelope * opLevel * opVelocity;
                    if (k == 3) feedback = s * op.envelope;
                    op.phase += increment;
                    if (op.phase >= 1.0) op.phase -= std::floor(op.phase);
                }
                op.output = own[m - 1];
                ops_[k] = op;
                feedbackSample_ = feedback;
            }
            for (int i = 0; i < m; ++i) {
                float sum = 0.0f;
                for (std::uint32_t k = kOperators; k-- > 0;) {
                    if (alg.carriers & (1u << k)) sum += heard[k][i];
                }
                out[start + i] = sum * carrierScale * gain;
            }
        }
        // Once the key is up and every operator has died away the synth falls silent; the
        // frames after that point came out as zeros above as well.
        const auto silent = [](const Operator& op) { return op.stage == Silent; };
        if (!gate_ && std::all_of(ops_.begin(), ops_.end(), silent)) active_ = false;
    });
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
