#include "audiofile/WavWriter.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
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

// What `sox --i` says of a file: channels, rate, samples, bits and encoding, a line each.
std::string soxInfo(const std::filesystem::path& file, const std::filesystem::path& text) {
    std::string command = "(";
    for (const char* option : {"-c", "-r", "-s", "-b", "-e"}) {
        command += std::string("sox --i ") + option + " '" + file.string() + "'; ";
    }
    EXPECT_EQ(std::system((command + ") > '" + text.string() + "' 2>/dev/null").c_str()), 0);
    return readFile(text);
}

}  // namespace

// Offset, width and value of each header field: RIFF size, fmt size, format tag, channels,
// rate, bytes per second, block align, bits, then fact and data sizes.
using Fields = std::vector<std::array<std::uint32_t, 3>>;

TEST(WavWriterLayoutTest, PcmHasA44ByteHeaderAndFloatAFactChunkOfWholeFrames) {
    TempDir dir;
    struct Case {
        WavFormat format;
        std::size_t samples;
        std::size_t size;
        Fields fields;
    } cases[] = {
        {WavFormat::Pcm16, 0, 44,
         {{4, 4, 36}, {16, 4, 16}, {20, 2, 1}, {22, 2, 2}, {24, 4, 44100}, {28, 4, 176400}, {32, 2, 4}, {34, 2, 16}, {40, 4, 0}}},
        {WavFormat::Float32, 2000, 58 + 8000,
         {{4, 4, 8050}, {16, 4, 18}, {20, 2, 3}, {36, 2, 0}, {42, 4, 4}, {46, 4, 1000}, {54, 4, 8000}}},
        {WavFormat::Float32, 5, 58 + 20, {{46, 4, 2}, {54, 4, 20}}},  // a partial last frame is kept
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(writeWavFile(dir / "a.wav", std::vector<float>(c.samples, 0.25f), 2, 44100, c.format, nullptr));
        const std::string b = readFile(dir / "a.wav");
        ASSERT_EQ(b.size(), c.size);
        EXPECT_EQ(b.substr(0, 4) + b.substr(8, 8), "RIFFWAVEfmt ");
        EXPECT_EQ(b.substr(c.size - c.samples * (c.format == WavFormat::Pcm16 ? 2 : 4) - 8, 4), "data");
        for (const auto& [at, bytes, value] : c.fields) {
            EXPECT_EQ(le(b, at, static_cast<int>(bytes)), value) << "at byte " << at;
        }
    }
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

// Regression: data of 4 GiB or more wrapped the 32-bit size fields.
TEST(WavWriterRefusalTest, BadFormatDataBeyondThe32BitSizesOrAnUnwritablePlaceWritesNothing) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(writeWavFile(dir / "a.wav", {}, 0, 48000, WavFormat::Pcm16, &error));
    EXPECT_EQ(error, "channels and sample rate must be positive");
    EXPECT_FALSE(writeWavFile(dir / "a.wav", {}, 2, 0, WavFormat::Pcm16, &error));
    EXPECT_FALSE(writeWavFile(dir / "a.wav", {}, 2, 0x80000000u, WavFormat::Pcm16, &error));
    // 2^30 floats are exactly 4 GiB of data. The span is refused before it is read, so
    // pointing it at one float is safe.
    float one = 0.0f;
    EXPECT_FALSE(writeWavFile(dir / "a.wav", {&one, std::size_t{1} << 30}, 2, 48000, WavFormat::Float32, &error));
    EXPECT_EQ(error, "the sound is too large for a WAV file");
    EXPECT_FALSE(std::filesystem::exists(dir / "a.wav"));
    ostrel::test::writeFile(dir / "file", "x");
    EXPECT_FALSE(writeWavFile(dir / "file/a.wav", {}, 1, 48000, WavFormat::Pcm16, &error));
    EXPECT_EQ(error.rfind("cannot create folder ", 0), 0u) << error << ": the atomic writer's reason passes through";
}

TEST(WavWriterSoxTest, SoxReadsEveryFormatWeWrite) {
    TempDir dir;
    const std::pair<WavFormat, std::string> cases[] = {{WavFormat::Pcm16, "16\nSigned Integer PCM\n"},
                                                       {WavFormat::Pcm24, "24\nSigned Integer PCM\n"},
                                                       {WavFormat::Float32, "32\nFloating Point PCM\n"}};
    for (const auto& [format, bitsAndEncoding] : cases) {
        ASSERT_TRUE(writeWavFile(dir / "out.wav", std::vector<float>(2 * 4410, 0.25f), 2, 44100, format, nullptr));
        EXPECT_EQ(soxInfo(dir / "out.wav", dir / "info.txt"), "2\n44100\n4410\n" + bitsAndEncoding);
    }
}

