#include "playback/render/ClipPlayerNode.h"

#include <algorithm>
#include <cstddef>

namespace ostrel::engine { inline namespace playback {

void ClipPlayerNode::addClip(Clip clip) {
    if (clip.sound && clip.lengthFrames > 0) {
        clips_.push_back(std::move(clip));
    }
}

void ClipPlayerNode::process(const ProcessContext& context, std::span<const AudioBuffer* const>,
                             AudioBuffer& output) {
    const int n = std::max(0, std::min(context.frames, output.frames));
    if (n == 0 || output.channels < 1) {
        return;
    }
    output.clear(n);
    const std::int64_t blockStart = context.position;
    float* left = output.channel(0);
    float* right = output.channels > 1 ? output.channel(1) : nullptr;
    for (const Clip& clip : clips_) {
        const AudioData& sound = *clip.sound;
        const std::int64_t soundChannels = std::max(1, sound.channels);
        const std::int64_t soundFrames =
            std::min<std::int64_t>(sound.frames, static_cast<std::int64_t>(sound.samples.size()) / soundChannels);
        // Clip frames i with start + i inside the block, offset + i inside the sound and
        // the song frame not before 0.
        const std::int64_t first = std::max<std::int64_t>(
            {0, -clip.offsetFrames, -clip.startFrame, blockStart - clip.startFrame});
        const std::int64_t last = std::min({clip.lengthFrames, soundFrames - clip.offsetFrames,
                                            blockStart + n - clip.startFrame});
        for (std::int64_t i = first; i < last; ++i) {
            const std::size_t s = static_cast<std::size_t>((clip.offsetFrames + i) * soundChannels);
            const std::size_t d = static_cast<std::size_t>(clip.startFrame + i - blockStart);
            left[d] += sound.samples[s];
            if (right != nullptr) {
                right[d] += soundChannels > 1 ? sound.samples[s + 1] : sound.samples[s];
            }
        }
    }
    for (int c = 2; c < output.channels; ++c) {
        std::copy_n(right, n, output.channel(c));
    }
}

} }  // namespace ostrel::engine::playback
