#include "devices/Dsp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

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
