#include "devices/modules/VcoNode.h"

#include <cstring>
#include <limits>
#include <numeric>

#include "DeviceHarness.h"
#include "devices/Dsp.h"

namespace ostrel::engine {
namespace {

using namespace harness;

Signal play(Knobs knobs, std::vector<const Signal*> inputs = {}, double rate = 48000.0, int frames = 48000) {
    VcoNode v;
    v.prepare(rate);
    setKnobs(v, knobs);
    const Render r{.rate = rate, .inputs = std::move(inputs)};
    return render(v, frames, r);
}

double centsAboveMiddleC(const Signal& out, double rate = 48000.0) {
    return cents(measureFrequency(out, 0, static_cast<int>(out.size()), rate), kMiddleC);
}

TEST(VcoNode, PlaysMiddleCAtEveryRateAndThePitchInputCoarseFineAndFmDepthShiftIt) {
    for (double rate : kRates)
        for (float wave : {0.0f, 2.0f})
            EXPECT_NEAR(centsAboveMiddleC(play({{"waveform", wave}}, {}, rate, static_cast<int>(rate)), rate), 0.0, 0.05)
                << rate << " Hz, wave " << wave;
    const Signal octave = constant(48000, 1.0f), half = constant(48000, 0.5f);
    EXPECT_NEAR(centsAboveMiddleC(play({{"waveform", 0}}, {&octave})), 1200.0, 0.05);
    EXPECT_NEAR(centsAboveMiddleC(play({{"waveform", 0}, {"coarse", 12}, {"fine", -100}})), 1100.0, 0.05);
    EXPECT_NEAR(centsAboveMiddleC(play({{"waveform", 0}, {"fm_depth", 2}}, {nullptr, &half})), 1200.0, 0.05);
}

TEST(VcoNode, FrequencyIsHeldBelowNearlyHalfTheRateAndANotANumberPitchStaysBounded) {
    const Signal high = constant(48000, 10.0f), bad = constant(48000, std::nanf(""));
    EXPECT_NEAR(measureFrequency(play({{"waveform", 0}}, {&high}), 0, 48000, 48000.0), 0.45 * 48000.0, 0.45 * 48);
    for (float s : play({}, {&bad})) ASSERT_TRUE(std::isfinite(s));
}

TEST(VcoNode, PulseWidthSetsTheDutyCycle) {
    for (float pw : {0.25f, 0.75f}) {
        const Signal out = play({{"waveform", 3}, {"level", 1}, {"pulse_width", pw}});
        EXPECT_NEAR(std::accumulate(out.begin(), out.end(), 0.0) / out.size(), 2.0 * pw - 1.0, 0.01) << pw;
    }
}

}  // namespace
}  // namespace ostrel::engine

namespace ostrel::engine {
namespace {

using namespace harness;

// The oscillator's formula frame by frame with nothing kept between frames.
Signal formulaVco(int wave, double offset, const Signal& pitch, const Signal* fm, double fmDepth, double pw, float level,
                  double rate) {
    Signal out(pitch.size());
    double p = 0.0;
    for (std::size_t i = 0; i < pitch.size(); ++i) {
        double octaves = offset + pitch[i];
        if (fm != nullptr) octaves += fmDepth * (*fm)[i];
        double f = VcoNode::kBaseHz * std::exp2(octaves);
        f = std::fmin(std::fmax(f, 0.01), 0.45 * rate);
        const double dt = f / rate;
        double v;
        switch (wave) {
            case 0: v = std::sin(2.0 * std::numbers::pi * p); break;
            case 1: v = 1.0 - 4.0 * std::fabs(p - 0.5); break;
            case 2: v = (2.0 * p - 1.0) - dsp::polyBlep(p, dt); break;
            default: {
                double q = p - pw;
                if (q < 0.0) q += 1.0;
                v = (p < pw ? 1.0 : -1.0) + dsp::polyBlep(p, dt) - dsp::polyBlep(q, dt);
            }
        }
        out[i] = static_cast<float>(v * level);
        p += dt;
        if (p >= 1.0) p -= std::floor(p);
    }
    return out;
}

// A pitch that holds for a while, jumps, glides, holds again, and once is not a number.
Signal steppedPitch(int frames) {
    Signal pitch(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        float v = 0.0f;
        if (i >= 700) v = 7.0f / 12.0f;
        if (i >= 1500 && i < 2300) v = 7.0f / 12.0f - (i - 1500) * 0.0004f;
        if (i >= 2300) v = -1.0f;
        pitch[static_cast<std::size_t>(i)] = v;
    }
    pitch[3001] = std::numeric_limits<float>::quiet_NaN();
    return pitch;
}

TEST(VcoNode, HeldPitchStepsGiveTheFormulaBitForBit) {
    const int frames = 4800;
    const Signal pitch = steppedPitch(frames);
    const Signal fm = sine(3.0, kRate, frames);
    for (int wave = 0; wave < 4; ++wave) {
        for (const Signal* fmIn : {static_cast<const Signal*>(nullptr), &fm}) {
            for (std::vector<int> blocks : {std::vector<int>{512}, std::vector<int>{64, 100, 7}}) {
                VcoNode v;
                v.prepare(kRate);
                setKnobs(v, {{"waveform", wave}, {"coarse", 5}, {"fine", -13}, {"pulse_width", 0.3}, {"fm_depth", 0.5}});
                const Signal out = render(v, frames, Render{.blocks = blocks, .inputs = {&pitch, fmIn}});
                const double offset = 5.0f / 12.0 + -13.0f / 1200.0;
                const Signal expected = formulaVco(wave, offset, pitch, fmIn, 0.5f, 0.3f, 0.5f, kRate);
                ASSERT_EQ(std::memcmp(out.data(), expected.data(), out.size() * sizeof(float)), 0)
                    << "wave " << wave << (fmIn ? " with FM" : "") << ", " << blocks.size() << " block sizes";
            }
        }
    }
}

}  // namespace
}  // namespace ostrel::engine
