#include "engine/graph/GraphRunner.h"

#include <algorithm>
#include <cstddef>

namespace ostrel::engine {

OfflineGraphRunner::OfflineGraphRunner(Graph& graph, const OfflineRenderContext& context)
    : graph_(graph), context_(context), channels_(graph.channels) {
    if (context_.frames < 1 || channels_ < 1 || graph_.maxBlock < 1) {
        context_.frames = 0;
        channels_ = std::max(channels_, 0);
        return;
    }
    block_ = std::max<std::int64_t>(
        1, std::min<std::int64_t>(context_.blockSize, static_cast<std::int64_t>(graph_.maxBlock)));
    buffer_.resize(channels_, graph_.maxBlock);
    std::stable_sort(context_.events.begin(), context_.events.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.time < b.time; });
    blockEvents_.reserve(context_.events.size());
}

std::int64_t OfflineGraphRunner::remaining() const { return std::max<std::int64_t>(0, context_.frames - given_); }

void OfflineGraphRunner::runBlock() {
    blockPos_ += blockFrames_;
    const std::int64_t n = std::min(block_, context_.frames - blockPos_);
    const std::int64_t blockStart = context_.startPosition + blockPos_;
    const std::vector<TimedEvent>& events = context_.events;
    blockEvents_.clear();
    while (nextEvent_ < events.size() && events[nextEvent_].time < blockStart + n) {
        Event e = events[nextEvent_].event;
        e.frameOffset = static_cast<std::uint32_t>(std::max<std::int64_t>(0, events[nextEvent_].time - blockStart));
        blockEvents_.push_back(e);
        ++nextEvent_;
    }
    ProcessContext pc;
    pc.frames = static_cast<std::int32_t>(n);
    pc.sampleRate = context_.sampleRate;
    pc.position = blockStart;
    pc.playing = context_.playing;
    pc.bpm = context_.bpm;
    pc.beatsPerBar = context_.beatsPerBar;
    pc.events = blockEvents_;
    graph_.process(pc, buffer_);
    blockFrames_ = n;
}

std::int64_t OfflineGraphRunner::render(std::span<float> out) {
    if (channels_ < 1) {
        return 0;
    }
    const std::size_t ch = static_cast<std::size_t>(channels_);
    const std::int64_t wanted = std::min<std::int64_t>(static_cast<std::int64_t>(out.size() / ch), remaining());
    std::int64_t done = 0;
    while (done < wanted) {
        if (given_ == blockPos_ + blockFrames_) {
            runBlock();
        }
        // A piece may end inside a block: the rest of the block waits in buffer_.
        const std::int64_t inBlock = given_ - blockPos_;
        const std::int64_t n = std::min(blockFrames_ - inBlock, wanted - done);
        for (std::size_t c = 0; c < ch; ++c) {
            const float* in = buffer_.channel(static_cast<int>(c)) + inBlock;
            float* dst = out.data() + static_cast<std::size_t>(done) * ch + c;
            for (std::int64_t f = 0; f < n; ++f) {
                dst[static_cast<std::size_t>(f) * ch] = in[f];
            }
        }
        done += n;
        given_ += n;
    }
    return wanted;
}

std::vector<float> renderGraphOffline(Graph& graph, const OfflineRenderContext& context) {
    std::vector<float> result;
    if (context.frames < 1 || graph.channels < 1) {
        return result;
    }
    result.assign(static_cast<std::size_t>(context.frames) * static_cast<std::size_t>(graph.channels), 0.0f);
    OfflineGraphRunner runner(graph, context);
    runner.render(result);
    return result;
}

void mixGraphOffline(Graph& graph, const OfflineRenderContext& context, float gain, std::span<float> out) {
    OfflineGraphRunner runner(graph, context);
    const std::size_t ch = static_cast<std::size_t>(runner.channels());
    if (ch == 0 || runner.remaining() == 0) {
        return;
    }
    // A piece of 64 blocks at a time: out need not have room for the whole length.
    std::vector<float> piece(static_cast<std::size_t>(std::max(1, graph.maxBlock)) * 64 * ch);
    std::size_t base = 0;
    while (runner.remaining() > 0 && base < out.size()) {
        const auto n = static_cast<std::size_t>(runner.render(piece));
        const std::size_t usable = std::min(n * ch, (out.size() - base) / ch * ch);
        for (std::size_t i = 0; i < usable; ++i) {
            out[base + i] += piece[i] * gain;
        }
        base += n * ch;
    }
}

}  // namespace ostrel::engine
