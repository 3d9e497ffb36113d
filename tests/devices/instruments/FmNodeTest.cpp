#include "devices/instruments/FmNode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <numbers>

#include "devices/Dsp.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

constexpr double kCarrier = 0.18;  // one carrier's peak at gain 1

std::string opKnob(std::size_t op, const char* what) { return "op" + std::to_string(op + 1) + "_" + what; }

// Operator k + 1 at levels[k], by default a plain sine; the other knobs as given.
Signal play(Knobs knobs, int frames, std::vector<Timed> events = {noteOn(0, 69, 127)}, int algorithm = 0,
            std::array<float, 4> levels = {1, 0, 0, 0}, double rate = 48000.0) {
    FmNode fm;
    fm.prepare(rate);
    setKnob(fm, "algorithm", static_cast<float>(algorithm));
    for (std::size_t op = 0; op < 4; ++op) setKnob(fm, opKnob(op, "level").c_str(), levels[op]);
    setKnobs(fm, knobs);
    Render r{.rate = rate, .events = std::move(events)};
    return render(fm, frames, r);
}

// The synth written out frame by frame, operator 4 down to 1, exactly as its formulas
// read: the fast renderer must give these samples to the bit.
struct ReferenceOperator {
    double ratio = 1.0;
    float level = 0.0f, attackMs = 1.0f, decayMs = 300.0f, sustain = 1.0f;
};

struct ReferenceSynth {
    int algorithm = 0;
    float feedback = 0.0f, gain = 1.0f, releaseMs = 200.0f, tuneCents = 0.0f;
    std::array<ReferenceOperator, 4> ops{};
};

Knobs knobsOf(const ReferenceSynth& synth) {
    Knobs knobs{{"algorithm", synth.algorithm}, {"feedback", synth.feedback}, {"gain", synth.gain},
                {"release_ms", synth.releaseMs}, {"tune_cents", synth.tuneCents}};
    for (std::size_t k = 0; k < 4; ++k) {
        knobs[opKnob(k, "ratio")] = synth.ops[k].ratio;
        knobs[opKnob(k, "level")] = synth.ops[k].level;
        knobs[opKnob(k, "attack_ms")] = synth.ops[k].attackMs;
        knobs[opKnob(k, "decay_ms")] = synth.ops[k].decayMs;
        knobs[opKnob(k, "sustain")] = synth.ops[k].sustain;
    }
    return knobs;
}

Signal referenceRender(const ReferenceSynth& synth, int frames, const std::vector<Timed>& events, double rate) {
    enum Stage { Silent, Attack, DecaySustain, Release };
    struct Op {
        double phase = 0.0;
        float envelope = 0.0f;
        Stage stage = Silent;
    };
    const auto factor = [rate](float ms) {
        return static_cast<float>(dsp::onePoleFactor(rate * std::max(1.0f, ms) * 0.001, 3.0));
    };
    const FmAlgorithm& alg = fmAlgorithmTable[synth.algorithm];
    const float carrierScale = 0.18f / std::sqrt(static_cast<float>(std::max(1, std::popcount(alg.carriers))));
    const float feedbackAmount = 3.0f * synth.feedback;
    const float release = factor(synth.releaseMs);

    Signal out(static_cast<std::size_t>(frames), 0.0f);
    std::array<Op, 4> ops{};
    bool sounding = false;
    int note = -1;
    float velocity = 1.0f, feedback = 0.0f;
    double step = 0.0;
    std::size_t next = 0;
    for (int f = 0; f < frames; ++f) {
        for (; next < events.size() && events[next].time == f; ++next) {
            const Event& e = events[next].event;
            if (e.type == EventType::NoteOn) {
                sounding = true;
                note = e.note;
                velocity = static_cast<float>(e.velocity) / 127.0f;
                ops = {};
                for (Op& op : ops) op.stage = Attack;
                feedback = 0.0f;
                step = 440.0 * std::exp2((note - 69) / 12.0 + synth.tuneCents / 1200.0) / rate;
            } else if (e.type == EventType::NoteOff && e.note == note) {
                for (Op& op : ops) {
                    if (op.stage != Silent) op.stage = Release;
                }
            }
        }
        if (!sounding) continue;
        float heard[4] = {};
        for (int k = 3; k >= 0; --k) {
            const ReferenceOperator& knob = synth.ops[static_cast<std::size_t>(k)];
            Op& op = ops[static_cast<std::size_t>(k)];
            if (op.stage == Attack) {
                op.envelope += static_cast<float>(1.0 / (rate * std::max(0.5f, knob.attackMs) * 0.001));
                if (op.envelope >= 1.0f) {
                    op.envelope = 1.0f;
                    op.stage = DecaySustain;
                }
            } else if (op.stage == DecaySustain) {
                op.envelope += (knob.sustain - op.envelope) * factor(knob.decayMs);
                if (std::fabs(op.envelope) < 1e-20f) op.envelope = 0.0f;
            } else if (op.stage == Release) {
                op.envelope += (0.0f - op.envelope) * release;
                if (op.envelope < 1e-5f) {
                    op.envelope = 0.0f;
                    op.stage = Silent;
                }
            }
            float pm = 0.0f;
            for (int j = k + 1; j < 4; ++j) {
                if (alg.modulators[k] & (1u << j)) pm += heard[j];
            }
            float offset = 6.0f * pm;
            if (k == 3) offset += feedbackAmount * feedback;
            const auto s = static_cast<float>(dsp::sin(offset + 2.0 * std::numbers::pi * op.phase));
            const bool carrier = (alg.carriers & (1u << k)) != 0;
            heard[k] = s * op.envelope * knob.level * (carrier ? velocity : 0.5f + 0.5f * velocity);
            if (k == 3) feedback = s * op.envelope;
            op.phase += static_cast<float>(knob.ratio) * step;
            if (op.phase >= 1.0) op.phase -= std::floor(op.phase);
        }
        float sum = 0.0f;
        for (int k = 3; k >= 0; --k) {
            if (alg.carriers & (1u << k)) sum += heard[k];
        }
        out[static_cast<std::size_t>(f)] = sum * carrierScale * synth.gain;
    }
    return out;
}

