#include "devices/FmNode.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include "ModuleHarness.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

constexpr int kSecond = 48000;

std::string opKnob(int op, const char* what) { return "op" + std::to_string(op) + "_" + what; }

void setLevels(FmNode& fm, float l1, float l2, float l3, float l4) {
    const float levels[4] = {l1, l2, l3, l4};
    for (int op = 1; op <= 4; ++op) setKnob(fm, opKnob(op, "level").c_str(), levels[op - 1]);
}

std::vector<float> play(FmNode& fm, int frames, std::vector<Timed> events, double rate = 48000.0) {
    fm.prepare(rate);
    Render r;
    r.rate = rate;
    r.events = std::move(events);
    return render(fm, frames, r);
}

std::vector<float> holdNote(FmNode& fm, int frames, int note = 69, int velocity = 127) {
    return play(fm, frames, {noteOn(0, note, velocity)});
}

// Frames at which the output is not exactly zero, from `from` on.
int lastNonZero(const std::vector<float>& v) {
    for (int i = static_cast<int>(v.size()) - 1; i >= 0; --i)
        if (v[static_cast<std::size_t>(i)] != 0.0f) return i;
    return -1;
}

TEST(FmNodeKnobs, MatchTheTableWithOnlyOperatorOneSounding) {
    std::vector<KnobRow> rows = {
        {"algorithm", "Algorithm", "", 0, 7, 0, ParamKind::Stepped},
        {"feedback", "Feedback", "%", 0, 1, 0, ParamKind::Continuous},
        {"gain", "Gain", "%", 0, 2, 1, ParamKind::Continuous},
        {"release_ms", "Release", "ms", 1, 5000, 200, ParamKind::Continuous},
        {"tune_cents", "Tune", "ct", -100, 100, 0, ParamKind::Continuous},
        {"voice", "Voice", "", -1, 15, -1, ParamKind::Stepped},
        {"note", "Only note", "", -1, 127, -1, ParamKind::Stepped},
    };
    static const char* const kIds[4][5] = {
        {"op1_ratio", "op1_level", "op1_attack_ms", "op1_decay_ms", "op1_sustain"},
        {"op2_ratio", "op2_level", "op2_attack_ms", "op2_decay_ms", "op2_sustain"},
        {"op3_ratio", "op3_level", "op3_attack_ms", "op3_decay_ms", "op3_sustain"},
        {"op4_ratio", "op4_level", "op4_attack_ms", "op4_decay_ms", "op4_sustain"}};
    static const char* const kNames[4][5] = {
        {"Op 1 ratio", "Op 1 level", "Op 1 attack", "Op 1 decay", "Op 1 sustain"},
        {"Op 2 ratio", "Op 2 level", "Op 2 attack", "Op 2 decay", "Op 2 sustain"},
        {"Op 3 ratio", "Op 3 level", "Op 3 attack", "Op 3 decay", "Op 3 sustain"},
        {"Op 4 ratio", "Op 4 level", "Op 4 attack", "Op 4 decay", "Op 4 sustain"}};
    for (int k = 0; k < 4; ++k) {
        rows.push_back({kIds[k][0], kNames[k][0], "x", 0.25f, 16, 1, ParamKind::Continuous});
        rows.push_back({kIds[k][1], kNames[k][1], "%", 0, 1, k == 0 ? 1.0f : 0.0f, ParamKind::Continuous});
        rows.push_back({kIds[k][2], kNames[k][2], "ms", 0, 2000, 1, ParamKind::Continuous});
        rows.push_back({kIds[k][3], kNames[k][3], "ms", 1, 5000, 300, ParamKind::Continuous});
        rows.push_back({kIds[k][4], kNames[k][4], "%", 0, 1, 1, ParamKind::Continuous});
    }
    FmNode fm;
    expectKnobTable(fm, rows);
}

TEST(FmNodeKnobs, EveryNodeSharesTheOneTable) {
    FmNode a, b;
    EXPECT_EQ(a.params.descriptors().data(), b.params.descriptors().data());
    EXPECT_EQ(FmNode::paramTable().data(), a.params.descriptors().data());
    EXPECT_EQ(FmNode::paramTable().size(), 27u);
}

TEST(FmNodeAlgorithms, TableSaysWhoModulatesWhomAndWhoIsHeard) {
    const std::uint32_t expected[8][5] = {{2, 4, 8, 0, 1},  {6, 0, 8, 0, 1}, {2, 12, 0, 0, 1}, {2, 0, 8, 0, 5},
                                          {14, 0, 0, 0, 1}, {8, 8, 8, 0, 7}, {2, 0, 0, 0, 13}, {0, 0, 0, 0, 15}};
    for (int a = 0; a < 8; ++a) {
        SCOPED_TRACE(a);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(fmAlgorithmTable[a].modulators[k], expected[a][k]);
            // Only higher-numbered operators modulate, or the 4-down-to-1 order would read stale outputs.
            EXPECT_EQ(fmAlgorithmTable[a].modulators[k] & ((2u << k) - 1), 0u);
        }
        EXPECT_EQ(fmAlgorithmTable[a].carriers, expected[a][4]);
    }
}

