#include "audiofile/WavReader.h"

#include "support/AllocationCounter.h"
#include "support/HostileFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace ostrel::engine;
using ostrel::test::readFile;
using ostrel::test::TempDir;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Appends little-endian numbers of the given byte widths, or four-letter tags.
struct Writer {
    Bytes b;
    Writer& n(std::uint32_t v, int bytes = 4) {
        for (int i = 0; i < bytes; ++i) {
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
        return *this;
    }
    Writer& tag(const char* t) {
        b.insert(b.end(), t, t + 4);
        return *this;
    }
    Writer& fmt(std::uint16_t format, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
        return tag("fmt ").n(16).n(format, 2).n(channels, 2).n(rate).n(rate * channels * bits / 8)
            .n(channels * bits / 8u, 2).n(bits, 2);
    }
    Writer& data(const Bytes& samples, std::uint32_t declared) {
        tag("data").n(declared);
        b.insert(b.end(), samples.begin(), samples.end());
        return *this;
    }
};

Writer riff() { return std::move(Writer{}.tag("RIFF").n(0).tag("WAVE")); }

Bytes simpleFile(std::uint16_t format, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, const Bytes& data) {
    return riff().fmt(format, channels, rate, bits).data(data, static_cast<std::uint32_t>(data.size())).b;
}

}  // namespace

// The formats themselves are proven against sox; these are what sox does not write.
TEST(WavReaderDecodeTest, NonFiniteFloatsAreSilenceOddChunksAreSkippedWithTheirPadAndOnlyWholeFramesAreRead) {
    AudioData out;
    const Bytes floats = Writer{}.n(0x7FC00000).n(0xFF800000).n(0x3F000000).b;  // NaN, -infinity, 0.5
    ASSERT_TRUE(decodeWav(simpleFile(3, 1, 48000, 32, floats), out, nullptr));
    EXPECT_EQ(out.samples, (std::vector<float>{0.0f, 0.0f, 0.5f}));
    const Bytes stereo = Writer{}.n(0x4000, 2).n(0xC000, 2).n(0, 2).n(0, 2).n(7, 2).b;  // two frames and a half
    ASSERT_TRUE(decodeWav(riff().tag("LIST").n(3).n(0x00030201).fmt(1, 2, 48000, 16).data(stereo, 1000).b, out, nullptr));
    EXPECT_EQ(out.samples, (std::vector<float>{0.5f, -0.5f, 0.0f, 0.0f}));
    EXPECT_EQ(out.frames, 2);
}

// Regression for the last case: a skipped chunk of 0xFFFFFFFF bytes wrapped the walk back.
TEST(WavReaderRefusalTest, EachMessageInItsOrderAndAFailureLeavesTheOutputAlone) {
    const std::string notWav = "this is not a WAV file (it does not start with RIFF/WAVE)";
    const std::string format = "this WAV format is not supported (use PCM 8/16/24/32-bit or 32-bit float)";
    Bytes notWave = simpleFile(1, 1, 48000, 16, {});
    notWave[8] = 'X';
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes(43, 0), notWav},
        {notWave, notWav},
        {riff().data(Bytes(4, 0), 4).fmt(1, 1, 48000, 16).b, "the WAV file has no format chunk"},
        {riff().tag("fmt ").n(14).n(0).n(0).n(0).n(0).n(0).n(0).b, "the WAV file's format chunk is damaged"},
        {riff().fmt(1, 1, 48000, 16).tag("LIST").n(0).b, "the WAV file has no sound data"},
        {simpleFile(1, 3, 48000, 16, {}), "only mono and stereo WAV files are supported (this one has 3 channels)"},
        {simpleFile(1, 1, 7999, 16, {}), "the WAV file's sample rate is not usable"},
        {simpleFile(1, 1, 384001, 16, {}), "the WAV file's sample rate is not usable"},
        {simpleFile(3, 1, 48000, 16, {}), format},
        {simpleFile(1, 1, 48000, 12, {}), format},
        {riff().fmt(1, 1, 48000, 16).tag("junk").n(0xFFFFFFFFu).data(Bytes(4, 0), 4).b, "the WAV file has no sound data"},
    };
    for (const auto& [bytes, message] : cases) {
        AudioData out;
        out.frames = 99;
        std::string error;
        EXPECT_FALSE(decodeWav(bytes, out, &error));
        EXPECT_EQ(error, message);
        EXPECT_EQ(out.frames, 99) << message;
    }
    AudioData out;
    EXPECT_TRUE(decodeWav(simpleFile(1, 1, 8000, 16, {}), out, nullptr));
    EXPECT_TRUE(decodeWav(simpleFile(1, 1, 384000, 16, {}), out, nullptr));
}

