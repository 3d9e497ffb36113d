#include "audiofile/Resample.h"

#include <algorithm>
#include <cmath>

namespace ostrel::engine { inline namespace audiofile {

AudioData resampleAudio(const AudioData& source, double targetRate) {
    if (source.frames <= 0 || targetRate <= 0.0 || std::abs(source.sampleRate - targetRate) < 1e-6) {
        AudioData copy = source;
        if (targetRate > 0.0) {
            copy.sampleRate = targetRate;
        }
        return copy;
    }
    const double ratio = source.sampleRate / targetRate;
    AudioData out;
    out.channels = source.channels;
    out.sampleRate = targetRate;
    out.frames = static_cast<std::int64_t>(std::floor(static_cast<double>(source.frames) / ratio));
    const std::size_t channels = static_cast<std::size_t>(std::max(source.channels, 0));
    out.samples.resize(static_cast<std::size_t>(out.frames) * channels);
    const std::int64_t last = source.frames - 1;
    for (std::int64_t i = 0; i < out.frames; ++i) {
        const double position = static_cast<double>(i) * ratio;
        const auto i0 = std::min(static_cast<std::int64_t>(position), last);
        const std::int64_t i1 = std::min(last, i0 + 1);
        const auto f = static_cast<float>(position - static_cast<double>(i0));
        for (std::size_t c = 0; c < channels; ++c) {
            const float a = source.samples[static_cast<std::size_t>(i0) * channels + c];
            const float b = source.samples[static_cast<std::size_t>(i1) * channels + c];
            out.samples[static_cast<std::size_t>(i) * channels + c] = (b - a) * f + a;
        }
    }
    return out;
}

} }  // namespace ostrel::engine::audiofile