TEST(FmNodeSine, DefaultSynthPlaysA440SineWhosePeakSettlesAtTheCarrierLevel) {
    for (double rate : kRates) {
        SCOPED_TRACE(rate);
        const int frames = static_cast<int>(rate / 2);
        for (float gain : {1.0f, 2.0f, 0.5f}) {
            FmNode fm;
            setKnob(fm, "gain", gain);
            const std::vector<float> out = play(fm, frames, {noteOn(0, 69, 127)}, rate);
            EXPECT_NEAR(measureFrequency(out, frames / 4, frames, rate), 440.0, 0.05);
            EXPECT_NEAR(peak(out, frames / 2, frames), 0.18 * gain, 1e-4);
        }
    }
}

TEST(FmNodeSine, TuneShiftsThePitchInCents) {
    FmNode fm;
    setKnob(fm, "tune_cents", 100.0f);
    const std::vector<float> out = holdNote(fm, kSecond / 2);
    EXPECT_NEAR(cents(measureFrequency(out, 4800, kSecond / 2, 48000.0), 440.0), 100.0, 0.2);
}

TEST(FmNodeSine, RatioMultipliesTheOperatorsPitch) {
    FmNode fm;
    setKnob(fm, "op1_ratio", 0.5f);
    const std::vector<float> out = holdNote(fm, kSecond / 2, 81);
    EXPECT_NEAR(measureFrequency(out, 4800, kSecond / 2, 48000.0), 440.0, 0.05);
}

TEST(FmNodeSine, CarrierFollowsVelocity) {
    FmNode fm;
    const std::vector<float> out = holdNote(fm, 9600, 69, 64);
    EXPECT_NEAR(peak(out, 4800, 9600), 0.18 * 64.0 / 127.0, 1e-4);
}

TEST(FmNodeCarriers, FourPlainTonesAreSummedAndScaledByHalfTheCarrierLevel) {
    FmNode fm;
    setKnob(fm, "algorithm", 7.0f);
    setLevels(fm, 1, 1, 1, 1);
    const std::vector<float> out = holdNote(fm, 9600);
    // Same ratio, same phase: four equal sines add up to four times one.
    EXPECT_NEAR(peak(out, 4800, 9600), 4.0 * 0.18 / 2.0, 1e-4);
}

TEST(FmNodeCarriers, EachAlgorithmSoundsExactlyItsCarriersScaledByOneOverRootN) {
    for (int a = 0; a < 8; ++a) {
        const std::uint32_t carriers = fmAlgorithmTable[a].carriers;
        const double scale = 0.18 / std::sqrt(static_cast<double>(std::popcount(carriers)));
        for (int k = 0; k < 4; ++k) {
            SCOPED_TRACE("algorithm " + std::to_string(a) + ", operator " + std::to_string(k + 1));
            FmNode fm;
            setKnob(fm, "algorithm", static_cast<float>(a));
            setLevels(fm, k == 0, k == 1, k == 2, k == 3);
            const std::vector<float> out = holdNote(fm, 4800);
            if (carriers & (1u << k)) {
                EXPECT_NEAR(peak(out, 2400, 4800), scale, 1e-4);
            } else {
                EXPECT_EQ(peak(out, 0, 4800), 0.0);
            }
        }
    }
}

// With only a carrier c and an operator m above it at full level, the output is the
// plain sum of what each gives alone exactly when m does not modulate c.
TEST(FmNodeModulation, AnOperatorBendsACarrierOnlyWhereTheAlgorithmSaysSo) {
    for (int a = 0; a < 8; ++a) {
        for (int c = 0; c < 4; ++c) {
            if (!(fmAlgorithmTable[a].carriers & (1u << c))) continue;
            for (int m = c + 1; m < 4; ++m) {
                SCOPED_TRACE("algorithm " + std::to_string(a) + ", " + std::to_string(m + 1) + " into " +
                             std::to_string(c + 1));
                auto run = [&](bool withC, bool withM) {
                    FmNode fm;
                    setKnob(fm, "algorithm", static_cast<float>(a));
                    setKnob(fm, opKnob(m + 1, "ratio").c_str(), 2.0f);
                    float levels[4] = {0, 0, 0, 0};
                    if (withC) levels[c] = 1.0f;
                    if (withM) levels[m] = 1.0f;
                    setLevels(fm, levels[0], levels[1], levels[2], levels[3]);
                    return holdNote(fm, 2400);
                };
                const std::vector<float> both = run(true, true), carrier = run(true, false), mod = run(false, true);
                double maxDiff = 0.0;
                for (std::size_t i = 0; i < both.size(); ++i)
                    maxDiff = std::max(maxDiff, std::fabs(static_cast<double>(both[i] - carrier[i] - mod[i])));
                const bool modulates = fmAlgorithmTable[a].modulators[c] & (1u << m);
                if (modulates) {
                    EXPECT_GT(maxDiff, 0.05);
                } else {
                    EXPECT_LT(maxDiff, 1e-6);
                }
            }
        }
    }
}

