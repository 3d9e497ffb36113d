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

// The little-endian unsigned number of `bytes` bytes at `at`.
std::uint32_t le(const std::string& b, std::size_t at, int bytes = 4) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<std::uint8_t>(b[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

std::string soxInfo(const std::filesystem::path& file, const char* option) {
    const std::string command = std::string("sox --i ") + option + " '" + file.string() + "' 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    char line[256] = {};
    std::string text = pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr ? line : "";
    if (pipe != nullptr) {
        ::pclose(pipe);
    }
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
    EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(b.substr(36, 4), "data");
    // RIFF size, fmt size, tag, channels, rate, bytes per second, block align, bits, data size.
    const std::vector<std::pair<std::size_t, int>> fields{{4, 4},  {16, 4}, {20, 2}, {22, 2}, {24, 4},
                                                          {28, 4}, {32, 2}, {34, 2}, {40, 4}};
    const std::vector<std::uint32_t> expected{36, 16, 1, 1, 44100, 88200, 2, 16, 0};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(le(b, fields[i].first, fields[i].second), expected[i]) << "at byte " << fields[i].first;
    }
}

TEST(WavWriterLayoutTest, FloatHasAFactChunkOfWholeFramesAndKeepsAPartialLastFrame) {
    TempDir dir;
    ASSERT_TRUE(writeWavFile(dir / "f.wav", std::vector<float>(2000, 0.25f), 2, 48000, WavFormat::Float32, nullptr));
    const std::string b = readFile(dir / "f.wav");
    ASSERT_EQ(b.size(), 58u + 8000u);
    EXPECT_EQ(le(b, 4), 8050u);
    EXPECT_EQ(le(b, 16), 18u);
    EXPECT_EQ(le(b, 20, 2), 3u);
    EXPECT_EQ(le(b, 36, 2), 0u);
    EXPECT_EQ(b.substr(38, 4), "fact");
    EXPECT_EQ(le(b, 42), 4u);
    EXPECT_EQ(le(b, 46), 1000u);
    EXPECT_EQ(b.substr(50, 4), "data");
    EXPECT_EQ(le(b, 54), 8000u);

    ASSERT_TRUE(writeWavFile(dir / "p.wav", std::vector<float>(5, 0.0f), 2, 48000, WavFormat::Float32, nullptr));
    const std::string partial = readFile(dir / "p.wav");
    EXPECT_EQ(le(partial, 46), 2u);
    EXPECT_EQ(le(partial, 54), 20u);
}

// Regression: a NaN sample written as PCM must become 0, not undefined behaviour.
TEST(WavWriterEncodingTest, PcmClampsRoundsHalfAwayFromZeroAndWritesNanAsSilence) {
    TempDir dir;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> samples{1.5f, -1.5f, 0.5f, -0.5f, 0.0f, nan};
    ASSERT_TRUE(writeWavFile(dir / "16.wav", samples, 1, 48000, WavFormat::Pcm16, nullptr));
    ASSERT_TRUE(writeWavFile(dir / "24.wav", samples, 1, 48000, WavFormat::Pcm24, nullptr));
    ASSERT_TRUE(writeWavFile(dir / "f.wav", samples, 1, 48000, WavFormat::Float32, nullptr));
    const std::string b16 = readFile(dir / "16.wav");
    const std::string b24 = readFile(dir / "24.wav");
    const std::vector<int> want16{32767, -32767, 16384, -16384, 0, 0};
    const std::vector<int> want24{8388607, -8388607, 4194304, -4194304, 0, 0};
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(static_cast<std::int16_t>(le(b16, 44 + 2 * i, 2)), want16[i]) << i;
        EXPECT_EQ(static_cast<std::int32_t>(le(b24, 44 + 3 * i, 3) << 8) >> 8, want24[i]) << i;
    }
    std::uint32_t bits = 0;
    std::memcpy(&bits, &nan, 4);
    EXPECT_EQ(le(readFile(dir / "f.wav"), 58 + 4 * 5), bits) << "float keeps the NaN";
}

TEST(WavWriterRefusalTest, BadFormatOrDataBeyondThe32BitSizesWritesNothing) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(writeWavFile(dir / "a.wav", {}, 0, 48000, WavFormat::Pcm16, &error));
    EXPECT_EQ(error, "channels and sample rate must be positive");
    EXPECT_FALSE(writeWavFile(dir / "a.wav", {}, 2, 0, WavFormat::Pcm16, &error));
    EXPECT_FALSE(writeWavFile(dir / "a.wav", {}, 2, 0x80000000u, WavFormat::Pcm16, &error));
    // 2^30 floats as Float32 are exactly 4 GiB of data: the size fields would wrap. The span
    // is refused before it is read, so pointing it at one float is safe.
    float one = 0.0f;
    std::span<const float> huge(&one, std::size_t{1} << 30);
    EXPECT_FALSE(writeWavFile(dir / "a.wav", huge, 2, 48000, WavFormat::Float32, &error));
    EXPECT_EQ(error, "the sound is too large for a WAV file");
    EXPECT_FALSE(std::filesystem::exists(dir / "a.wav"));
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