// Index of the first sample whose bits differ, or -1.
int firstDifference(const Signal& a, const Signal& b) {
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (std::bit_cast<std::uint32_t>(a[i]) != std::bit_cast<std::uint32_t>(b[i])) return static_cast<int>(i);
    }
    return a.size() == b.size() ? -1 : static_cast<int>(std::min(a.size(), b.size()));
}

TEST(FmNode, EveryAlgorithmFeedbackEnvelopeAndPitchGivesTheFrameByFrameFormulaToTheBit) {
    // Bright modulators with attacks, decays to 0 and to a sustain, a release and a
    // retrigger inside odd blocks, so stretches, events and block ends fall everywhere.
    ReferenceSynth synth;
    synth.releaseMs = 30.0f;
    synth.tuneCents = 7.0f;
    synth.gain = 1.3f;
    synth.ops = {ReferenceOperator{0.5, 1.0f, 3.0f, 40.0f, 0.8f}, ReferenceOperator{3.5, 0.7f, 0.0f, 25.0f, 0.0f},
                 ReferenceOperator{1.005, 0.45f, 12.0f, 60.0f, 0.3f}, ReferenceOperator{2.0, 0.6f, 1.0f, 5.0f, 1.0f}};
    for (int algorithm = 0; algorithm < 8; ++algorithm) {
        for (float feedback : {0.0f, 0.2f, 1.0f}) {
            for (int note : {24, 69, 115}) {
                synth.algorithm = algorithm;
                synth.feedback = feedback;
                const double rate = note == 69 ? 44100.0 : 48000.0;
                const std::vector<Timed> events = {noteOn(5, note, 100), noteOff(3000, note), noteOn(4100, note, 37),
                                                   noteOff(5200, note)};
                FmNode fm;
                fm.prepare(rate);
                setKnobs(fm, knobsOf(synth));
                const Signal fast = render(fm, 12000, Render{.rate = rate, .blocks = {512, 37, 300, 1}, .events = events});
                const Signal reference = referenceRender(synth, 12000, events, rate);
                EXPECT_EQ(firstDifference(fast, reference), -1)
                    << "algorithm " << algorithm << ", feedback " << feedback << ", note " << note;
            }
        }
    }
}

TEST(FmNode, ASettledHeldVoiceGivesTheFrameByFrameFormulaToTheBit) {
    // Long enough for every envelope to settle on its sustain and hold still.
    ReferenceSynth synth;
    synth.feedback = 0.25f;
    synth.ops = {ReferenceOperator{0.5, 1.0f, 1.0f, 20.0f, 0.8f}, ReferenceOperator{0.5, 0.45f, 1.0f, 10.0f, 0.25f},
                 ReferenceOperator{1.0, 0.3f, 1.0f, 15.0f, 0.0f}, ReferenceOperator{0.5, 0.15f, 1.0f, 10.0f, 0.2f}};
    for (int algorithm : {0, 2, 6}) {
        synth.algorithm = algorithm;
        const std::vector<Timed> events = {noteOn(0, 36, 100)};
        FmNode fm;
        fm.prepare(48000.0);
        setKnobs(fm, knobsOf(synth));
        const Signal fast = render(fm, 48000, Render{.rate = 48000.0, .blocks = {512}, .events = events});
        EXPECT_EQ(firstDifference(fast, referenceRender(synth, 48000, events, 48000.0)), -1) << algorithm;
    }
}

