#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "engine/AudioData.h"

namespace ostrel::engine { inline namespace audiofile {

// Sample formats a WAV file is written in; the values are stable (settings and jobs keep them).
enum class WavFormat : int {
    Pcm16 = 0,
    Pcm24 = 1,
    Float32 = 2,
};

// Writes interleaved samples as a RIFF/WAVE file through the atomic writer, a piece at a
// time (the file is never held whole in memory). PCM samples are
// clamped to -1..1 and a NaN becomes silence; float samples are written as they are.
// False with a reason when channels or rate are not positive, when the data would not fit the
// format's 32-bit sizes, or when the file cannot be written.
[[nodiscard]] bool writeWavFile(const std::filesystem::path& path, std::span<const float> samples, int channels,
                  std::uint32_t sampleRate, WavFormat format, std::string* error);

// The audio as a WAV file through the atomic writer.
[[nodiscard]] bool saveWav(const AudioData& audio, const std::filesystem::path& path, WavFormat format, std::string* error);

} }  // namespace ostrel::engine::audiofile
