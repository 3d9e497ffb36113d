#include "engine/AudioBackend.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrel::engine {
namespace {

TEST(LoadMeterTest, LoadIsTheSmoothedShareOfThePeriodALongCallbackIsAnOverloadAndResetKeepsTheFormat) {
    LoadMeter meter;
    meter.record(0.02, 512, 48000);  // the period is 10.667 ms: ratio 1.875
    LoadStats stats = meter.snapshot();
    EXPECT_EQ(stats.overloads, 1u);
    EXPECT_DOUBLE_EQ(stats.load, 0.1);  // a tenth of the way towards a full load

    for (int i = 0; i < 200; ++i) {
        meter.record(256 / 48000.0 * 0.25, 256, 48000);
    }
    meter.record(5.0, 512, 0);  // without a rate only counted
    stats = meter.snapshot();
    EXPECT_NEAR(stats.load, 0.25, 1e-6);
    EXPECT_EQ(stats.overloads, 1u);
    EXPECT_EQ(stats.callbacks, 202u);
    EXPECT_EQ(stats.frames, 1024u + 200u * 256u);
    meter.setFormat(256, 44100);
    meter.reset();
    stats = meter.snapshot();
    EXPECT_TRUE(stats.callbacks + stats.frames + stats.overloads == 0 && stats.load == 0.0);
    EXPECT_TRUE(stats.bufferFrames == 256 && stats.sampleRate == 44100.0);
}

TEST(DeviceIdTest, TextIsLowerCaseHexWithoutTrailingZeroBytesDecodesBackAndForeignTextDoesNot) {
    std::string padded("\x01\x00\xab", 3);
    padded.append(253, '\0');
    EXPECT_EQ(encodeDeviceId(padded), "0100ab");
    std::string native;
    for (int i = 1; i < 256; ++i) {
        native.push_back(static_cast<char>(i));
    }
    std::string decoded;
    ASSERT_TRUE(decodeDeviceId(encodeDeviceId(native), decoded));
    EXPECT_EQ(decoded, native);

    decoded = "untouched";
    for (const std::string& text : {std::string("0A"), std::string("abc"), std::string("0g"), std::string(514, 'a')}) {
        EXPECT_FALSE(decodeDeviceId(text, decoded)) << text;
    }
    EXPECT_EQ(decoded, "untouched");
}

}  // namespace
}  // namespace ostrel::engine
