#include "devices/instruments/FmNode.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <utility>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

namespace {

// Known at compile time, so each algorithm gets a frame loop of its own.
constexpr FmAlgorithm kAlgorithms[8] = {
    {{2, 4, 8, 0}, 1},   // chain 4 > 3 > 2 > 1
    {{6, 0, 8, 0}, 1},   // 2 and 3 into 1, 4 into 3
    {{2, 12, 0, 0}, 1},  // 2 into 1, 3 and 4 into 2
    {{2, 0, 8, 0}, 5},   // two pairs: 2 > 1, 4 > 3
    {{14, 0, 0, 0}, 1},  // 2, 3 and 4 into 1
    {{8, 8, 8, 0}, 7},   // 4 into 1, 2 and 3
    {{2, 0, 0, 0}, 13},  // 2 > 1, with 3 and 4 heard plainly
    {{0, 0, 0, 0}, 15},  // four plain tones
};

}  // namespace

const FmAlgorithm fmAlgorithmTable[8] = {kAlgorithms[0], kAlgorithms[1], kAlgorithms[2], kAlgorithms[3],
                                         kAlgorithms[4], kAlgorithms[5], kAlgorithms[6], kAlgorithms[7]};

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

// What the frame loop of a stretch reads and leaves behind.
struct Stretch {
    double phase[4];  // in and out
    double increment[4];
    const float* envelope[4];  // each operator's envelope, frame by frame
    int envelopeMask[4];  // 0 for an envelope holding still: only its first frame is written
    float level[4];
    float velocity[4];
    float last[4];  // out: each operator's last sample
    float feedback;  // in and out: operator 4's last sine times its envelope
    float feedbackAmount;
    float carrierScale;
    float gain;
};

// The operators of a stretch. An operator only hears higher-numbered ones in the same
// frame, so operator k + 1 runs 3 - k frames behind operator 4: the four sines of one
// step are then independent of each other, and only operator 4's feedback waits on its
// own previous frame. Zero modulation is not added: a sum that starts from 0 only differs
// from its first term in the sign of a zero, and that sign is lost when it is added to the
// (non-negative) phase angle, so the samples are the same.
template <int kAlgorithm, bool kFeedback>
void renderStretch(Stretch& s, float* out, int m) {
    constexpr FmAlgorithm alg = kAlgorithms[kAlgorithm];
    // Locals, so that stores to `out` cannot be taken to change them.
    double phase[4], increment[4];
    const float* envelope[4];
    int envelopeMask[4];
    float level[4], velocity[4];
    for (int k = 0; k < 4; ++k) {
        phase[k] = s.phase[k];
        increment[k] = s.increment[k];
        envelope[k] = s.envelope[k];
        envelopeMask[k] = s.envelopeMask[k];
        level[k] = s.level[k];
        velocity[k] = s.velocity[k];
    }
    float feedback = s.feedback;
    const float feedbackAmount = s.feedbackAmount;
    const float carrierScale = s.carrierScale;
    const float gain = s.gain;
    float heard[4][FmNode::kStretch];

    // Always inlined: a call per operator and frame would cost more than the frame saves.
    const auto op = [&]<int k>(int i) __attribute__((always_inline)) {
        double angle = 2.0 * std::numbers::pi * phase[k];
        if constexpr (k == 3 && kFeedback) {
            angle = static_cast<double>(feedbackAmount * feedback) + angle;
        } else if constexpr (alg.modulators[k] != 0) {
            float pm = 0.0f;
            bool first = true;
            for (int j = k + 1; j < 4; ++j) {
                if ((alg.modulators[k] & (1u << j)) == 0) continue;
                pm = first ? heard[j][i] : pm + heard[j][i];
                first = false;
            }
            angle = static_cast<double>(kModulationIndex * pm) + angle;
        }
        // The angle stays within a few turns: knobs are held to their ranges, so every
        // shift is at most 6 * 3 (three modulators at full) or 3 (feedback at full).
        const auto sine = static_cast<float>(dsp::sinBelowMillion(angle));
        const float env = envelope[k][i & envelopeMask[k]];
        heard[k][i] = sine * env * level[k] * velocity[k];
        if constexpr (k == 3) feedback = sine * env;
        phase[k] += increment[k];
        if (phase[k] >= 1.0) phase[k] -= std::floor(phase[k]);
        if constexpr (k == 0) {
            float sum = 0.0f;
            if constexpr ((alg.carriers & 8u) != 0) sum += heard[3][i];
            if constexpr ((alg.carriers & 4u) != 0) sum += heard[2][i];
            if constexpr ((alg.carriers & 2u) != 0) sum += heard[1][i];
            if constexpr ((alg.carriers & 1u) != 0) sum += heard[0][i];
            out[i] = sum * carrierScale * gain;
        }
    };
    // Step t: operator k + 1 on frame t - (3 - k), where that frame is inside the stretch.
    const auto edge = [&](int t) {
        if (t < m) op.template operator()<3>(t);
        if (t >= 1 && t - 1 < m) op.template operator()<2>(t - 1);
        if (t >= 2 && t - 2 < m) op.template operator()<1>(t - 2);
        if (t >= 3) op.template operator()<0>(t - 3);
    };
    int t = 0;
    for (; t < std::min(3, m); ++t) edge(t);
    for (; t < m; ++t) {
        op.template operator()<3>(t);
        op.template operator()<2>(t - 1);
        op.template operator()<1>(t - 2);
        op.template operator()<0>(t - 3);
    }
    for (; t < m + 3; ++t) edge(t);

    for (int k = 0; k < 4; ++k) {
        s.phase[k] = phase[k];
        s.last[k] = heard[k][m - 1];
    }
    s.feedback = feedback;
}