namespace {

// The writer as it was when it built the whole file in memory: the streamed file must
// match it byte for byte.
std::string wholeFileReference(std::span<const float> samples, int channels, std::uint32_t rate, WavFormat format) {
    std::string b;
    const auto put = [&b](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const bool isFloat = format == WavFormat::Float32;
    const int width = format == WavFormat::Pcm16 ? 2 : format == WavFormat::Pcm24 ? 3 : 4;
    const auto align = static_cast<std::uint32_t>(width * channels);
    const auto dataBytes = static_cast<std::uint32_t>(static_cast<std::size_t>(width) * samples.size());
    b += "RIFF";
    put(dataBytes + (isFloat ? 50 : 36), 4);
    b += "WAVEfmt ";
    for (const auto& [v, bytes] : {std::pair{isFloat ? 18u : 16u, 4}, {isFloat ? 3u : 1u, 2},
                                   {static_cast<std::uint32_t>(channels), 2}, {rate, 4}, {align * rate, 4}, {align, 2},
                                   {8u * static_cast<std::uint32_t>(width), 2}}) {
        put(v, bytes);
    }
    if (isFloat) {
        put(0, 2);
        b += "fact";
        put(4, 4);
        put(static_cast<std::uint32_t>(samples.size() / static_cast<std::size_t>(channels)), 4);
    }
    b += "data";
    put(dataBytes, 4);
    for (const float sample : samples) {
        std::uint32_t v = 0;
        if (isFloat) {
            std::memcpy(&v, &sample, 4);
        } else if (!std::isnan(sample)) {
            const double scale = width == 2 ? 32767.0 : 8388607.0;
            const double clamped = std::clamp(static_cast<double>(sample), -1.0, 1.0);
            v = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::round(clamped * scale)));
        }
        put(v, width);
    }
    return b;
}

// Every kind of value a render can hold: edges of the range, halves, beyond it, tiny and
// not finite ones, and a long stretch of noise so the file takes many pieces.
std::vector<float> awkwardSamples(std::size_t count) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> v{0.0f, -0.0f, 1.0f, -1.0f, 1.5f, -1.5f, 0.5f, -0.5f, 1.0f / 65534.0f, -1.0f / 65534.0f,
                         1e-40f, inf, -inf, std::numeric_limits<float>::quiet_NaN(), 0.99999994f, 4.76837158e-7f};
    std::uint32_t seed = 12345;
    while (v.size() < count) {
        seed = seed * 1664525u + 1013904223u;
        v.push_back(static_cast<float>(static_cast<std::int32_t>(seed)) / 1.8e9f);
    }
    v.resize(count);
    return v;
}

}  // namespace

TEST(WavWriterStreamingTest, TheStreamedFileIsByteForByteTheWholeFileOfBefore) {
    TempDir dir;
    for (const WavFormat format : {WavFormat::Pcm16, WavFormat::Pcm24, WavFormat::Float32}) {
        for (const auto& [channels, count] : {std::pair{1, 0}, {2, 16}, {2, 100001}, {3, 50000}, {1, 16384}, {2, 16385}}) {
            const std::vector<float> samples = awkwardSamples(static_cast<std::size_t>(count));
            ASSERT_TRUE(writeWavFile(dir / "s.wav", samples, channels, 44100, format, nullptr));
            EXPECT_TRUE(readFile(dir / "s.wav") == wholeFileReference(samples, channels, 44100, format))
                << "format " << static_cast<int>(format) << ", " << channels << " channels, " << count << " samples";
        }
    }
}

// Regression: the file was opened through whatever sat at the temporary name, so a link
// planted there sent the sound into another file.
TEST(WavWriterStreamingTest, ALinkPlantedAtTheTemporaryNameIsNotWrittenThrough) {
    TempDir dir;
    ostrel::test::writeFile(dir / "other", "keep");
    std::filesystem::create_symlink(dir / "other", dir / "out.wav.tmp");
    ASSERT_TRUE(writeWavFile(dir / "out.wav", std::vector<float>(4000, 0.25f), 2, 48000, WavFormat::Pcm16, nullptr));
    EXPECT_EQ(readFile(dir / "other"), "keep");
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "out.wav"));
    EXPECT_EQ(readFile(dir / "out.wav").size(), 44u + 8000u);
}
