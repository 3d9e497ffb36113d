#include "playback/render/FeedNode.h"

#include <algorithm>

namespace ostrel::engine { inline namespace playback {

void FeedNode::feed(std::span<const float> interleaved, int channels) {
    frames_ = interleaved;
    channels_ = static_cast<std::size_t>(std::max(1, channels));
    at_ = 0;
}

void FeedNode::process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) {
    const int n = std::max(0, std::min(context.frames, output.frames));
    const std::size_t left = frames_.size() / channels_ - std::min(at_, frames_.size() / channels_);
    const int fed = static_cast<int>(std::min<std::size_t>(left, static_cast<std::size_t>(n)));
    for (int c = 0; c < output.channels; ++c) {
        float* out = output.channel(c);
        if (fed > 0) {
            const std::size_t from = std::min(static_cast<std::size_t>(c), channels_ - 1);
            const float* in = frames_.data() + at_ * channels_ + from;
            for (int f = 0; f < fed; ++f) {
                out[f] = in[static_cast<std::size_t>(f) * channels_];
            }
        }
        std::fill(out + fed, out + n, 0.0f);
    }
    at_ += static_cast<std::size_t>(fed);
}

} }  // namespace ostrel::engine::playback
