#include "devices/Dsp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <utility>
#include <vector>

namespace ostrel::engine {
namespace {

TEST(Decibels, KnownLevelsAndBackAgain) {
    EXPECT_EQ(dsp::dbToGain(0.0f), 1.0f);
    EXPECT_NEAR(dsp::dbToGain(-6.0f), 0.501187f, 1e-6f);
    EXPECT_NEAR(dsp::gainToDb(0.1f), -20.0f, 1e-5f);
    for (float db : {-120.0f, -37.5f, 12.0f, 24.0f}) EXPECT_NEAR(dsp::gainToDb(dsp::dbToGain(db)), db, 1e-4f);
}

TEST(Blend, LandsExactlyOnEitherEndAndWeighsBetween) {
    EXPECT_EQ(dsp::blend(0.3f, 0.7f, 0.0f), 0.3f);
    EXPECT_EQ(dsp::blend(0.3f, 0.7f, 1.0f), 0.7f);
    EXPECT_FLOAT_EQ(dsp::blend(1.0f, 3.0f, 0.25f), 1.5f);
}

// A step through n time constants reaches 1 - e^-n, in every form of the factor.
TEST(OnePole, EveryFactorFormReachesTheAskedTimeConstantsInItsFrames) {
    for (float n : {1.0f, 3.0f, 4.6f}) {
        float x = 0.0f, keep = 0.0f;
        for (int i = 0; i < 1000; ++i) {
            dsp::onePole(x, 1.0f, dsp::onePoleFactor(1000.0f, n));
            dsp::onePoleKeep(keep, 1.0f, dsp::onePoleKeepFactor(1000.0f / n));
        }
        EXPECT_NEAR(x, 1.0f - std::exp(-n), 1e-4f) << n;
        EXPECT_NEAR(keep, x, 1e-4f) << n;
    }
    // The double form is the same factor, without the float's cancellation in 1 - exp.
    EXPECT_NEAR(dsp::onePoleFactor(1000.0, 3.0), 1.0 - std::exp(-0.003), 1e-15);
    EXPECT_NEAR(dsp::onePoleFactor(1000.0, 3.0), dsp::onePoleFactor(1000.0f, 3.0f), 1e-7);
    // No frames: jump at once.
    EXPECT_EQ(dsp::onePoleFactor(0.0f), 1.0f);
    EXPECT_EQ(dsp::onePoleFactor(-5.0, 3.0), 1.0);
    EXPECT_EQ(dsp::onePoleKeepFactor(0.0f), 0.0f);
    // At a corner frequency the time constant is one radian of it.
    EXPECT_NEAR(dsp::onePoleFactorAt(1000.0, 48000.0),
                dsp::onePoleFactor(static_cast<float>(48000.0 / (2.0 * std::numbers::pi * 1000.0))), 1e-6f);
}

TEST(Glide, TakesItsFirstTargetAtOnceThenOnlyAfterARestart) {
    dsp::Glide glide;
    glide.begin(0.8f);
    EXPECT_EQ(glide.value, 0.8f);
    dsp::onePole(glide.value, 0.2f, 0.5f);
    glide.begin(0.2f);  // a later block glides on from where it is
    EXPECT_FLOAT_EQ(glide.value, 0.5f);
    glide.restart();
    glide.begin(0.3f);
    EXPECT_EQ(glide.value, 0.3f);
}

}  // namespace
}  // namespace ostrel::engine

