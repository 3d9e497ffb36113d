// The generated sounds of the demonstration switches.

#include "AppTestSupport.h"
#include "app/demo/DemoSounds.h"
#include "audiofile/WavReader.h"
#include "support/TempDir.h"

#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace ostrel;
using namespace ostrel::test;

namespace {

float peakOf(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    float peak = 0.0f;
    for (std::size_t i = from; i < to && i < samples.size(); ++i) peak = std::max(peak, std::abs(samples[i]));
    return peak;
}

std::uint16_t le16(const QByteArray& bytes, int at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                      (static_cast<std::uint8_t>(bytes[at + 1]) << 8));
}

// Zero crossings from rising to falling in [from, to): one per period of a plain tone.
int downwardCrossings(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    int count = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        if (samples[i - 1] >= 0.0f && samples[i] < 0.0f) ++count;
    }
    return count;
}

}  // namespace

TEST(DemoDrumTest, EachSoundIsHalfASecondWithinTheLevel) {
    for (const app::DemoDrum drum : {app::DemoDrum::Kick, app::DemoDrum::Snare, app::DemoDrum::Hat}) {
        const std::vector<float> samples = app::demoDrumSamples(drum);
        ASSERT_EQ(samples.size(), 22050u);
        EXPECT_LE(peakOf(samples, 0, samples.size()), 0.9f);
        EXPECT_GT(peakOf(samples, 0, 2205), 0.3f) << static_cast<int>(drum);
        // Each dies away: the last tenth is far quieter than the first.
        EXPECT_LT(peakOf(samples, 19845, 22050), 0.05f * peakOf(samples, 0, 2205)) << static_cast<int>(drum);
    }
}

TEST(DemoDrumTest, TheKickFallsFromAboutFourHundredFortyTowardsOneHundredForty) {
    const std::vector<float> kick = app::demoDrumSamples(app::DemoDrum::Kick);
    EXPECT_FLOAT_EQ(kick[0], 0.0f);
    // The first 20 ms hold about 7.3 periods (440 Hz falling fast), the 100 ms from 0.3 s
    // about 14 (140 Hz).
    EXPECT_NEAR(downwardCrossings(kick, 0, 882), 7, 1);
    EXPECT_NEAR(downwardCrossings(kick, 13230, 17640), 14, 1);
}

TEST(DemoDrumTest, TheNoiseIsTheSameOnEveryCallAndTheHatIsQuieter) {
    const std::vector<float> snare = app::demoDrumSamples(app::DemoDrum::Snare);
    EXPECT_EQ(snare, app::demoDrumSamples(app::DemoDrum::Snare));
    const std::vector<float> hat = app::demoDrumSamples(app::DemoDrum::Hat);
    // The same noise under a shorter, quieter envelope: at t = 0 the hat is 0.6 of the snare.
    EXPECT_FLOAT_EQ(hat[0], snare[0] * 0.6f);
    // The generator's first state: 12345 * 1664525 + 1013904223 wrapped to 32 bits.
    const std::uint32_t state = 12345u * 1664525u + 1013904223u;
    EXPECT_FLOAT_EQ(snare[0], static_cast<float>(((state >> 8) * std::ldexp(1.0, -23) - 1.0) * 0.9));
    EXPECT_NE(snare[1], snare[0]);
}

TEST(DemoDrumFileTest, TheFilesAreMono16BitAndByteForByteTheSame) {
    TempDir dir;
    const QString first = qPath(dir / "first");
    const QString second = qPath(dir / "second");
    QDir().mkpath(first);
    QDir().mkpath(second);
    for (int kind : {0, 1, 2, 7}) {
        const QString name = QStringLiteral("drum%1.wav").arg(kind);
        app::writeDemoDrumSample(first, name, kind);
        app::writeDemoDrumSample(second, name, kind);
        const QByteArray bytes = readBytes(first + "/" + name);
        ASSERT_FALSE(bytes.isEmpty()) << kind;
        EXPECT_EQ(bytes, readBytes(second + "/" + name)) << kind;
        EXPECT_EQ(le16(bytes, 20), 1);   // PCM
        EXPECT_EQ(le16(bytes, 22), 1);   // mono
        EXPECT_EQ(le16(bytes, 34), 16);  // bits
        engine::AudioData audio;
        std::string error;
        ASSERT_TRUE(engine::loadWavFile((dir / "first" / name.toStdString()), audio, &error)) << error;
        EXPECT_EQ(audio.samples.size(), 22050u);
        EXPECT_EQ(audio.sampleRate, 44100.0);
    }
    // Any kind beyond the snare is the hi-hat.
    EXPECT_EQ(readBytes(first + "/drum2.wav"), readBytes(first + "/drum7.wav"));
    EXPECT_NE(readBytes(first + "/drum0.wav"), readBytes(first + "/drum1.wav"));
}

TEST(DemoChordTest, TwoSecondsOfTheSameValueOnBothChannelsWithARiseAndFall) {
    const std::vector<float> frames = app::demoChordFrames();
    ASSERT_EQ(frames.size(), 176400u);
    for (std::size_t i = 0; i < frames.size(); i += 2) ASSERT_EQ(frames[i], frames[i + 1]) << i;
    EXPECT_FLOAT_EQ(frames[0], 0.0f);
    // Three tones at 0.3: never above 0.9; the middle is loud, the very end near silence.
    EXPECT_LE(peakOf(frames, 0, frames.size()), 0.9f);
    EXPECT_GT(peakOf(frames, 88200, 96000), 0.5f);
    EXPECT_LT(peakOf(frames, 176000, 176400), 0.01f);
}
