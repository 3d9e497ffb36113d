#pragma once

#include "engine/AudioData.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ostrel::engine { inline namespace audiofile {

// Largest amount of sample data a WAV file may hold: keeps a decoded sound below 2^29 samples.
inline constexpr std::uint64_t kMaxWavDataBytes = 536870912;

// Reads a WAV file: RIFF/WAVE with "fmt " before "data", mono or stereo, 8000 to 384000 Hz,
// integer PCM of 8/16/24/32 bits or 32-bit float. Only the format and sample chunks are read,
// so an oversized file is refused before its data is loaded; anything but a regular file (a
// FIFO, a device) is refused without waiting. On failure out is unchanged and error (may be
// null) gets the reason; running out of memory is such a failure, never an exception.
[[nodiscard]] bool loadWavFile(const std::filesystem::path& path, AudioData& out, std::string* error);

// The same rules for a whole file already in memory.
[[nodiscard]] bool decodeWav(const std::vector<std::uint8_t>& bytes, AudioData& out, std::string* error);

} }  // namespace ostrel::engine::audiofile
