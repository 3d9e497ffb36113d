#pragma once

#include <cstddef>
#include <span>

#include "engine/graph/Node.h"

namespace ostrel::engine { inline namespace playback {

// The first node of a stem's effects: hands on, block after block, frames its sound
// source rendered earlier, so the effects can run on another thread than the source.
class FeedNode : public Node {
public:
    // Between blocks, by the thread about to run them: the next frames to hand on,
    // interleaved with channels values each. The frames must outlive those blocks.
    void feed(std::span<const float> interleaved, int channels);

    // Render worker. Never allocates, locks or logs. Past the frames fed: zeros.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;

private:
    std::span<const float> frames_;
    std::size_t channels_ = 1;
    std::size_t at_ = 0;  // frames already handed on
};

} }  // namespace ostrel::engine::playback
