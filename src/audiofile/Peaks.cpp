#include "audiofile/Peaks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ostrel::engine { inline namespace audiofile {

std::vector<float> computePeaks(const AudioData& data, int bins) {
    std::vector<float> peaks(static_cast<std::size_t>(std::max(bins, 0)), 0.0f);
    if (bins < 1 || data.frames <= 0 || data.channels <= 0) {
        return peaks;
    }
    const auto channels = static_cast<std::size_t>(data.channels);
    const auto frames = static_cast<std::uint64_t>(data.frames);
    const std::uint64_t available = data.samples.size() / channels;
    for (std::uint64_t f = 0; f < std::min(frames, available); ++f) {
        // 64-bit product: bins x frames passes 2^32 for long sounds at fine resolutions.
        const auto bin = std::min<std::uint64_t>(static_cast<std::uint64_t>(bins) * f / frames,
                                                 static_cast<std::uint64_t>(bins) - 1);
        float& peak = peaks[static_cast<std::size_t>(bin)];
        for (std::size_t c = 0; c < channels; ++c) {
            peak = std::max(peak, std::abs(data.samples[f * channels + c]));
        }
    }
    return peaks;
}

} }  // namespace ostrel::engine::audiofile
