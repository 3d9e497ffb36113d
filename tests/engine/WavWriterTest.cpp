#include "engine/WavWriter.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

using namespace ostrel::engine;
using ostrel::test::readFile;
using ostrel::test::TempDir;

namespace {

std::uint32_t u32At(const std::string& b, std::size_t at) {
    return static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8) |
           (static_cast<std::uint8_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 3])) << 24);
}
std::uint16_t u16At(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8));
}
std::int32_t s24At(const std::string& b, std::size_t at) {
    std::int32_t v = static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8) |
                     (static_cast<std::uint8_t>(b[at + 2]) << 16);
    return (v & 0x800000) != 0 ? v - 0x1000000 : v;
}

std::string soxInfo(const std::filesystem::path& file, const char* option) {
    std::string command = std::string("sox --i ") + option + " '" + file.string() + "' 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    char line[256] = {};
    std::string text = std::fgets(line, sizeof line, pipe) != nullptr ? line : "";
    ::pclose(pipe);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

TEST(WavWriterLayoutTest, EmptyPcmFileIsAValid44ByteHeader) {
    TempDir dir;
    ASSERT_TRUE(writeWavFile(dir / "a.wav", {}, 1, 44100, WavFormat::Pcm16, nullptr));
    const std::string b = readFile(dir / "a.wav");
    ASSERT_EQ(b.size(), 44u);
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(u32At(b, 4), 36u);
    EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32At(b, 16), 16u);
    EXPECT_EQ(u16At(b, 20), 1u);
    EXPECT_EQ(u16At(b, 22), 1u);
    EXPECT_EQ(u32At(b, 24), 44100u);
    EXPECT_EQ(u32At(b, 28), 88200u);
    EXPECT_EQ(u16At(b, 32), 2u);
    EXPECT_EQ(u16At(b, 34), 16u);
    EXPECT_EQ(b.substr(36, 4), "data");
    EXPECT_EQ(u32At(b, 40), 0u);
}

TEST(WavWriterLayoutTest, StereoFloatHasFactChunkAndSizes) {
    TempDir dir;
    std::vector<float> samples(2000, 0.25f);
    ASSERT_TRUE(writeWavFile(dir / "f.wav", samples, 2, 48000, WavFormat::Float32, nullptr));
    const std::string b = readFile(dir / "f.wav");
    ASSERT_EQ(b.size(), 58u + 8000u);
    EXPECT_EQ(u32At(b, 4), 8050u);
    EXPECT_EQ(u32At(b, 16), 18u);
    EXPECT_EQ(u16At(b, 20), 3u);
    EXPECT_EQ(u16At(b, 36), 0u);
    EXPECT_EQ(b.substr(38, 4), "fact");
    EXPECT_EQ(u32At(b, 42), 4u);
    EXPECT_EQ(u32At(b, 46), 1000u);
    EXPECT_EQ(b.substr(50, 4), "data");
    EXPECT_EQ(u32At(b, 54), 8000u);
}

TEST(WavWriterLayoutTest, PartialLastFrameIsWrittenAndFactRoundsDown) {
    TempDir dir;
    std::vector<float> samples(5, 0.0f);
    ASSERT_TRUE(writeWavFile(dir / "f.wav", samples, 2, 48000, WavFormat::Float32, nullptr));
    const std::string b = readFile(dir / "f.wav");
    EXPECT_EQ(u32At(b, 46), 2u);
    EXPECT_EQ(u32At(b, 54), 20u);
}

TEST(WavWriterEncodingTest, PcmClampsAndRoundsHalfAwayFromZero) {
    TempDir dir;
    const std::vector<float> samples{1.5f, -1.5f, 0.5f, -0.5f, 0.0f};
    ASSERT_TRUE(writeWavFile(dir / "16.wav", samples, 1, 48000, WavFormat::Pcm16, nullptr));
    ASSERT_TRUE(writeWavFile(dir / "24.wav", samples, 1, 48000, WavFormat::Pcm24, nullptr));
    const std::string b16 = readFile(dir / "16.wav");
    const std::string b24 = readFile(dir / "24.wav");
    const std::vector<int> want16{32767, -32767, 16384, -16384, 0};
    const std::vector<int> want24{8388607, -8388607, 4194304, -4194304, 0};
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(static_cast<std::int16_t>(u16At(b16, 44 + 2 * i)), want16[i]) << i;
        EXPECT_EQ(s24At(b24, 44 + 3 * i), want24[i]) << i;
    }
}

