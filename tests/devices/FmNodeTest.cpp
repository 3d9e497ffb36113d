#include "devices/FmNode.h"

#include <array>
#include <bit>

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