TEST(FmNodeModulation, AlgorithmIsTruncatedAndClamped) {
    auto peakWith = [](float algorithm) {
        FmNode fm;
        setKnob(fm, "algorithm", algorithm);
        const std::vector<float> out = holdNote(fm, 4800);
        return peak(out, 2400, 4800);
    };
    // 6.9 plays algorithm 6 (three carriers), not 7 (four).
    EXPECT_NEAR(peakWith(6.9f), 0.18 / std::sqrt(3.0), 1e-4);
    EXPECT_NEAR(peakWith(7.9f), 0.18 / 2.0, 1e-4);
    EXPECT_NEAR(peakWith(-3.0f), 0.18, 1e-4);
}

// Mean step between samples: grows with the energy in the upper harmonics.
double roughness(const std::vector<float>& v, int from, int to) {
    double sum = 0.0;
    for (int i = from + 1; i < to; ++i)
        sum += std::fabs(static_cast<double>(v[static_cast<std::size_t>(i)] - v[static_cast<std::size_t>(i - 1)]));
    return sum / (to - from - 1);
}

TEST(FmNodeFeedback, MakesOperatorFourBrighterButNotLouder) {
    auto run = [](float feedback) {
        FmNode fm;
        setKnob(fm, "algorithm", 7.0f);
        setKnob(fm, "feedback", feedback);
        setLevels(fm, 0, 0, 0, 1);
        return holdNote(fm, 9600);
    };
    const std::vector<float> plain = run(0.0f), buzzy = run(1.0f);
    EXPECT_NEAR(peak(plain, 4800, 9600), 0.09, 1e-4);
    EXPECT_LE(peak(buzzy, 4800, 9600), 0.09 + 1e-4);
    EXPECT_GT(roughness(buzzy, 4800, 9600), 1.3 * roughness(plain, 4800, 9600));
}

TEST(FmNodeFeedback, ReachesOnlyOperatorFour) {
    auto run = [](float feedback) {
        FmNode fm;
        setKnob(fm, "algorithm", 7.0f);
        setKnob(fm, "feedback", feedback);
        setLevels(fm, 1, 1, 1, 0);
        return holdNote(fm, 4800);
    };
    EXPECT_EQ(run(0.0f), run(1.0f));
}

TEST(FmNodeNotes, VoiceFilterIgnoresOtherChannels) {
    FmNode fm;
    setKnob(fm, "voice", 3.0f);
    const std::vector<float> other = play(fm, 2400, {noteOn(0, 60, 100, 2)});
    EXPECT_EQ(peak(other, 0, 2400), 0.0);
    const std::vector<float> own = play(fm, 2400, {noteOn(0, 60, 100, 3)});
    EXPECT_GT(peak(own, 0, 2400), 0.1);
}

TEST(FmNodeNotes, NoteFilterPlaysOnlyItsNote) {
    FmNode fm;
    setKnob(fm, "note", 36.0f);
    EXPECT_EQ(peak(play(fm, 2400, {noteOn(0, 38)}), 0, 2400), 0.0);
    EXPECT_GT(peak(play(fm, 2400, {noteOn(0, 36)}), 0, 2400), 0.1);
}

TEST(FmNodeNotes, NoteOffForAnotherNoteChangesNothing) {
    FmNode fm;
    const std::vector<float> held = play(fm, 9600, {noteOn(0, 60)});
    const std::vector<float> withOff = play(fm, 9600, {noteOn(0, 60), noteOff(100, 62)});
    EXPECT_EQ(held, withOff);
}

TEST(FmNodeNotes, NoteOnWithVelocityZeroReleases) {
    FmNode fm;
    const std::vector<float> out = play(fm, kSecond, {noteOn(0, 60), noteOn(4800, 60, 0)});
    EXPECT_GE(lastNonZero(out), 4800);
    EXPECT_LT(lastNonZero(out), kSecond - 1);
}

TEST(FmNodeNotes, NewNoteRestartsEveryOperatorFromSilence) {
    FmNode fm;
    setKnob(fm, "op1_attack_ms", 100.0f);
    const std::vector<float> out = play(fm, 9600, {noteOn(0, 60), noteOff(6000, 60), noteOn(6100, 64)});
    EXPECT_GT(peak(out, 5800, 6000), 0.13);
    // 100 ms attack: 2 ms after the new note the envelope is only 2 % of the way up.
    EXPECT_LT(peak(out, 6100, 6196), 0.18 * 0.021);
}

