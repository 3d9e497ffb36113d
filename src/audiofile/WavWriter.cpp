#include "audiofile/WavWriter.h"

#include "core/Failure.h"

#include "core/AtomicWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

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

    std::string bytes;
    bytes.reserve(dataBytes + 64);
    putTag(bytes, "RIFF");
    putU32(bytes, 0);
    putTag(bytes, "WAVE");
    putTag(bytes, "fmt ");
    putU32(bytes, isFloat ? 18 : 16);
    putU16(bytes, isFloat ? 3 : 1);
    putU16(bytes, static_cast<std::uint32_t>(channels));
    putU32(bytes, sampleRate);
    putU32(bytes, static_cast<std::uint32_t>(blockAlign * sampleRate));
    putU16(bytes, static_cast<std::uint32_t>(blockAlign));
    putU16(bytes, static_cast<std::uint32_t>(8 * bytesPerSample));
    if (isFloat) {
        putU16(bytes, 0);
        putTag(bytes, "fact");
        putU32(bytes, 4);
        putU32(bytes, static_cast<std::uint32_t>(samples.size() / static_cast<std::size_t>(channels)));
    }
    putTag(bytes, "data");
    putU32(bytes, static_cast<std::uint32_t>(dataBytes));

    for (const float sample : samples) {
        switch (format) {
            case WavFormat::Pcm16:
                putU16(bytes, static_cast<std::uint32_t>(toPcm(sample, 32767.0)) & 0xFFFF);
                break;
            case WavFormat::Pcm24: {
                const auto v = static_cast<std::uint32_t>(toPcm(sample, 8388607.0));
                bytes.push_back(static_cast<char>(v & 0xFF));
                bytes.push_back(static_cast<char>((v >> 8) & 0xFF));
                bytes.push_back(static_cast<char>((v >> 16) & 0xFF));
                break;
            }
            case WavFormat::Float32: {
                std::uint32_t v = 0;
                std::memcpy(&v, &sample, 4);
                putU32(bytes, v);
                break;
            }
        }
    }

    const auto riffSize = static_cast<std::uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i) {
        bytes[4 + i] = static_cast<char>((riffSize >> (8 * i)) & 0xFF);
    }
    return core::writeFileAtomically(path, bytes, error);
}

bool saveWav(const AudioData& audio, const std::filesystem::path& path, WavFormat format, std::string* error) {
    // A rate the 32-bit field cannot hold goes in as 0, which the writer refuses with its reason.
    const double rate = audio.sampleRate;
    const std::uint32_t wavRate =
        rate >= 1.0 && rate <= 4294967295.0 ? static_cast<std::uint32_t>(std::llround(rate)) : 0;
    return writeWavFile(path, audio.samples, audio.channels, wavRate, format, error);
}


} }  // namespace ostrel::engine::audiofile
