#include "engine/AudioBackend.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrel::engine {
namespace {

// --- Load meter ---

TEST(LoadMeterTest, CallbackLongerThanItsPeriodCountsAsOverload) {
    LoadMeter meter;

    meter.record(0.02, 512, 48000);  // the period is 10.667 ms: ratio 1.875

    const LoadStats stats = meter.snapshot();
    EXPECT_EQ(stats.callbacks, 1u);
    EXPECT_EQ(stats.frames, 512u);
    EXPECT_EQ(stats.overloads, 1u);
    EXPECT_DOUBLE_EQ(stats.load, 0.1);  // a tenth of the way towards a full load
}

TEST(LoadMeterTest, LoadIsTheSmoothedShareOfThePeriod) {
    LoadMeter meter;
    const double period = 256 / 48000.0;

    for (int i = 0; i < 200; ++i) {
        meter.record(period * 0.25, 256, 48000);
    }

    const LoadStats stats = meter.snapshot();
    EXPECT_NEAR(stats.load, 0.25, 1e-6);
    EXPECT_EQ(stats.overloads, 0u);
    EXPECT_EQ(stats.frames, 200u * 256u);
}

TEST(LoadMeterTest, WithoutASampleRateOnlyCallbacksAndFramesCount) {
    LoadMeter meter;

    meter.record(5.0, 512, 0);
    meter.record(5.0, -4, 48000);

    const LoadStats stats = meter.snapshot();
    EXPECT_EQ(stats.callbacks, 2u);
    EXPECT_EQ(stats.frames, 512u);
    EXPECT_EQ(stats.overloads, 0u);
    EXPECT_EQ(stats.load, 0.0);
}

TEST(LoadMeterTest, ResetClearsTheCountsButKeepsTheFormat) {
    LoadMeter meter;
    meter.setFormat(256, 44100);
    meter.record(1.0, 256, 44100);

    meter.reset();

    const LoadStats stats = meter.snapshot();
    EXPECT_EQ(stats.callbacks, 0u);
    EXPECT_EQ(stats.frames, 0u);
    EXPECT_EQ(stats.overloads, 0u);
    EXPECT_EQ(stats.load, 0.0);
    EXPECT_EQ(stats.bufferFrames, 256u);
    EXPECT_EQ(stats.sampleRate, 44100.0);
}

// --- Device id text ---

TEST(DeviceIdTest, TrailingZeroBytesAreLeftOut) {
    std::string native("\x01\x00\xab", 3);
    native.append(253, '\0');

    EXPECT_EQ(encodeDeviceId(native), "0100ab");
}

TEST(DeviceIdTest, AnIdOfOnlyZeroBytesGivesAnEmptyText) {
    EXPECT_EQ(encodeDeviceId(std::string(256, '\0')), "");
    EXPECT_EQ(encodeDeviceId(""), "");
}

TEST(DeviceIdTest, TextDecodesBackToTheSameBytes) {
    std::string native;
    for (int i = 1; i < 256; ++i) {
        native.push_back(static_cast<char>(i));
    }
    const std::string text = encodeDeviceId(native);
    ASSERT_EQ(text.size(), 510u);

    std::string decoded;
    ASSERT_TRUE(decodeDeviceId(text, decoded));
    EXPECT_EQ(decoded, native);
}

TEST(DeviceIdTest, UpperCaseOddLengthForeignOrOverlongTextsDoNotDecode) {
    std::string decoded = "untouched";

    EXPECT_FALSE(decodeDeviceId("0A", decoded));
    EXPECT_FALSE(decodeDeviceId("abc", decoded));
    EXPECT_FALSE(decodeDeviceId("0g", decoded));
    EXPECT_FALSE(decodeDeviceId(std::string(514, 'a'), decoded));
    EXPECT_EQ(decoded, "untouched");

    EXPECT_TRUE(decodeDeviceId(std::string(512, 'a'), decoded));
    EXPECT_EQ(decoded.size(), 256u);
}

}  // namespace
}  // namespace ostrel::engine