TEST(WavWriterEncodingTest, NanIsSilenceInPcmAndKeptInFloat) {
    TempDir dir;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> samples{nan};
    ASSERT_TRUE(writeWavFile(dir / "16.wav", samples, 1, 48000, WavFormat::Pcm16, nullptr));
    ASSERT_TRUE(writeWavFile(dir / "f.wav", samples, 1, 48000, WavFormat::Float32, nullptr));
    EXPECT_EQ(u16At(readFile(dir / "16.wav"), 44), 0u);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &nan, 4);
    EXPECT_EQ(u32At(readFile(dir / "f.wav"), 58), bits);
}

TEST(WavWriterRefusalTest, ChannelsOrRateNotPositiveWritesNothing) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(writeWavFile(dir / "a.wav", {}, 0, 48000, WavFormat::Pcm16, &error));
    EXPECT_EQ(error, "channels and sample rate must be positive");
    EXPECT_FALSE(writeWavFile(dir / "a.wav", {}, 2, 0, WavFormat::Pcm16, &error));
    EXPECT_FALSE(writeWavFile(dir / "a.wav", {}, 2, 0x80000000u, WavFormat::Pcm16, &error));
    EXPECT_FALSE(std::filesystem::exists(dir / "a.wav"));
}

TEST(WavWriterRefusalTest, DataBeyondTheThirtyTwoBitSizesIsRefused) {
    // 2^30 floats as Float32 are exactly 4 GiB of data: the size fields would wrap.
    // The span is refused before it is read, so pointing it at one float is safe.
    TempDir dir;
    float one = 0.0f;
    std::span<const float> huge(&one, std::size_t{1} << 30);
    std::string error;
    EXPECT_FALSE(writeWavFile(dir / "big.wav", huge, 2, 48000, WavFormat::Float32, &error));
    EXPECT_EQ(error, "the sound is too large for a WAV file");
    EXPECT_FALSE(std::filesystem::exists(dir / "big.wav"));
}

TEST(WavWriterRefusalTest, WriterFailureTextPassesThrough) {
    TempDir dir;
    ostrel::test::writeFile(dir / "file", "x");
    std::string error;
    EXPECT_FALSE(writeWavFile(dir / "file/a.wav", {}, 1, 48000, WavFormat::Pcm16, &error));
    EXPECT_EQ(error.rfind("cannot create folder ", 0), 0u) << error;
}

TEST(WavWriterSoxTest, SoxReadsEveryFormatWeWrite) {
    TempDir dir;
    std::vector<float> samples(2 * 4410);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.5f * std::sin(static_cast<float>(i) * 0.01f);
    }
    struct Case {
        WavFormat format;
        const char* bits;
        const char* encoding;
    };
    for (const Case& c : {Case{WavFormat::Pcm16, "16", "Signed Integer PCM"},
                          Case{WavFormat::Pcm24, "24", "Signed Integer PCM"},
                          Case{WavFormat::Float32, "32", "Floating Point PCM"}}) {
        const auto file = dir / ("out" + std::string(c.bits) + ".wav");
        ASSERT_TRUE(writeWavFile(file, samples, 2, 44100, c.format, nullptr));
        EXPECT_EQ(soxInfo(file, "-c"), "2");
        EXPECT_EQ(soxInfo(file, "-r"), "44100");
        EXPECT_EQ(soxInfo(file, "-s"), "4410");
        EXPECT_EQ(soxInfo(file, "-b"), c.bits);
        EXPECT_EQ(soxInfo(file, "-e"), c.encoding);
    }
}