TEST(FmNode, AlgorithmTableSaysWhoModulatesWhomAndWhoIsHeard) {
    const std::uint32_t expected[8][5] = {{2, 4, 8, 0, 1},  {6, 0, 8, 0, 1}, {2, 12, 0, 0, 1}, {2, 0, 8, 0, 5},
                                          {14, 0, 0, 0, 1}, {8, 8, 8, 0, 7}, {2, 0, 0, 0, 13}, {0, 0, 0, 0, 15}};
    for (int a = 0; a < 8; ++a) {
        for (int k = 0; k < 4; ++k) EXPECT_EQ(fmAlgorithmTable[a].modulators[k], expected[a][k]) << a;
        EXPECT_EQ(fmAlgorithmTable[a].carriers, expected[a][4]) << a;
    }
}

TEST(FmNode, DefaultSynthPlaysA440SineWhosePeakIsTheCarrierLevelTimesGainAndVelocity) {
    for (double rate : kRates) {
        const int frames = static_cast<int>(rate / 2);
        const Signal out = play({{"gain", 2}}, frames, {noteOn(0, 69, 127)}, 0, {1, 0, 0, 0}, rate);
        EXPECT_NEAR(measureFrequency(out, frames / 4, frames, rate), 440.0, 0.05) << rate;
        EXPECT_NEAR(peak(out, frames / 2, frames), kCarrier * 2, 1e-4) << rate;
    }
    EXPECT_NEAR(peak(play({}, 9600, {noteOn(0, 69, 64)}), 4800, 9600), kCarrier * 64.0 / 127.0, 1e-4);
}

TEST(FmNode, EachAlgorithmSoundsExactlyItsCarriersScaledByOneOverRootN) {
    for (int a = 0; a < 8; ++a) {
        const std::uint32_t carriers = fmAlgorithmTable[a].carriers;
        for (std::size_t k = 0; k < 4; ++k) {
            std::array<float, 4> levels{};
            levels[k] = 1;
            const double expected = carriers & (1u << k) ? kCarrier / std::sqrt(std::popcount(carriers)) : 0.0;
            EXPECT_NEAR(peak(play({}, 4800, {noteOn(0, 69, 127)}, a, levels), 2400, 4800), expected, 1e-4)
                << "algorithm " << a << ", operator " << k + 1;
        }
    }
}

TEST(FmNode, FeedbackMakesOperatorFourBrighterButNotLouder) {
    // Mean step between samples: grows with the energy in the upper harmonics.
    auto roughness = [](const Signal& v) {
        double sum = 0.0;
        for (std::size_t i = 4801; i < v.size(); ++i) sum += std::fabs(static_cast<double>(v[i] - v[i - 1]));
        return sum;
    };
    const Signal plain = play({}, 9600, {noteOn(0, 69, 127)}, 7, {0, 0, 0, 1});
    const Signal buzzy = play({{"feedback", 1}}, 9600, {noteOn(0, 69, 127)}, 7, {0, 0, 0, 1});
    EXPECT_LE(peak(buzzy, 4800, 9600), peak(plain, 4800, 9600) + 1e-4);
    EXPECT_GT(roughness(buzzy), 1.3 * roughness(plain));
}

TEST(FmNode, ReleasedVoiceFadesWithTheReleaseTimeThenGivesExactZeros) {
    for (double rate : {44100.0, 96000.0}) {
        const int off = static_cast<int>(rate * 0.1), ms = static_cast<int>(rate / 1000);
        const Signal out = play({{"release_ms", 100}}, static_cast<int>(rate), {noteOn(0, 69, 127), noteOff(off, 69)},
                                0, {1, 0, 0, 0}, rate);
        // After one release time the level is e^-3 of where it was (a window of one 440 Hz cycle).
        EXPECT_NEAR(peak(out, off + 99 * ms, off + 99 * ms + ms * 23 / 10), kCarrier * std::exp(-3.0), 0.001) << rate;
        // Silence at 1e-5 takes ln(1e5) / 3 release times, 384 ms; exact zeros after.
        EXPECT_GT(peak(out, off + 370 * ms, off + 380 * ms), 0.0) << rate;
        EXPECT_EQ(peak(out, off + 390 * ms, static_cast<int>(rate)), 0.0) << rate;
    }
}

}  // namespace
}  // namespace ostrel::engine
