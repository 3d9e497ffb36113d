#include "devices/modules/VcfNode.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <limits>

#include "DeviceHarness.h"
#include "devices/Dsp.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// Steady-state gain for a sine at `hz` through the filter.
double gainAt(double hz, Knobs knobs, double rate = 48000.0, const Signal* control = nullptr) {
    VcfNode f;
    f.prepare(rate);
    setKnobs(f, knobs);
    const int frames = static_cast<int>(rate * 2);
    const Signal in = sine(hz, rate, frames);
    const Render r{.rate = rate, .inputs = {&in, control}};
    return peak(render(f, frames, r), frames / 2, frames);
}

// The trapezoidal SVF is prewarped: at its cutoff every mode has gain exactly 1 / k,
// 1 / 1.6 at the default resonance of 0.2.
TEST(VcfNode, EveryModeHasGainOneOverKAtTheCutoff) {
    for (double rate : kRates)
        for (float cutoff : {100.0f, 1000.0f, 5000.0f})
            for (float mode : {0.0f, 1.0f, 2.0f})
                EXPECT_NEAR(gainAt(cutoff, {{"mode", mode}, {"cutoff_hz", cutoff}}, rate), 1.0 / 1.6, 0.01)
                    << rate << " Hz rate, cutoff " << cutoff << ", mode " << mode;
    // Full resonance acts as 0.98, so the filter never runs away.
    EXPECT_NEAR(gainAt(1000.0, {{"resonance", 1}}), 1.0 / 0.04, 0.5);
}

TEST(VcfNode, RingingDecaysToExactZeroAndNothingPluggedInIsSilence) {
    VcfNode f;
    f.prepare(48000.0);
    setKnob(f, "resonance", 0.9f);
    const Signal in = impulse(48000 * 4);
    Render r;
    r.inputs = {&in};
    const Signal out = render(f, static_cast<int>(in.size()), r);
    EXPECT_NE(out[10], 0.0f);
    EXPECT_EQ(out.back(), 0.0f);
    EXPECT_EQ(render(f, 64), constant(64, 0.0f));
}

}  // namespace
}  // namespace ostrel::engine

