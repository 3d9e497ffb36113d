#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/AudioBuffer.h"
#include "engine/Event.h"
#include "engine/graph/Graph.h"

namespace ostrel::engine {

// What a graph is told while it runs away from the sound card.
struct OfflineRenderContext {
    double sampleRate = 48000.0;
    std::uint32_t blockSize = 512;
    std::int64_t frames = 0;
    std::int64_t startPosition = 0;
    bool playing = true;
    double bpm = 120.0;
    std::int32_t beatsPerBar = 4;
    std::vector<TimedEvent> events;
};

// Runs a graph over context.frames frames a piece at a time, so a long render needs no
// buffer of its whole length. The graph always sees the same blocks (and each event in
// the same block) however the pieces are cut, so the frames come out the same.
// One thread at a time; touches only the graph it is given.
class OfflineGraphRunner {
public:
    // Keeps a reference to graph; copies and sorts the events.
    OfflineGraphRunner(Graph& graph, const OfflineRenderContext& context);

    // Frames not yet given out.
    std::int64_t remaining() const;
    // The graph's channel count: values per frame of what render writes.
    int channels() const { return channels_; }
    // The next min(out.size() / channels, remaining()) frames, interleaved, written over
    // the start of out; returns how many frames.
    std::int64_t render(std::span<float> out);

private:
    void runBlock();

    Graph& graph_;
    OfflineRenderContext context_;
    int channels_ = 0;
    std::int64_t block_ = 1;
    AudioBuffer buffer_;
    std::vector<Event> blockEvents_;
    std::size_t nextEvent_ = 0;
    std::int64_t blockPos_ = 0;     // first frame of the block in buffer_
    std::int64_t blockFrames_ = 0;  // frames the graph wrote into buffer_
    std::int64_t given_ = 0;        // frames handed out so far
};

// Runs on the calling thread and touches only the graph it is given.

// Runs the graph over context.frames frames; interleaved, frames x the graph's channels.
std::vector<float> renderGraphOffline(Graph& graph, const OfflineRenderContext& context);

// Runs the graph block by block over context.frames frames and adds its output, times
// gain, into out (interleaved, the graph's channel count). Events are delivered in the
// block that holds them; an event before the start goes into the first block.
void mixGraphOffline(Graph& graph, const OfflineRenderContext& context, float gain, std::span<float> out);

}  // namespace ostrel::engine
