#pragma once

// The large song the benchmarks share: by default 32 tracks x 64 clips x 64 notes (131072
// notes), each track an FM instrument with three effects. Model only, so every layer's
// benchmarks can build it.

#include "model/document/Project.h"

#include <string>
#include <utility>
#include <vector>

namespace ostrel::bench {

struct SongSize {
    int tracks = 32;
    int clipsPerTrack = 64;
    int notesPerClip = 64;
    int effectsPerTrack = 3;  // of the eq, the delay and the reverb, in that order
};

inline constexpr SongSize kLargeSong{};

// The extra tracks follow the song's own.
inline model::Project largeProject(SongSize size = kLargeSong, std::vector<model::Track> extra = {}) {
    static constexpr const char* kEffects[] = {"ostrel.eq", "ostrel.delay", "ostrel.reverb"};
    std::vector<model::Track> tracks;
    for (int t = 0; t < size.tracks; ++t) {
        model::Track track;
        track.id = model::Uuid::generate();
        track.name = "Track " + std::to_string(t + 1);
        track.instrumentPatch = "FM E-Piano";
        for (int c = 0; c < size.clipsPerTrack; ++c) {
            model::Clip clip;
            clip.id = model::Uuid::generate();
            clip.name = "Clip";
            clip.startBeats = 4.0 * c;
            for (int n = 0; n < size.notesPerClip; ++n) {
                model::Note note;
                note.id = model::Uuid::generate();
                note.pitch = 36 + (n * 7) % 48;
                note.velocity = 64 + n % 64;
                note.startBeats = n * 0.0625;
                note.lengthBeats = 0.25;
                clip.notes.push_back(note);
            }
            track.clips.push_back(std::move(clip));
        }
        for (int e = 0; e < size.effectsPerTrack && e < 3; ++e) {
            model::Device device;
            device.id = model::Uuid::generate();
            device.typeId = kEffects[e];
            device.parameters = {{"mix", 0.3}, {"time_ms", 250.0}};
            track.devices.push_back(device);
        }
        tracks.push_back(std::move(track));
    }
    for (model::Track& track : extra) {
        tracks.push_back(std::move(track));
    }
    return model::makeProject(model::Uuid::generate(), "Large", 128.0, std::move(tracks), model::JsonValue{});
}

}  // namespace ostrel::bench