namespace ostrel::engine {
namespace {

using namespace harness;

enum class Tangent { Library, Approximation };

// The filter's formula frame by frame, coefficients computed afresh every frame, with
// the library's tan or the approximation the filter uses.
Signal formulaVcf(const Signal& in, const Signal& control, double cutoff, double k, double cvAmount, int mode,
                  double rate, Tangent tangent) {
    Signal out(in.size());
    double ic1 = 0.0, ic2 = 0.0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        double fc = cutoff * std::exp2(cvAmount * control[i]);
        fc = std::fmin(std::fmax(fc, 10.0), 0.45 * rate);
        double a1, a2, a3;
        if (tangent == Tangent::Approximation) {
            const dsp::SvfCoefficients a = dsp::svfCoefficients(fc, rate, k);
            a1 = a.a1, a2 = a.a2, a3 = a.a3;
        } else {
            const double g = std::tan(std::numbers::pi * fc / rate);
            a1 = 1.0 / (1.0 + g * (g + k));
            a2 = g * a1;
            a3 = g * a2;
        }
        const double x = in[i];
        const double d = x - ic2;
        const double band = a1 * ic1 + a2 * d;
        const double low = ic2 + a2 * ic1 + a3 * d;
        ic1 = 2.0 * band - ic1;
        ic2 = 2.0 * low - ic2;
        out[i] = static_cast<float>(mode == 0 ? low : mode == 1 ? x - k * band - low : band);
        dsp::flushTiny(ic1);
        dsp::flushTiny(ic2);
    }
    return out;
}

// A control that holds, steps, sweeps over the whole range and holds again.
Signal movingControl(int frames) {
    Signal control(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        float v = i < 900 ? 0.0f : 0.5f;
        if (i >= 2000 && i < 6000) v = -3.0f + 8.0f * (i - 2000) / 4000.0f;  // 10 Hz up to the top
        if (i >= 6000) v = 1.25f;
        control[static_cast<std::size_t>(i)] = v;
    }
    control[950] = std::numeric_limits<float>::quiet_NaN();
    return control;
}

TEST(VcfNode, HeldCutoffAndCoefficientsGiveTheFormulaBitForBit) {
    const int frames = 8000;
    const Signal in = sine(1234.5, kRate, frames, 0.8f);
    const Signal control = movingControl(frames);
    for (int mode = 0; mode < 3; ++mode) {
        for (std::vector<int> blocks : {std::vector<int>{512}, std::vector<int>{64, 100, 7}, std::vector<int>{63, 65, 1}}) {
            VcfNode f;
            f.prepare(kRate);
            setKnobs(f, {{"mode", mode}, {"cutoff_hz", 800}, {"resonance", 0.7}, {"cv_amount", 1.5}});
            const Signal out = render(f, frames, Render{.blocks = blocks, .inputs = {&in, &control}});
            const double k = 2.0 - 2.0 * static_cast<double>(0.7f);
            const Signal expected = formulaVcf(in, control, 800.0, k, 1.5, mode, kRate, Tangent::Approximation);
            ASSERT_EQ(std::memcmp(out.data(), expected.data(), out.size() * sizeof(float)), 0)
                << "mode " << mode << ", " << blocks.size() << " block sizes";
        }
    }
}

// Filters on one thread share what they remember of exp2 and of the last block's
// coefficients: two of them taking turns block by block, on the same control or on
// controls that sweep through thousands of values, with the same knobs or not, each still
// give the formula's samples.
TEST(VcfNode, FiltersTakingTurnsOnOneThreadEachGiveTheFormula) {
    const int frames = 8000;
    const int block = 100;
    const Signal in = sine(700.0, kRate, frames, 0.8f);
    const Signal upward = movingControl(frames);
    const Signal downward = [&] {
        Signal control(static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i) control[static_cast<std::size_t>(i)] = 2.0f - 5.0f * i / frames;
        return control;
    }();
    struct Voice {
        const Signal* control;
        float cutoff;
        float resonance;
        float cvAmount;
    };
    const std::pair<Voice, Voice> pairs[] = {
        {{&upward, 900, 0.5f, 1.0f}, {&downward, 900, 0.5f, 1.0f}},  // other controls
        {{&upward, 900, 0.5f, 1.0f}, {&upward, 900, 0.5f, 1.0f}},    // one sweep, one set of knobs
        {{&upward, 900, 0.5f, 1.0f}, {&upward, 1200, 0.5f, 1.0f}},   // another cutoff
        {{&upward, 900, 0.5f, 1.0f}, {&upward, 900, 0.9f, 1.0f}},    // another resonance
        {{&upward, 900, 0.5f, 1.0f}, {&upward, 900, 0.5f, 2.0f}},    // another amount
    };
    for (const auto& [first, second] : pairs) {
        const Voice voices[] = {first, second};
        VcfNode filters[2];
        Signal outs[2] = {Signal(static_cast<std::size_t>(frames)), Signal(static_cast<std::size_t>(frames))};
        for (int v = 0; v < 2; ++v) {
            filters[v].prepare(kRate);
            setKnobs(filters[v], {{"cutoff_hz", voices[v].cutoff},
                                  {"resonance", voices[v].resonance},
                                  {"cv_amount", voices[v].cvAmount}});
        }
        AudioBuffer input(1, block), controlBuffer(1, block), out(1, block);
        for (int start = 0; start < frames; start += block) {
            for (int v = 0; v < 2; ++v) {
                std::copy_n(in.begin() + start, block, input.channel(0));
                std::copy_n(voices[v].control->begin() + start, block, controlBuffer.channel(0));
                const AudioBuffer* slots[] = {&input, &controlBuffer};
                ProcessContext context;
                context.frames = block;
                context.sampleRate = kRate;
                context.position = start;
                filters[v].process(context, slots, out);
                std::copy_n(out.channel(0), block, outs[v].begin() + start);
            }
        }
        for (int v = 0; v < 2; ++v) {
            const double k = 2.0 - 2.0 * static_cast<double>(voices[v].resonance);
            const Signal expected = formulaVcf(in, *voices[v].control, voices[v].cutoff, k, voices[v].cvAmount, 0,
                                               kRate, Tangent::Approximation);
            EXPECT_EQ(std::memcmp(outs[v].data(), expected.data(), expected.size() * sizeof(float)), 0)
                << "filter " << v << ": cutoff " << voices[v].cutoff << ", resonance " << voices[v].resonance
                << ", amount " << voices[v].cvAmount;
        }
    }
}

// Swept across every cutoff it can take, the approximation stays over 100 dB below the
// signal: nobody hears it.
TEST(VcfNode, TheTangentApproximationIsInaudibleOverTheWholeRange) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const int frames = static_cast<int>(rate);
        const Signal in = sine(440.0, rate, frames, 1.0f);
        Signal control(static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i) control[static_cast<std::size_t>(i)] = -1.0f + 12.0f * i / frames;
        for (double k : {0.04, 1.6}) {
            const Signal library = formulaVcf(in, control, 20.0, k, 1.0, 2, rate, Tangent::Library);
            const Signal approximation = formulaVcf(in, control, 20.0, k, 1.0, 2, rate, Tangent::Approximation);
            double worst = 0.0;
            for (std::size_t i = 0; i < library.size(); ++i)
                worst = std::max(worst, std::fabs(static_cast<double>(library[i]) - approximation[i]));
            EXPECT_LT(worst, 1e-5) << rate << " Hz, k " << k;  // -100 dBFS
        }
    }
}

}  // namespace
}  // namespace ostrel::engine
