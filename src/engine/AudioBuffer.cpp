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

}  // namespace ostrel::engine
