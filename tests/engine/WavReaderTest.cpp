#include "engine/WavReader.h"
#include "engine/WavWriter.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace ostrel::engine;
using ostrel::test::readFile;
using ostrel::test::TempDir;

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
void putTag(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

void putFmt(Bytes& b, std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    putTag(b, "fmt ");
    put32(b, 16);
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * bits / 8);
    put16(b, static_cast<std::uint32_t>(channels * bits / 8));
    put16(b, bits);
}

void putData(Bytes& b, const Bytes& samples, std::uint32_t declaredSize) {
    putTag(b, "data");
    put32(b, declaredSize);
    b.insert(b.end(), samples.begin(), samples.end());
}

Bytes riff() {
    Bytes b;
    putTag(b, "RIFF");
    put32(b, 0);
    putTag(b, "WAVE");
    return b;
}

Bytes simpleFile(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, const Bytes& data) {
    Bytes b = riff();
    putFmt(b, tag, channels, rate, bits);
    putData(b, data, static_cast<std::uint32_t>(data.size()));
    return b;
}

std::string decodeError(const Bytes& bytes) {
    AudioData out;
    out.frames = 99;
    std::string error;
    EXPECT_FALSE(decodeWav(bytes, out, &error));
    EXPECT_EQ(out.frames, 99) << "a failed decode must leave out unchanged";
    return error;
}

}  // namespace

TEST(WavReaderDecodeTest, EmptyEightAndSixteenBitDataDecodeToTheirValues) {
    AudioData out;
    ASSERT_TRUE(decodeWav(simpleFile(1, 2, 48000, 16, {}), out, nullptr));
    EXPECT_EQ(out.frames, 0);
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.sampleRate, 48000.0);
    ASSERT_TRUE(decodeWav(simpleFile(1, 1, 8000, 8, {0, 128, 255}), out, nullptr));
    EXPECT_EQ(out.samples, (std::vector<float>{-1.0f, 0.0f, 0.9921875f}));
    Bytes pcm;
    put16(pcm, 0x8000);
    put16(pcm, 0x7FFF);
    ASSERT_TRUE(decodeWav(simpleFile(1, 1, 8000, 16, pcm), out, nullptr));
    EXPECT_EQ(out.samples, (std::vector<float>{-1.0f, 0.999969482421875f}));
}

TEST(WavReaderDecodeTest, FloatNanAndInfinityBecomeSilence) {
    Bytes data;
    put32(data, 0x7FC00000);  // NaN
    put32(data, 0xFF800000);  // -infinity
    put32(data, 0x3F000000);  // 0.5
    AudioData out;
    ASSERT_TRUE(decodeWav(simpleFile(3, 1, 48000, 32, data), out, nullptr));
    EXPECT_EQ(out.samples, (std::vector<float>{0.0f, 0.0f, 0.5f}));
}

TEST(WavReaderDecodeTest, OddChunksAreSkippedWithTheirPadByteAndOnlyWholeFramesPresentAreRead) {
    Bytes b = riff();
    putTag(b, "LIST");
    put32(b, 3);
    b.insert(b.end(), {1, 2, 3, 0});
    putFmt(b, 1, 2, 48000, 16);
    Bytes data;
    for (std::uint32_t v : {0x4000u, 0xC000u, 0u, 0u, 7u}) {
        put16(data, v);
    }
    putData(b, data, 1000);  // claims 1000 bytes, holds 10: two whole stereo frames
    AudioData out;
    ASSERT_TRUE(decodeWav(b, out, nullptr));
    EXPECT_EQ(out.frames, 2);
    EXPECT_EQ(out.samples, (std::vector<float>{0.5f, -0.5f, 0.0f, 0.0f}));
}

