#include "audiofile/WavWriter.h"

#include "core/Failure.h"
#include "core/files/AtomicWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

namespace ostrel::engine { inline namespace audiofile {
namespace {

void putU16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void putU32(std::string& out, std::uint32_t v) {
    putU16(out, v & 0xFFFF);
    putU16(out, v >> 16);
}

void putTag(std::string& out, const char* tag) { out.append(tag, 4); }

// Clamped, scaled and rounded half away from zero; NaN has no sensible level and becomes 0.
std::int32_t toPcm(float sample, double scale) {
    if (std::isnan(sample)) {
        return 0;
    }
    const double clamped = std::clamp(static_cast<double>(sample), -1.0, 1.0);
    return static_cast<std::int32_t>(std::round(clamped * scale));
}

constexpr std::size_t kPieceSamples = 16384;

// The samples in the format's encoding, little-endian, written from out on; out has room
// for bytesPerSample bytes a sample.
void encode(std::span<const float> samples, WavFormat format, unsigned char* out) {
    switch (format) {
        case WavFormat::Pcm16:
            for (const float sample : samples) {
                const auto v = static_cast<std::uint32_t>(toPcm(sample, 32767.0));
                *out++ = static_cast<unsigned char>(v & 0xFF);
                *out++ = static_cast<unsigned char>((v >> 8) & 0xFF);
            }
            break;
        case WavFormat::Pcm24:
            for (const float sample : samples) {
                const auto v = static_cast<std::uint32_t>(toPcm(sample, 8388607.0));
                *out++ = static_cast<unsigned char>(v & 0xFF);
                *out++ = static_cast<unsigned char>((v >> 8) & 0xFF);
                *out++ = static_cast<unsigned char>((v >> 16) & 0xFF);
            }
            break;
        case WavFormat::Float32:
            for (const float sample : samples) {
                std::uint32_t v = 0;
                std::memcpy(&v, &sample, 4);
                for (int i = 0; i < 4; ++i) {
                    *out++ = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
                }
            }
            break;
    }
}

}  // namespace

bool writeWavFile(const std::filesystem::path& path, std::span<const float> samples, int channels,
                  std::uint32_t sampleRate, WavFormat format, std::string* error) {
    if (channels < 1 || static_cast<std::int32_t>(sampleRate) < 1) {
        return core::fail(error, "channels and sample rate must be positive");
    }
    const bool isFloat = format == WavFormat::Float32;
    const std::uint64_t bytesPerSample = format == WavFormat::Pcm16 ? 2 : format == WavFormat::Pcm24 ? 3 : 4;
    const std::uint64_t headerBytes = isFloat ? 58 : 44;
    const std::uint64_t dataBytes = bytesPerSample * samples.size();
    const std::uint64_t blockAlign = bytesPerSample * static_cast<std::uint64_t>(channels);
    // Every size field is 32 bits (block align 16): larger data would wrap into a corrupt file.
    if (headerBytes - 8 + dataBytes > std::numeric_limits<std::uint32_t>::max() ||
        blockAlign > std::numeric_limits<std::uint16_t>::max() ||
        blockAlign * sampleRate > std::numeric_limits<std::uint32_t>::max()) {
        return core::fail(error, "the sound is too large for a WAV file");
    }

    std::string header;
    putTag(header, "RIFF");
    putU32(header, static_cast<std::uint32_t>(headerBytes - 8 + dataBytes));
    putTag(header, "WAVE");
    putTag(header, "fmt ");
    putU32(header, isFloat ? 18 : 16);
    putU16(header, isFloat ? 3 : 1);
    putU16(header, static_cast<std::uint32_t>(channels));
    putU32(header, sampleRate);
    putU32(header, static_cast<std::uint32_t>(blockAlign * sampleRate));
    putU16(header, static_cast<std::uint32_t>(blockAlign));
    putU16(header, static_cast<std::uint32_t>(8 * bytesPerSample));
    if (isFloat) {
        putU16(header, 0);
        putTag(header, "fact");
        putU32(header, 4);
        putU32(header, static_cast<std::uint32_t>(samples.size() / static_cast<std::size_t>(channels)));
    }
    putTag(header, "data");
    putU32(header, static_cast<std::uint32_t>(dataBytes));

    // The samples go out a piece at a time: memory stays small however long the sound.
    core::AtomicFileWriter file;
    if (!file.open(path, error) || !file.write(header, error)) {
        return false;
    }
    std::vector<unsigned char> piece(kPieceSamples * bytesPerSample);
    for (std::size_t first = 0; first < samples.size(); first += kPieceSamples) {
        const std::size_t n = std::min(kPieceSamples, samples.size() - first);
        encode(samples.subspan(first, n), format, piece.data());
        const std::string_view bytes(reinterpret_cast<const char*>(piece.data()), n * bytesPerSample);
        if (!file.write(bytes, error)) {
            return false;
        }
    }
    return file.commit(error);
}

bool saveWav(const AudioData& audio, const std::filesystem::path& path, WavFormat format, std::string* error) {
    // A rate the 32-bit field cannot hold goes in as 0, which the writer refuses with its reason.
    const double rate = audio.sampleRate;
    const std::uint32_t wavRate =
        rate >= 1.0 && rate <= 4294967295.0 ? static_cast<std::uint32_t>(std::llround(rate)) : 0;
    return writeWavFile(path, audio.samples, audio.channels, wavRate, format, error);
}


} }  // namespace ostrel::engine::audiofile
