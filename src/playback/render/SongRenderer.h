#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/AudioData.h"
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
    std::int32_t threads = 0;       // tracks rendered at once; 0: one per core. The mix is the same for any count.
};

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

// An audio track's clips, played from their decoded sounds, through its effects.
[[nodiscard]] bool renderAudioTrack(const model::Track& track, const TempoMap& tempoMap,
                                    const RenderSettings& settings, TrackStem* out, std::string* error);

// A MIDI track's instrument, as voices, through its effects, with its notes as events;
// unless settings.threads is 1, in parts where the patch allows (TrackStem::parts).
[[nodiscard]] bool renderInstrumentTrack(const model::Track& track, const TempoMap& tempoMap,
                                         const RenderSettings& settings, TrackStem* out, std::string* error);

} }  // namespace ostrel::engine::playback