using StretchRenderer = void (*)(Stretch&, float*, int);

// [algorithm][feedback on]
template <int... kAlgorithm>
constexpr std::array<std::array<StretchRenderer, 2>, sizeof...(kAlgorithm)> makeRenderers(
    std::integer_sequence<int, kAlgorithm...>) {
    return {{{&renderStretch<kAlgorithm, false>, &renderStretch<kAlgorithm, true>}...}};
}

constexpr auto kRenderers = makeRenderers(std::make_integer_sequence<int, 8>{});

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

void FmNode::advanceEnvelopes(const EnvelopeShape& shape, int m, float (*envelopes)[kStretch], int* masks) {
    // An envelope holding still (silent, or settled where a step toward its sustain no
    // longer moves it) keeps its value; the others take their steps side by side.
    float value[kOperators];
    std::int32_t stage[kOperators];
    bool moving[kOperators];
    for (std::uint32_t k = 0; k < kOperators; ++k) {
        value[k] = ops_[k].envelope;
        stage[k] = ops_[k].stage;
        bool still = stage[k] == Silent;
        if (stage[k] == DecaySustain) {
            float next = value[k];
            dsp::onePole(next, shape.sustain[k], shape.decay[k]);
            dsp::flushTiny(next);
            still = next == value[k];
        }
        moving[k] = !still;
        masks[k] = still ? 0 : ~0;
        envelopes[k][0] = value[k];
    }
    if (!(moving[0] || moving[1] || moving[2] || moving[3])) return;
    for (int i = 0; i < m; ++i) {
        for (std::uint32_t k = 0; k < kOperators; ++k) {
            if (!moving[k]) continue;
            float& e = value[k];
            switch (stage[k]) {
                case Attack:
                    e += shape.attackStep[k];
                    if (e >= 1.0f) {
                        e = 1.0f;
                        stage[k] = DecaySustain;
                    }
                    break;
                case DecaySustain:
                    dsp::onePole(e, shape.sustain[k], shape.decay[k]);
                    dsp::flushTiny(e);  // sustain 0 would otherwise crawl through denormals
                    break;
                case Release:
                    dsp::onePole(e, 0.0f, shape.release);
                    if (e < kSilentEnvelope) {
                        e = 0.0f;
                        stage[k] = Silent;
                    }
                    break;
                default: break;
            }
            envelopes[k][i] = e;
        }
    }
    for (std::uint32_t k = 0; k < kOperators; ++k) {
        ops_[k].envelope = value[k];
        ops_[k].stage = stage[k];
    }
}

