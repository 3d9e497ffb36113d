#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/Event.h"
#include "engine/Graph.h"

namespace ostrel::engine { inline namespace playback {

// One track ready to run: its graph and the events that drive it.
struct TrackStem {
    std::unique_ptr<Graph> graph;
    std::vector<TimedEvent> events;  // frames from the start of the render
    std::vector<std::string> warnings;
    double gain = 1.0;
};

} }  // namespace ostrel::engine::playback
