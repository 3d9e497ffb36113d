#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/graph/GraphRunner.h"
#include "playback/render/TrackStem.h"

namespace ostrel::engine { inline namespace playback {

// Builds the stem of track index on whichever thread calls it; false with the reason ends
// the mix. A stem without a graph, or with gain 0, adds nothing (its warnings still count).
using StemBuilder = std::function<bool(std::size_t index, TrackStem* stem, std::string* error)>;

struct StemMixSettings {
    int threads = 1;               // threads that build and run stems, the calling thread among them
    int channels = 2;              // of the mix and of every graph
    OfflineRenderContext context;  // frames: the mix's length; the stems bring their events
};

// Builds count stems and runs them on a pool of threads, adding each into mix (interleaved,
// context.frames frames of channels values) times its gain. Every frame of the
// mix gets the stems in index order, so the sum is the same for any thread count. Stems
// are taken in index order and at most threads are held at once (graphs plus a few pieces
// of output each, never their whole length). A stem in parts (TrackStem::parts) runs each
// part and its join a piece at a time on whichever thread is free, so one heavy track
// keeps several threads busy; threads always take the piece that lags most.
// On false, error gets the reason of the first stem in index order that failed; mix holds
// a part of the sum. warnings gets every stem's warnings in index order. Exceptions from
// the builder or the graphs (std::bad_alloc) reach the caller after every thread stopped.
[[nodiscard]] bool mixStems(std::size_t count, const StemBuilder& build, const StemMixSettings& settings,
                            std::span<float> mix, std::vector<std::string>* warnings, std::string* error);

} }  // namespace ostrel::engine::playback
