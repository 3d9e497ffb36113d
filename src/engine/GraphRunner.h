#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/Event.h"
#include "engine/Graph.h"

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

// Runs on the calling thread and touches only the graph it is given.

// Runs the graph over context.frames frames; interleaved, frames x the graph's channels.
std::vector<float> renderGraphOffline(Graph& graph, const OfflineRenderContext& context);

// Runs the graph block by block over context.frames frames and adds its output, times
// gain, into out (interleaved, the graph's channel count). Events are delivered in the
// block that holds them; an event before the start goes into the first block.
void mixGraphOffline(Graph& graph, const OfflineRenderContext& context, float gain, std::span<float> out);

}  // namespace ostrel::engine