TEST(WavReaderDecodeTest, ExtensibleTakesTheSubFormatTag) {
    auto extensible = [](std::uint32_t fmtSize) {
        Bytes b = riff();
        putTag(b, "fmt ");
        put32(b, fmtSize);
        put16(b, 65534);
        put16(b, 1);
        put32(b, 48000);
        put32(b, 48000 * 3);
        put16(b, 3);
        put16(b, 24);
        put16(b, 22);          // extension size
        put16(b, 24);          // valid bits
        put32(b, 4);           // channel mask
        if (fmtSize >= 26) {
            put16(b, 1);       // sub-format: PCM
            b.insert(b.end(), fmtSize - 26, 0);
        }
        putData(b, {0x00, 0x00, 0x40}, 3);
        return b;
    };
    AudioData out;
    ASSERT_TRUE(decodeWav(extensible(40), out, nullptr));
    EXPECT_EQ(out.samples, (std::vector<float>{0.5f}));
    EXPECT_EQ(decodeError(extensible(24)), "this WAV format is not supported (use PCM 8/16/24/32-bit or 32-bit float)");
}

TEST(WavReaderRefusalTest, EachMessageInItsOrder) {
    EXPECT_EQ(decodeError(Bytes(43, 0)), "this is not a WAV file (it does not start with RIFF/WAVE)");
    Bytes notWave = simpleFile(1, 1, 48000, 16, {});
    notWave[8] = 'X';
    EXPECT_EQ(decodeError(notWave), "this is not a WAV file (it does not start with RIFF/WAVE)");

    Bytes dataFirst = riff();
    putData(dataFirst, Bytes(4, 0), 4);
    putFmt(dataFirst, 1, 1, 48000, 16);
    EXPECT_EQ(decodeError(dataFirst), "the WAV file has no format chunk");

    Bytes damaged = riff();
    putTag(damaged, "fmt ");
    put32(damaged, 14);
    damaged.insert(damaged.end(), 30, 0);
    EXPECT_EQ(decodeError(damaged), "the WAV file's format chunk is damaged");

    Bytes noData = riff();
    putFmt(noData, 1, 1, 48000, 16);
    putTag(noData, "LIST");
    put32(noData, 0);
    EXPECT_EQ(decodeError(noData), "the WAV file has no sound data");

    EXPECT_EQ(decodeError(simpleFile(1, 3, 48000, 16, {})),
              "only mono and stereo WAV files are supported (this one has 3 channels)");
    EXPECT_EQ(decodeError(simpleFile(1, 1, 7999, 16, {})), "the WAV file's sample rate is not usable");
    EXPECT_EQ(decodeError(simpleFile(1, 1, 384001, 16, {})), "the WAV file's sample rate is not usable");
    AudioData out;
    EXPECT_TRUE(decodeWav(simpleFile(1, 1, 8000, 16, {}), out, nullptr));
    EXPECT_TRUE(decodeWav(simpleFile(1, 1, 384000, 16, {}), out, nullptr));
    EXPECT_EQ(decodeError(simpleFile(3, 1, 48000, 16, {})),
              "this WAV format is not supported (use PCM 8/16/24/32-bit or 32-bit float)");
    EXPECT_EQ(decodeError(simpleFile(1, 1, 48000, 12, {})),
              "this WAV format is not supported (use PCM 8/16/24/32-bit or 32-bit float)");
}

TEST(WavReaderFileTest, MissingFileNamesTheFile) {
    TempDir dir;
    AudioData out;
    std::string error;
    EXPECT_FALSE(loadWavFile(dir / "nowhere" / "kick.wav", out, &error));
    EXPECT_EQ(error, "the file \"kick.wav\" could not be opened");
}

