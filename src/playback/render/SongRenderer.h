#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "engine/AudioData.h"
#include "engine/BackingTrack.h"
#include "model/document/Project.h"
#include "playback/TempoMap.h"
#include "playback/render/TrackStem.h"

namespace ostrel::engine { inline namespace playback {

// How a song is rendered offline.
struct RenderSettings {
    double sampleRate = 48000.0;
    std::uint32_t blockSize = 512;  // largest block given to a graph
    std::int32_t channels = 2;      // of every graph and of the output
    std::int64_t frames = 0;        // 0: the length follows from the content
    std::filesystem::path samplesFolder;  // audio clip files and instrument samples; may be empty
    std::int32_t threads = 0;       // tracks rendered at once; 0: one per usable processor. The mix is the same for any count.
};

// Threads a render with settings.threads = requested runs on: requested, or for 0 one per
// processor the calling thread may run on (its affinity mask).
int renderThreadCount(int requested);

// A render for the transport: where play needs it first, and how it is told to stop.
struct PlaybackRender {
    std::int64_t from = 0;  // the first frame play needs
    std::stop_token stop;
    // Once every track is built, before any frame is published, with the warnings in
    // track order; on a render thread.
    std::function<void(const std::vector<std::string>& warnings)> started;
    // Each time more of the song is final: the track's frames before `end` (counted from the
    // song's start, pre-roll included). On a render thread with the mix's lock held: quick.
    std::function<void(std::int64_t end)> progress;
};

// The tempo every render plays a song at: its own, within 20..300 beats per minute.
double renderTempo(const model::Project& project);

// About how much song a render for the transport makes before its start, in the seconds
// its speed is measured in (every track at once): each track starts its own tail before it,
// and they run side by side, so on average the tails of the tracks that sound (notes held
// from further back are left out).
double preRollSeconds(const model::Project& project);

// Longest pre-roll of a render for the transport that starts later in the song.
inline constexpr double kMaxPreRollSeconds = 10.0;

// A rendered song and the warnings met on the way, in track order.
struct RenderOutput {
    AudioData audio;
    std::vector<std::string> warnings;
};

// Longest song renderProject accepts: the whole render is held in memory (an hour of
// stereo at 48 kHz is 1.4 GB of floats), and a file may place a clip anywhere.
inline constexpr double kMaxRenderSeconds = 3600.0;

// Any thread (GUI or render worker); a render shares nothing mutable with another, so
// two may run at once.

// The whole song from beat 0 into one interleaved buffer: every heard track through its
// instrument or its audio clips, then its effect chain, scaled by its volume. The tracks
// are built and run on settings.threads threads (the calling one among them) and added
// in track order. Memory: the output plus, per track in flight, its graph, its sounds
// and a few pieces of its output. On false the error (may be null) gets the reason and
// out is untouched.
[[nodiscard]] bool renderProject(const model::Project& project, const RenderSettings& settings, RenderOutput* out,
                   std::string* error);

// The song rendered for the transport into track, which it begins: the frames become final
// a piece at a time (mixPieceFrames) in time order, from `from` brought down to a piece, to
// the end, while the transport may already play them. The tracks are built and run as by
// renderProject, all at once, so from frame 0 the frames are exactly renderProject's.
// Later in the song nothing before is rendered: each track starts a pre-roll before
// `from`, as long as its tail in the song's length (the release of its notes, and the
// echoes of its effects when it has any), and further back to the start of every note that
// still sounds into it, by at most kMaxPreRollSeconds; a note held from before that starts
// again there. On false (failed or stopped) the error says why; the frames published stay.
[[nodiscard]] bool renderForPlayback(const model::Project& project, const RenderSettings& settings,
                                     const PlaybackRender& render, BackingTrack& track,
                                     std::vector<std::string>* warnings, std::string* error);

// An audio track's clips, played from their decoded sounds, through its effects.
[[nodiscard]] bool renderAudioTrack(const model::Track& track, const TempoMap& tempoMap,
                                    const RenderSettings& settings, TrackStem* out, std::string* error);

// A MIDI track's instrument, as voices, through its effects, with its notes as events;
// unless settings.threads is 1, in parts where the patch allows (TrackStem::parts).
[[nodiscard]] bool renderInstrumentTrack(const model::Track& track, const TempoMap& tempoMap,
                                         const RenderSettings& settings, TrackStem* out, std::string* error);

} }  // namespace ostrel::engine::playback