// Regression: the whole file used to be read before the 512 MiB check. A sparse file whose
// data chunk really spans just over 512 MiB costs no disk space; its header alone refuses it.
TEST(WavReaderFileTest, OversizedDataIsRefusedBeforeItIsReadAndAMissingFileIsNamed) {
    TempDir dir;
    const std::uint32_t size = static_cast<std::uint32_t>(kMaxWavDataBytes + 4);
    const Bytes head = riff().fmt(1, 2, 48000, 16).tag("data").n(size).b;
    const auto file = dir / "huge.wav";
    ostrel::test::writeFile(file, std::string(head.begin(), head.end()));
    std::filesystem::resize_file(file, head.size() + size);
    AudioData out;
    std::string error;
    EXPECT_FALSE(loadWavFile(file, out, &error));
    EXPECT_EQ(error, "the WAV file is too large to load");
    EXPECT_FALSE(loadWavFile(dir / "nowhere" / "kick.wav", out, &error));
    EXPECT_EQ(error, "the file \"kick.wav\" could not be opened: No such file or directory");
}

// Regression: a FIFO blocked the loader in open forever.
TEST(WavReaderFileTest, AFifoOrADeviceIsRefusedAtOnceAndLeavesTheOutputAlone) {
    TempDir dir;
    ostrel::test::makeFifo(dir / "pipe.wav");
    std::filesystem::create_symlink("/dev/zero", dir / "zeros.wav");
    for (const char* name : {"pipe.wav", "zeros.wav"}) {
        AudioData out;
        out.frames = 7;
        std::string error;
        bool loaded = true;
        EXPECT_TRUE(ostrel::test::returnsWithoutAWriter(dir / "pipe.wav", [&] { loaded = loadWavFile(dir / name, out, &error); }));
        EXPECT_FALSE(loaded);
        EXPECT_EQ(error, "the file \"" + std::string(name) + "\" could not be opened: it is not a regular file");
        EXPECT_EQ(out.frames, 7);
    }
}

// Regression: std::bad_alloc escaped loaders that promise to report failure in their result.
TEST(WavReaderFileTest, RunningOutOfMemoryIsReportedNotThrown) {
    TempDir dir;
    const Bytes wav = riff().fmt(1, 1, 48000, 16).data(Bytes(600000, 0x11), 600000).b;
    ostrel::test::writeFile(dir / "long.wav", std::string(wav.begin(), wav.end()));
    AudioData out;
    out.frames = 7;
    std::string fileError;
    std::string memoryError;
    bool loaded = true;
    bool decoded = true;
    {
        ostrel::test::AllocationLimit limit(256 * 1024);  // less than the sound data
        loaded = loadWavFile(dir / "long.wav", out, &fileError);
        decoded = decodeWav(wav, out, &memoryError);
    }
    EXPECT_FALSE(loaded);
    EXPECT_EQ(fileError, "not enough memory to load the WAV file");
    EXPECT_FALSE(decoded);
    EXPECT_EQ(memoryError, "not enough memory to load the WAV file");
    EXPECT_EQ(out.frames, 7);
    ASSERT_TRUE(loadWavFile(dir / "long.wav", out, &fileError)) << fileError;
    EXPECT_EQ(out.frames, 300000);
}

// sox writes a tone in each format; sox itself converts the same file to raw floats and
// the two readings must agree.
TEST(WavReaderSoxTest, FilesWrittenBySoxDecodeToTheSameSamples) {
    ASSERT_EQ(std::system("command -v sox >/dev/null 2>&1"), 0) << "sox is part of the test set-up";
    TempDir dir;
    const std::pair<const char*, double> formats[] = {{"-b 8 -e unsigned-integer", 0.0}, {"-b 16 -e signed-integer", 0.0},
                                                      {"-b 24 -e signed-integer", 0.0},  {"-b 32 -e signed-integer", 1e-7},
                                                      {"-b 32 -e floating-point", 0.0}};
    for (const auto& [args, tolerance] : formats) {
        for (const char* channels : {"1", "2"}) {
            for (const char* rate : {"44100", "48000"}) {
                const auto wav = dir / "tone.wav";
                const auto raw = dir / "tone.f32";
                const std::string make = std::string("sox -n -r ") + rate + " -c " + channels + " " + args + " '" +
                                         wav.string() + "' synth 0.05 sine 440 sine 660 vol 0.7 2>/dev/null";
                ASSERT_EQ(std::system(make.c_str()), 0) << make;
                const std::string dump = "sox '" + wav.string() + "' -t f32 -e floating-point '" + raw.string() + "'";
                ASSERT_EQ(std::system(dump.c_str()), 0) << dump;

                AudioData out;
                std::string error;
                ASSERT_TRUE(loadWavFile(wav, out, &error)) << error;
                const std::string rawBytes = readFile(raw);
                std::vector<float> expected(rawBytes.size() / 4);
                std::memcpy(expected.data(), rawBytes.data(), expected.size() * 4);
                SCOPED_TRACE(std::string(args) + " channels " + channels + " rate " + rate);
                EXPECT_TRUE(out.channels == std::atoi(channels) && out.sampleRate == std::atof(rate));
                ASSERT_EQ(out.samples.size(), expected.size());
                EXPECT_EQ(out.frames * out.channels, static_cast<std::int64_t>(expected.size()));
                for (std::size_t i = 0; i < expected.size(); ++i) {
                    ASSERT_NEAR(out.samples[i], expected[i], tolerance) << "sample " << i;
                }
            }
        }
    }
}