TEST(WavReaderFileTest, OversizedDataIsRefusedBeforeItIsRead) {
    // A sparse file: its data chunk claims and really spans just over 512 MiB, which costs no
    // disk space; the reader must refuse it from the chunk header alone.
    TempDir dir;
    Bytes head = riff();
    putFmt(head, 1, 2, 48000, 16);
    const std::uint32_t size = static_cast<std::uint32_t>(kMaxWavDataBytes + 4);
    putTag(head, "data");
    put32(head, size);
    const auto file = dir / "huge.wav";
    ostrel::test::writeFile(file, std::string(head.begin(), head.end()));
    std::filesystem::resize_file(file, head.size() + size);
    AudioData out;
    std::string error;
    EXPECT_FALSE(loadWavFile(file, out, &error));
    EXPECT_EQ(error, "the WAV file is too large to load");
}

TEST(WavReaderFileTest, ChunkSizeNearFourGigabytesDoesNotWrap) {
    // A skipped chunk of 0xFFFFFFFF bytes must move the walk past the end, not wrap back.
    Bytes b = riff();
    putFmt(b, 1, 1, 48000, 16);
    putTag(b, "junk");
    put32(b, 0xFFFFFFFFu);
    putData(b, Bytes(4, 0), 4);
    EXPECT_EQ(decodeError(b), "the WAV file has no sound data");
}

TEST(WavReaderSoxTest, FilesWrittenBySoxDecodeToTheSameSamples) {
    // sox writes a tone in each format; sox itself converts the same file to raw floats
    // and the two readings must agree.
    if (std::system("command -v sox >/dev/null 2>&1") != 0) {
        GTEST_FAIL() << "sox is part of the test set-up";
    }
    TempDir dir;
    struct Format {
        const char* args;
        double tolerance;
    };
    const Format formats[] = {{"-b 8 -e unsigned-integer", 0.0}, {"-b 16 -e signed-integer", 0.0},
                              {"-b 24 -e signed-integer", 0.0},  {"-b 32 -e signed-integer", 1e-7},
                              {"-b 32 -e floating-point", 0.0}};
    for (const Format& format : formats) {
        for (const char* channels : {"1", "2"}) {
            for (const char* rate : {"44100", "48000"}) {
                const auto wav = dir / "tone.wav";
                const auto raw = dir / "tone.f32";
                const std::string make = std::string("sox -n -r ") + rate + " -c " + channels + " " + format.args +
                                         " '" + wav.string() + "' synth 0.05 sine 440 sine 660 vol 0.7 2>/dev/null";
                ASSERT_EQ(std::system(make.c_str()), 0) << make;
                const std::string dump = "sox '" + wav.string() + "' -t f32 -e floating-point '" + raw.string() + "'";
                ASSERT_EQ(std::system(dump.c_str()), 0) << dump;

                AudioData out;
                std::string error;
                ASSERT_TRUE(loadWavFile(wav, out, &error)) << error;
                const std::string rawBytes = readFile(raw);
                std::vector<float> expected(rawBytes.size() / 4);
                std::memcpy(expected.data(), rawBytes.data(), expected.size() * 4);

                SCOPED_TRACE(std::string(format.args) + " channels " + channels + " rate " + rate);
                EXPECT_EQ(out.channels, std::atoi(channels));
                EXPECT_EQ(out.sampleRate, std::atof(rate));
                ASSERT_EQ(out.samples.size(), expected.size());
                EXPECT_EQ(out.frames * out.channels, static_cast<std::int64_t>(expected.size()));
                for (std::size_t i = 0; i < expected.size(); ++i) {
                    ASSERT_NEAR(out.samples[i], expected[i], format.tolerance) << "sample " << i;
                }
            }
        }
    }
}

TEST(WavReaderSoxTest, OurFilesReadBackExactly) {
    TempDir dir;
    const std::vector<float> samples{0.0f, 0.5f, -0.5f, 0.25f, 1.0f, -1.0f};
    ASSERT_TRUE(writeWavFile(dir / "f.wav", samples, 2, 48000, WavFormat::Float32, nullptr));
    AudioData out;
    ASSERT_TRUE(loadWavFile(dir / "f.wav", out, nullptr));
    EXPECT_EQ(out.samples, samples);
    EXPECT_EQ(out.frames, 3);
}