TEST(FmNodeEnvelope, AttackOfZeroBehavesAsHalfAMillisecond) {
    auto run = [](float attack) {
        FmNode fm;
        setKnob(fm, "op1_attack_ms", attack);
        return holdNote(fm, 200);
    };
    EXPECT_EQ(run(0.0f), run(0.5f));
    // And half a millisecond is 24 frames at 48 kHz: full level only after them.
    const std::vector<float> out = run(0.0f);
    EXPECT_LT(peak(out, 0, 12), 0.18 * 0.55);
}

TEST(FmNodeEnvelope, SustainZeroDiesAwayWhileTheKeyIsHeld) {
    FmNode fm;
    setKnob(fm, "op1_sustain", 0.0f);
    setKnob(fm, "op1_decay_ms", 50.0f);
    const std::vector<float> out = holdNote(fm, kSecond);
    EXPECT_GT(peak(out, 0, 480), 0.15);
    // 50 ms takes the level to e^-3 of full; 500 ms to e^-30.
    EXPECT_NEAR(peak(out, 2400, 2500), 0.18 * std::exp(-3.0), 0.002);
    EXPECT_LT(peak(out, kSecond - 480, kSecond), 1e-12);
}

TEST(FmNodeRelease, FadesWithTheReleaseTimeThenOutputsExactZeros) {
    for (double rate : kRates) {
        SCOPED_TRACE(rate);
        FmNode fm;
        setKnob(fm, "release_ms", 100.0f);
        const int off = static_cast<int>(rate * 0.1);
        const int frames = static_cast<int>(rate);
        const std::vector<float> out = play(fm, frames, {noteOn(0, 69, 127), noteOff(off, 69)}, rate);
        const int ms = static_cast<int>(rate / 1000);
        // After one release time the level is e^-3 of where it was (a window of one 440 Hz cycle).
        EXPECT_NEAR(peak(out, off + 99 * ms, off + 99 * ms + ms * 23 / 10), 0.18 * std::exp(-3.0), 0.001);
        // Silence at 1e-5 takes ln(1e5) / 3 release times, 384 ms.
        const int last = lastNonZero(out);
        EXPECT_GT(last, off + 370 * ms);
        EXPECT_LT(last, off + 390 * ms);
    }
}

TEST(FmNodeRelease, SilentVoiceClearsEveryChannelOfTheOutput) {
    FmNode fm;
    fm.prepare(48000.0);
    AudioBuffer out(2, 64);
    std::fill(out.data.begin(), out.data.end(), 0.7f);
    ProcessContext ctx;
    ctx.frames = 64;
    fm.process(ctx, {}, out);
    for (float v : out.data) EXPECT_EQ(v, 0.0f);
}

TEST(FmNodeRelease, ResetSilencesAPlayingVoice) {
    FmNode fm;
    fm.prepare(48000.0);
    Render r;
    r.events = {noteOn(0, 60)};
    render(fm, 1000, r);
    fm.reset();
    EXPECT_EQ(peak(render(fm, 1000), 0, 1000), 0.0);
}

TEST(FmNodeBlocks, OutputDoesNotDependOnTheBlockSize) {
    auto run = [](std::vector<int> blocks) {
        FmNode fm;
        setKnob(fm, "algorithm", 1.0f);
        setLevels(fm, 1, 0.5f, 0.3f, 0.4f);
        setKnob(fm, "feedback", 0.4f);
        fm.prepare(48000.0);
        Render r;
        r.blocks = std::move(blocks);
        r.channels = 2;
        r.events = {noteOn(10, 60), noteOff(3000, 60), noteOn(5000, 67), noteOff(9000, 67)};
        return renderChannels(fm, 20000, r);
    };
    const auto reference = run({512});
    EXPECT_EQ(reference[0], reference[1]);
    EXPECT_EQ(run({64}), reference);
    EXPECT_EQ(run({1024}), reference);
    EXPECT_EQ(run({1, 37, 500, 13, 256}), reference);
}

TEST(FmNodeRealtime, ProcessNeverAllocates) {
    FmNode fm;
    setLevels(fm, 1, 1, 1, 1);
    fm.prepare(48000.0);
    AudioBuffer out(2, 512);
    Event on;
    on.type = EventType::NoteOn;
    on.note = 60;
    on.velocity = 100;
    ProcessContext ctx;
    ctx.frames = 512;
    ctx.events = std::span<const Event>(&on, 1);
    test::AllocationCounter counter;
    fm.process(ctx, {}, out);
    ctx.events = {};
    fm.process(ctx, {}, out);
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
