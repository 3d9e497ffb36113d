#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/AudioData.h"
#include "engine/Event.h"
#include "engine/Graph.h"
#include "engine/TempoMap.h"
#include "engine/WavWriter.h"
#include "model/Project.h"

namespace ostrel::engine {

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

// A note on or off of a MIDI track, in ticks (960 per beat) from the start of the song.
struct NoteEvent {
    std::int64_t tick = 0;
    bool off = false;
    std::int32_t pitch = 0;
    std::int32_t velocity = 0;  // 0 in note offs
};

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

// Longest song renderProject accepts: the whole render is held in memory (an hour of
// stereo at 48 kHz is 1.4 GB of floats), and a file may place a clip anywhere.
inline constexpr double kMaxRenderSeconds = 3600.0;

// Everything below runs on the calling thread (GUI or render worker) and shares nothing
// mutable, so two renders may run at once.

// The whole song from beat 0 into one interleaved buffer: every heard track through its
// instrument or its audio clips, then its effect chain, scaled by its volume. On false
// the error (may be null) gets the reason and out is untouched.
bool renderProject(const model::Project& project, const RenderSettings& settings, RenderOutput* out,
                   std::string* error);

// An audio track's clips mixed into one stereo buffer, played through its effects.
bool renderAudioTrack(const model::Track& track, const TempoMap& tempoMap, double sampleRate, std::uint32_t blockSize,
                      std::int32_t channels, const std::filesystem::path& samplesFolder, TrackStem* out,
                      std::string* error);

// A MIDI track's instrument, as voices, through its effects, with its notes as events.
bool renderInstrumentTrack(const model::Track& track, const TempoMap& tempoMap, double sampleRate,
                           std::uint32_t blockSize, std::int32_t channels, TrackStem* out, std::string* error,
                           const std::filesystem::path& samplesFolder);

// The track's notes as ons and offs, cut at their clip's end; at one tick offs come first.
// Notes a file may hold but no instrument can play (pitch outside 0..127) are left out and
// velocities are brought into 1..127.
std::vector<NoteEvent> collectNoteEvents(const model::Track& track);

// Runs the graph over context.frames frames; interleaved, frames x the graph's channels.
std::vector<float> renderGraphOffline(Graph& graph, const OfflineRenderContext& context);

// The audio as a WAV file through the atomic writer.
bool saveWav(const AudioData& audio, const std::filesystem::path& path, WavFormat format, std::string* error);

}  // namespace ostrel::engine
