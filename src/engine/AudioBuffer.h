#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ostrel::engine {

// A planar block of 32-bit float samples: channel c occupies
// data[c * frames] .. data[c * frames + frames - 1], so frames is also the stride.
struct AudioBuffer {
    std::int32_t channels = 0;
    std::int32_t frames = 0;
    std::vector<float> data;

    AudioBuffer() = default;
    // Allocates: not for the audio thread.
    AudioBuffer(int channels, int frames) { resize(channels, frames); }

    float* channel(int c) { return data.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(frames); }
    const float* channel(int c) const {
        return data.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(frames);
    }

    // Zeroes the first min(frames, this->frames) samples of every channel. Never allocates.
    void clear(int frames);
    // Copies the first min(frames, this->frames, source.frames) samples of each channel both
    // buffers have; further channels of this buffer are left alone. Never allocates.
    void copyFrom(const AudioBuffer& source, int frames);
    // Negative counts become 0; existing values stay, new ones are 0. Allocates, so only
    // outside the audio thread (graph compilation, engine start).
    void resize(int channels, int frames);
};

// Adds frames position .. position + count - 1 of an interleaved record (channels values
// per frame) to the first count frames of out; frames outside the record add nothing. A
// mono record feeds every channel of out; channels beyond out's are not heard. Never reads
// past samples, whatever frames claims. Never allocates.
void addInterleaved(std::span<const float> samples, int channels, std::int64_t frames,
                    std::int64_t position, int count, AudioBuffer& out);

}  // namespace ostrel::engine
