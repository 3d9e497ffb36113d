#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/AudioData.h"
#include "engine/Event.h"
#include "engine/Graph.h"
#include "playback/TempoMap.h"
#include "model/Project.h"

namespace ostrel::engine { inline namespace playback {

// How a song is rendered offline.
struct RenderSettings {
    double sampleRate = 48000.0;
    std::uint32_t blockSize = 512;  // largest block given to a graph
    std::int32_t channels = 2;      // of every graph and of the output
    std::int64_t frames = 0;        // 0: the length follows from the content
    std::filesystem::path samplesFolder;  // audio clip files and instrument samples; may be empty
};

// A rendered song and the warnings met on the way, in track order.
struct RenderOutput {
    AudioData audio;
    std::vector<std::string> warnings;
};

// One track ready to run: its graph and the events that drive it.
struct TrackStem {
    std::unique_ptr<Graph> graph;
    std::vector<TimedEvent> events;  // frames from the start of the render
    std::vector<std::string> warnings;
    double gain = 1.0;
};

// Longest song renderProject accepts: the whole render is held in memory (an hour of
// stereo at 48 kHz is 1.4 GB of floats), and a file may place a clip anywhere.
inline constexpr double kMaxRenderSeconds = 3600.0;

// Everything below runs on the calling thread (GUI or render worker) and shares nothing
// mutable, so two renders may run at once.

// The whole song from beat 0 into one interleaved buffer: every heard track through its
// instrument or its audio clips, then its effect chain, scaled by its volume. On false
// the error (may be null) gets the reason and out is untouched.
[[nodiscard]] bool renderProject(const model::Project& project, const RenderSettings& settings, RenderOutput* out,
                   std::string* error);

// An audio track's clips mixed into one stereo buffer, played through its effects.
[[nodiscard]] bool renderAudioTrack(const model::Track& track, const TempoMap& tempoMap,
                                    const RenderSettings& settings, TrackStem* out, std::string* error);

// A MIDI track's instrument, as voices, through its effects, with its notes as events.
[[nodiscard]] bool renderInstrumentTrack(const model::Track& track, const TempoMap& tempoMap,
                                         const RenderSettings& settings, TrackStem* out, std::string* error);

} }  // namespace ostrel::engine::playback