namespace ostrel::engine {
namespace {

// The filter's tangent over every cutoff it can be given (10 Hz to 0.45 times the rate)
// at the rates the engine runs: the approximation and the coefficients made from it stay
// within 4e-9 of the library's tan, about a thousandth of a cent of cutoff.
TEST(TanRatio, StaysWithinItsBoundOverTheWholeCutoffRangeAtEveryRate) {
    for (double rate : {44100.0, 48000.0, 88200.0, 96000.0}) {
        double worstG = 0.0, worstA = 0.0;
        const double top = 0.45 * rate;
        for (int i = 0; i <= 20000; ++i) {
            // Log-spaced from 10 Hz to the top, the top itself included.
            const double fc = 10.0 * std::pow(top / 10.0, i / 20000.0);
            const double x = std::numbers::pi * fc / rate;
            const dsp::TanRatio r = dsp::tanRatio(x);
            const double exact = std::tan(x);
            worstG = std::max(worstG, std::fabs(r.num / r.den / exact - 1.0));
            for (double k : {0.04, 1.0, 2.0}) {
                const dsp::SvfCoefficients a = dsp::svfCoefficients(fc, rate, k);
                const double a1 = 1.0 / (1.0 + exact * (exact + k));
                const double a2 = exact * a1;
                const double a3 = exact * a2;
                worstA = std::max({worstA, std::fabs(a.a1 / a1 - 1.0), std::fabs(a.a2 / a2 - 1.0),
                                   std::fabs(a.a3 / a3 - 1.0)});
            }
        }
        EXPECT_LT(worstG, 4e-9) << rate;
        EXPECT_LT(worstA, 8e-9) << rate;  // a3 carries g twice
        EXPECT_GT(worstG, 0.0) << "compared with itself?";
    }
    // Far below the top it is as good as the library's.
    EXPECT_LT(std::fabs(dsp::tanRatio(0.5).num / dsp::tanRatio(0.5).den / std::tan(0.5) - 1.0), 1e-14);
}

// The FM operators and sine waves depend on it: within a double rounding of the
// library's sine over the arguments they give it (phase plus up to tens of radians of
// modulation), so their float samples come out the same.
TEST(Sine, StaysWithinADoubleRoundingOfTheLibrary) {
    double worst = 0.0;
    int floatsDiffering = 0;
    for (int i = -400000; i <= 400000; ++i) {
        const double x = i * 1.0e-4 + i * 1.0e-13;  // -40..40 rad, off the grid of round numbers
        const double exact = std::sin(x);
        const double ours = dsp::sin(x);
        worst = std::max(worst, std::fabs(ours - exact));
        floatsDiffering += static_cast<float>(ours) != static_cast<float>(exact) ? 1 : 0;
    }
    EXPECT_LE(worst, 4.5e-16);
    EXPECT_LE(floatsDiffering, 1);
    // Exact at the quadrant points the phase passes through, and odd.
    EXPECT_EQ(dsp::sin(0.0), 0.0);
    EXPECT_EQ(dsp::sin(std::numbers::pi / 2), 1.0);
    EXPECT_EQ(dsp::sin(-0.7), -dsp::sin(0.7));
    // Beyond its range it hands over to the library, NaN and infinity included.
    EXPECT_EQ(dsp::sin(3.0e6), std::sin(3.0e6));
    EXPECT_TRUE(std::isnan(dsp::sin(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_TRUE(std::isnan(dsp::sin(std::numeric_limits<double>::infinity())));
}

// The filter and oscillator bound their frequencies with it in place of the library's
// fmin and fmax, and promise the same samples: the same bits for every value, NaN and
// the infinities included.
TEST(Bounded, GivesFminOfFmaxToTheBit) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {nan, -nan, inf, -inf, 0.0, -0.0, 9.999999999, 10.0, 10.000000001, 440.0,
                             21599.999, 21600.0, 21600.0000001, 1e300, -1e300, 5e-324};
    for (const auto& [lo, hi] : {std::pair{10.0, 21600.0}, std::pair{0.01, 19845.0}, std::pair{-1.0, 1.0}}) {
        for (double v : values) {
            const double expected = std::fmin(std::fmax(v, lo), hi);
            const double got = dsp::bounded(v, lo, hi);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(expected))
                << v << " within " << lo << ".." << hi;
        }
    }
}

TEST(XorShift32, AStepBackUndoesAStep) {
    dsp::XorShift32 random{0x92D68CA2u};
    std::vector<std::uint32_t> states;
    for (int i = 0; i < 1000; ++i) states.push_back(random.step());
    for (int i = 998; i >= 0; --i) {
        random.unstep();
        ASSERT_EQ(random.state, states[static_cast<std::size_t>(i)]) << i;
    }
    random.unstep();
    EXPECT_EQ(random.state, 0x92D68CA2u);
}

// A sleeping noise module jumps over its block in one go and must land where the steps
// would have: every count, the sequence's full period of 2^32 - 1 back to the start.
TEST(XorShift32, ASkipLandsWhereThatManyStepsWould) {
    for (std::uint32_t seed : {0x92D68CA2u, 1u, 0x80000000u, 0xFFFFFFFFu}) {
        for (std::uint64_t count : {0u, 1u, 2u, 3u, 63u, 64u, 100u, 511u, 512u, 513u, 1000u, 4096u, 123457u}) {
            dsp::XorShift32 stepped{seed}, skipped{seed};
            for (std::uint64_t i = 0; i < count; ++i) stepped.step();
            skipped.skip(count);
            ASSERT_EQ(skipped.state, stepped.state) << seed << " after " << count;
        }
        dsp::XorShift32 around{seed};
        around.skip(0xFFFFFFFFull);
        EXPECT_EQ(around.state, seed);
        around.skip(0xFFFFFFFFull * 3 + 5);
        dsp::XorShift32 five{seed};
        for (int i = 0; i < 5; ++i) five.step();
        EXPECT_EQ(around.state, five.state);
    }
}

// A sleeping oscillator jumps its phase over the block and must land on the bits the
// frame-by-frame sums give: every pitch from sub-audio to near Nyquist at several
// rates, phases from exact zero to the last double below 1, steps lying exactly half-way
// between two multiples of a binade's spacing, and steps it must take one by one.
TEST(AdvancePhase, LandsOnTheBitsOfEveryStep) {
    const auto stepped = [](double phase, double step, std::int64_t frames) {
        for (std::int64_t i = 0; i < frames; ++i) {
            phase += step;
            if (phase >= 1.0) phase -= std::floor(phase);
        }
        return phase;
    };
    std::vector<double> steps;
    for (double rate : {8000.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
        for (double hz = 0.01; hz < 0.49 * rate; hz *= 1.37) steps.push_back(hz / rate);
    }
    // Half-way cases: k + 0.5 spacings of the binades [2^-2, 2^-1) and [2^-8, 2^-7).
    steps.insert(steps.end(), {std::ldexp(12345.5, -54), std::ldexp(3.5, -60), std::ldexp(1.0, -9), 0.25, 0.4999});
    steps.insert(steps.end(), {0.5, 0.75, 1.5, 0.0, -0.01, std::numeric_limits<double>::quiet_NaN()});
    const double phases[] = {0.0, 0x1p-40, 1e-9, 0.1, 0.25, 0.3333333333333333, 0.5, 0.75,
                             std::nextafter(1.0, 0.0), -0.2, 1.25};
    std::uint64_t compared = 0;
    for (double step : steps) {
        for (double phase : phases) {
            for (std::int64_t frames : {0, 1, 2, 7, 64, 511, 512, 4096, 48000}) {
                const double expected = stepped(phase, step, frames);
                const double got = dsp::advancePhase(phase, step, frames);
                ASSERT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(expected))
                    << "phase " << phase << ", step " << step << ", " << frames << " frames";
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 10000u);
}

}  // namespace
}  // namespace ostrel::engine
