#include "devices/effects/EqEffect.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// Gain in dB that the EQ gives a sine of `hz`, over the second and third seconds:
// two seconds hold a whole number of cycles of every frequency used here.
double gainDb(EqEffect& fx, double hz, double rate = 48000.0) {
    fx.prepare(rate);
    const int second = static_cast<int>(rate);
    const Signal in = sine(hz, rate, 3 * second, 0.25f);
    return 20 * std::log10(rms(runEffect(fx, {in, {}}, rate).left, second, 3 * second) / rms(in, second, 3 * second));
}

TEST(EqEffect, ShelfAndBellGainsMeasuredOnSinesMatchTheKnobsWithinATenthOfADecibel) {
    struct Case {
        Knobs knobs;
        std::vector<std::pair<double, double>> hzAndDb;
    };
    const Case cases[] = {
        {{{"low_freq", 80}, {"low_gain", 6}}, {{20, 6.0}, {5000, 0.0}}},
        {{{"high_freq", 1000}, {"high_gain", -9}}, {{15000, -9.0}, {40, 0.0}}},
        {{{"mid1_freq", 400}, {"mid1_gain", 9}, {"mid1_q", 2}, {"mid2_freq", 5000}, {"mid2_gain", -12}, {"mid2_q", 4}},
         {{400, 9.0}, {5000, -12.0}, {30, 0.0}}},
    };
    for (double rate : kRates) {
        for (const Case& c : cases) {
            EqEffect fx;
            setKnobs(fx, c.knobs);
            for (const auto& [hz, db] : c.hzAndDb)
                EXPECT_NEAR(gainDb(fx, hz, rate), db, 0.1) << c.knobs.begin()->first << " at " << hz << " Hz, rate " << rate;
        }
    }
}

TEST(EqEffect, CentreAboveTheLimitIsHeldAt045TimesTheRate) {
    // 12 kHz is past Nyquist at 22.05 kHz; the bell sits at 9922.5 Hz instead.
    EqEffect fx;
    setKnobs(fx, {{"mid2_freq", 12000}, {"mid2_gain", 12}, {"mid2_q", 2}});
    EXPECT_NEAR(gainDb(fx, 9922.5, 22050), 12.0, 0.1);
}

TEST(EqEffect, AKnobChangeRecomputesBeforeTheNextBlockAndStillKnobsRecomputeNothing) {
    EqEffect fx;
    fx.prepare(48000);
    const Stereo in{sine(400, 48000, 512, 0.5f), {}};
    runEffect(fx, in, 48000, {128});  // four blocks, knobs still
    EXPECT_EQ(fx.coefficientUpdates(), 1);
    setKnob(fx, "mid1_gain", 18);  // a bell boost at 400 Hz shows in the very next block
    EXPECT_GT(rms(runEffect(fx, in, 48000).left, 256, 512), 3.0 * rms(in.left, 256, 512));
    EXPECT_EQ(fx.coefficientUpdates(), 2);
}

}  // namespace
}  // namespace ostrel::engine
