#include "engine/graph/GraphPlayer.h"

#include <algorithm>

namespace ostrel::engine {

GraphPlayer::GraphPlayer(std::uint32_t channels, std::uint32_t maxBlock, int crossfadeFrames)
    : channels_(channels), maxBlock_(maxBlock), crossfadeFrames_(std::max(crossfadeFrames, 1)) {
    scratch_.resize(static_cast<int>(channels), static_cast<int>(maxBlock));
}

GraphPlayer::~GraphPlayer() {
    delete pending_.exchange(nullptr);
    delete active_;
    delete fading_;
    collectRetired();
}

bool GraphPlayer::publish(std::unique_ptr<Graph> graph) {
    if (!graph) {
        return false;
    }
    if (graph->channels < 0 || static_cast<std::uint32_t>(graph->channels) != channels_ || graph->maxBlock < 0 ||
        static_cast<std::uint32_t>(graph->maxBlock) < maxBlock_) {
        return false;
    }
    // Sequentially consistent exchange: a graph the audio thread never took comes back
    // here and is freed on this thread.
    delete pending_.exchange(graph.release());
    return true;
}

int GraphPlayer::collectRetired() {
    int emptied = 0;
    std::uint64_t r = retireRead_.load(std::memory_order_relaxed);
    // Acquire: the slot was written before the audio thread published its count.
    while (r != retireWrite_.load(std::memory_order_acquire)) {
        Graph* graph = retired_[r % kRetireSlots];
        retired_[r % kRetireSlots] = nullptr;
        ++r;
        // Release: the slot has been read before the audio thread may reuse it.
        retireRead_.store(r, std::memory_order_release);
        delete graph;
        ++emptied;
    }
    return emptied;
}

void GraphPlayer::process(const ProcessContext& context, AudioBuffer& output) {
    const int n = std::min({context.frames, static_cast<int>(maxBlock_), output.frames});

    if (fading_ != nullptr && fadePos_ >= crossfadeFrames_) {
        const std::uint64_t w = retireWrite_.load(std::memory_order_relaxed);
        // Acquire: the GUI thread has read the slot before it freed it. A full ring keeps
        // the finished graph, silent, until the next block.
        if (w - retireRead_.load(std::memory_order_acquire) != kRetireSlots) {
            retired_[w % kRetireSlots] = fading_;
            retireWrite_.store(w + 1, std::memory_order_release);
            fading_ = nullptr;
        }
    }
    if (fading_ == nullptr) {
        if (Graph* next = pending_.exchange(nullptr)) {
            if (active_ != nullptr) {
                fading_ = active_;
                fadePos_ = 0;
            }
            active_ = next;
        }
    }
    if (n < 1) {
        return;
    }
    if (active_ == nullptr) {
        output.clear(n);
        return;
    }
    ProcessContext block = context;
    block.frames = n;
    active_->process(block, output);

    if (fading_ != nullptr && fadePos_ < crossfadeFrames_) {
        fading_->process(block, scratch_);
        const int m = std::min(scratch_.channels, output.channels);
        const auto fade = static_cast<float>(crossfadeFrames_);
        for (int c = 0; c < m; ++c) {
            const float* old = scratch_.channel(c);
            float* out = output.channel(c);
            for (int i = 0; i < n; ++i) {
                const float g = std::min(1.0f, static_cast<float>(fadePos_ + 1 + i) / fade);
                out[i] = (1.0f - g) * old[i] + g * out[i];
            }
        }
        fadePos_ += n;
    }
}

}  // namespace ostrel::engine
