#include "engine/AudioBuffer.h"

#include <algorithm>
#include <cstring>

namespace ostrel::engine {

void AudioBuffer::clear(int count) {
    const int n = std::min(count, frames);
    if (n < 1) {
        return;
    }
    for (int c = 0; c < channels; ++c) {
        std::fill_n(channel(c), n, 0.0f);
    }
}

void AudioBuffer::copyFrom(const AudioBuffer& source, int count) {
    const int m = std::min(channels, source.channels);
    const int k = std::min({count, frames, source.frames});
    if (m < 1 || k < 1) {
        return;
    }
    for (int c = 0; c < m; ++c) {
        std::memmove(channel(c), source.channel(c), static_cast<std::size_t>(k) * sizeof(float));
    }
}

void AudioBuffer::resize(int newChannels, int newFrames) {
    channels = std::max(newChannels, 0);
    frames = std::max(newFrames, 0);
    data.resize(static_cast<std::size_t>(channels) * static_cast<std::size_t>(frames), 0.0f);
}

void addInterleaved(std::span<const float> samples, int channels, std::int64_t frames,
                    std::int64_t position, int count, AudioBuffer& out) {
    if (channels < 1) {
        return;
    }
    const std::int64_t available =
        std::min<std::int64_t>(frames, static_cast<std::int64_t>(samples.size()) / channels);
    const std::int64_t first = std::max<std::int64_t>(0, -position);
    const std::int64_t end = std::min<std::int64_t>(std::min(count, out.frames), available - position);
    for (int c = 0; c < out.channels; ++c) {
        const std::int64_t source = std::min(channels - 1, c);
        float* target = out.channel(c);
        for (std::int64_t i = first; i < end; ++i) {
            target[i] += samples[static_cast<std::size_t>((position + i) * channels + source)];
        }
    }
}

}  // namespace ostrel::engine
