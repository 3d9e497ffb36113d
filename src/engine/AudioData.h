#pragma once

#include <cstdint>
#include <vector>

namespace ostrel::engine {

// Decoded sound, shared as std::shared_ptr<const AudioData>; immutable once shared.
struct AudioData {
    std::vector<float> samples;  // interleaved, frames * channels values
    std::int32_t channels = 2;
    double sampleRate = 48000.0;
    std::int64_t frames = 0;
};

}  // namespace ostrel::engine
