#include "engine/AudioBackend.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrel::engine {
namespace {

TEST(LoadMeterTest, LoadIsTheSmoothedShareOfThePeriodAndALongCallbackIsAnOverload) {
    LoadMeter meter;
    meter.record(0.02, 512, 48000);  // the period is 10.667 ms: ratio 1.875
    LoadStats stats = meter.snapshot();
    EXPECT_EQ(stats.overloads, 1u);
    EXPECT_DOUBLE_EQ(stats.load, 0.1);  // a tenth of the way towards a full load

    const double period = 256 / 48000.0;
    for (int i = 0; i < 200; ++i) {
        meter.record(period * 0.25, 256, 48000);
    }
    stats = meter.snapshot();
    EXPECT_NEAR(stats.load, 0.25, 1e-6);
    EXPECT_EQ(stats.overloads, 1u);
    EXPECT_EQ(stats.callbacks, 201u);
    EXPECT_EQ(stats.frames, 512u + 200u * 256u);
}

TEST(LoadMeterTest, WithoutARateOnlyCountsAndResetKeepsTheFormat) {
    LoadMeter meter;
    meter.setFormat(256, 44100);
    meter.record(5.0, 512, 0);
    meter.record(5.0, -4, 48000);
    LoadStats stats = meter.snapshot();
    EXPECT_EQ(stats.callbacks, 2u);
    EXPECT_EQ(stats.frames, 512u);
    EXPECT_EQ(stats.overloads, 0u);
    EXPECT_EQ(stats.load, 0.0);

    meter.record(1.0, 256, 44100);
    meter.reset();
    stats = meter.snapshot();
    EXPECT_EQ(stats.callbacks + stats.frames + stats.overloads, 0u);
    EXPECT_EQ(stats.load, 0.0);
    EXPECT_EQ(stats.bufferFrames, 256u);
    EXPECT_EQ(stats.sampleRate, 44100.0);
}

TEST(DeviceIdTest, TextIsLowerCaseHexWithoutTrailingZeroBytesAndDecodesBack) {
    std::string padded("\x01\x00\xab", 3);
    padded.append(253, '\0');
    EXPECT_EQ(encodeDeviceId(padded), "0100ab");
    EXPECT_EQ(encodeDeviceId(std::string(256, '\0')), "");

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
    for (const std::string& text : {std::string("0A"), std::string("abc"), std::string("0g"), std::string(514, 'a')}) {
        EXPECT_FALSE(decodeDeviceId(text, decoded)) << text;
    }
    EXPECT_EQ(decoded, "untouched");
    EXPECT_TRUE(decodeDeviceId(std::string(512, 'a'), decoded));
    EXPECT_EQ(decoded.size(), 256u);
}

}  // namespace
}  // namespace ostrel::engine
