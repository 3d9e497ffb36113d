#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "engine/graph/GraphRunner.h"
#include "playback/render/TrackStem.h"

namespace ostrel::engine { inline namespace playback {

// Builds the stem of track index on whichever thread calls it; false with the reason ends
// the mix. A stem without a graph, or with gain 0, adds nothing (its warnings still count).
using StemBuilder = std::function<bool(std::size_t index, TrackStem* stem, std::string* error)>;

// In what order the mix is made.
enum class MixOrder {
    // Stems one after another: at most `threads` held at once, so memory stays low; the mix
    // is final only at the end.
    StemByStem,
    // Every stem held at once and run a piece at a time side by side, so the mix becomes
    // final piece by piece from its start: for a song that plays while it renders.
    InTime,
};

// What the mix's memory holds when the mix starts.
enum class MixMemory {
    Zeroed,     // zeros: the stems are added to it
    Unwritten,  // anything: each piece is cleared just before the first stem is added to it
};

struct StemMixSettings {
    int threads = 1;               // threads that build and run stems, the calling thread among them
    int channels = 2;              // of the mix and of every graph
    // startPosition: the song frame of the mix's first frame; frames: the mix's length. The
    // stems bring their events.
    OfflineRenderContext context;
    MixOrder order = MixOrder::StemByStem;
    MixMemory memory = MixMemory::Zeroed;
    // InTime: once every stem is built (before any frame is final), with their warnings in
    // index order. Called on a mixing thread with the mixer's lock held: it must be quick.
    std::function<void(const std::vector<std::string>& warnings)> built;
    // InTime: the frames of the mix, from its start, that are final, each time they grow.
    // Called like built.
    std::function<void(std::int64_t frames)> published;
    // A stop request ends the mix at the next piece: mixStems returns false.
    std::stop_token stop;
};

// Frames of a piece, the unit in which stems run and the mix becomes final; a whole number
// of blocks. A stem starts (TrackStem::start) on a piece of the mix.
std::int64_t mixPieceFrames(std::uint32_t blockSize);

// Builds count stems and runs them on a pool of threads, adding each into mix (interleaved,
// context.frames frames of channels values) times its gain. Every frame of the
// mix gets the stems in index order, so the sum is the same for any thread count and
// either order. Stems are taken in index order. StemByStem holds at most threads at once
// (graphs plus a few pieces of output each, never their whole length); InTime holds all.
// A stem in parts (TrackStem::parts) runs each part and its join a piece at a time on
// whichever thread is free, so one heavy track keeps several threads busy; threads always
// take the piece that lags most.
// On false, error gets the reason of the first stem in index order that failed (or says
// the mix was stopped); mix holds a part of the sum. warnings gets every stem's warnings in
// index order. Exceptions from the builder or the graphs (std::bad_alloc) reach the caller
// after every thread stopped.
[[nodiscard]] bool mixStems(std::size_t count, const StemBuilder& build, const StemMixSettings& settings,
                            std::span<float> mix, std::vector<std::string>* warnings, std::string* error);

} }  // namespace ostrel::engine::playback
