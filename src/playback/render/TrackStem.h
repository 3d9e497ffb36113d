#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/Event.h"
#include "engine/graph/Graph.h"
#include "playback/render/FeedNode.h"

namespace ostrel::engine { inline namespace playback {

// One track ready to run: its graph and the events that drive it.
struct TrackStem {
    std::unique_ptr<Graph> graph;  // the whole track as one graph; null when in parts
    // The track in parts, so several threads can run it: parts[i] (groups of voices, or
    // the instrument before its effects) side by side, join after them, fed with part
    // i's frames through its node feeds[i]. Every graph gets the same events and blocks,
    // so the frames are those of the track as one graph.
    std::vector<std::unique_ptr<Graph>> parts;
    std::unique_ptr<Graph> join;
    std::vector<FeedNode*> feeds;
    std::vector<TimedEvent> events;  // frames from the start of the song
    std::vector<std::string> warnings;
    double gain = 1.0;
    // The song frame its graphs start at: a piece boundary (mixPieceFrames) at or after the
    // mix's start. It adds nothing before; events before it must be left out, as a graph
    // started there would take them all in its first block.
    std::int64_t start = 0;
};

} }  // namespace ostrel::engine::playback