void FmNode::readOperatorKnobs(EnvelopeShape& shape, float* ratio, float* level) const {
    shape.release = exponentialFactor(sampleRate_, rules::knob(params, ReleaseMs));
    for (std::uint32_t k = 0; k < kOperators; ++k) {
        const std::uint32_t base = FirstOperator + kKnobsPerOperator * k;
        ratio[k] = rules::knob(params, base + Ratio);
        level[k] = rules::knob(params, base + Level);
        shape.sustain[k] = rules::knob(params, base + Sustain);
        shape.attackStep[k] =
            static_cast<float>(1.0 / (sampleRate_ * std::max(0.5f, rules::knob(params, base + AttackMs)) * 0.001));
        shape.decay[k] = exponentialFactor(sampleRate_, rules::knob(params, base + DecayMs));
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

    const int algorithmIndex = std::clamp(rules::steppedKnob(params, Algorithm), 0, 7);
    const FmAlgorithm& alg = fmAlgorithmTable[algorithmIndex];
    const int carrierCount = std::max(1, std::popcount(alg.carriers & 15u));
    const float carrierScale = kCarrierLevel / std::sqrt(static_cast<float>(carrierCount));
    const float gain = rules::knob(params, Gain);
    const float feedbackAmount = kFeedbackScale * rules::knob(params, Feedback);
    const float tune = rules::knob(params, TuneCents);

    EnvelopeShape shape;
    float ratio[kOperators], level[kOperators];
    readOperatorKnobs(shape, ratio, level);

    rules::NoteCursor cursor(context.events, rules::steppedKnob(params, Voice), rules::steppedKnob(params, Note));
    auto take = [this](rules::NoteAction action, const Event& e) {
        if (action == rules::NoteAction::NoteOn) {
            startNote(e.note, static_cast<float>(e.velocity) / 127.0f);
        } else if (action == rules::NoteAction::NoteOff) {
            releaseNote(e.note);
        }
    };

    float* out = output.channel(0);
    float envelopes[kOperators][kStretch];
    double step = 0.0;  // cycles per frame at ratio 1, for the note playing
    std::int32_t stepNote = -1;
    cursor.walk(n, take, [&](int from, int to) {
        if (!active_) return;  // silent until the next event
        if (note_ != stepNote) {
            stepNote = note_;
            const double freq = 440.0 * std::exp2((note_ - 69) / 12.0 + tune / 1200.0);
            step = freq / sampleRate_;
        }
        Stretch s;
        s.feedbackAmount = feedbackAmount;
        s.carrierScale = carrierScale;
        s.gain = gain;
        const float modulatorVelocity = 0.5f + 0.5f * velocity_;  // a soft key is also less bright
        for (std::uint32_t k = 0; k < kOperators; ++k) {
            s.increment[k] = ratio[k] * step;
            s.level[k] = level[k];
            s.velocity[k] = (alg.carriers & (1u << k)) != 0 ? velocity_ : modulatorVelocity;
            s.envelope[k] = envelopes[k];
        }
        // Nothing arrives inside a stretch: the envelopes go first, each taking exactly its
        // own steps, then the operators frame by frame, so that the independent work of the
        // other operators overlaps operator 4's feedback chain in the processor.
        for (int start = from; start < to; start += kStretch) {
            const int m = std::min(kStretch, to - start);
            for (std::uint32_t k = 0; k < kOperators; ++k) {
                s.phase[k] = ops_[k].phase;
            }
            advanceEnvelopes(shape, m, envelopes, s.envelopeMask);
            s.feedback = feedbackSample_;
            kRenderers[algorithmIndex][feedbackAmount != 0.0f ? 1 : 0](s, out + start, m);
            for (std::uint32_t k = 0; k < kOperators; ++k) {
                ops_[k].phase = s.phase[k];
                ops_[k].output = s.last[k];
            }
            feedbackSample_ = s.feedback;
        }
        // Once the key is up and every operator has died away the synth falls silent; the
        // frames after that point came out as zeros above as well.
        const auto silent = [](const Operator& op) { return op.stage == Silent; };
        if (!gate_ && std::all_of(ops_.begin(), ops_.end(), silent)) active_ = false;
    });
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
